#pragma once

#include <cstddef>
#include <functional>

namespace testsupport {

// The largest single allocation made (by any thread) while f runs. f must
// not throw.
std::size_t LargestAllocation(const std::function<void()>& f);

}  // namespace testsupport
