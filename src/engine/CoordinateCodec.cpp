#include "engine/CoordinateCodec.h"

#include <algorithm>

#include "engine/ValueBlockCoder.h"
#include "engine/WrapMath.h"

namespace coords {

using wrap::Abs32;
using wrap::Add32;
using wrap::Sub32;
using wrap::TruncToInt32;

int32_t PredictX(const int32_t* x, const int32_t* dx, std::size_t i) {
    if (i == 1) return x[0];
    const std::size_t K = std::min<std::size_t>(7, i - 1);
    int32_t step = 0;
    if (K > 2) {
        int32_t sum = 0, lo = dx[i - 1], hi = dx[i - 1];
        for (std::size_t k = 0; k < K; ++k) {
            const int32_t d = dx[i - 1 - k];
            sum = Add32(sum, d);
            lo = std::min(lo, d);
            hi = std::max(hi, d);
        }
        // Mean of the steps without one smallest and one largest.
        const int32_t trimmed = Sub32(Sub32(sum, lo), hi);
        step = TruncToInt32(static_cast<double>(trimmed) / static_cast<double>(K - 2) + 0.5);
        // The last two steps turn: the scan line reversed.
        if (wrap::Mul32(dx[i - 2], dx[i - 1]) < 0) step = Sub32(step, dx[i - 1]);
    }
    return Add32(x[i - 1], step);
}

int32_t PredictY(const int32_t* y, const int32_t* dx, const int32_t* dy, std::size_t i) {
    const int32_t d = dx[i];
    const std::size_t limit = std::min<std::size_t>(100, i - 1);
    // The Y step that went with the most recent similar X step.
    for (std::size_t k = 0; k < limit; ++k) {
        if (Abs32(Sub32(d, dx[i - 1 - k])) < 5) return Add32(y[i - 1], dy[i - 1 - k]);
    }
    if (i <= 3) return y[i - 1];
    const int32_t ax = dx[i - 1], bx = dx[i - 2], ay = dy[i - 1], by = dy[i - 2];
    int32_t step;
    if (bx == ax || by == ay) {
        step = by;
    } else {
        const double slope = static_cast<double>(Sub32(by, ay)) / static_cast<double>(Sub32(bx, ax));
        step = TruncToInt32(slope * static_cast<double>(Sub32(d, ax)) + 0.5 + static_cast<double>(ay));
    }
    return Add32(y[i - 1], step);
}

int32_t PredictZ(const int32_t* z, const int32_t* dx, const int32_t* dy, const int32_t* dz,
                 std::size_t i) {
    const int32_t ddx = dx[i], ddy = dy[i];
    const std::size_t limit = std::min<std::size_t>(100, i - 1);
    // The Z step that went with the most recent similar X and Y steps.
    for (std::size_t k = 0; k < limit; ++k) {
        const std::size_t j = i - 1 - k;
        if (Abs32(Sub32(ddx, dx[j])) < 5 && Abs32(Sub32(ddy, dy[j])) < 5) return Add32(z[i - 1], dz[j]);
    }
    if (i <= 2) return z[i - 1];
    const int32_t ax = dx[i - 1], bx = dx[i - 2];
    const int32_t ay = dy[i - 1], by = dy[i - 2];
    const int32_t az = dz[i - 1], bz = dz[i - 2];
    // Without two distinct steps in every coordinate there is no slope to
    // trust; the vote would not be looked at, so it is not computed.
    if (bx == ax || by == ay || bz == az) return Add32(z[i - 1], bz);

    const double kx = static_cast<double>(Sub32(bz, az)) / static_cast<double>(Sub32(bx, ax));
    const double ky = static_cast<double>(Sub32(bz, az)) / static_cast<double>(Sub32(by, ay));
    // Which slope explained the recent past better, step pair by step pair.
    int cx = 0, cy = 0;
    const std::size_t rounds = std::min<std::size_t>(100, i - 2);
    for (std::size_t m = 0; m < rounds; ++m) {
        const std::size_t j = i - 2 - m;
        const int32_t dzPrev = dz[j], dzNext = dz[j + 1];
        const int32_t ex = Abs32(Sub32(
            TruncToInt32(kx * static_cast<double>(Sub32(dx[j + 1], dx[j])) + static_cast<double>(dzPrev)),
            dzNext));
        const int32_t ey = Abs32(Sub32(
            TruncToInt32(ky * static_cast<double>(Sub32(dy[j + 1], dy[j])) + static_cast<double>(dzPrev)),
            dzNext));
        if (ex < ey) {
            ++cx;
        } else if (ex > ey) {
            ++cy;
        } else {
            ++cx;
            ++cy;
        }
    }
    int32_t step;
    if (cx > cy) {
        step = TruncToInt32(kx * static_cast<double>(Sub32(ddx, ax)) + static_cast<double>(az) + 0.5);
    } else {
        step = TruncToInt32(ky * static_cast<double>(Sub32(ddy, ay)) + static_cast<double>(az) + 0.5);
    }
    return Add32(z[i - 1], step);
}

namespace {

void Restore(InputWindow& in, std::vector<int32_t>& v, std::vector<int32_t>& d, std::size_t n,
             const auto& predict) {
    v.resize(n);
    d.assign(n, 0);
    valueblock::DecodeValueBlock(in, v.data(), n);
    // v holds the residuals; each is replaced by its value in point order,
    // so the predictor only ever sees restored points before i.
    for (std::size_t i = 1; i < n; ++i) {
        v[i] = Add32(predict(i), v[i]);
        d[i] = Sub32(v[i], v[i - 1]);
    }
}

}  // namespace

void EncodeX(const ChunkColumns& c, std::vector<uint8_t>& out) {
    const std::size_t n = c.x.size();
    std::vector<int32_t> r(n);
    r[0] = c.x[0];
    for (std::size_t i = 1; i < n; ++i) r[i] = Sub32(c.x[i], PredictX(c.x.data(), c.dx.data(), i));
    valueblock::EncodeValueBlock(r.data(), n, out);
}

void EncodeY(const ChunkColumns& c, std::vector<uint8_t>& out) {
    const std::size_t n = c.y.size();
    std::vector<int32_t> r(n);
    r[0] = c.y[0];
    for (std::size_t i = 1; i < n; ++i) {
        r[i] = Sub32(c.y[i], PredictY(c.y.data(), c.dx.data(), c.dy.data(), i));
    }
    valueblock::EncodeValueBlock(r.data(), n, out);
}

void EncodeZ(const ChunkColumns& c, std::vector<uint8_t>& out) {
    const std::size_t n = c.z.size();
    std::vector<int32_t> r(n);
    r[0] = c.z[0];
    for (std::size_t i = 1; i < n; ++i) {
        r[i] = Sub32(c.z[i], PredictZ(c.z.data(), c.dx.data(), c.dy.data(), c.dz.data(), i));
    }
    valueblock::EncodeValueBlock(r.data(), n, out);
}

void DecodeX(InputWindow& in, ChunkColumns& c, std::size_t n) {
    Restore(in, c.x, c.dx, n, [&](std::size_t i) { return PredictX(c.x.data(), c.dx.data(), i); });
}

void DecodeY(InputWindow& in, ChunkColumns& c, std::size_t n) {
    Restore(in, c.y, c.dy, n,
            [&](std::size_t i) { return PredictY(c.y.data(), c.dx.data(), c.dy.data(), i); });
}

void DecodeZ(InputWindow& in, ChunkColumns& c, std::size_t n) {
    Restore(in, c.z, c.dz, n, [&](std::size_t i) {
        return PredictZ(c.z.data(), c.dx.data(), c.dy.data(), c.dz.data(), i);
    });
}

}  // namespace coords
