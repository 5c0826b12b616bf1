#pragma once

#include <string>

#include "las/Failure.h"
#include "velmora/velmora.hpp"

namespace velmora::detail {

// The library's code for a failure of the core of this kind; canContinue
// tells a refused input from a failed one where the kind does not.
ErrorCode CodeOf(FailureKind kind, bool canContinue);
// A failure about subject (a path or an entry name) as every message of the
// library reads: "NAME: reason (system reason)", the name escaped.
Error ErrorAbout(ErrorCode code, const std::string& subject, const std::string& reason, int systemError = 0);
// Called in a catch block: throws the exception in hand as an Error about
// subject (std::bad_alloc stays as it is).
[[noreturn]] void RethrowAsError(const std::string& subject);

}  // namespace velmora::detail
