#include <immintrin.h>

#include <algorithm>
#include <cstring>
#include <new>

#include "engine/ByteStreamCoder.h"
#include "engine/ByteStreamCore.h"
#include "engine/CpuDispatch.h"

namespace {
// Beyond this, room is taken as asked (well past any chunk's needs).
constexpr std::size_t kDoubledRoomUpTo = std::size_t{1} << 30;
}  // namespace

void CByteBuffer::Reserve(std::size_t total, Use use) {
    if (capacity >= total) return;
    // An empty buffer's memory goes before the larger is taken, so the
    // two are never held at once.
    if (size == 0) Release();
    const bool large = use == Use::Filled;
    std::size_t want = std::max(total, capacity + capacity / 2);
    // Room costs memory only where it is written, so a part-written buffer
    // takes twice what it is asked for: an entry's last chunk (up to twice
    // the others) then fits in what the earlier chunks touched, instead of
    // moving to fresh memory that must be faulted in all over again.
    if (!large && total <= kDoubledRoomUpTo) want = std::max(want, 2 * total);
    // What a block is rounded up to is room too.
    if (large) want = largepages::Mapped(want);
    std::unique_ptr<uint8_t[], largepages::Giver> larger(
        static_cast<uint8_t*>(large ? largepages::Take(want) : ::operator new(want)), largepages::Giver{want, large});
    if (size) std::memcpy(larger.get(), bytes.get(), size);
    bytes = std::move(larger);
    capacity = want;
}

uint8_t* CByteBuffer::Grow(std::size_t n, Use use) {
    if (capacity - size < n) {
        if (n > static_cast<std::size_t>(-1) - size) throw std::bad_alloc();
        Reserve(size + n, use);
    }
    uint8_t* at = bytes.get() + size;
    size += n;
    return at;
}

void CByteBuffer::Append(const void* src, std::size_t n) {
    if (n) std::memcpy(Grow(n), src, n);
}

void CByteBuffer::Release() {
    bytes.reset();
    size = capacity = 0;
}

