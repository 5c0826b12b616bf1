#include "engine/ValueBlockCoder.h"

#include <algorithm>
#include <memory>

#include "engine/ByteStreamCoder.h"
#include "engine/EngineMessages.h"
#include "engine/InputWindow.h"
#include "engine/WrapMath.h"
#include "las/ByteOrder.h"
#include "las/LasException.h"

namespace valueblock {

namespace {

// Number of magnitude bytes: 0 for 0 and for INT32_MIN (whose magnitude
// wraps back to itself and is not positive), then 1 to 4.
inline uint32_t LengthOf(int32_t m) {
    if (m <= 0) return 0;
    const uint32_t u = static_cast<uint32_t>(m);
    return u <= 0xFF ? 1 : u <= 0xFFFF ? 2 : u <= 0xFFFFFF ? 3 : 4;
}

void AppendI32(std::vector<uint8_t>& out, int32_t v) {
    uint8_t b[4];
    le::StoreI32(b, v);
    out.insert(out.end(), b, b + 4);
}

}  // namespace

void EncodeValueBlock(int32_t* values, std::size_t count, std::vector<uint8_t>& out) {
    AppendI32(out, values[0]);
    const std::size_t n = count - 1;
    // The header byte of every value, and byte j-1 of the magnitude of
    // every value with L >= j for plane j. Each plane's byte is stored for
    // every value and its end moved on only where the value reaches the
    // plane, so there is no branch per value and plane.
    std::unique_ptr<uint8_t[]> header(new uint8_t[n]);
    std::unique_ptr<uint8_t[]> planes[4];
    uint8_t* end[4];
    for (int j = 0; j < 4; ++j) {
        planes[j].reset(new uint8_t[n]);
        end[j] = planes[j].get();
    }
    for (std::size_t i = 1; i < count; ++i) {
        const int32_t v = values[i];
        const int32_t m = wrap::Abs32(v);
        const uint32_t L = LengthOf(m);
        const uint32_t u = static_cast<uint32_t>(m);
        values[i] = m;
        header[i - 1] = static_cast<uint8_t>((v < 0 ? 1 : 0) + 2 * L);
        for (uint32_t j = 0; j < 4; ++j) {
            *end[j] = static_cast<uint8_t>(u >> (8 * j));
            end[j] += L > j ? 1 : 0;
        }
    }
    bytestream::EncodeByteStream(header.get(), n, out);
    for (int j = 0; j < 4; ++j) {
        const std::size_t k = static_cast<std::size_t>(end[j] - planes[j].get());
        if (k == 0) break;
        AppendI32(out, static_cast<int32_t>(k));
        bytestream::EncodeByteStream(planes[j].get(), k, out);
    }
}

void AssembleValueBlock(int32_t first, const uint8_t* header, std::size_t count, const PlaneBytes* planes,
                        int planeCount, int32_t* values) {
    values[0] = first;
    for (std::size_t i = 1; i < count; ++i) values[i] = 0;
    for (int plane = 1; plane <= planeCount; ++plane) {
        const PlaneBytes& bytes = planes[plane - 1];
        if (bytes.size == 0) continue;
        const unsigned shift = 8 * static_cast<unsigned>(plane - 1);
        const std::size_t last = bytes.size - 1;
        std::size_t next = 0;
        // Bytes go, in order, to the values that reach this plane; once they
        // run out (a count that disagrees with the header: damage) the rest
        // get none. Without a branch per value.
        for (std::size_t i = 1; i < count; ++i) {
            const uint32_t take =
                static_cast<uint32_t>((header[i - 1] >> 1) >= plane) & static_cast<uint32_t>(next <= last);
            const uint32_t byte = bytes.data[std::min(next, last)];
            values[i] = static_cast<int32_t>(static_cast<uint32_t>(values[i]) + ((byte << shift) & (0u - take)));
            next += take;
        }
    }
    for (std::size_t i = 1; i < count; ++i) {
        int32_t v = values[i];
        if (header[i - 1] & 1) {
            v = wrap::Neg32(v);
            // A sign without magnitude stands for INT32_MIN, the one value
            // whose magnitude has no 32-bit form.
            if (v == 0) v = INT32_MIN;
        }
        values[i] = v;
    }
}

int PlaneCount(const uint8_t* header, std::size_t n) {
    uint32_t maxL = 0;
    for (std::size_t i = 0; i < n; ++i) maxL = std::max<uint32_t>(maxL, header[i] >> 1);
    return static_cast<int>(std::min<uint32_t>(maxL, 4));
}

bool PlausiblePlaneCount(int32_t k, std::size_t n) { return k >= 1 && static_cast<std::size_t>(k) <= n; }

void DecodeValueBlock(InputWindow& in, int32_t* values, std::size_t count) {
    uint8_t first[4];
    if (!in.ReadExact(first, 4)) throw CLasException(enginemsg::kStreamNotFound);
    const std::size_t n = count - 1;
    std::vector<uint8_t> header(n);
    bytestream::DecodeByteStream(in, header.data(), n);
    const int planeCount = PlaneCount(header.data(), n);
    std::vector<uint8_t> planes[4];
    PlaneBytes views[4];
    for (int plane = 0; plane < planeCount; ++plane) {
        uint8_t kb[4];
        if (!in.ReadExact(kb, 4)) throw CLasException(enginemsg::kStreamNotFound);
        const int32_t k = le::LoadI32(kb);
        // An encoder writes a plane only for values that reach it, so its
        // count lies between 1 and n; anything else is damage, and trusting
        // it could size an allocation from four arbitrary bytes.
        if (!PlausiblePlaneCount(k, n)) throw CLasException(enginemsg::kStreamNotFound);
        planes[plane].resize(static_cast<std::size_t>(k));
        bytestream::DecodeByteStream(in, planes[plane].data(), planes[plane].size());
        views[plane] = {planes[plane].data(), planes[plane].size()};
    }
    AssembleValueBlock(le::LoadI32(first), header.data(), count, views, planeCount, values);
}

}  // namespace valueblock
