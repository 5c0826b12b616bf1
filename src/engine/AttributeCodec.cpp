#include "engine/AttributeCodec.h"

#include "engine/WrapMath.h"

namespace attrs {

namespace {

// Where an attribute lives: its column, and its bits in that column's
// byte (the return byte holds four attributes).
struct Field {
    largepages::Vector<uint8_t> ChunkColumns::*column;
    unsigned shift;
    uint8_t mask;  // of the field's value, before shifting
};

Field FieldOf(ByteAttr a) {
    switch (a) {
        case ByteAttr::UserData: return {&ChunkColumns::userData, 0, 0xFF};
        case ByteAttr::ScanDirection: return {&ChunkColumns::returnBits, 6, 0x01};
        case ByteAttr::ScanAngle: return {&ChunkColumns::scanAngle, 0, 0xFF};
        case ByteAttr::ReturnNumber: return {&ChunkColumns::returnBits, 0, 0x07};
        case ByteAttr::NumberOfReturns: return {&ChunkColumns::returnBits, 3, 0x07};
        case ByteAttr::Edge: return {&ChunkColumns::returnBits, 7, 0x01};
        case ByteAttr::Classification: return {&ChunkColumns::classification, 0, 0xFF};
    }
    return {&ChunkColumns::userData, 0, 0xFF};
}

}  // namespace

bool IsDifference(ByteAttr a) {
    return a == ByteAttr::ScanDirection || a == ByteAttr::ScanAngle || a == ByteAttr::NumberOfReturns ||
           a == ByteAttr::Classification;
}

void FillBytes(ByteAttr a, const ChunkColumns& c, uint8_t* out) {
    const Field f = FieldOf(a);
    const uint8_t* v = (c.*f.column).data();
    const std::size_t n = c.count;
    if (IsDifference(a)) {
        uint8_t prev = 0;
        for (std::size_t i = 0; i < n; ++i) {
            const uint8_t value = (v[i] >> f.shift) & f.mask;
            out[i] = static_cast<uint8_t>(value - prev);
            prev = value;
        }
    } else {
        for (std::size_t i = 0; i < n; ++i) out[i] = (v[i] >> f.shift) & f.mask;
    }
}

void RestoreBytes(ByteAttr a, const uint8_t* bytes, ChunkColumns& c) {
    const Field f = FieldOf(a);
    uint8_t* v = (c.*f.column).data();
    const std::size_t n = c.count;
    const uint8_t keep = static_cast<uint8_t>(~(f.mask << f.shift));
    // Only the field's bits are kept, as a setter would; a difference is
    // added to the previous value as kept, so 1- and 3-bit fields come out
    // exactly as they went in.
    uint8_t prev = 0;
    const bool difference = IsDifference(a);
    for (std::size_t i = 0; i < n; ++i) {
        const uint8_t value = static_cast<uint8_t>((difference ? prev + bytes[i] : bytes[i]) & f.mask);
        v[i] = static_cast<uint8_t>((v[i] & keep) | (value << f.shift));
        prev = value;
    }
}

void SplitDifferences16(const largepages::Vector<uint16_t>& v, valueblock::CBlockWriter& out) {
    // In locals: the cursor's byte stores could alias the vector's own
    // pointers, which would then be loaded again for every value.
    const uint16_t* p = v.data();
    const std::size_t n = v.size();
    valueblock::SplitCursor cursor = out.Begin(n, p[0]);
    for (std::size_t i = 1; i < n; ++i) cursor.Add(static_cast<int32_t>(p[i]) - static_cast<int32_t>(p[i - 1]));
    out.End(cursor);
}

void RestoreDifferences16(const valueblock::CBlockBytes& r, largepages::Vector<uint16_t>& v) {
    uint16_t prev = 0;
    valueblock::ForEachValue(r, [&](std::size_t i, int32_t d) {
        prev = static_cast<uint16_t>(i == 0 ? d : wrap::Add32(prev, d));
        v[i] = prev;
    });
}

namespace {

// Which rule applies follows the returns' heights, which no branch
// predictor foresees: every rule's value is worked out and the one that
// applies selected, the rules that come first taking precedence.
[[gnu::always_inline]] inline uint16_t IntensityFrom(const uint16_t* v, const int32_t* z, std::size_t i) {
    const int32_t h = wrap::Sub32(z[i], z[i - 1]);
    const int32_t f = wrap::Sub32(z[i], z[i - 2]);
    const uint32_t last = v[i - 1], before = v[i - 2];
    const int32_t ah = wrap::Abs32(h), af = wrap::Abs32(f);
    uint32_t p = ah > af ? before : last;
    p = ah < 100 && af < 100 ? (last + before) >> 1 : p;
    // The test looks at the chunk's first intensity, not the previous one.
    p = h > 3000 && v[0] != 0 ? last >> 1 : p;
    p = h < -3000 ? 0 : p;
    return static_cast<uint16_t>(p);
}

}  // namespace

uint16_t PredictIntensity(const uint16_t* v, const int32_t* z, std::size_t i) { return IntensityFrom(v, z, i); }

void SplitIntensity(const ChunkColumns& c, valueblock::CBlockWriter& out) {
    const uint16_t* v = c.intensity.data();
    const int32_t* z = c.z.data();
    valueblock::SplitCursor cursor = out.Begin(c.count, v[0]);
    // Points 1 and 2 are predicted by 0.
    for (std::size_t i = 1; i < c.count && i < 3; ++i) cursor.Add(v[i]);
    for (std::size_t i = 3; i < c.count; ++i) cursor.Add(static_cast<int32_t>(v[i]) - IntensityFrom(v, z, i));
    out.End(cursor);
}

void RestoreIntensity(const valueblock::CBlockBytes& r, ChunkColumns& c, const RestorePacing& pace) {
    uint16_t* v = c.intensity.data();
    const int32_t* z = c.z.data();
    const auto value = [&](std::size_t i, int32_t residual) {
        const int32_t p = i < 3 ? 0 : IntensityFrom(v, z, i);
        v[i] = static_cast<uint16_t>(wrap::Add32(p, residual));
    };
    // Point 0 reads no Z; each step reads Z up to its own last point.
    valueblock::ForEachValueInSteps(r, CRestorePace::kStep, value, [&](std::size_t i) {
        pace.Await(std::min(c.count, i + CRestorePace::kStep));
    });
}

}  // namespace attrs
