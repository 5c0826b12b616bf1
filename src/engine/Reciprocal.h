#pragma once

#include <cstdint>

// Division of a number below 2^32 by a divisor known ahead, as the high
// half of a product with the divisor's reciprocal ceil(2^64 / d): a
// multiplication where a division would take the processor several times
// as long. Exact for every such numerator and every divisor: 64 bits of
// the reciprocal cover 32 of the numerator and up to 32 of the divisor, and
// from 2^32 on the quotient is 0, as the product's high half is then too.
// A divisor of 1, whose reciprocal needs 65 bits, is held as 0 (and so is
// 0, which nothing is divided by: a symbol that is never coded).
namespace reciprocal {

inline uint64_t Of(uint64_t d) { return d <= 1 ? 0 : ~uint64_t{0} / d + 1; }

// floor(n / d) for n below 2^32, given Of(d).
[[gnu::always_inline]] inline uint64_t Divide(uint64_t n, uint64_t r) {
    __extension__ using Wide = unsigned __int128;
    // A divisor of 1 is the rare case (the least frequency a symbol can
    // have, a cell one unit wide): the product is laid out as the path
    // straight through.
    if (__builtin_expect(r == 0, 0)) return n;
    return static_cast<uint64_t>((static_cast<Wide>(n) * r) >> 64);
}

}  // namespace reciprocal
