#pragma once

#include <string>

#include "velmora/velmora.hpp"

namespace velmora::detail {

// The code of a failure the core reported with this fixed text.
ErrorCode CodeOf(const char* message, bool canContinue);
// Called in a catch block: throws the exception in hand as an Error about
// subject (std::bad_alloc stays as it is).
[[noreturn]] void RethrowAsError(const std::string& subject);

}  // namespace velmora::detail
