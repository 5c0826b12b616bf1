// The shipped program and library plant no faults, whatever the environment
// says: linked before the core, this definition is the one the linker keeps,
// and the code that reads VELMORA_FAULT is never pulled in.
#include "archive/ArchiveFaults.h"

std::unique_ptr<CFaultPlan> CFaultPlan::FromEnvironment() { return nullptr; }
