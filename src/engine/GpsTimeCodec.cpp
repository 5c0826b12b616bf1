#include "engine/GpsTimeCodec.h"

#include <algorithm>

#include "engine/ValueBlockCoder.h"
#include "engine/WrapMath.h"

namespace gpstime {

using wrap::Add64;
using wrap::Sub64;

namespace {

uint8_t Flag(const uint8_t* returnBits, std::size_t i) { return (returnBits[i] >> 6) & 1; }

// The step predictor at j >= 3.
int64_t StepPredict(const int64_t* t, const uint8_t* rb, std::size_t j) {
    int64_t d = Sub64(t[j - 1], t[j - 2]);
    if (d == 0) d = Sub64(t[j - 2], t[j - 3]);
    // The smallest non-zero step among the last five. Selections, not
    // branches: whether a step is smaller follows the returns of each pulse,
    // which no branch predictor foresees.
    const std::size_t last = std::min<std::size_t>(4, j - 2);
    for (std::size_t c = 0; c <= last; ++c) {
        const int64_t D = Sub64(t[j - 1 - c], t[j - 2 - c]);
        const bool smaller = (D < d) & (D != 0);
        d = smaller ? D : d;
    }
    if (Flag(rb, j) == Flag(rb, j - 1)) return Add64(t[j - 1], d);

    // The direction changes: reuse the time step at an earlier change. Which
    // kind of change is measured follows the flag of the chunk's point 1.
    const uint8_t a = Flag(rb, 1) == 1 ? 0 : 1;
    const uint8_t b = a ^ 1;
    std::size_t s = j - 1;
    while (s >= 1 && Flag(rb, s) == a) --s;
    while (s >= 1 && Flag(rb, s) == b) --s;
    if (s >= 2) return Add64(t[j - 1], Sub64(t[s + 1], t[s]));
    return Add64(t[j - 1], d);
}

}  // namespace

int64_t Predict(const int64_t* t, const uint8_t* returnBits, std::size_t k) {
    // Evaluated at k - 1: the predictor starts from t[k-2] and compares the
    // flags of points k-1 and k-2.
    if (k <= 3) return t[0];
    return StepPredict(t, returnBits, k - 1);
}

void Split(const ChunkColumns& c, valueblock::CBlockWriter& high, valueblock::CBlockWriter& low) {
    const int64_t* t = c.gpsBits.data();
    const uint8_t* flags = c.returnBits.data();
    auto hi = [](int64_t r) { return static_cast<int32_t>(static_cast<uint64_t>(r) >> 32); };
    auto lo = [](int64_t r) { return static_cast<int32_t>(static_cast<uint32_t>(r)); };
    valueblock::SplitCursor h = high.Begin(c.count, hi(t[0]));
    valueblock::SplitCursor l = low.Begin(c.count, lo(t[0]));
    for (std::size_t k = 1; k < c.count; ++k) {
        const int64_t r = Sub64(t[k], Predict(t, flags, k));
        h.Add(hi(r));
        l.Add(lo(r));
    }
    high.End(h);
    low.End(l);
}

void Restore(const valueblock::CBlockBytes& high, const valueblock::CBlockBytes& low, ChunkColumns& c) {
    int64_t* t = c.gpsBits.data();
    // The residuals are put together in the column, then replaced by the
    // times in point order.
    valueblock::ForEachValue(high, [&](std::size_t k, int32_t v) {
        t[k] = static_cast<int64_t>(static_cast<uint64_t>(static_cast<uint32_t>(v)) << 32);
    });
    valueblock::ForEachValue(low, [&](std::size_t k, int32_t v) {
        t[k] = static_cast<int64_t>(static_cast<uint64_t>(t[k]) | static_cast<uint32_t>(v));
    });
    const uint8_t* flags = c.returnBits.data();
    for (std::size_t k = 1; k < c.count; ++k) t[k] = Add64(Predict(t, flags, k), t[k]);
}

}  // namespace gpstime
