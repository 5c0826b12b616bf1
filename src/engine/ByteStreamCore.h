#pragma once

// Pieces shared by the byte-stream encoder and decoder (not part of the
// engine's interface).

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "engine/ByteStreamCoder.h"
#include "engine/EngineMessages.h"
#include "las/ByteOrder.h"
#include "las/LasException.h"

namespace bytestream::detail {

inline constexpr uint32_t kTop = 0x8000;
inline constexpr uint32_t kSecond = 0x4000;
inline constexpr uint32_t kMask16 = 0xFFFF;

// Leading bits on which low and high agree (16 when they are equal).
inline unsigned EqualTopBits(uint32_t low, uint32_t high) {
    const uint32_t x = (low ^ high) & kMask16;
    return x == 0 ? 16u : static_cast<unsigned>(__builtin_clz(x)) - 16u;
}

// Steps of the middle-straddling (underflow) case in a row: positions from
// bit 14 down where low has a 1 and high a 0.
inline unsigned UnderflowSteps(uint32_t low, uint32_t high) {
    const uint32_t z = ~(low & ~high) & 0x7FFF;
    return z == 0 ? 15u : static_cast<unsigned>(__builtin_clz(z)) - 17u;
}

inline uint32_t Ones(unsigned k) { return (1u << k) - 1; }

[[noreturn]] inline void StreamNotFound() { throw CLasException(enginemsg::kStreamNotFound); }

}  // namespace bytestream::detail
