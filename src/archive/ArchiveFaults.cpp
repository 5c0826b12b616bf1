#include "archive/ArchiveFaults.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>

std::unique_ptr<CFaultPlan> CFaultPlan::Parse(const std::string& setting) {
    auto plan = std::unique_ptr<CFaultPlan>(new CFaultPlan);
    std::size_t from = 0;
    for (;;) {
        const auto comma = setting.find(',', from);
        Fault fault{};
        if (!ParseOne(setting.substr(from, comma - from), fault)) return nullptr;
        plan->faults.push_back(fault);
        if (comma == std::string::npos) return plan;
        from = comma + 1;
    }
}

bool CFaultPlan::ParseOne(const std::string& setting, Fault& fault) {
    const auto at = setting.find('@');
    if (at == std::string::npos) return false;
    const std::string kind = setting.substr(0, at);
    if (kind == "kill") {
        fault.action = Action::Kill;
    } else if (kind == "fail") {
        fault.action = Action::Fail;
    } else if (kind == "failfrom") {
        fault.action = Action::FailFrom;
    } else {
        return false;
    }
    std::size_t used = 0;
    try {
        fault.at = std::stol(setting.substr(at + 1), &used);
    } catch (...) {
        return false;
    }
    if (fault.at < 1) return false;
    const std::string rest = setting.substr(at + 1 + used);
    fault.error = EIO;
    if (rest == ":ENOSPC") {
        fault.error = ENOSPC;
    } else if (!rest.empty() && rest != ":EIO") {
        return false;
    }
    return true;
}

int CFaultPlan::BeforeStep(const char* action, const char* role) {
    ++steps;
    if (!tracePath.empty()) {
        // Appended and closed at once, so the line is there even if the
        // next fault kills the process.
        if (std::FILE* trace = std::fopen(tracePath.c_str(), "a")) {
            std::fprintf(trace, "%ld %s %s\n", steps, action, role);
            std::fclose(trace);
        }
    }
    for (const Fault& f : faults) {
        if (f.action == Action::FailFrom && steps >= f.at) return f.error;
        if (steps != f.at) continue;
        if (f.action == Action::Kill) raise(SIGKILL);
        if (f.action == Action::Fail) return f.error;
    }
    return 0;
}
