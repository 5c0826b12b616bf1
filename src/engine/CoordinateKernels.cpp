#include <algorithm>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include "engine/CoordinateCodec.h"
#include "engine/WrapMath.h"

namespace coords {

using wrap::Abs32;
using wrap::Sub32;
using wrap::TruncToInt32;

namespace {

// The loops of the Y and Z predictors that look back up to 100 steps are
// their cost. Each has a plain version and versions for AVX2 and (the
// searches) AVX-512 that give exactly the same results: the same double
// products and sums in the same order (never fused), the conversion
// instruction that yields INT32_MIN out of range, wrapping integer steps,
// and the votes, counted in any order, giving the same sum.

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

// Whether the decision is already made: the pairs still to come cannot
// turn a balance above their number, nor lift one at or below minus it.
inline bool Decided(int balance, long remaining) { return balance > remaining || balance + remaining <= 0; }

// The vote of the step pair (0, 1): +1 where the X slope explains the Z
// step better than the Y slope, -1 where worse, 0 where equally well.
inline int PairVote(const double* turnX, const double* turnY, const int32_t* dz, double kx, double ky) {
    const double dzPrev = static_cast<double>(dz[0]);
    const int32_t ex = Abs32(Sub32(TruncToInt32(kx * turnX[0] + dzPrev), dz[1]));
    const int32_t ey = Abs32(Sub32(TruncToInt32(ky * turnY[0] + dzPrev), dz[1]));
    return (ex < ey) - (ex > ey);
}

bool VoteScalar(const double* turnX, const double* turnY, const int32_t* dz, double kx, double ky, long count) {
    int balance = 0;
    for (long j = 0; j < count; ++j) {
        balance += PairVote(turnX + j, turnY + j, dz + j, kx, ky);
        if (Decided(balance, count - j - 1)) break;
    }
    return balance > 0;
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

// trunc(k * turn + dzPrev) for four pairs.
__attribute__((target("avx2"))) inline __m128i Lean4(__m256d k, const double* turn, __m256d dzPrev) {
    return _mm256_cvttpd_epi32(_mm256_add_pd(_mm256_mul_pd(k, _mm256_loadu_pd(turn)), dzPrev));
}

__attribute__((target("avx2"))) inline __m256d Steps4(const int32_t* dz) {
    return _mm256_cvtepi32_pd(_mm_loadu_si128(reinterpret_cast<const __m128i*>(dz)));
}

// Eight pairs a round: the products and sums four at a time in double
// precision, the truncated results and the rest eight at a time.
__attribute__((target("avx2,popcnt"))) bool VoteAvx2(const double* turnX, const double* turnY, const int32_t* dz,
                                                     double kx, double ky, long count) {
    const __m256d vkx = _mm256_set1_pd(kx), vky = _mm256_set1_pd(ky);
    int balance = 0;
    long j = 0;
    for (; j + 8 <= count; j += 8) {
        const __m256d dzLow = Steps4(dz + j), dzHigh = Steps4(dz + j + 4);
        const __m256i tx = _mm256_set_m128i(Lean4(vkx, turnX + j + 4, dzHigh), Lean4(vkx, turnX + j, dzLow));
        const __m256i ty = _mm256_set_m128i(Lean4(vky, turnY + j + 4, dzHigh), Lean4(vky, turnY + j, dzLow));
        const __m256i dzNext = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(dz + j + 1));
        const __m256i ex = _mm256_abs_epi32(_mm256_sub_epi32(tx, dzNext));
        const __m256i ey = _mm256_abs_epi32(_mm256_sub_epi32(ty, dzNext));
        const int less = _mm256_movemask_ps(_mm256_castsi256_ps(_mm256_cmpgt_epi32(ey, ex)));
        const int more = _mm256_movemask_ps(_mm256_castsi256_ps(_mm256_cmpgt_epi32(ex, ey)));
        balance += __builtin_popcount(static_cast<unsigned>(less)) - __builtin_popcount(static_cast<unsigned>(more));
        if (Decided(balance, count - j - 8)) return balance > 0;
    }
    // The last pairs one by one, on top of the balance so far.
    for (; j < count; ++j) balance += PairVote(turnX + j, turnY + j, dz + j, kx, ky);
    return balance > 0;
}

__attribute__((target("avx2"))) inline __m256i Load8(const int32_t* p) {
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
}

// trunc((2t + 5) / 10) for four 32-bit t, in double precision. 2t + 5 is
// odd and exact there, so the exact quotient lies 1/10 or more from an
// integer; its product with the double nearest 1/10 is off by less than
// 2^-20 for |2t + 5| < 2^34, so the truncation is that of the exact
// quotient, as the integer division gives.
__attribute__((target("avx2"))) inline __m128i HalfUpFifth(__m128i t) {
    const __m256d v = _mm256_add_pd(_mm256_mul_pd(_mm256_cvtepi32_pd(t), _mm256_set1_pd(2.0)), _mm256_set1_pd(5.0));
    return _mm256_cvttpd_epi32(_mm256_mul_pd(v, _mm256_set1_pd(0.1)));
}

__attribute__((target("avx2"))) void ResidualsXAvx2(const int32_t* dx, std::size_t n, int32_t* out) {
    std::size_t j = 0;
    for (; j + 8 <= n; j += 8) {
        const __m256i d1 = Load8(dx + j - 1), d2 = Load8(dx + j - 2);
        __m256i sum = _mm256_add_epi32(d1, d2), lo = _mm256_min_epi32(d1, d2), hi = _mm256_max_epi32(d1, d2);
        for (int back = 3; back <= 7; ++back) {
            const __m256i d = Load8(dx + j - back);
            sum = _mm256_add_epi32(sum, d);
            lo = _mm256_min_epi32(lo, d);
            hi = _mm256_max_epi32(hi, d);
        }
        const __m256i t = _mm256_sub_epi32(_mm256_sub_epi32(sum, lo), hi);
        __m256i step = _mm256_set_m128i(HalfUpFifth(_mm256_extracti128_si256(t, 1)),
                                        HalfUpFifth(_mm256_castsi256_si128(t)));
        // Where the last two steps turn, the last is taken off.
        const __m256i turned = _mm256_cmpgt_epi32(_mm256_setzero_si256(), _mm256_mullo_epi32(d2, d1));
        step = _mm256_sub_epi32(step, _mm256_and_si256(turned, d1));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + j), _mm256_sub_epi32(Load8(dx + j), step));
    }
    ResidualsXPlain(dx + j, n - j, out + j);
}

