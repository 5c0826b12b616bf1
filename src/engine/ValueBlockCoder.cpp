#include "engine/ValueBlockCoder.h"

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
    std::vector<uint8_t> bytes(n);
    uint32_t maxL = 0;
    for (std::size_t i = 1; i < count; ++i) {
        const int32_t v = values[i];
        const int32_t m = wrap::Abs32(v);
        const uint32_t L = LengthOf(m);
        values[i] = m;
        bytes[i - 1] = static_cast<uint8_t>((v < 0 ? 1 : 0) + 2 * L);
        if (L > maxL) maxL = L;
    }
    bytestream::EncodeByteStream(bytes.data(), n, out);

    for (uint32_t plane = 1; plane <= maxL; ++plane) {
        const uint32_t shift = 8 * (plane - 1);
        std::size_t k = 0;
        for (std::size_t i = 1; i < count; ++i) {
            if (LengthOf(values[i]) >= plane) {
                bytes[k++] = static_cast<uint8_t>(static_cast<uint32_t>(values[i]) >> shift);
            }
        }
        AppendI32(out, static_cast<int32_t>(k));
        bytestream::EncodeByteStream(bytes.data(), k, out);
    }
}

void DecodeValueBlock(InputWindow& in, int32_t* values, std::size_t count) {
    uint8_t first[4];
    if (!in.ReadExact(first, 4)) throw CLasException(enginemsg::kStreamNotFound);
    values[0] = le::LoadI32(first);
    const std::size_t n = count - 1;
    std::vector<uint8_t> header(n);
    bytestream::DecodeByteStream(in, header.data(), n);

    uint32_t maxL = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const uint32_t L = header[i] >> 1;
        if (L > maxL) maxL = L;
    }
    std::vector<uint32_t> magnitude(count, 0);
    std::vector<uint8_t> planeBytes;
    for (uint32_t plane = 1; plane <= maxL && plane <= 4; ++plane) {
        uint8_t kb[4];
        if (!in.ReadExact(kb, 4)) throw CLasException(enginemsg::kStreamNotFound);
        const int32_t k = le::LoadI32(kb);
        // An encoder writes a plane only for values that reach it, so its
        // count lies between 1 and n; anything else is damage, and trusting
        // it could size an allocation from four arbitrary bytes.
        if (k < 1 || static_cast<std::size_t>(k) > n) throw CLasException(enginemsg::kStreamNotFound);
        planeBytes.resize(static_cast<std::size_t>(k));
        bytestream::DecodeByteStream(in, planeBytes.data(), planeBytes.size());
        const uint32_t shift = 8 * (plane - 1);
        std::size_t next = 0;
        for (std::size_t i = 1; i < count && next < planeBytes.size(); ++i) {
            if ((header[i - 1] >> 1) >= plane) magnitude[i] += static_cast<uint32_t>(planeBytes[next++]) << shift;
        }
    }
    for (std::size_t i = 1; i < count; ++i) {
        int32_t v = static_cast<int32_t>(magnitude[i]);
        if (header[i - 1] & 1) {
            v = wrap::Neg32(v);
            // A sign without magnitude stands for INT32_MIN, the one value
            // whose magnitude has no 32-bit form.
            if (v == 0) v = INT32_MIN;
        }
        values[i] = v;
    }
}

}  // namespace valueblock
