#include "engine/GpsTimeCodec.h"

#include <algorithm>
#include <limits>

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

// A zero step is no step to the selection below: it is never the smaller.
constexpr int64_t kNoStep = std::numeric_limits<int64_t>::max();
int64_t Candidate(int64_t step) { return step == 0 ? kNoStep : step; }

// Predict for every point k in [1, count) in turn, settle(k, prediction)
// making t[k] the time before the next point is predicted. From point 7 on
// the five steps the predictor weighs are kept as they go by, a new one a
// point, rather than worked out again from the times: the selection is
// then the least of them (zero steps left out, but a zero when both latest
// steps are zero), the same value StepPredict's scan gives. A change of
// direction takes StepPredict itself.
template <class Settle>
void PredictInTurn(const int64_t* t, const uint8_t* rb, std::size_t count, Settle settle) {
    constexpr std::size_t kSteady = 7;
    for (std::size_t k = 1; k < std::min(count, kSteady); ++k) settle(k, Predict(t, rb, k));
    if (count <= kSteady) return;
    // At point k the steps ending at k-2 .. k-6; before point 7, those
    // ending at 4 .. 1.
    int64_t before = Sub64(t[4], t[3]);
    int64_t c3 = Candidate(before), c4 = Candidate(Sub64(t[3], t[2]));
    int64_t c5 = Candidate(Sub64(t[2], t[1])), c6 = Candidate(Sub64(t[1], t[0]));
    for (std::size_t k = kSteady; k < count; ++k) {
        const int64_t latest = Sub64(t[k - 2], t[k - 3]);
        const int64_t c2 = Candidate(latest);
        int64_t d = std::min(std::min(c2, c3), std::min(std::min(c4, c5), c6));
        if ((latest | before) == 0) d = std::min<int64_t>(d, 0);
        const int64_t prediction =
            Flag(rb, k - 1) == Flag(rb, k - 2) ? Add64(t[k - 2], d) : StepPredict(t, rb, k - 1);
        settle(k, prediction);
        c6 = c5;
        c5 = c4;
        c4 = c3;
        c3 = c2;
        before = latest;
    }
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
    PredictInTurn(t, flags, c.count, [&](std::size_t k, int64_t prediction) {
        const int64_t r = Sub64(t[k], prediction);
        h.Add(hi(r));
        l.Add(lo(r));
    });
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
    PredictInTurn(t, c.returnBits.data(), c.count,
                  [t](std::size_t k, int64_t prediction) { t[k] = Add64(prediction, t[k]); });
}

}  // namespace gpstime
