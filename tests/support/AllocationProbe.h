#pragma once

#include <cstddef>
#include <functional>

namespace testsupport {

// The largest single allocation made through operator new while f runs
// (on any thread). A guard that refuses bad input "before allocating" is
// measured by it, where a later failing read would hide its absence. f may
// throw; the exception is swallowed.
std::size_t LargestAllocationDuring(const std::function<void()>& f);

}  // namespace testsupport
