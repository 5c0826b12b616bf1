#include "engine/CoordinateCodec.h"

#include <algorithm>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include "engine/WrapMath.h"

namespace coords {

using wrap::Abs32;
using wrap::Add32;
using wrap::Sub32;
using wrap::TruncToInt32;

namespace {

// The two loops of the Z predictor that look back up to 100 steps are its
// cost. Each has a plain version and an AVX2 version that gives exactly the
// same results (the same double products and sums in the same order, the
// conversion instruction that yields INT32_MIN out of range, wrapping
// integer steps); the CPU decides once which one runs.

long MatchScalar(const int32_t* dx, const int32_t* dy, int32_t ddx, int32_t ddy, long count) {
    for (long j = count - 1; j >= 0; --j) {
        if (Abs32(Sub32(ddx, dx[j])) < 5 && Abs32(Sub32(ddy, dy[j])) < 5) return j;
    }
    return -1;
}

long MatchXScalar(const int32_t* dx, int32_t ddx, long count) {
    for (long j = count - 1; j >= 0; --j) {
        if (Abs32(Sub32(ddx, dx[j])) < 5) return j;
    }
    return -1;
}

int VoteScalar(const int32_t* dx, const int32_t* dy, const int32_t* dz, double kx, double ky, long count) {
    int balance = 0;
    for (long j = 0; j < count; ++j) {
        const double dzPrev = static_cast<double>(dz[j]);
        const int32_t ex = Abs32(Sub32(
            TruncToInt32(kx * static_cast<double>(Sub32(dx[j + 1], dx[j])) + dzPrev), dz[j + 1]));
        const int32_t ey = Abs32(Sub32(
            TruncToInt32(ky * static_cast<double>(Sub32(dy[j + 1], dy[j])) + dzPrev), dz[j + 1]));
        balance += (ex < ey) - (ex > ey);
    }
    return balance;
}

#if defined(__x86_64__)
__attribute__((target("avx2"))) long MatchAvx2(const int32_t* dx, const int32_t* dy, int32_t ddx,
                                               int32_t ddy, long count) {
    const long lo = 0;
    const __m256i vx = _mm256_set1_epi32(ddx), vy = _mm256_set1_epi32(ddy);
    const __m256i five = _mm256_set1_epi32(5);
    long j = count - 1;
    for (; j - 7 >= lo; j -= 8) {
        const __m256i ax = _mm256_abs_epi32(_mm256_sub_epi32(vx, _mm256_loadu_si256(reinterpret_cast<const __m256i*>(dx + j - 7))));
        const __m256i ay = _mm256_abs_epi32(_mm256_sub_epi32(vy, _mm256_loadu_si256(reinterpret_cast<const __m256i*>(dy + j - 7))));
        const __m256i hit = _mm256_and_si256(_mm256_cmpgt_epi32(five, ax), _mm256_cmpgt_epi32(five, ay));
        const int mask = _mm256_movemask_ps(_mm256_castsi256_ps(hit));
        if (mask) return j - 7 + (31 - __builtin_clz(static_cast<unsigned>(mask)));
    }
    return j >= lo ? MatchScalar(dx, dy, ddx, ddy, j + 1) : -1;
}

__attribute__((target("avx2"))) long MatchXAvx2(const int32_t* dx, int32_t ddx, long count) {
    const long lo = 0;
    const __m256i vx = _mm256_set1_epi32(ddx);
    const __m256i five = _mm256_set1_epi32(5);
    long j = count - 1;
    // The nearest step matches most of the time: look at it first.
    if (j >= lo && Abs32(Sub32(ddx, dx[j])) < 5) return j;
    for (; j - 7 >= lo; j -= 8) {
        const __m256i ax = _mm256_abs_epi32(_mm256_sub_epi32(vx, _mm256_loadu_si256(reinterpret_cast<const __m256i*>(dx + j - 7))));
        const int mask = _mm256_movemask_ps(_mm256_castsi256_ps(_mm256_cmpgt_epi32(five, ax)));
        if (mask) return j - 7 + (31 - __builtin_clz(static_cast<unsigned>(mask)));
    }
    return j >= lo ? MatchXScalar(dx, ddx, j + 1) : -1;
}

__attribute__((target("avx2"))) int VoteAvx2(const int32_t* dx, const int32_t* dy, const int32_t* dz,
                                             double kx, double ky, long count) {
    const long hi = count - 1;
    const __m256d vkx = _mm256_set1_pd(kx), vky = _mm256_set1_pd(ky);
    __m128i less = _mm_setzero_si128(), more = _mm_setzero_si128();
    long j = 0;
    for (; j + 3 <= hi; j += 4) {
        auto load = [](const int32_t* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); };
        const __m128i stepX = _mm_sub_epi32(load(dx + j + 1), load(dx + j));
        const __m128i stepY = _mm_sub_epi32(load(dy + j + 1), load(dy + j));
        const __m256d dzPrev = _mm256_cvtepi32_pd(load(dz + j));
        const __m128i dzNext = load(dz + j + 1);
        const __m128i tx = _mm256_cvttpd_epi32(_mm256_add_pd(_mm256_mul_pd(vkx, _mm256_cvtepi32_pd(stepX)), dzPrev));
        const __m128i ty = _mm256_cvttpd_epi32(_mm256_add_pd(_mm256_mul_pd(vky, _mm256_cvtepi32_pd(stepY)), dzPrev));
        const __m128i ex = _mm_abs_epi32(_mm_sub_epi32(tx, dzNext));
        const __m128i ey = _mm_abs_epi32(_mm_sub_epi32(ty, dzNext));
        less = _mm_sub_epi32(less, _mm_cmplt_epi32(ex, ey));
        more = _mm_sub_epi32(more, _mm_cmpgt_epi32(ex, ey));
    }
    alignas(16) int32_t l[4], m[4];
    _mm_store_si128(reinterpret_cast<__m128i*>(l), less);
    _mm_store_si128(reinterpret_cast<__m128i*>(m), more);
    int balance = (l[0] + l[1] + l[2] + l[3]) - (m[0] + m[1] + m[2] + m[3]);
    if (j <= hi) balance += VoteScalar(dx + j, dy + j, dz + j, kx, ky, hi - j + 1);
    return balance;
}
#endif

}  // namespace

