#include "archive/ArchiveFaults.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>

std::unique_ptr<CFaultPlan> CFaultPlan::FromEnvironment() {
    const char* setting = std::getenv("VELMORA_FAULT");
    return setting ? Parse(setting) : nullptr;
}

std::unique_ptr<CFaultPlan> CFaultPlan::Parse(const std::string& setting) {
    const auto at = setting.find('@');
    if (at == std::string::npos) return nullptr;
    const std::string kind = setting.substr(0, at);
    Action action;
    if (kind == "kill") {
        action = Action::Kill;
    } else if (kind == "fail") {
        action = Action::Fail;
    } else if (kind == "failfrom") {
        action = Action::FailFrom;
    } else {
        return nullptr;
    }
    std::size_t used = 0;
    long step = 0;
    try {
        step = std::stol(setting.substr(at + 1), &used);
    } catch (...) {
        return nullptr;
    }
    if (step < 1) return nullptr;
    const std::string rest = setting.substr(at + 1 + used);
    int error = EIO;
    if (rest == ":ENOSPC") {
        error = ENOSPC;
    } else if (!rest.empty() && rest != ":EIO") {
        return nullptr;
    }
    return std::unique_ptr<CFaultPlan>(new CFaultPlan(action, step, error));
}

int CFaultPlan::BeforeStep() {
    ++steps;
    if (action == Action::FailFrom) return steps >= at ? error : 0;
    if (steps != at) return 0;
    if (action == Action::Kill) raise(SIGKILL);
    return error;
}