namespace bytestream {

using namespace detail;

void CountValues(const uint8_t* data, std::size_t length, uint64_t counts[256]) {
    // Four histograms side by side: a run of one value would otherwise make
    // every increment wait for the one before.
    uint32_t part[4][256] = {};
    std::size_t i = 0;
    for (; i + 4 <= length; i += 4) {
        ++part[0][data[i]];
        ++part[1][data[i + 1]];
        ++part[2][data[i + 2]];
        ++part[3][data[i + 3]];
    }
    for (; i < length; ++i) ++part[0][data[i]];
    for (int k = 0; k < 256; ++k) counts[k] = uint64_t{part[0][k]} + part[1][k] + part[2][k] + part[3][k];
}

void BuildModel(const uint8_t* data, std::size_t length, uint16_t freq[256]) {
    uint64_t n[256];
    CountValues(data, length, n);

    uint32_t sum = 0;
    for (int k = 0; k < 256; ++k) {
        double p = static_cast<double>(kTotal) * (static_cast<double>(n[k]) / static_cast<double>(length));
        if (p < 0.6 && n[k] != 0) p = 0.6;
        freq[k] = static_cast<uint16_t>(static_cast<int32_t>(p + 0.5));
        sum += freq[k];
    }
    int32_t d = static_cast<int32_t>(static_cast<uint16_t>(sum)) - static_cast<int32_t>(kTotal);
    if (d < 0) {
        freq[0] = static_cast<uint16_t>(freq[0] - d);
    } else if (d > 0) {
        AbsorbExcess(freq, d);
    }
}

void AbsorbExcess(uint16_t freq[256], int32_t d) {
    // One pass over the table may not absorb the excess (many values raised
    // to the floor, none large); further passes follow the same rules. Each
    // pass takes at least one unit while the sum exceeds the total, because
    // then some frequency is above 2, so the walk ends; a table that could
    // not give anything (never one BuildModel makes) ends it too.
    while (d > 0) {
        const int32_t before = d;
        for (int k = 0; k < 256 && d > 0; ++k) {
            if (static_cast<int32_t>(freq[k]) - d > 10) {
                freq[k] = static_cast<uint16_t>(freq[k] - d);
                d = 0;
            } else if (freq[k] > 2) {
                --freq[k];
                --d;
            }
        }
        if (d == before) break;
    }
}

namespace {

// A symbol costs at most 16 bits; the flush, the padding byte and the
// marker a few more; eight bytes of slack because every store of coded bits
// writes a whole 64-bit word.
std::size_t WorstCodedSize(std::size_t length) { return kCountBytes + 2 * length + 64 + 8; }

// The bit output of a stream: pending bits in the low `filled` bits of acc
// (fewer than 8 between symbols), p the byte they go to.
struct BitSink {
    uint64_t acc;
    uint32_t filled;
    uint8_t* p;
};

}  // namespace

// The registers and the bit output of one stream being encoded. Streams
// are independent, so several are advanced in one loop: each symbol's
// steps wait on the one before, and interleaving the streams gives the
// processor independent work while it waits.
struct detail::EncodeLane {
    const uint8_t* data = nullptr;
    std::size_t length = 0;
    CByteBuffer* buffer = nullptr;
    std::size_t* emittedBits = nullptr;
    uint8_t* start = nullptr;  // first coded byte
    BitSink out{0, 0, nullptr};
    uint32_t low = 0, range = kMask16 + 1;
    uint32_t underflow = 0;    // opposite bits owed to the next settled bit
    uint64_t bound[256][2];    // premultiplied low and high of each value
    uint32_t cum[256];         // low | high << 16 of each value, for the vector lanes
};

namespace {

using Lane = detail::EncodeLane;

// Appends the k low bits of value (k + filled <= 57): the pending bits and
// the new ones are stored as one big-endian word and the whole bytes among
// them passed, with no branch on how many there are. (With nothing pending
// the word is meaningless, but then p does not move and the next store or
// the end overwrites it.)
__attribute__((always_inline)) inline void Put(BitSink& out, uint64_t value, uint32_t k) {
    out.acc = (out.acc << k) | value;
    out.filled += k;
    const uint64_t word = __builtin_bswap64(out.acc << ((64 - out.filled) & 63));
    std::memcpy(out.p, &word, 8);
    out.p += out.filled >> 3;
    out.filled &= 7;
}

BitSink PutRepeated(BitSink out, uint32_t bit, std::size_t k) {
    for (; k >= 32; k -= 32) Put(out, bit ? 0xFFFFFFFFu : 0u, 32);
    if (k) Put(out, bit ? Ones(static_cast<unsigned>(k)) : 0u, static_cast<uint32_t>(k));
    return out;
}

// Pending bits up to this many go out with the settled bits in one store.
constexpr uint32_t kInlinePending = 24;
constexpr uint64_t kLongPending = uint64_t{1} << 63;

// What one symbol emits, as a word. Normally the bits to write and their
// number: the first settled bit followed by u opposite bits is that bit
// plus u ones carried in below it, so the s1 settled bits plus u ones below
// the first of them are the s1 + u bits to write; bits 8 and up hold them,
// bits 0 to 7 their number. With more than kInlinePending bits owed, the
// word is marked and holds the parts instead: the settled bits (bits 40 to
// 55), the owed bits' number (8 to 39) and s1 (0 to 7).
__attribute__((always_inline)) inline uint64_t Emission(uint64_t settled, uint32_t owed, unsigned s1) {
    if (__builtin_expect(owed > kInlinePending, 0)) {
        return kLongPending | (settled << 40) | (uint64_t{owed} << 8) | s1;
    }
    const uint64_t bits = settled + ((uint64_t{Ones(owed)} << s1) >> 1);
    return (bits << 8) | (s1 + owed);
}

// One symbol: narrows the registers and returns what it emits. The
// registers are kept as low and the width of the interval, range = high -
// low + 1, which is what the next symbol scales.
//
// The renormalisation shifts out, first, the s1 leading bits on which low
// and high agree (the pending bits are owed to the first of them), then k
// steps of the underflow case, after which the top bits differ for good:
// t = s1 + k shifts in all, the bits of the bit-by-bit loop. Every shift
// doubles the width, so the new range is the narrowed width shifted by t.
//
// With z = s1 + 16, the leading zeros of low ^ high in 32 bits, the
// underflow steps are the leading zeros of (~low | high) from bit 14 - s1
// down, a 1 put below bit 0 to stop the count: shifted up by z into the top
// of the word, they are counted at once.
__attribute__((always_inline)) inline uint64_t EncodeOne(uint32_t& low, uint32_t& range, uint32_t& underflow,
                                                         const uint64_t (*bound)[2], uint32_t b) {
    const uint32_t hr = ScaledBound(range, bound[b][1]);
    const uint32_t lr = ScaledBound(range, bound[b][0]);
    const uint32_t l = low + lr;
    const uint32_t h = low + hr - 1;
    const unsigned z = static_cast<unsigned>(std::countl_zero(l ^ h));  // 16..32
    const unsigned s1 = z - 16;
    const uint32_t stops = ((~l | h) << 1) | 1;
    // A shift by 32 (l == h) is taken modulo 32 by the processor, which
    // here gives the right count too: stops is then all ones, k = 0.
    const unsigned k = static_cast<unsigned>(std::countl_zero(stops << (z & 31)));
    // A mask rather than a condition: whether any bit settles is not
    // predictable, and a branch on it would cost more than the work.
    const uint32_t owed = underflow & (0u - ((0u - s1) >> 31));
    const uint64_t emitted = Emission((uint64_t{h} << z) >> 32, owed, s1);
    underflow = underflow - owed + k;
    const unsigned t = s1 + k;
    low = (l << t) & 0x7FFF;
    range = (hr - lr) << t;
    return emitted;
}

// The rare case of many pending bits: the first settled bit, the pending
// ones, the other settled bits. Takes and returns the sink by value, so the
// hot loop's registers never have their address taken.
__attribute__((noinline)) BitSink PutLongPending(BitSink out, uint64_t e) {
    const unsigned s1 = e & 0xFF;
    const uint32_t owed = static_cast<uint32_t>(e >> 8);
    const uint64_t settled = (e >> 40) & kMask16;
    const uint32_t t = static_cast<uint32_t>(settled >> (s1 - 1));
    Put(out, t, 1);
    out = PutRepeated(out, t ^ 1, owed);
    Put(out, settled & Ones(s1 - 1), s1 - 1);
    return out;
}

__attribute__((always_inline)) inline void PutEmission(BitSink& out, uint64_t e) {
    if (__builtin_expect((e & kLongPending) != 0, 0)) {
        out = PutLongPending(out, e);
    } else {
        Put(out, e >> 8, e & 0xFF);
    }
}

constexpr std::size_t kBlock = 256;

// Advances L lanes by `steps` symbols each, from symbol `from` on, a block
// at a time: first the symbols of every lane side by side (only the three
// registers of each on the serial path), then their bits into the outputs.
template <int L>
__attribute__((always_inline)) inline void RunLanesInline(Lane* const* lanes, std::size_t from, std::size_t steps) {
    uint32_t low[L], range[L], underflow[L];
    const uint8_t* data[L];
    const uint64_t(*bound[L])[2];
    for (int l = 0; l < L; ++l) {
        low[l] = lanes[l]->low;
        range[l] = lanes[l]->range;
        underflow[l] = lanes[l]->underflow;
        data[l] = lanes[l]->data + from;
        bound[l] = lanes[l]->bound;
    }
    uint64_t emitted[L][kBlock];
    for (std::size_t done = 0; done < steps; done += kBlock) {
        const std::size_t m = std::min(kBlock, steps - done);
        for (std::size_t i = 0; i < m; ++i) {
#pragma GCC unroll 4
            for (int l = 0; l < L; ++l) {
                emitted[l][i] = EncodeOne(low[l], range[l], underflow[l], bound[l], data[l][done + i]);
            }
        }
        BitSink out[L];
        for (int l = 0; l < L; ++l) out[l] = lanes[l]->out;
        for (std::size_t i = 0; i < m; ++i) {
#pragma GCC unroll 4
            for (int l = 0; l < L; ++l) PutEmission(out[l], emitted[l][i]);
        }
        for (int l = 0; l < L; ++l) lanes[l]->out = out[l];
    }
    for (int l = 0; l < L; ++l) {
        lanes[l]->low = low[l];
        lanes[l]->range = range[l];
        lanes[l]->underflow = underflow[l];
    }
}

// Each lane count in a function of its own, so its registers are allocated
// for its loop alone.
template <int L>
__attribute__((noinline)) void RunLanesPlain(Lane* const* l, std::size_t from, std::size_t n) {
    RunLanesInline<L>(l, from, n);
}

#ifdef VELMORA_HAS_X86_64_V3
template <int L>
VELMORA_X86_64_V3 __attribute__((noinline)) void RunLanesV3(Lane* const* l, std::size_t from, std::size_t n) {
    RunLanesInline<L>(l, from, n);
}
#endif

#if defined(__x86_64__) && defined(__GNUC__)
#define VELMORA_HAS_VECTOR_ENCODER 1
#define VELMORA_AVX512 __attribute__((target("avx512f,avx512vl,avx512cd,avx512dq,avx512bw,avx512ifma,bmi2,lzcnt")))

constexpr int kVectorLanes = 8;
// Truth tables of the ternary-logic instruction's three operands, to write
// its function as the expression it computes.
constexpr int kA = 0xF0, kB = 0xCC, kC = 0xAA;
constexpr std::size_t kVectorBlock = 128;

// Puts a block of emissions (m rows of eight, none of the marked kind) into
// the live lanes' outputs, all lanes at once: PutEmission element by
// element, each lane's word stored at its own place.
VELMORA_AVX512 inline void PutBlockVector(Lane* const* lanes, int live, const uint64_t* emitted, std::size_t m) {
    alignas(64) uint64_t sink[3][kVectorLanes] = {};
    for (int l = 0; l < live; ++l) {
        sink[0][l] = lanes[l]->out.acc;
        sink[1][l] = lanes[l]->out.filled;
        sink[2][l] = reinterpret_cast<uintptr_t>(lanes[l]->out.p);
    }
    const __mmask8 liveMask = static_cast<__mmask8>((1u << live) - 1);
    __m512i acc = _mm512_load_si512(sink[0]);
    __m512i filled = _mm512_load_si512(sink[1]);
    __m512i p = _mm512_load_si512(sink[2]);
    const __m512i countMask = _mm512_set1_epi64(0xFF), c63 = _mm512_set1_epi64(63), c64 = _mm512_set1_epi64(64);
    const __m512i c7 = _mm512_set1_epi64(7);
    // Each 64-bit element's bytes reversed: the words go out big-endian.
    const __m512i reverse = _mm512_set_epi8(
        56, 57, 58, 59, 60, 61, 62, 63, 48, 49, 50, 51, 52, 53, 54, 55, 40, 41, 42, 43, 44, 45, 46, 47, 32, 33, 34,
        35, 36, 37, 38, 39, 24, 25, 26, 27, 28, 29, 30, 31, 16, 17, 18, 19, 20, 21, 22, 23, 8, 9, 10, 11, 12, 13, 14,
        15, 0, 1, 2, 3, 4, 5, 6, 7);
    for (std::size_t i = 0; i < m; ++i) {
        const __m512i e = _mm512_load_si512(emitted + i * kVectorLanes);
        const __m512i n = _mm512_and_si512(e, countMask);
        acc = _mm512_or_si512(_mm512_sllv_epi64(acc, n), _mm512_srli_epi64(e, 8));
        filled = _mm512_add_epi64(filled, n);
        const __m512i word = _mm512_sllv_epi64(acc, _mm512_and_si512(_mm512_sub_epi64(c64, filled), c63));
        _mm512_mask_i64scatter_epi64(nullptr, liveMask, p, _mm512_shuffle_epi8(word, reverse), 1);
        p = _mm512_add_epi64(p, _mm512_srli_epi64(filled, 3));
        filled = _mm512_and_si512(filled, c7);
    }
    _mm512_store_si512(sink[0], acc);
    _mm512_store_si512(sink[1], filled);
    _mm512_store_si512(sink[2], p);
    for (int l = 0; l < live; ++l) {
        lanes[l]->out.acc = sink[0][l];
        lanes[l]->out.filled = static_cast<uint32_t>(sink[1][l]);
        lanes[l]->out.p = reinterpret_cast<uint8_t*>(sink[2][l]);
    }
}

// Up to eight lanes in the 64-bit elements of one register, each symbol's
// steps done for all of them at once: EncodeOne, element by element, with
// its 32-bit operations on values that never reach bit 32. The serial path
// is the same as one lane's, so eight lanes cost little more than one.
// The lanes' counts for a block are laid out first (gathering them in the
// loop was slower than these plain loads), and their bits put out after it
// (the scatter inside the loop slowed the serial path). Lanes beyond
// `live` code the whole interval, which moves nothing.
// The lanes' coder states into one element each (low, the range times
// rangeScale, underflow); lanes beyond `live` get a state, and counts, that
// move nothing.
inline void LoadLaneStates(Lane* const* lanes, int live, uint64_t rangeScale, uint64_t (&state)[3][kVectorLanes],
                           uint32_t (&cums)[kVectorBlock][kVectorLanes]) {
    for (int l = 0; l < kVectorLanes; ++l) {
        state[0][l] = l < live ? lanes[l]->low : 0;
        state[1][l] = rangeScale * (l < live ? lanes[l]->range : kMask16 + 1);
        state[2][l] = l < live ? lanes[l]->underflow : 0;
        if (l >= live) {
            for (std::size_t i = 0; i < kVectorBlock; ++i) cums[i][l] = kTotal << 16;
        }
    }
}

// The counts of m symbols of each live lane from symbol `from` on, a row a
// symbol: the vector loops read a row at a time.
__attribute__((always_inline)) inline void LayOutCounts(Lane* const* lanes, int live, std::size_t from, std::size_t m,
                                                        uint32_t (&cums)[kVectorBlock][kVectorLanes]) {
    for (int l = 0; l < live; ++l) {
        const uint8_t* d = lanes[l]->data + from;
        const uint32_t* c = lanes[l]->cum;
        for (std::size_t i = 0; i < m; ++i) cums[i][l] = c[d[i]];
    }
}

inline void StoreLaneStates(Lane* const* lanes, int live, const uint64_t (&state)[3][kVectorLanes]) {
    for (int l = 0; l < live; ++l) {
        lanes[l]->low = static_cast<uint32_t>(state[0][l]);
        lanes[l]->range = static_cast<uint32_t>(state[1][l]);
        lanes[l]->underflow = static_cast<uint32_t>(state[2][l]);
    }
}

// A block's emissions into the lanes' outputs: the vector put-out, or, when a
// long run of pending bits was seen, each lane's own.
VELMORA_AVX512 inline void PutEmissions(Lane* const* lanes, int live, uint64_t (&emitted)[kVectorBlock][kVectorLanes],
                                        std::size_t m, bool longSeen) {
    if (!longSeen) return PutBlockVector(lanes, live, &emitted[0][0], m);
    for (int l = 0; l < live; ++l) {
        BitSink out = lanes[l]->out;
        for (std::size_t i = 0; i < m; ++i) PutEmission(out, emitted[i][l]);
        lanes[l]->out = out;
    }
}

VELMORA_AVX512 __attribute__((noinline)) void RunLanesVector(Lane* const* lanes, int live, std::size_t from,
                                                             std::size_t steps) {
    // The scaled bounds as one fused multiply-add of 52-bit operands:
    // (range * P) >> 45 is (2 range * 64 P) >> 52, and 64 P < 2^52.
    static_assert(uint64_t{kTotal} * kReciprocal < (uint64_t{1} << 46));
    alignas(64) uint64_t state[3][kVectorLanes];
    alignas(64) static thread_local uint32_t cums[kVectorBlock][kVectorLanes];
    alignas(64) static thread_local uint64_t emitted[kVectorBlock][kVectorLanes];
    LoadLaneStates(lanes, live, 2, state, cums);  // twice the range
    const __m512i one = _mm512_set1_epi64(1);
    __m512i low = _mm512_load_si512(state[0]);
    __m512i lowLess1 = _mm512_sub_epi64(low, one);
    __m512i range2 = _mm512_load_si512(state[1]);  // twice the range
    __m512i underflow = _mm512_load_si512(state[2]);
    const __m512i reciprocal64 = _mm512_set1_epi64(static_cast<long long>(kReciprocal << 6));
    const __m512i mask16 = _mm512_set1_epi64(kMask16);
    const __m512i c32 = _mm512_set1_epi64(32), c47 = _mm512_set1_epi64(47), c48 = _mm512_set1_epi64(48);
    const __m512i lowMask = _mm512_set1_epi64(0x7FFF);
    const __m512i longMark = _mm512_set1_epi64(static_cast<long long>(kLongPending));
    const __m512i inlinePending = _mm512_set1_epi64(kInlinePending);
    __mmask8 longSeen = 0;
    for (std::size_t done = 0; done < steps; done += kVectorBlock) {
        const std::size_t m = std::min(kVectorBlock, steps - done);
        LayOutCounts(lanes, live, from + done, m, cums);
        for (std::size_t i = 0; i < m; ++i) {
            const __m512i cum = _mm512_cvtepu32_epi64(_mm256_load_si256(reinterpret_cast<const __m256i*>(cums[i])));
            const __m512i lowBound = _mm512_mullo_epi64(_mm512_and_si512(cum, mask16), reciprocal64);
            const __m512i highBound = _mm512_mullo_epi64(_mm512_srli_epi64(cum, 16), reciprocal64);
            const __m512i l = _mm512_madd52hi_epu64(low, range2, lowBound);
            const __m512i h = _mm512_madd52hi_epu64(lowLess1, range2, highBound);
            // The leading zeros of l ^ h in 64 bits: z + 32.
            const __m512i lz = _mm512_lzcnt_epi64(_mm512_xor_si512(l, h));
            const __m512i z = _mm512_sub_epi64(lz, c32);
            const __m512i s1 = _mm512_sub_epi64(lz, c48);
            // The underflow steps are the leading zeros of the 32-bit
            // ((~l | h) << 1) | 1 shifted by z mod 32. Here the word is
            // rotated by z + 32 in 64 bits instead: its top half is then
            // that shifted word with only bits below its lowest stop (a 1)
            // filled in from the ones above bit 32 (~l has no zero there),
            // and for z = 32 (l == h) the word as it is, all ones: the
            // same counts, without a mask on the serial path.
            const __m512i stops = _mm512_or_si512(_mm512_slli_epi64(_mm512_ternarylogic_epi64(l, h, h, (~kA & 0xFF) | kB), 1), one);
            const __m512i k = _mm512_lzcnt_epi64(_mm512_rolv_epi64(stops, lz));
            const __m512i owed = _mm512_maskz_mov_epi64(_mm512_test_epi64_mask(s1, s1), underflow);
            const __m512i settled = _mm512_srli_epi64(_mm512_sllv_epi64(h, z), 32);
            const __m512i ones = _mm512_sub_epi64(_mm512_sllv_epi64(one, owed), one);
            const __m512i bits = _mm512_add_epi64(settled, _mm512_srli_epi64(_mm512_sllv_epi64(ones, s1), 1));
            __m512i e = _mm512_or_si512(_mm512_slli_epi64(bits, 8), _mm512_add_epi64(s1, owed));
            const __mmask8 longOnes = _mm512_cmpgt_epu64_mask(owed, inlinePending);
            if (__builtin_expect(longOnes != 0, 0)) {
                const __m512i parts = _mm512_or_si512(
                    _mm512_or_si512(longMark, _mm512_slli_epi64(settled, 40)),
                    _mm512_or_si512(_mm512_slli_epi64(owed, 8), s1));
                e = _mm512_mask_mov_epi64(e, longOnes, parts);
            }
            longSeen |= longOnes;
            _mm512_store_si512(emitted[i], e);
            underflow = _mm512_add_epi64(_mm512_sub_epi64(underflow, owed), k);
            const __m512i width = _mm512_add_epi64(_mm512_sub_epi64(h, l), one);
            low = _mm512_and_si512(_mm512_sllv_epi64(l, _mm512_add_epi64(s1, k)), lowMask);
            lowLess1 = _mm512_sub_epi64(low, one);
            range2 = _mm512_sllv_epi64(width, _mm512_add_epi64(_mm512_sub_epi64(lz, c47), k));
        }
        PutEmissions(lanes, live, emitted, m, longSeen != 0);
        longSeen = 0;
    }
    _mm512_store_si512(state[0], low);
    _mm512_store_si512(state[1], _mm512_srli_epi64(range2, 1));
    _mm512_store_si512(state[2], underflow);
    StoreLaneStates(lanes, live, state);
}

#define VELMORA_AVX2 __attribute__((target("avx2,bmi2")))

// The bit length of each 64-bit element, for elements below 2^24: the
// exponent of its conversion to single precision, which is exact there (a
// zero element, and the zero upper half of each element, give 0).
VELMORA_AVX2 inline __m256i BitLengthBelow24(__m256i v) {
    const __m256i exponent = _mm256_srli_epi32(_mm256_castps_si256(_mm256_cvtepi32_ps(v)), 23);
    return _mm256_max_epi32(_mm256_sub_epi32(exponent, _mm256_set1_epi32(126)), _mm256_setzero_si256());
}

// Four lanes' coder registers in the 64-bit elements of AVX2 registers.
struct Avx2Lanes {
    __m256i low, range, underflow;
};

// EncodeOne for four lanes at once, element by element, where the
// processor has AVX2 but not the AVX-512 instructions of RunLanesVector:
// the scaled bounds as two 32-bit products (range * count stays below
// 2^31), and the leading-zero counts as bit lengths of values below 2^17.
// The underflow steps k are the zeros of ~l | h below its top differing
// bit p (the bit length of l ^ h, less one), counted down to a stop put
// below bit 0: p less the bit length of those bits.
VELMORA_AVX2 inline __m256i EncodeFourAvx2(Avx2Lanes& s, __m256i cum, bool& longSeen) {
    const __m256i one = _mm256_set1_epi64x(1), mask16 = _mm256_set1_epi64x(kMask16);
    const __m256i reciprocal = _mm256_set1_epi64x(static_cast<long long>(kReciprocal));
    const __m256i lr = _mm256_srli_epi64(
        _mm256_mul_epu32(_mm256_mul_epu32(s.range, _mm256_and_si256(cum, mask16)), reciprocal), kReciprocalShift);
    const __m256i hr = _mm256_srli_epi64(
        _mm256_mul_epu32(_mm256_mul_epu32(s.range, _mm256_srli_epi64(cum, 16)), reciprocal), kReciprocalShift);
    const __m256i l = _mm256_add_epi64(s.low, lr);
    const __m256i h = _mm256_sub_epi64(_mm256_add_epi64(s.low, hr), one);
    const __m256i differ = BitLengthBelow24(_mm256_xor_si256(l, h));  // 32 - z: 0 to 16
    const __m256i z = _mm256_sub_epi64(_mm256_set1_epi64x(32), differ);
    const __m256i s1 = _mm256_sub_epi64(_mm256_set1_epi64x(16), differ);
    const __m256i p = _mm256_max_epi32(_mm256_sub_epi32(differ, _mm256_set1_epi32(1)), _mm256_setzero_si256());
    const __m256i below = _mm256_sub_epi64(_mm256_sllv_epi64(one, p), one);
    const __m256i stops = _mm256_or_si256(_mm256_andnot_si256(l, below), _mm256_and_si256(h, below));
    const __m256i k = _mm256_sub_epi64(p, BitLengthBelow24(stops));
    const __m256i owed = _mm256_andnot_si256(_mm256_cmpeq_epi64(s1, _mm256_setzero_si256()), s.underflow);
    const __m256i settled = _mm256_srli_epi64(_mm256_sllv_epi64(h, z), 32);
    const __m256i ones = _mm256_sub_epi64(_mm256_sllv_epi64(one, owed), one);
    const __m256i bits = _mm256_add_epi64(settled, _mm256_srli_epi64(_mm256_sllv_epi64(ones, s1), 1));
    __m256i e = _mm256_or_si256(_mm256_slli_epi64(bits, 8), _mm256_add_epi64(s1, owed));
    // owed is below 2^32: the signed comparison serves.
    const __m256i longOnes = _mm256_cmpgt_epi64(owed, _mm256_set1_epi64x(kInlinePending));
    if (__builtin_expect(!_mm256_testz_si256(longOnes, longOnes), 0)) {
        const __m256i parts = _mm256_or_si256(
            _mm256_or_si256(_mm256_set1_epi64x(static_cast<long long>(kLongPending)), _mm256_slli_epi64(settled, 40)),
            _mm256_or_si256(_mm256_slli_epi64(owed, 8), s1));
        e = _mm256_blendv_epi8(e, parts, longOnes);
        longSeen = true;
    }
    s.underflow = _mm256_add_epi64(_mm256_sub_epi64(s.underflow, owed), k);
    const __m256i t = _mm256_add_epi64(s1, k);
    s.low = _mm256_and_si256(_mm256_sllv_epi64(l, t), _mm256_set1_epi64x(0x7FFF));
    s.range = _mm256_sllv_epi64(_mm256_add_epi64(_mm256_sub_epi64(h, l), one), t);
    return e;
}

// Puts a block of emissions (m rows, none of the marked kind) of the four
// lanes of one set into their outputs, four at a time: Put, element by
// element, each lane's word then stored at its own place. A lane beyond
// `live` emits nothing and stores into a spare word.
VELMORA_AVX2 inline void PutBlockAvx2(Lane* const* lanes, int live, int set,
                                      const uint64_t (*emitted)[kVectorLanes], std::size_t m) {
    alignas(32) uint64_t sink[3][4];
    alignas(32) uint64_t words[4];
    alignas(32) uint8_t* at[4];
    uint64_t spare[2];
    for (int j = 0; j < 4; ++j) {
        const int l = 4 * set + j;
        const bool here = l < live;
        sink[0][j] = here ? lanes[l]->out.acc : 0;
        sink[1][j] = here ? lanes[l]->out.filled : 0;
        sink[2][j] = reinterpret_cast<uintptr_t>(here ? lanes[l]->out.p : reinterpret_cast<uint8_t*>(spare));
    }
    __m256i acc = _mm256_load_si256(reinterpret_cast<const __m256i*>(sink[0]));
    __m256i filled = _mm256_load_si256(reinterpret_cast<const __m256i*>(sink[1]));
    __m256i p = _mm256_load_si256(reinterpret_cast<const __m256i*>(sink[2]));
    const __m256i countMask = _mm256_set1_epi64x(0xFF), c63 = _mm256_set1_epi64x(63), c64 = _mm256_set1_epi64x(64);
    const __m256i c7 = _mm256_set1_epi64x(7);
    // Each 64-bit element's bytes reversed: the words go out big-endian.
    const __m256i reverse = _mm256_setr_epi8(7, 6, 5, 4, 3, 2, 1, 0, 15, 14, 13, 12, 11, 10, 9, 8, 7, 6, 5, 4, 3, 2, 1,
                                             0, 15, 14, 13, 12, 11, 10, 9, 8);
    for (std::size_t i = 0; i < m; ++i) {
        const __m256i e = _mm256_load_si256(reinterpret_cast<const __m256i*>(&emitted[i][4 * set]));
        const __m256i n = _mm256_and_si256(e, countMask);
        acc = _mm256_or_si256(_mm256_sllv_epi64(acc, n), _mm256_srli_epi64(e, 8));
        filled = _mm256_add_epi64(filled, n);
        const __m256i word = _mm256_sllv_epi64(acc, _mm256_and_si256(_mm256_sub_epi64(c64, filled), c63));
        _mm256_store_si256(reinterpret_cast<__m256i*>(words), _mm256_shuffle_epi8(word, reverse));
        _mm256_store_si256(reinterpret_cast<__m256i*>(at), p);
        for (int j = 0; j < 4; ++j) std::memcpy(at[j], &words[j], 8);
        p = _mm256_add_epi64(p, _mm256_srli_epi64(filled, 3));
        filled = _mm256_and_si256(filled, c7);
    }
    _mm256_store_si256(reinterpret_cast<__m256i*>(sink[0]), acc);
    _mm256_store_si256(reinterpret_cast<__m256i*>(sink[1]), filled);
    _mm256_store_si256(reinterpret_cast<__m256i*>(sink[2]), p);
    for (int j = 0; j < 4 && 4 * set + j < live; ++j) {
        BitSink& out = lanes[4 * set + j]->out;
        out.acc = sink[0][j];
        out.filled = static_cast<uint32_t>(sink[1][j]);
        out.p = reinterpret_cast<uint8_t*>(sink[2][j]);
    }
}

// Up to eight lanes, four in each of two sets of registers (Sets of them),
// advanced in one loop: the two sets' serial paths overlap. Like
// RunLanesVector, the counts of a block are laid out first and the bits put
// out after it.
template <int Sets>
VELMORA_AVX2 __attribute__((always_inline)) inline void RunLanesAvx2Sets(Lane* const* lanes, int live, std::size_t from,
                                                                        std::size_t steps) {
    alignas(32) uint64_t state[3][kVectorLanes];
    alignas(32) static thread_local uint32_t cums[kVectorBlock][kVectorLanes];
    alignas(32) static thread_local uint64_t emitted[kVectorBlock][kVectorLanes];
    LoadLaneStates(lanes, live, 1, state, cums);
    Avx2Lanes sets[Sets];
    for (int set = 0; set < Sets; ++set) {
        auto row = [&](int r) { return reinterpret_cast<const __m256i*>(&state[r][4 * set]); };
        sets[set] = {_mm256_load_si256(row(0)), _mm256_load_si256(row(1)), _mm256_load_si256(row(2))};
    }
    for (std::size_t done = 0; done < steps; done += kVectorBlock) {
        const std::size_t m = std::min(kVectorBlock, steps - done);
        LayOutCounts(lanes, live, from + done, m, cums);
        bool longSeen = false;
        for (std::size_t i = 0; i < m; ++i) {
            for (int set = 0; set < Sets; ++set) {
                const __m256i cum =
                    _mm256_cvtepu32_epi64(_mm_load_si128(reinterpret_cast<const __m128i*>(&cums[i][4 * set])));
                _mm256_store_si256(reinterpret_cast<__m256i*>(&emitted[i][4 * set]),
                                   EncodeFourAvx2(sets[set], cum, longSeen));
            }
        }
        if (longSeen) {
            for (int l = 0; l < live; ++l) {
                BitSink out = lanes[l]->out;
                for (std::size_t i = 0; i < m; ++i) PutEmission(out, emitted[i][l]);
                lanes[l]->out = out;
            }
        } else {
            for (int set = 0; set < Sets; ++set) PutBlockAvx2(lanes, live, set, emitted, m);
        }
    }
    for (int set = 0; set < Sets; ++set) {
        _mm256_store_si256(reinterpret_cast<__m256i*>(&state[0][4 * set]), sets[set].low);
        _mm256_store_si256(reinterpret_cast<__m256i*>(&state[1][4 * set]), sets[set].range);
        _mm256_store_si256(reinterpret_cast<__m256i*>(&state[2][4 * set]), sets[set].underflow);
    }
    StoreLaneStates(lanes, live, state);
}

VELMORA_AVX2 __attribute__((noinline)) void RunLanesAvx2(Lane* const* lanes, int live, std::size_t from,
                                                         std::size_t steps) {
    if (live <= 4) return RunLanesAvx2Sets<1>(lanes, live, from, steps);
    RunLanesAvx2Sets<2>(lanes, live, from, steps);
}

bool Avx2Capable() { return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("bmi2"); }

bool VectorCapable() {
    return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512vl") &&
           __builtin_cpu_supports("avx512cd") && __builtin_cpu_supports("avx512dq") &&
           __builtin_cpu_supports("avx512bw") && __builtin_cpu_supports("avx512ifma") &&
           __builtin_cpu_supports("bmi2");
}
#else
bool VectorCapable() { return false; }
bool Avx2Capable() { return false; }
#endif

void StartLane(Lane& lane) {
    uint16_t freq[256];
    BuildModel(lane.data, lane.length, freq);
    uint8_t* counts = lane.buffer->Grow(WorstCodedSize(lane.length), CByteBuffer::Use::Room);
    uint32_t cum = 0;
    for (int k = 0; k < 256; ++k) {
        lane.bound[k][0] = Premultiplied(cum);
        cum += freq[k];
        lane.bound[k][1] = Premultiplied(cum);
        lane.cum[k] = (cum - freq[k]) | cum << 16;
        le::StoreU16(counts + 2 * k, static_cast<uint16_t>(cum));
    }
    lane.start = lane.out.p = counts + kCountBytes;
}

void FinishLane(Lane& lane) {
    BitSink& out = lane.out;
    // The flush: the second bit of low, then the pending opposite bits.
    const uint32_t bit = (lane.low & kSecond) ? 1 : 0;
    Put(out, bit, 1);
    out = PutRepeated(out, bit ^ 1, std::size_t{lane.underflow} + 1);
    if (lane.emittedBits) *lane.emittedBits = 8 * static_cast<std::size_t>(out.p - lane.start) + out.filled;
    // The byte being filled is written even when empty: a stream ending on
    // a byte boundary gets a whole zero byte of padding. Then the marker.
    uint8_t* p = out.p;
    *p++ = static_cast<uint8_t>(out.acc << (8 - out.filled));
    *p++ = 0xFF;
    *p++ = 0xFF;
    *p++ = 0x00;
    lane.buffer->Shrink(p);
}

constexpr int kLanes = 4;
constexpr std::size_t kMostLanes = 8;  // a batch, in vector registers
// From this many lanes on, the vector registers advance them faster.
constexpr std::size_t kVectorFrom = 3;

}  // namespace

EncoderLoops EncoderLoops::Plain() {
    return {"plain", {RunLanesPlain<1>, RunLanesPlain<2>, RunLanesPlain<3>, RunLanesPlain<4>}, nullptr};
}

std::vector<EncoderLoops> EncoderLoops::Available() {
    std::vector<EncoderLoops> all = {Plain()};
#ifdef VELMORA_HAS_X86_64_V3
    if (RunsX86_64V3()) {
        all.push_back({"x86-64-v3", {RunLanesV3<1>, RunLanesV3<2>, RunLanesV3<3>, RunLanesV3<4>}, nullptr});
    }
#endif
#ifdef VELMORA_HAS_VECTOR_ENCODER
    // The batches of three lanes or more in vector registers, the smaller
    // ones as the best version so far runs them.
    __builtin_cpu_init();
    if (Avx2Capable()) {
        EncoderLoops vector = all.back();
        vector.name = all.size() == 1 ? "avx2 lanes" : "x86-64-v3, avx2 lanes";
        vector.vector = RunLanesAvx2;
        all.push_back(vector);
    }
    if (VectorCapable()) {
        EncoderLoops vector = all.back();
        vector.name = all.size() == 1 ? "avx-512 lanes" : "x86-64-v3, avx-512 lanes";
        vector.vector = RunLanesVector;
        all.push_back(vector);
    }
#endif
    return all;
}

void EncodeByteStreams(const EncodeRequest* requests, std::size_t count, const EncoderLoops& loops) {
#ifdef VELMORA_HAS_VECTOR_ENCODER
    const bool vector = loops.vector != nullptr;
    const std::size_t batch = vector ? kVectorLanes : kLanes;
    static_assert(kVectorLanes <= kMostLanes);
#else
    const bool vector = false;
    const std::size_t batch = kLanes;
#endif
    // A stream of one value alone codes to its table and the flush: its
    // model gives that value the whole interval, which maps the registers
    // onto themselves, so no symbol emits a bit. Such streams skip the
    // symbol loop, and the lanes are left to the others.
    std::vector<EncodeRequest> coded;
    coded.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
        const EncodeRequest& r = requests[i];
        if (r.length <= 1 || std::memcmp(r.data, r.data + 1, r.length - 1) != 0) {
            coded.push_back(r);
            continue;
        }
        Lane lane;
        lane.data = r.data;
        lane.length = r.length;
        lane.buffer = r.out;
        lane.emittedBits = r.emittedBits;
        StartLane(lane);
        FinishLane(lane);
    }
    count = coded.size();
    // Each batch holds streams of like lengths.
    const std::vector<const EncodeRequest*> order = LongestFirst(static_cast<const EncodeRequest*>(coded.data()), count);
    for (std::size_t first = 0; first < count; first += batch) {
        const std::size_t m = std::min(batch, count - first);
        auto lanes = std::make_unique<Lane[]>(m);
        Lane* active[kMostLanes];
        for (std::size_t l = 0; l < m; ++l) {
            const EncodeRequest& r = *order[first + l];
            lanes[l].data = r.data;
            lanes[l].length = r.length;
            lanes[l].buffer = r.out;
            lanes[l].emittedBits = r.emittedBits;
            StartLane(lanes[l]);
            active[l] = &lanes[l];
        }
        // The lanes run side by side for as long as the shortest lasts,
        // then the rest go on without it.
        std::size_t done = 0;
        for (std::size_t live = m; live > 0; --live) {
            const std::size_t until = active[live - 1]->length;
            const std::size_t steps = until - done;
#ifdef VELMORA_HAS_VECTOR_ENCODER
            if (vector && live >= kVectorFrom) {
                loops.vector(active, static_cast<int>(live), done, steps);
                done = until;
                continue;
            }
#endif
            loops.lanes[live - 1](active, done, steps);
            done = until;
        }
        for (std::size_t l = 0; l < m; ++l) FinishLane(lanes[l]);
    }
}

void EncodeByteStream(const uint8_t* data, std::size_t length, CByteBuffer& out, const EncoderLoops& loops,
                      std::size_t* emittedBits) {
    const EncodeRequest r{data, length, &out, emittedBits};
    EncodeByteStreams(&r, 1, loops);
}

void EncodeByteStream(const uint8_t* data, std::size_t length, std::vector<uint8_t>& out,
                      const EncoderLoops& loops, std::size_t* emittedBits) {
    CByteBuffer buffer;
    EncodeByteStream(data, length, buffer, loops, emittedBits);
    out.insert(out.end(), buffer.Data(), buffer.Data() + buffer.Size());
}

}  // namespace bytestream
