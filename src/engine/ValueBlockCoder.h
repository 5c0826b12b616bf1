#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "engine/ByteStreamCoder.h"
#include "engine/WrapMath.h"

class InputWindow;

// Codes an array of signed 32-bit integers (mostly small residuals) with the
// byte-stream coder: the first value as it is, then one stream of
// sign-and-length bytes and one stream per byte plane of the magnitudes, low
// plane first, each holding only the values that reach it.
namespace valueblock {

inline constexpr int kPlanes = 4;

// Number of magnitude bytes of a value: 0 for 0 and for INT32_MIN (whose
// magnitude wraps back to itself and is not positive), then 1 to 4.
inline uint32_t LengthOf(int32_t v) {
    const int32_t m = wrap::Abs32(v);
    return static_cast<uint32_t>(m > 0) + static_cast<uint32_t>(m > 0xFF) + static_cast<uint32_t>(m > 0xFFFF) +
           static_cast<uint32_t>(m > 0xFFFFFF);
}

// Where the bytes of the values split so far go: the header byte of every
// value, and byte j of the magnitude of every value with at least j + 1
// bytes for plane j. A local object in the loop that feeds a block, so its
// pointers stay in registers.
struct SplitCursor {
    uint8_t* header;
    uint8_t* end[kPlanes];

    void Add(int32_t v) {
        const uint32_t length = LengthOf(v);
        const uint32_t m = static_cast<uint32_t>(wrap::Abs32(v));
        *header++ = static_cast<uint8_t>((v < 0 ? 1 : 0) + 2 * length);
        // Each plane's byte is stored for every value and the plane's end
        // moved on only where the value reaches it: no branch per value.
        // (Bit j of reach tells whether it reaches plane j; written as
        // comparisons, the compiler turns them back into branches, which
        // residuals of varying size mispredict.)
        const uint32_t reach = (1u << length) - 1;
        for (int j = 0; j < kPlanes; ++j) {
            *end[j] = static_cast<uint8_t>(m >> (8 * j));
            end[j] += (reach >> j) & 1;
        }
    }
};

// One value block on its way out: the values split into their streams,
// the streams coded (side by side with those of other blocks), the block
// laid out. Kept between chunks, so its buffers are allocated once.
class CBlockWriter {
public:
    // Header and planes, then their coded streams.
    static constexpr int kBuffers = 2 * (kPlanes + 1);

    CBlockWriter() = default;
    CBlockWriter(const CBlockWriter&) = delete;
    CBlockWriter& operator=(const CBlockWriter&) = delete;
    // Makes the writer work in kBuffers buffers of the caller's (instead of
    // its own), which other work may use between blocks.
    void WorkIn(CByteBuffer* buffers) { buf = buffers; }

    // For a block of count values (count >= 2) beginning with first; the
    // other count - 1 values are added through the cursor, in order.
    SplitCursor Begin(std::size_t count, int32_t first);
    // Takes the cursor by value: a cursor whose address is never taken
    // stays in registers while the values are added, although every byte
    // it stores could otherwise alias it.
    void End(SplitCursor cursor);
    // The streams to code (header, then each plane that holds a byte).
    void AddRequests(std::vector<bytestream::EncodeRequest>& requests);
    // After the requests are coded: the block's bytes, and how many.
    void AppendTo(CByteBuffer& out) const;
    std::size_t LaidOutSize() const;

private:
    CByteBuffer& Header() const { return buf[0]; }
    CByteBuffer& Plane(int j) const { return buf[1 + j]; }
    CByteBuffer& Coded(int j) const { return buf[kPlanes + 1 + j]; }

    int32_t firstValue = 0;
    std::size_t n = 0;
    CByteBuffer own[kBuffers];
    CByteBuffer* buf = own;
};

// Splits and codes the values in one go (for callers with an array).
void EncodeValueBlock(const int32_t* values, std::size_t count, std::vector<uint8_t>& out,
                      const bytestream::EncoderLoops& loops);

// One value block's decoded pieces: the first value, the n header bytes and
// the bytes of each plane. Each plane is padded with zeros up to the number
// of values that take a byte from it: a plane count that disagrees with the
// header bytes (damage) gives wrong values, never a read past the bytes.
class CBlockBytes {
public:
    static constexpr int kBuffers = 1 + kPlanes;

    CBlockBytes() = default;
    CBlockBytes(const CBlockBytes&) = delete;
    CBlockBytes& operator=(const CBlockBytes&) = delete;
    // Makes the block keep its bytes in kBuffers buffers of the caller's.
    void WorkIn(CByteBuffer* buffers) { buf = buffers; }

