#pragma once

// Pieces shared by the byte-stream encoder and decoder (not part of the
// engine's interface).

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "engine/ByteStreamCoder.h"
#include "engine/EngineMessages.h"
#include "las/ByteOrder.h"
#include "las/LasException.h"

namespace bytestream::detail {

inline constexpr uint32_t kSecond = 0x4000;
inline constexpr uint32_t kMask16 = 0xFFFF;

inline uint32_t Ones(unsigned k) { return (1u << k) - 1; }

// floor(x / 10000) is (x * kReciprocal) >> kReciprocalShift for every
// 32-bit x, and range * bound stays below 2^30, so a bound can be kept
// premultiplied by the reciprocal: floor(range * bound / 10000) is then one
// 64-bit multiplication and a shift, with the same result as the division.
inline constexpr uint64_t kReciprocal = 0xD1B71759ull;  // ceil(2^45 / 10000)
inline constexpr unsigned kReciprocalShift = 45;
static_assert(kReciprocal * kTotal >= (uint64_t{1} << kReciprocalShift));

inline uint64_t Premultiplied(uint32_t bound) { return uint64_t{bound} * kReciprocal; }
inline uint32_t ScaledBound(uint32_t range, uint64_t premultiplied) {
    return static_cast<uint32_t>((range * premultiplied) >> kReciprocalShift);
}

[[noreturn]] inline void StreamNotFound() { throw CLasException(enginemsg::kStreamNotFound); }

// Pointers to the requests, longest stream first (ties as they came): side
// by side, streams of like lengths run together nearly all the way, and
// the ones left to run alone at the end are short.
template <class Request>
std::vector<Request*> LongestFirst(Request* requests, std::size_t count) {
    std::vector<Request*> order(count);
    for (std::size_t i = 0; i < count; ++i) order[i] = &requests[i];
    std::stable_sort(order.begin(), order.end(), [](const Request* a, const Request* b) { return a->length > b->length; });
    return order;
}

}  // namespace bytestream::detail
