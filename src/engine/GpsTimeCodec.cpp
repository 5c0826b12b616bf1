#include "engine/GpsTimeCodec.h"

#include <algorithm>

#include "engine/AttributeCodec.h"
#include "engine/ValueBlockCoder.h"
#include "engine/WrapMath.h"

namespace gpstime {

using wrap::Add64;
using wrap::Sub64;

namespace {

// The step predictor at j >= 3.
int64_t StepPredict(const int64_t* t, const uint8_t* f, std::size_t j) {
    int64_t d = Sub64(t[j - 1], t[j - 2]);
    if (d == 0) d = Sub64(t[j - 2], t[j - 3]);
    // The smallest non-zero step among the last five.
    const std::size_t last = std::min<std::size_t>(4, j - 2);
    for (std::size_t c = 0; c <= last; ++c) {
        const int64_t D = Sub64(t[j - 1 - c], t[j - 2 - c]);
        if (D < d && D != 0) d = D;
    }
    if (f[j] == f[j - 1]) return Add64(t[j - 1], d);

    // The direction changes: reuse the time step at an earlier change. Which
    // kind of change is measured follows the flag of the chunk's point 1.
    const uint8_t a = f[1] == 1 ? 0 : 1;
    const uint8_t b = a ^ 1;
    std::size_t s = j - 1;
    while (s >= 1 && f[s] == a) --s;
    while (s >= 1 && f[s] == b) --s;
    if (s >= 2) return Add64(t[j - 1], Sub64(t[s + 1], t[s]));
    return Add64(t[j - 1], d);
}

}  // namespace

int64_t Predict(const int64_t* t, const uint8_t* f, std::size_t k) {
    // Evaluated at k - 1: the predictor starts from t[k-2] and compares the
    // flags of points k-1 and k-2.
    if (k <= 3) return t[0];
    return StepPredict(t, f, k - 1);
}

void Encode(const PointView& pts, const std::vector<uint8_t>& flags, std::vector<uint8_t>& out) {
    const std::size_t n = pts.count;
    std::vector<int64_t> t(n);
    for (std::size_t i = 0; i < n; ++i) t[i] = pts.GpsBits(i);
    std::vector<int64_t> r(n);
    r[0] = t[0];
    for (std::size_t k = 1; k < n; ++k) r[k] = Sub64(t[k], Predict(t.data(), flags.data(), k));
    std::vector<int32_t> half(n);
    for (std::size_t k = 0; k < n; ++k) half[k] = static_cast<int32_t>(static_cast<uint64_t>(r[k]) >> 32);
    valueblock::EncodeValueBlock(half.data(), n, out);
    for (std::size_t k = 0; k < n; ++k) half[k] = static_cast<int32_t>(static_cast<uint32_t>(r[k]));
    valueblock::EncodeValueBlock(half.data(), n, out);
}

void Restore(const int32_t* high, const int32_t* low, const PointView& pts, const std::vector<uint8_t>& flags) {
    const std::size_t n = pts.count;
    auto join = [&](std::size_t k) {
        return static_cast<int64_t>((static_cast<uint64_t>(static_cast<uint32_t>(high[k])) << 32) |
                                    static_cast<uint32_t>(low[k]));
    };
    std::vector<int64_t> t(n);
    t[0] = join(0);
    for (std::size_t k = 1; k < n; ++k) t[k] = Add64(Predict(t.data(), flags.data(), k), join(k));
    for (std::size_t k = 0; k < n; ++k) pts.SetGpsBits(k, t[k]);
}

void Decode(InputWindow& in, const PointView& pts, const std::vector<uint8_t>& flags) {
    const std::size_t n = pts.count;
    std::vector<int32_t> high(n), low(n);
    valueblock::DecodeValueBlock(in, high.data(), n);
    valueblock::DecodeValueBlock(in, low.data(), n);
    Restore(high.data(), low.data(), pts, flags);
}

}  // namespace gpstime

namespace color {

void Encode(const PointView& pts, int channel, std::vector<uint8_t>& out) {
    std::vector<uint16_t> v(pts.count);
    for (std::size_t i = 0; i < pts.count; ++i) v[i] = pts.Color(i, channel);
    attrs::EncodeDifferences16(v, out);
}

void Restore(const int32_t* residuals, const PointView& pts, int channel) {
    const std::vector<uint16_t> v = attrs::RestoreDifferences16(residuals, pts.count);
    for (std::size_t i = 0; i < pts.count; ++i) pts.SetColor(i, channel, v[i]);
}

void Decode(InputWindow& in, const PointView& pts, int channel) {
    std::vector<int32_t> r(pts.count);
    valueblock::DecodeValueBlock(in, r.data(), r.size());
    Restore(r.data(), pts, channel);
}

}  // namespace color
