#pragma once

#include <cerrno>
#include <memory>
#include <string>
#include <vector>

#include "las/FileIo.h"

// Faults planted by tests in a real run: with VELMORA_FAULT set to "kill@N"
// the process ends with SIGKILL at the N-th step that changes an archive or
// its journal (a write, flush, truncation, sync, link, removal or folder
// sync); with "fail@N" or "fail@N:ENOSPC" (or EIO) that step fails with the
// error, with "failfrom@N" every step from the N-th on (the disk is gone for
// good). Several faults are separated by commas ("fail@5,kill@7": the change
// fails, then the process dies while putting the archive back). The steps
// are counted per archive opened for a change, so one operation can be swept
// step by step from the outside. With VELMORA_FAULT_TRACE naming a file,
// every step is appended to it as a line "N action role" ("3 sync journal"),
// so a test can check the order of the steps. Without either setting
// nothing is planted or traced; the shipped program and library never read
// them (FaultsFromEnvironment.cpp is for the tests' builds, NoFaults.cpp for
// the others).
class CFaultPlan : public IFaultHook {
public:
    // The plan the environment asks for, or null.
    static std::unique_ptr<CFaultPlan> FromEnvironment();
    // Parses a setting as above; null when it is not one.
    static std::unique_ptr<CFaultPlan> Parse(const std::string& setting);

    int BeforeStep(const char* action, const char* role) override;
    void SetTrace(const std::string& path) { tracePath = path; }
    long StepsTaken() const { return steps; }

private:
    enum class Action { Kill, Fail, FailFrom };
    struct Fault {
        Action action;
        long at;
        int error;
    };
    static bool ParseOne(const std::string& setting, Fault& fault);

    std::vector<Fault> faults;
    std::string tracePath;
    long steps = 0;
};

// Asks the plan, when there is one, before a step that is not a file write
// (a link, a removal, a folder sync). False, with errno set to the planted
// error, when the step must fail.
inline bool FaultAllows(IFaultHook* hook, const char* action, const char* role) {
    const int error = hook ? hook->BeforeStep(action, role) : 0;
    if (error != 0) errno = error;
    return error == 0;
}
