// Faults planted through the environment, for the tests' builds. The
// programs that ship are linked with NoFaults.cpp instead, which leaves the
// archive code no way to read these settings.
#include <cstdlib>

#include "archive/ArchiveFaults.h"

std::unique_ptr<CFaultPlan> CFaultPlan::FromEnvironment() {
    const char* setting = std::getenv("VELMORA_FAULT");
    const char* trace = std::getenv("VELMORA_FAULT_TRACE");
    std::unique_ptr<CFaultPlan> plan = setting ? Parse(setting) : nullptr;
    if (!plan && trace) plan = std::unique_ptr<CFaultPlan>(new CFaultPlan);
    if (plan && trace) plan->SetTrace(trace);
    return plan;
}