Kernels Kernels::Plain() { return {MatchScalar, MatchXScalar, VoteScalar}; }

Kernels Kernels::Fastest() {
#if defined(__x86_64__)
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx2")) return {MatchAvx2, MatchXAvx2, VoteAvx2};
#endif
    return Plain();
}

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

int32_t PredictX(int32_t prev, const int32_t* dx, std::size_t i) {
    if (i == 1) return prev;
    const std::size_t K = std::min<std::size_t>(7, i - 1);
    int32_t step = 0;
    if (K > 2) {
        int32_t sum = 0, lo = dx[-1], hi = dx[-1];
        for (std::size_t k = 1; k <= K; ++k) {
            const int32_t d = dx[-static_cast<long>(k)];
            sum = Add32(sum, d);
            lo = std::min(lo, d);
            hi = std::max(hi, d);
        }
        // Mean of the steps without one smallest and one largest.
        const int32_t trimmed = Sub32(Sub32(sum, lo), hi);
        step = TruncToInt32(static_cast<double>(trimmed) / static_cast<double>(K - 2) + 0.5);
        // The last two steps turn: the scan line reversed.
        if (wrap::Mul32(dx[-2], dx[-1]) < 0) step = Sub32(step, dx[-1]);
    }
    return Add32(prev, step);
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

int32_t PredictZ(int32_t prev, const int32_t* dx, const int32_t* dy, const int32_t* dz, std::size_t i,
                 const Kernels& k) {
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
    const int balance = k.vote(dx - back, dy - back, dz - back, kx, ky, rounds);
    int32_t step;
    if (balance > 0) {
        step = TruncToInt32(kx * static_cast<double>(Sub32(ddx, ax)) + static_cast<double>(az) + 0.5);
    } else {
        step = TruncToInt32(ky * static_cast<double>(Sub32(ddy, ay)) + static_cast<double>(az) + 0.5);
    }
    return Add32(prev, step);
}

namespace {

// Runs f(i) for points 1 .. n - 1 a window block at a time, after
// preparing each block with start(begin, end).
template <class Start, class F>
void ByBlocks(std::size_t n, Start&& start, F&& f) {
    for (std::size_t begin = 1; begin < n; begin += CStepWindow::kBlock) {
        const std::size_t end = std::min(n, begin + CStepWindow::kBlock);
        start(begin, end);
        for (std::size_t i = begin; i < end; ++i) f(i);
    }
}

// The encoder's side: point 0 as it is, then each value minus its
// prediction from the points before it.
template <class Start, class Predict>
void Split(const std::vector<int32_t>& v, Start&& start, Predict&& predict, valueblock::CBlockWriter& out) {
    valueblock::SplitCursor cursor = out.Begin(v.size(), v[0]);
    ByBlocks(v.size(), start, [&](std::size_t i) { cursor.Add(Sub32(v[i], predict(i))); });
    out.End(cursor);
}

// The decoder's side: each residual replaced by its value in point order,
// so the predictor only ever sees restored points before i; the restored
// coordinate's steps go into its window as they are known.
template <class Start, class Predict>
void Restore(const valueblock::CBlockBytes& r, std::vector<int32_t>& v, CStepWindow& own, Start&& start,
             Predict&& predict) {
    std::size_t blockEnd = 1;
    valueblock::ForEachValue(r, [&](std::size_t i, int32_t residual) {
        if (i == 0) {
            v[0] = residual;
            return;
        }
        if (i == blockEnd) {
            blockEnd = std::min(v.size(), i + CStepWindow::kBlock);
            start(i, blockEnd);
        }
        v[i] = Add32(predict(i), residual);
        own.At(i)[0] = Sub32(v[i], v[i - 1]);
    });
}

}  // namespace

void SplitX(const ChunkColumns& c, Windows& w, valueblock::CBlockWriter& out) {
    const int32_t* x = c.x.data();
    auto start = [&](std::size_t begin, std::size_t end) {
        w.x.Start(x, begin);
        w.x.Fill(x, end);
    };
    Split(c.x, start, [&](std::size_t i) { return PredictX(x[i - 1], w.x.At(i), i); }, out);
}

void SplitY(const ChunkColumns& c, Windows& w, const Kernels& k, valueblock::CBlockWriter& out) {
    const int32_t *x = c.x.data(), *y = c.y.data();
    auto start = [&](std::size_t begin, std::size_t end) {
        w.x.Start(x, begin);
        w.x.Fill(x, end);
        w.y.Start(y, begin);
        w.y.Fill(y, end);
    };
    Split(c.y, start, [&](std::size_t i) { return PredictY(y[i - 1], w.x.At(i), w.y.At(i), i, k); }, out);
}

void SplitZ(const ChunkColumns& c, Windows& w, const Kernels& k, valueblock::CBlockWriter& out) {
    const int32_t *x = c.x.data(), *y = c.y.data(), *z = c.z.data();
    auto start = [&](std::size_t begin, std::size_t end) {
        w.x.Start(x, begin);
        w.x.Fill(x, end);
        w.y.Start(y, begin);
        w.y.Fill(y, end);
        w.z.Start(z, begin);
        w.z.Fill(z, end);
    };
    Split(c.z, start,
          [&](std::size_t i) { return PredictZ(z[i - 1], w.x.At(i), w.y.At(i), w.z.At(i), i, k); }, out);
}

void RestoreX(const valueblock::CBlockBytes& r, Windows& w, ChunkColumns& c) {
    int32_t* x = c.x.data();
    Restore(r, c.x, w.x, [&](std::size_t begin, std::size_t) { w.x.Start(x, begin); },
            [&](std::size_t i) { return PredictX(x[i - 1], w.x.At(i), i); });
}

void RestoreY(const valueblock::CBlockBytes& r, Windows& w, const Kernels& k, ChunkColumns& c) {
    const int32_t* x = c.x.data();
    int32_t* y = c.y.data();
    auto start = [&](std::size_t begin, std::size_t end) {
        w.x.Start(x, begin);
        w.x.Fill(x, end);
        w.y.Start(y, begin);
    };
    Restore(r, c.y, w.y, start, [&](std::size_t i) { return PredictY(y[i - 1], w.x.At(i), w.y.At(i), i, k); });
}

void RestoreZ(const valueblock::CBlockBytes& r, Windows& w, const Kernels& k, ChunkColumns& c) {
    const int32_t *x = c.x.data(), *y = c.y.data();
    int32_t* z = c.z.data();
    auto start = [&](std::size_t begin, std::size_t end) {
        w.x.Start(x, begin);
        w.x.Fill(x, end);
        w.y.Start(y, begin);
        w.y.Fill(y, end);
        w.z.Start(z, begin);
    };
    Restore(r, c.z, w.z, start,
            [&](std::size_t i) { return PredictZ(z[i - 1], w.x.At(i), w.y.At(i), w.z.At(i), i, k); });
}

}  // namespace coords