    // Reads and decodes a block of count values at the window's position,
    // stream after stream, and leaves the window after its last stream.
    void Read(InputWindow& in, std::size_t count, const bytestream::DecoderLoops& loops);

    // For decoding streams found elsewhere: room for the header's n bytes,
    // then, once they are decoded, the planes the header calls for.
    uint8_t* PrepareHeader(int32_t first, std::size_t count);
    int PlanesCalledFor() const;
    uint8_t* PreparePlane(int j, std::size_t length);
    // After the planes are decoded.
    void Settle();

    int32_t First() const { return firstValue; }
    std::size_t Count() const { return n + 1; }
    int Planes() const { return planes; }
    const uint8_t* Header() const { return buf[0].Data(); }
    const uint8_t* Plane(int j) const { return buf[1 + j].Data(); }

private:
    int32_t firstValue = 0;
    std::size_t n = 0;
    int planes = 0;
    CByteBuffer own[kBuffers];
    CByteBuffer* buf = own;
};

// For each header byte, bit j set when its value takes a byte from plane j
// (a damaged header byte may claim more than four). A table, not
// comparisons: the compiler turns those into branches, which residuals of
// varying size mispredict.
inline constexpr auto kReachOf = [] {
    std::array<uint8_t, 256> reach{};
    for (uint32_t h = 0; h < 256; ++h) reach[h] = static_cast<uint8_t>((1u << std::min(h >> 1, 4u)) - 1);
    return reach;
}();

// Calls f(i, value) for the block's values in order, i = 0 .. count - 1,
// and between(i) before value i for i = 1, 1 + step, 1 + 2 step, ...: from
// outside the loop over the values, so what that loop keeps in registers
// is not spilled for a call it rarely makes.
template <int P, class F, class B>
void ForEachValueWithPlanes(const CBlockBytes& b, std::size_t step, F&& f, B&& between) {
    const uint8_t* header = b.Header();
    const uint8_t* p[kPlanes];
    for (int j = 0; j < kPlanes; ++j) p[j] = b.Plane(j);
    f(std::size_t{0}, b.First());
    const std::size_t count = b.Count();
    step = std::max<std::size_t>(step, 1);
    for (std::size_t from = 1, to = 1; from < count; from = to) {
        to = from + std::min(step, count - from);
        between(from);
        for (std::size_t i = from; i < to; ++i) {
            const uint32_t h = header[i - 1];
            const uint32_t reach = kReachOf[h];
            uint32_t m = 0;
            for (int j = 0; j < P; ++j) {
                const uint32_t take = (reach >> j) & 1;
                m |= (static_cast<uint32_t>(*p[j]) << (8 * j)) & (0u - take);
                p[j] += take;
            }
            // Negated where the sign is set, without a branch; a sign without
            // magnitude stands for INT32_MIN, the one value whose magnitude has
            // no 32-bit form.
            const uint32_t sign = 0u - (h & 1);
            const uint32_t v = ((m ^ sign) - sign) | (sign & (m == 0 ? 0x80000000u : 0u));
            f(i, static_cast<int32_t>(v));
        }
    }
}

template <class F, class B>
void ForEachValueInSteps(const CBlockBytes& b, std::size_t step, F&& f, B&& between) {
    switch (b.Planes()) {
        case 0: return ForEachValueWithPlanes<0>(b, step, f, between);
        case 1: return ForEachValueWithPlanes<1>(b, step, f, between);
        case 2: return ForEachValueWithPlanes<2>(b, step, f, between);
        case 3: return ForEachValueWithPlanes<3>(b, step, f, between);
        default: return ForEachValueWithPlanes<4>(b, step, f, between);
    }
}

template <class F>
void ForEachValue(const CBlockBytes& b, F&& f) {
    ForEachValueInSteps(b, b.Count(), f, [](std::size_t) {});
}

// How many plane streams follow a header stream of n bytes (at most 4).
int PlaneCount(const uint8_t* header, std::size_t n);
// Whether a stored plane length can belong to a block of n + 1 values: an
// encoder writes a plane only for values that reach it, so between 1 and n.
bool PlausiblePlaneLength(int32_t k, std::size_t n);

// Reads a block into values[0 .. count) (for callers that want an array).
void DecodeValueBlock(InputWindow& in, int32_t* values, std::size_t count, const bytestream::DecoderLoops& loops);

}  // namespace valueblock
