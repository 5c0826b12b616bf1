#include "engine/CoordinateCodec.h"

#include <algorithm>

#include "engine/WrapMath.h"

namespace coords {

// A follower awaits whole blocks of the column it reads, and a leader
// publishes them as its own blocks begin.
static_assert(CStepWindow::kBlock == CRestorePace::kStep);

using wrap::Abs32;
using wrap::Add32;
using wrap::Sub32;
using wrap::TruncToInt32;

void CStepWindow::Start(const int32_t* v, std::size_t begin) {
    start = begin;
    for (std::size_t k = 0; k < kHistory; ++k) {
        const std::size_t back = kHistory - k;  // point begin - back
        steps[k] = begin > back ? Sub32(v[begin - back], v[begin - back - 1]) : 0;
    }
}

void CStepWindow::Fill(const int32_t* v, std::size_t end) {
    for (std::size_t i = start; i < end; ++i) steps[kHistory + (i - start)] = Sub32(v[i], v[i - 1]);
}

void CStepWindow::Turns(std::size_t n, double* out) const {
    for (std::size_t j = 0; j + 1 < kHistory + n; ++j) out[j] = static_cast<double>(Sub32(steps[j + 1], steps[j]));
}

namespace {

// trunc(t / d + 0.5) in double precision, for d = 1 to 5 and any 32-bit t,
// is the integer quotient (2t + d) / 2d truncated towards zero. The exact
// value t / d + 1/2 is either an integer that both compute exactly (d even:
// t / d is then exact in binary) or at least 1/10 from one, while the two
// rounded double steps are off by less than 2^-20 for |t| <= 2^31, so the
// truncations agree.
inline int32_t HalfUpQuotient(int32_t t, int32_t d) {
    return static_cast<int32_t>((2 * int64_t{t} + d) / (2 * int64_t{d}));
}

// Mean of the last K steps without one smallest and one largest, half up;
// corrected when the last two steps turn (the scan line reversed).
template <std::size_t K>
inline int32_t TrimmedStep(const int32_t* dx) {
    int32_t sum = 0, lo = dx[-1], hi = dx[-1];
    for (std::size_t k = 1; k <= K; ++k) {
        const int32_t d = dx[-static_cast<long>(k)];
        sum = Add32(sum, d);
        lo = std::min(lo, d);
        hi = std::max(hi, d);
    }
    int32_t step = HalfUpQuotient(Sub32(Sub32(sum, lo), hi), static_cast<int32_t>(K - 2));
    if (wrap::Mul32(dx[-2], dx[-1]) < 0) step = Sub32(step, dx[-1]);
    return step;
}

inline int32_t PredictXInline(int32_t prev, const int32_t* dx, std::size_t i) {
    // From point 8 on, always seven steps (and a division by a constant).
    if (i >= 8) return Add32(prev, TrimmedStep<7>(dx));
    switch (i) {
        case 4: return Add32(prev, TrimmedStep<3>(dx));
        case 5: return Add32(prev, TrimmedStep<4>(dx));
        case 6: return Add32(prev, TrimmedStep<5>(dx));
        case 7: return Add32(prev, TrimmedStep<6>(dx));
        default: return prev;  // fewer than three steps: no mean
    }
}

}  // namespace

int32_t PredictX(int32_t prev, const int32_t* dx, std::size_t i) { return PredictXInline(prev, dx, i); }

void ResidualsXPlain(const int32_t* dx, std::size_t n, int32_t* out) {
    for (std::size_t j = 0; j < n; ++j) out[j] = Sub32(dx[j], TrimmedStep<7>(dx + j));
}

int32_t PredictY(int32_t prev, const int32_t* dx, const int32_t* dy, std::size_t i, const Kernels& k) {
    const int32_t d = dx[0];
    const long limit = static_cast<long>(std::min<std::size_t>(100, i - 1));
    // The Y step that went with the most recent similar X step.
    const long hit = k.matchX(dx - limit, d, limit);
    if (hit >= 0) return Add32(prev, dy[hit - limit]);
    if (i <= 3) return prev;
    const int32_t ax = dx[-1], bx = dx[-2], ay = dy[-1], by = dy[-2];
    int32_t step;
    if (bx == ax || by == ay) {
        step = by;
    } else {
        const double slope = static_cast<double>(Sub32(by, ay)) / static_cast<double>(Sub32(bx, ax));
        step = TruncToInt32(slope * static_cast<double>(Sub32(d, ax)) + 0.5 + static_cast<double>(ay));
    }
    return Add32(prev, step);
}

int32_t PredictZ(int32_t prev, const int32_t* dx, const int32_t* dy, const int32_t* dz, const double* turnX,
                 const double* turnY, std::size_t i, const Kernels& k) {
    const int32_t ddx = dx[0], ddy = dy[0];
    const long limit = static_cast<long>(std::min<std::size_t>(100, i - 1));
    // The Z step that went with the most recent similar X and Y steps.
    const long hit = k.match(dx - limit, dy - limit, ddx, ddy, limit);
    if (hit >= 0) return Add32(prev, dz[hit - limit]);
    if (i <= 2) return prev;
    const int32_t ax = dx[-1], bx = dx[-2];
    const int32_t ay = dy[-1], by = dy[-2];
    const int32_t az = dz[-1], bz = dz[-2];
    // Without two distinct steps in every coordinate there is no slope to
    // trust; the vote would not be looked at, so it is not computed.
    if (bx == ax || by == ay || bz == az) return Add32(prev, bz);

    const double kx = static_cast<double>(Sub32(bz, az)) / static_cast<double>(Sub32(bx, ax));
    const double ky = static_cast<double>(Sub32(bz, az)) / static_cast<double>(Sub32(by, ay));
    // Which slope explained the recent past better, over the step pairs
    // from the one ending at point i - 1 back to at most 100 pairs (never
    // before point 1); a pair explained equally well by both counts for both.
    const long rounds = static_cast<long>(std::min<std::size_t>(100, i - 2));
    const long back = 1 + rounds;
    int32_t step;
    if (k.xExplainsBetter(turnX - back, turnY - back, dz - back, kx, ky, rounds)) {
        step = TruncToInt32(kx * static_cast<double>(Sub32(ddx, ax)) + static_cast<double>(az) + 0.5);
    } else {
        step = TruncToInt32(ky * static_cast<double>(Sub32(ddy, ay)) + static_cast<double>(az) + 0.5);
    }
    return Add32(prev, step);
}

int32_t PredictZ(int32_t prev, const int32_t* dx, const int32_t* dy, const int32_t* dz, std::size_t i,
                 const Kernels& k) {
    // The turns of the pairs a vote may weigh: the 100 before point i.
    constexpr long kPairs = 101;
    double turnX[kPairs], turnY[kPairs];
    const long back = static_cast<long>(std::min<std::size_t>(kPairs, i));
    for (long m = -back; m < -1; ++m) {
        turnX[kPairs + m] = static_cast<double>(Sub32(dx[m + 1], dx[m]));
        turnY[kPairs + m] = static_cast<double>(Sub32(dy[m + 1], dy[m]));
    }
    return PredictZ(prev, dx, dy, dz, turnX + kPairs, turnY + kPairs, i, k);
}

namespace {

// The encoder's side: point 0 as it is, then each value minus its
// prediction from the points before it, a window block at a time. The
// predictor gets the point and its offset in the block, where its steps
// are in the windows.
template <class Prepare, class Predict>
void Split(const largepages::Vector<int32_t>& v, Prepare&& prepare, Predict&& predict, valueblock::CBlockWriter& out) {
    const std::size_t n = v.size();
    valueblock::SplitCursor cursor = out.Begin(n, v[0]);
    for (std::size_t begin = 1; begin < n; begin += CStepWindow::kBlock) {
        const std::size_t end = std::min(n, begin + CStepWindow::kBlock);
        prepare(begin, end);
        for (std::size_t i = begin; i < end; ++i) cursor.Add(Sub32(v[i], predict(i, i - begin)));
    }
    out.End(cursor);
}

// The decoder's side: each residual replaced by its value in point order,
// so the predictor only ever sees restored points before i; the restored
// coordinate's steps go into its window as they are known.
template <class Prepare, class Predict>
void Restore(const valueblock::CBlockBytes& r, largepages::Vector<int32_t>& v, CStepWindow& own,
             const RestorePacing& pace, Prepare&& prepare, Predict&& predict) {
    std::size_t begin = 0;
    int32_t* steps = own.Base();
    const auto value = [&](std::size_t i, int32_t residual) {
        if (i == 0) {
            v[0] = residual;
            return;
        }
        const std::size_t off = i - begin;
        v[i] = Add32(predict(i, off), residual);
        steps[off] = Sub32(v[i], v[i - 1]);
    };
    // Each window block begins between the steps of the walk.
    valueblock::ForEachValueInSteps(r, CStepWindow::kBlock, value, [&](std::size_t i) {
        begin = i;
        const std::size_t blockEnd = std::min(v.size(), i + CStepWindow::kBlock);
        pace.Await(blockEnd);
        pace.Reached(begin);
        prepare(begin, blockEnd);
    });
    pace.Reached(v.size());
}

// Each window begun at `begin` and, for a coordinate known in full, filled
// up to `end`.
void Known(CStepWindow& w, const int32_t* v, std::size_t begin, std::size_t end) {
    w.Start(v, begin);
    w.Fill(v, end);
}

// What Z reads of X and Y for the block [begin, end): their steps, and the
// turns of those steps its vote weighs.
void KnownForZ(Windows& w, const ChunkColumns& c, std::size_t begin, std::size_t end) {
    Known(w.x, c.x.data(), begin, end);
    Known(w.y, c.y.data(), begin, end);
    w.x.Turns(end - begin, w.turnX);
    w.y.Turns(end - begin, w.turnY);
}

}  // namespace

void SplitX(const ChunkColumns& c, Windows& w, const Kernels& k, valueblock::CBlockWriter& out) {
    // The first points' predictions use fewer steps; from point 8 on, a
    // block's residuals are worked out at once (and in vectors where the
    // processor has them), then split.
    const int32_t* x = c.x.data();
    const std::size_t n = c.x.size();
    const int32_t* sx = w.x.Base();
    valueblock::SplitCursor cursor = out.Begin(n, x[0]);
    for (std::size_t begin = 1; begin < n; begin += CStepWindow::kBlock) {
        const std::size_t end = std::min(n, begin + CStepWindow::kBlock);
        Known(w.x, x, begin, end);
        std::size_t i = begin;
        for (; i < end && i < 8; ++i) cursor.Add(Sub32(x[i], PredictXInline(x[i - 1], sx + (i - begin), i)));
        k.residualsX(sx + (i - begin), end - i, w.residuals);
        for (std::size_t j = 0; j < end - i; ++j) cursor.Add(w.residuals[j]);
    }
    out.End(cursor);
}

void SplitY(const ChunkColumns& c, Windows& w, const Kernels& k, valueblock::CBlockWriter& out) {
    const int32_t *x = c.x.data(), *y = c.y.data();
    const int32_t *sx = w.x.Base(), *sy = w.y.Base();
    auto prepare = [&](std::size_t b, std::size_t e) {
        Known(w.x, x, b, e);
        Known(w.y, y, b, e);
    };
    Split(c.y, prepare, [&](std::size_t i, std::size_t off) { return PredictY(y[i - 1], sx + off, sy + off, i, k); },
          out);
}

void SplitZ(const ChunkColumns& c, Windows& w, const Kernels& k, valueblock::CBlockWriter& out) {
    const int32_t* z = c.z.data();
    const int32_t *sx = w.x.Base(), *sy = w.y.Base(), *sz = w.z.Base();
    const double *tx = w.TurnXBase(), *ty = w.TurnYBase();
    auto prepare = [&](std::size_t b, std::size_t e) {
        KnownForZ(w, c, b, e);
        Known(w.z, z, b, e);
    };
    Split(c.z, prepare,
          [&](std::size_t i, std::size_t off) {
              return PredictZ(z[i - 1], sx + off, sy + off, sz + off, tx + off, ty + off, i, k);
          },
          out);
}

void RestoreX(const valueblock::CBlockBytes& r, Windows&, ChunkColumns& c, const RestorePacing& pace) {
    // Each X waits for the one before, so its last seven steps are kept in
    // registers (steps[6] the last), not in memory the chain would pass
    // through; no later row reads X's steps from here.
    int32_t* x = c.x.data();
    int32_t steps[7] = {};
    const auto value = [&](std::size_t i, int32_t residual) {
        if (i == 0) {
            x[0] = residual;
            return;
        }
        x[i] = Add32(PredictXInline(x[i - 1], steps + 7, i), residual);
        for (int k = 0; k < 6; ++k) steps[k] = steps[k + 1];
        steps[6] = Sub32(x[i], x[i - 1]);
    };
    valueblock::ForEachValueInSteps(r, CRestorePace::kStep, value, [&](std::size_t i) { pace.Reached(i); });
    pace.Reached(c.x.size());
}

void RestoreY(const valueblock::CBlockBytes& r, Windows& w, const Kernels& k, ChunkColumns& c,
              const RestorePacing& pace) {
    const int32_t* x = c.x.data();
    int32_t* y = c.y.data();
    const int32_t *sx = w.x.Base(), *sy = w.y.Base();
    auto prepare = [&](std::size_t b, std::size_t e) {
        Known(w.x, x, b, e);
        w.y.Start(y, b);
    };
    Restore(r, c.y, w.y, pace, prepare,
            [&](std::size_t i, std::size_t off) { return PredictY(y[i - 1], sx + off, sy + off, i, k); });
}

void RestoreZ(const valueblock::CBlockBytes& r, Windows& w, const Kernels& k, ChunkColumns& c,
              const RestorePacing& pace) {
    int32_t* z = c.z.data();
    const int32_t *sx = w.x.Base(), *sy = w.y.Base(), *sz = w.z.Base();
    const double *tx = w.TurnXBase(), *ty = w.TurnYBase();
    auto prepare = [&](std::size_t b, std::size_t e) {
        KnownForZ(w, c, b, e);
        w.z.Start(z, b);
    };
    Restore(r, c.z, w.z, pace, prepare, [&](std::size_t i, std::size_t off) {
        return PredictZ(z[i - 1], sx + off, sy + off, sz + off, tx + off, ty + off, i, k);
    });
}

}  // namespace coords