__attribute__((target("avx512f,avx512vl,avx512bw,avx512dq,popcnt"))) long MatchAvx512(
    const int32_t* dx, const int32_t* dy, int32_t ddx, int32_t ddy, long count) {
    const __m512i vx = _mm512_set1_epi32(ddx), vy = _mm512_set1_epi32(ddy);
    const __m512i five = _mm512_set1_epi32(5);
    long j = count - 1;
    for (; j - 15 >= 0; j -= 16) {
        const __m512i ax = _mm512_abs_epi32(_mm512_sub_epi32(vx, _mm512_loadu_si512(dx + j - 15)));
        const __m512i ay = _mm512_abs_epi32(_mm512_sub_epi32(vy, _mm512_loadu_si512(dy + j - 15)));
        const unsigned mask = _mm512_cmpgt_epi32_mask(five, ax) & _mm512_cmpgt_epi32_mask(five, ay);
        if (mask) return j - 15 + (31 - __builtin_clz(mask));
    }
    return j >= 0 ? MatchScalar(dx, dy, ddx, ddy, j + 1) : -1;
}

__attribute__((target("avx512f,avx512vl,avx512bw,avx512dq,popcnt"))) long MatchXAvx512(const int32_t* dx,
                                                                                       int32_t ddx, long count) {
    const __m512i vx = _mm512_set1_epi32(ddx);
    const __m512i five = _mm512_set1_epi32(5);
    long j = count - 1;
    // The nearest step matches most of the time: look at it first.
    if (j >= 0 && Abs32(Sub32(ddx, dx[j])) < 5) return j;
    for (; j - 15 >= 0; j -= 16) {
        const __m512i ax = _mm512_abs_epi32(_mm512_sub_epi32(vx, _mm512_loadu_si512(dx + j - 15)));
        const unsigned mask = _mm512_cmpgt_epi32_mask(five, ax);
        if (mask) return j - 15 + (31 - __builtin_clz(mask));
    }
    return j >= 0 ? MatchXScalar(dx, ddx, j + 1) : -1;
}

#endif

}  // namespace

Kernels Kernels::Plain() { return {"plain", MatchScalar, MatchXScalar, VoteScalar, ResidualsXPlain}; }

std::vector<Kernels> Kernels::Available() {
    std::vector<Kernels> all = {Plain()};
#if defined(__x86_64__)
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx2")) all.push_back({"avx2", MatchAvx2, MatchXAvx2, VoteAvx2, ResidualsXAvx2});
    if (__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512vl") &&
        __builtin_cpu_supports("avx512bw") && __builtin_cpu_supports("avx512dq")) {
        // The vote's AVX2 version serves here too: the turns come converted,
        // which leaves the vote little that wider vectors would speed up.
        all.push_back({"avx-512", MatchAvx512, MatchXAvx512, VoteAvx2, ResidualsXAvx2});
    }
#endif
    return all;
}

}  // namespace coords
