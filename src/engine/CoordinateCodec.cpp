#include "engine/CoordinateCodec.h"

#include <algorithm>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include "engine/ValueBlockCoder.h"
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

// Index j in [lo, hi] of the most recent step (highest j) with
// |ddx - dx[j]| < 5 and |ddy - dy[j]| < 5, or -1.
long MatchScalar(const int32_t* dx, const int32_t* dy, int32_t ddx, int32_t ddy, long lo, long hi) {
    for (long j = hi; j >= lo; --j) {
        if (Abs32(Sub32(ddx, dx[j])) < 5 && Abs32(Sub32(ddy, dy[j])) < 5) return j;
    }
    return -1;
}

// The same with the X step alone (the Y predictor's search).
long MatchXScalar(const int32_t* dx, int32_t ddx, long lo, long hi) {
    for (long j = hi; j >= lo; --j) {
        if (Abs32(Sub32(ddx, dx[j])) < 5) return j;
    }
    return -1;
}

// Sum over j in [lo, hi] of +1 where the X slope explains the step pair at
// j better than the Y slope, -1 where worse, 0 where equally well.
int VoteScalar(const int32_t* dx, const int32_t* dy, const int32_t* dz, double kx, double ky, long lo,
               long hi) {
    int balance = 0;
    for (long j = lo; j <= hi; ++j) {
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
                                               int32_t ddy, long lo, long hi) {
    const __m256i vx = _mm256_set1_epi32(ddx), vy = _mm256_set1_epi32(ddy);
    const __m256i five = _mm256_set1_epi32(5);
    long j = hi;
    for (; j - 7 >= lo; j -= 8) {
        const __m256i ax = _mm256_abs_epi32(_mm256_sub_epi32(vx, _mm256_loadu_si256(reinterpret_cast<const __m256i*>(dx + j - 7))));
        const __m256i ay = _mm256_abs_epi32(_mm256_sub_epi32(vy, _mm256_loadu_si256(reinterpret_cast<const __m256i*>(dy + j - 7))));
        const __m256i hit = _mm256_and_si256(_mm256_cmpgt_epi32(five, ax), _mm256_cmpgt_epi32(five, ay));
        const int mask = _mm256_movemask_ps(_mm256_castsi256_ps(hit));
        if (mask) return j - 7 + (31 - __builtin_clz(static_cast<unsigned>(mask)));
    }
    return j >= lo ? MatchScalar(dx, dy, ddx, ddy, lo, j) : -1;
}

__attribute__((target("avx2"))) long MatchXAvx2(const int32_t* dx, int32_t ddx, long lo, long hi) {
    const __m256i vx = _mm256_set1_epi32(ddx);
    const __m256i five = _mm256_set1_epi32(5);
    long j = hi;
    // The nearest step matches most of the time: look at it first.
    if (j >= lo && Abs32(Sub32(ddx, dx[j])) < 5) return j;
    for (; j - 7 >= lo; j -= 8) {
        const __m256i ax = _mm256_abs_epi32(_mm256_sub_epi32(vx, _mm256_loadu_si256(reinterpret_cast<const __m256i*>(dx + j - 7))));
        const int mask = _mm256_movemask_ps(_mm256_castsi256_ps(_mm256_cmpgt_epi32(five, ax)));
        if (mask) return j - 7 + (31 - __builtin_clz(static_cast<unsigned>(mask)));
    }
    return j >= lo ? MatchXScalar(dx, ddx, lo, j) : -1;
}

__attribute__((target("avx2"))) int VoteAvx2(const int32_t* dx, const int32_t* dy, const int32_t* dz,
                                             double kx, double ky, long lo, long hi) {
    const __m256d vkx = _mm256_set1_pd(kx), vky = _mm256_set1_pd(ky);
    __m128i less = _mm_setzero_si128(), more = _mm_setzero_si128();
    long j = lo;
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
    if (j <= hi) balance += VoteScalar(dx, dy, dz, kx, ky, j, hi);
    return balance;
}
#endif

using MatchFn = long (*)(const int32_t*, const int32_t*, int32_t, int32_t, long, long);
using MatchXFn = long (*)(const int32_t*, int32_t, long, long);
using VoteFn = int (*)(const int32_t*, const int32_t*, const int32_t*, double, double, long, long);

struct ZKernels {
    MatchFn match = MatchScalar;
    MatchXFn matchX = MatchXScalar;
    VoteFn vote = VoteScalar;
    ZKernels() {
#if defined(__x86_64__)
        __builtin_cpu_init();
        if (__builtin_cpu_supports("avx2")) {
            match = MatchAvx2;
            matchX = MatchXAvx2;
            vote = VoteAvx2;
        }
#endif
    }
};

ZKernels& Kernels() {
    static ZKernels k;
    return k;
}

}  // namespace

