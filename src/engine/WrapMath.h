#pragma once

#include <cstdint>

// Predictor arithmetic is exact 32-bit or 64-bit two's complement with
// wrap-around on both sides of the codec. Signed overflow is undefined in
// C++, so every such step goes through these helpers, which work on the
// unsigned representation.
namespace wrap {

inline int32_t Add32(int32_t a, int32_t b) {
    return static_cast<int32_t>(static_cast<uint32_t>(a) + static_cast<uint32_t>(b));
}
inline int32_t Sub32(int32_t a, int32_t b) {
    return static_cast<int32_t>(static_cast<uint32_t>(a) - static_cast<uint32_t>(b));
}
inline int32_t Mul32(int32_t a, int32_t b) {
    return static_cast<int32_t>(static_cast<uint32_t>(a) * static_cast<uint32_t>(b));
}
inline int32_t Neg32(int32_t a) { return static_cast<int32_t>(0u - static_cast<uint32_t>(a)); }
// |INT32_MIN| stays INT32_MIN, so it counts as smaller than any positive bound.
// Without a branch: the signs of residuals are not predictable.
inline int32_t Abs32(int32_t a) {
    const uint32_t sign = static_cast<uint32_t>(a >> 31);  // all ones when negative
    return static_cast<int32_t>((static_cast<uint32_t>(a) ^ sign) - sign);
}

inline int64_t Add64(int64_t a, int64_t b) {
    return static_cast<int64_t>(static_cast<uint64_t>(a) + static_cast<uint64_t>(b));
}
inline int64_t Sub64(int64_t a, int64_t b) {
    return static_cast<int64_t>(static_cast<uint64_t>(a) - static_cast<uint64_t>(b));
}

// Truncation towards zero. A value whose truncation does not fit in 32 bits,
// and NaN, give INT32_MIN: what the x86 conversion instruction yields, and
// what every implementation of the format must agree on.
inline int32_t TruncToInt32(double d) {
    if (!(d > -2147483649.0 && d < 2147483648.0)) return INT32_MIN;
    return static_cast<int32_t>(d);
}

}  // namespace wrap
