#include "engine/AttributeCodec.h"

#include "engine/ByteStreamCoder.h"
#include "engine/ValueBlockCoder.h"
#include "engine/WrapMath.h"

namespace attrs {

ByteField FieldOf(ByteAttr a) {
    switch (a) {
        case ByteAttr::UserData: return {rec::kUserData, 0, 0xFF};
        case ByteAttr::ScanDirection: return {rec::kReturnBits, 6, 0x01};
        case ByteAttr::ScanAngle: return {rec::kScanAngle, 0, 0xFF};
        case ByteAttr::ReturnNumber: return {rec::kReturnBits, 0, 0x07};
        case ByteAttr::NumberOfReturns: return {rec::kReturnBits, 3, 0x07};
        case ByteAttr::Edge: return {rec::kReturnBits, 7, 0x01};
        case ByteAttr::Classification: return {rec::kClassification, 0, 0xFF};
    }
    return {rec::kUserData, 0, 0xFF};
}

bool IsDifference(ByteAttr a) {
    return a == ByteAttr::ScanDirection || a == ByteAttr::ScanAngle ||
           a == ByteAttr::NumberOfReturns || a == ByteAttr::Classification;
}

void EncodeByteAttr(ByteAttr a, const PointView& pts, std::vector<uint8_t>& out) {
    const ByteField f = FieldOf(a);
    const std::size_t n = pts.count;
    std::vector<uint8_t> bytes(n);
    if (IsDifference(a)) {
        uint8_t prev = 0;
        for (std::size_t i = 0; i < n; ++i) {
            const uint8_t v = f.Get(pts, i);
            bytes[i] = static_cast<uint8_t>(v - prev);
            prev = v;
        }
    } else {
        for (std::size_t i = 0; i < n; ++i) bytes[i] = f.Get(pts, i);
    }
    bytestream::EncodeByteStream(bytes.data(), n, out);
}

void RestoreByteAttr(ByteAttr a, const uint8_t* bytes, const PointView& pts, ChunkColumns& cols) {
    const ByteField f = FieldOf(a);
    const std::size_t n = pts.count;
    if (IsDifference(a)) {
        // The previous value is read back after the setter has masked it,
        // so 1- and 3-bit fields come out exactly as they went in.
        uint8_t prev = 0;
        for (std::size_t i = 0; i < n; ++i) {
            f.Set(pts, i, static_cast<uint8_t>(prev + bytes[i]));
            prev = f.Get(pts, i);
        }
    } else {
        for (std::size_t i = 0; i < n; ++i) f.Set(pts, i, bytes[i]);
    }
    if (a == ByteAttr::ScanDirection) {
        cols.flags.resize(n);
        for (std::size_t i = 0; i < n; ++i) cols.flags[i] = f.Get(pts, i);
    }
}

void DecodeByteAttr(ByteAttr a, InputWindow& in, const PointView& pts, ChunkColumns& cols) {
    std::vector<uint8_t> bytes(pts.count);
    bytestream::DecodeByteStream(in, bytes.data(), bytes.size());
    RestoreByteAttr(a, bytes.data(), pts, cols);
}

void EncodeDifferences16(const std::vector<uint16_t>& v, std::vector<uint8_t>& out) {
    const std::size_t n = v.size();
    std::vector<int32_t> r(n);
    r[0] = v[0];
    for (std::size_t i = 1; i < n; ++i) r[i] = static_cast<int32_t>(v[i]) - static_cast<int32_t>(v[i - 1]);
    valueblock::EncodeValueBlock(r.data(), n, out);
}

std::vector<uint16_t> RestoreDifferences16(const int32_t* r, std::size_t n) {
    std::vector<uint16_t> v(n);
    v[0] = static_cast<uint16_t>(r[0]);
    for (std::size_t i = 1; i < n; ++i) v[i] = static_cast<uint16_t>(wrap::Add32(v[i - 1], r[i]));
    return v;
}

std::vector<uint16_t> DecodeDifferences16(InputWindow& in, std::size_t n) {
    std::vector<int32_t> r(n);
    valueblock::DecodeValueBlock(in, r.data(), n);
    return RestoreDifferences16(r.data(), n);
}

void EncodePointSource(const PointView& pts, std::vector<uint8_t>& out) {
    std::vector<uint16_t> v(pts.count);
    for (std::size_t i = 0; i < pts.count; ++i) v[i] = pts.PointSourceId(i);
    EncodeDifferences16(v, out);
}

void RestorePointSource(const int32_t* r, const PointView& pts) {
    const std::vector<uint16_t> v = RestoreDifferences16(r, pts.count);
    for (std::size_t i = 0; i < pts.count; ++i) pts.SetPointSourceId(i, v[i]);
}

void DecodePointSource(InputWindow& in, const PointView& pts) {
    std::vector<int32_t> r(pts.count);
    valueblock::DecodeValueBlock(in, r.data(), r.size());
    RestorePointSource(r.data(), pts);
}

uint16_t PredictIntensity(const uint16_t* v, const int32_t* z, std::size_t i) {
    const int32_t h = wrap::Sub32(z[i], z[i - 1]);
    const int32_t f = wrap::Sub32(z[i], z[i - 2]);
    if (h < -3000) return 0;
    // The test looks at the chunk's first intensity, not the previous one.
    if (h > 3000 && v[0] != 0) return static_cast<uint16_t>(v[i - 1] >> 1);
    const int32_t ah = wrap::Abs32(h), af = wrap::Abs32(f);
    if (ah < 100 && af < 100) return static_cast<uint16_t>((v[i - 1] + v[i - 2]) >> 1);
    return ah > af ? v[i - 2] : v[i - 1];
}

void EncodeIntensity(const PointView& pts, const ChunkColumns& cols, std::vector<uint8_t>& out) {
    const std::size_t n = pts.count;
    std::vector<uint16_t> v(n);
    for (std::size_t i = 0; i < n; ++i) v[i] = pts.Intensity(i);
    std::vector<int32_t> r(n);
    for (std::size_t i = 0; i < n && i < 3; ++i) r[i] = v[i];
    for (std::size_t i = 3; i < n; ++i) {
        r[i] = static_cast<int32_t>(v[i]) - PredictIntensity(v.data(), cols.z.data(), i);
    }
    valueblock::EncodeValueBlock(r.data(), n, out);
}

void RestoreIntensity(const int32_t* r, const PointView& pts, const ChunkColumns& cols) {
    const std::size_t n = pts.count;
    std::vector<uint16_t> v(n);
    for (std::size_t i = 0; i < n && i < 3; ++i) v[i] = static_cast<uint16_t>(r[i]);
    for (std::size_t i = 3; i < n; ++i) {
        v[i] = static_cast<uint16_t>(wrap::Add32(PredictIntensity(v.data(), cols.z.data(), i), r[i]));
    }
    for (std::size_t i = 0; i < n; ++i) pts.SetIntensity(i, v[i]);
}

void DecodeIntensity(InputWindow& in, const PointView& pts, const ChunkColumns& cols) {
    std::vector<int32_t> r(pts.count);
    valueblock::DecodeValueBlock(in, r.data(), r.size());
    RestoreIntensity(r.data(), pts, cols);
}

}  // namespace attrs