void UsePlainKernelsForTesting(bool plain) {
    ZKernels& k = Kernels();
    k = ZKernels();
    if (plain) {
        k.match = MatchScalar;
        k.matchX = MatchXScalar;
        k.vote = VoteScalar;
    }
}

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
    const long limit = static_cast<long>(std::min<std::size_t>(100, i - 1));
    // The Y step that went with the most recent similar X step.
    const long hit = Kernels().matchX(dx, d, static_cast<long>(i) - limit, static_cast<long>(i) - 1);
    if (hit >= 0) return Add32(y[i - 1], dy[hit]);
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
    const long limit = static_cast<long>(std::min<std::size_t>(100, i - 1));
    // The Z step that went with the most recent similar X and Y steps.
    const long hit = Kernels().match(dx, dy, ddx, ddy, static_cast<long>(i) - limit, static_cast<long>(i) - 1);
    if (hit >= 0) return Add32(z[i - 1], dz[hit]);
    if (i <= 2) return z[i - 1];
    const int32_t ax = dx[i - 1], bx = dx[i - 2];
    const int32_t ay = dy[i - 1], by = dy[i - 2];
    const int32_t az = dz[i - 1], bz = dz[i - 2];
    // Without two distinct steps in every coordinate there is no slope to
    // trust; the vote would not be looked at, so it is not computed.
    if (bx == ax || by == ay || bz == az) return Add32(z[i - 1], bz);

    const double kx = static_cast<double>(Sub32(bz, az)) / static_cast<double>(Sub32(bx, ax));
    const double ky = static_cast<double>(Sub32(bz, az)) / static_cast<double>(Sub32(by, ay));
    // Which slope explained the recent past better, over the step pairs at
    // j = i-2 down to at most 100 pairs back (never below 1); a pair
    // explained equally well by both counts for both.
    const long rounds = static_cast<long>(std::min<std::size_t>(100, i - 2));
    const long hi = static_cast<long>(i) - 2;
    const int balance = Kernels().vote(dx, dy, dz, kx, ky, hi - rounds + 1, hi);
    int32_t step;
    if (balance > 0) {
        step = TruncToInt32(kx * static_cast<double>(Sub32(ddx, ax)) + static_cast<double>(az) + 0.5);
    } else {
        step = TruncToInt32(ky * static_cast<double>(Sub32(ddy, ay)) + static_cast<double>(az) + 0.5);
    }
    return Add32(z[i - 1], step);
}

namespace {

// v holds the residuals; each is replaced by its value in point order, so
// the predictor only ever sees restored points before i.
void Restore(std::vector<int32_t>& v, std::vector<int32_t>& d, const auto& predict) {
    const std::size_t n = v.size();
    d.assign(n, 0);
    for (std::size_t i = 1; i < n; ++i) {
        v[i] = Add32(predict(i), v[i]);
        d[i] = Sub32(v[i], v[i - 1]);
    }
}

// The mirror of Restore: point 0 as it is, then each value minus its
// prediction from the points before it.
void EncodeResiduals(const std::vector<int32_t>& v, std::vector<uint8_t>& out, const auto& predict) {
    const std::size_t n = v.size();
    std::vector<int32_t> r(n);
    r[0] = v[0];
    for (std::size_t i = 1; i < n; ++i) r[i] = Sub32(v[i], predict(i));
    valueblock::EncodeValueBlock(r.data(), n, out);
}

std::vector<int32_t> ReadResiduals(InputWindow& in, std::size_t n) {
    std::vector<int32_t> r(n);
    valueblock::DecodeValueBlock(in, r.data(), n);
    return r;
}

}  // namespace

void RestoreX(ChunkColumns& c, std::vector<int32_t> residuals) {
    c.x = std::move(residuals);
    Restore(c.x, c.dx, [&](std::size_t i) { return PredictX(c.x.data(), c.dx.data(), i); });
}

void RestoreY(ChunkColumns& c, std::vector<int32_t> residuals) {
    c.y = std::move(residuals);
    Restore(c.y, c.dy, [&](std::size_t i) { return PredictY(c.y.data(), c.dx.data(), c.dy.data(), i); });
}

void RestoreZ(ChunkColumns& c, std::vector<int32_t> residuals) {
    c.z = std::move(residuals);
    Restore(c.z, c.dz, [&](std::size_t i) {
        return PredictZ(c.z.data(), c.dx.data(), c.dy.data(), c.dz.data(), i);
    });
}

void EncodeX(const ChunkColumns& c, std::vector<uint8_t>& out) {
    EncodeResiduals(c.x, out, [&](std::size_t i) { return PredictX(c.x.data(), c.dx.data(), i); });
}

void EncodeY(const ChunkColumns& c, std::vector<uint8_t>& out) {
    EncodeResiduals(c.y, out, [&](std::size_t i) { return PredictY(c.y.data(), c.dx.data(), c.dy.data(), i); });
}

void EncodeZ(const ChunkColumns& c, std::vector<uint8_t>& out) {
    EncodeResiduals(c.z, out, [&](std::size_t i) {
        return PredictZ(c.z.data(), c.dx.data(), c.dy.data(), c.dz.data(), i);
    });
}

void DecodeX(InputWindow& in, ChunkColumns& c, std::size_t n) { RestoreX(c, ReadResiduals(in, n)); }
void DecodeY(InputWindow& in, ChunkColumns& c, std::size_t n) { RestoreY(c, ReadResiduals(in, n)); }
void DecodeZ(InputWindow& in, ChunkColumns& c, std::size_t n) { RestoreZ(c, ReadResiduals(in, n)); }

}  // namespace coords
