#include <algorithm>

#include "engine/ByteStreamCoder.h"
#include "engine/ByteStreamCore.h"
#include "engine/CpuDispatch.h"

namespace bytestream {

using namespace detail;

namespace {

}  // namespace

void BuildModel(const uint8_t* data, std::size_t length, uint16_t freq[256]) {
    // Four histograms side by side: a run of one value would otherwise make
    // every increment wait for the one before.
    uint64_t part[4][256] = {};
    std::size_t i = 0;
    for (; i + 4 <= length; i += 4) {
        ++part[0][data[i]];
        ++part[1][data[i + 1]];
        ++part[2][data[i + 2]];
        ++part[3][data[i + 3]];
    }
    for (; i < length; ++i) ++part[0][data[i]];
    uint64_t n[256];
    for (int k = 0; k < 256; ++k) n[k] = part[0][k] + part[1][k] + part[2][k] + part[3][k];

    uint32_t sum = 0;
    for (int k = 0; k < 256; ++k) {
        double p = static_cast<double>(kTotal) * (static_cast<double>(n[k]) / static_cast<double>(length));
        if (p < 0.6 && n[k] != 0) p = 0.6;
        freq[k] = static_cast<uint16_t>(static_cast<int32_t>(p + 0.5));
        sum += freq[k];
    }
    int32_t d = static_cast<int32_t>(static_cast<uint16_t>(sum)) - static_cast<int32_t>(kTotal);
    if (d < 0) {
        freq[0] = static_cast<uint16_t>(freq[0] - d);
    } else if (d > 0) {
        AbsorbExcess(freq, d);
    }
}

void AbsorbExcess(uint16_t freq[256], int32_t d) {
    // One pass over the table may not absorb the excess (many values raised
    // to the floor, none large); further passes follow the same rules. Each
    // pass takes at least one unit while the sum exceeds the total, because
    // then some frequency is above 2, so the walk ends; a table that could
    // not give anything (never one BuildModel makes) ends it too.
    while (d > 0) {
        const int32_t before = d;
        for (int k = 0; k < 256 && d > 0; ++k) {
            if (static_cast<int32_t>(freq[k]) - d > 10) {
                freq[k] = static_cast<uint16_t>(freq[k] - d);
                d = 0;
            } else if (freq[k] > 2) {
                --freq[k];
                --d;
            }
        }
        if (d == before) break;
    }
}

VELMORA_CPU_CLONES
void EncodeByteStream(const uint8_t* data, std::size_t length, std::vector<uint8_t>& out,
                      std::size_t* emittedBits) {
    uint16_t freq[256];
    BuildModel(data, length, freq);
    uint64_t lowOf[256], highOf[256];  // premultiplied bounds
    uint32_t cum = 0;
    const std::size_t countsAt = out.size();
    // A symbol costs at most 16 bits, the flush what the shifts left; eight
    // more bytes of room because every store writes a whole 64-bit word.
    out.resize(countsAt + kCountBytes + 2 * length + 64 + 8);
    for (int k = 0; k < 256; ++k) {
        lowOf[k] = Premultiplied(cum);
        cum += freq[k];
        highOf[k] = Premultiplied(cum);
        le::StoreU16(&out[countsAt + 2 * k], static_cast<uint16_t>(cum));
    }

    // The registers and the bit output live in locals the byte stores
    // cannot alias, so they stay in processor registers.
    uint8_t* p = out.data() + countsAt + kCountBytes;
    uint64_t acc = 0;        // pending bits in its low `filled` bits
    unsigned filled = 0;     // fewer than 8 between calls of put
    std::size_t count = 0;   // bits emitted
    // Appends the k (<= 32) low bits of value: the pending bits and the new
    // ones are stored as one big-endian word and the whole bytes among
    // them passed, with no branch on how many there are. (With nothing
    // pending the word is meaningless, but then p does not move and the
    // next store or the end overwrites it.)
    auto put = [&](uint32_t value, unsigned k) __attribute__((always_inline)) {
        acc = (acc << k) | value;
        filled += k;
        count += k;
        const uint64_t word = __builtin_bswap64(acc << ((64 - filled) & 63));
        std::memcpy(p, &word, 8);
        p += filled >> 3;
        filled &= 7;
    };
    auto putRepeated = [&](uint32_t bit, std::size_t k) {
        for (; k >= 32; k -= 32) put(bit ? 0xFFFFFFFFu : 0u, 32);
        if (k) put(bit ? (1u << k) - 1 : 0u, static_cast<unsigned>(k));
    };

    uint32_t low = 0, high = kMask16;
    std::size_t underflow = 0;
    for (std::size_t i = 0; i < length; ++i) {
        const uint32_t range = high - low + 1;
        const uint32_t b = data[i];
        high = low + ScaledBound(range, highOf[b]) - 1;
        low = low + ScaledBound(range, lowOf[b]);
        // The renormalisation shifts out, first, the leading bits on which
        // low and high agree (the first of them followed by the pending
        // opposite bits), then every step of the underflow case; after one
        // of those the top bits differ for good. Done in two strides, it
        // emits exactly the bits of the bit-by-bit loop. Shifts by zero are
        // harmless, so only the rare pending bits need a branch.
        const unsigned s1 = EqualTopBits(low, high);
        if (underflow != 0 && s1 != 0) {
            const uint32_t top = high >> 15;
            put(top, 1);
            putRepeated(top ^ 1, underflow);
            underflow = 0;
            put((high >> (16 - s1)) & Ones(s1 - 1), s1 - 1);
        } else {
            put(static_cast<uint32_t>((uint64_t{high} << s1) >> 16), s1);
        }
        low = (low << s1) & kMask16;
        high = ((high << s1) | Ones(s1)) & kMask16;
        // Now low's top bit is 0 and high's is 1, so the underflow stride
        // needs no case for zero steps.
        const unsigned k = UnderflowSteps(low, high);
        underflow += k;
        low = (low << k) & 0x7FFF;
        high = (((high << k) | Ones(k)) & 0x7FFF) | kTop;
    }
    // The flush: the second bit of low, then the pending opposite bits.
    const uint32_t bit = (low & kSecond) ? 1 : 0;
    put(bit, 1);
    putRepeated(bit ^ 1, underflow + 1);
    if (emittedBits) *emittedBits = count;
    // The byte being filled is written even when empty: a stream ending on
    // a byte boundary gets a whole zero byte of padding. Then the marker.
    *p++ = static_cast<uint8_t>(acc << (8 - filled));
    *p++ = 0xFF;
    *p++ = 0xFF;
    *p++ = 0x00;
    out.resize(static_cast<std::size_t>(p - out.data()));
}

}  // namespace bytestream
