#include <algorithm>

#include "engine/ByteStreamCoder.h"
#include "engine/ByteStreamCore.h"
#include "engine/CpuDispatch.h"

uint8_t* CByteBuffer::Grow(std::size_t n) {
    if (capacity - size < n) {
        // An empty buffer's memory goes before the larger is taken, so the
        // two are never held at once.
        if (size == 0) Release();
        const std::size_t want = std::max(size + n, capacity + capacity / 2);
        std::unique_ptr<uint8_t[]> larger(new uint8_t[want]);
        if (size) std::memcpy(larger.get(), bytes.get(), size);
        bytes = std::move(larger);
        capacity = want;
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

// The registers and the bit output of one stream being encoded. Streams
// are independent, so several are advanced in one loop: each symbol's
// steps wait on the one before, and interleaving the streams gives the
// processor independent work while it waits.
struct Lane {
    const uint8_t* data = nullptr;
    std::size_t length = 0;
    CByteBuffer* buffer = nullptr;
    std::size_t* emittedBits = nullptr;
    uint8_t* start = nullptr;  // first coded byte
    BitSink out{0, 0, nullptr};
    uint32_t low = 0, range = kMask16 + 1;
    uint32_t underflow = 0;    // opposite bits owed to the next settled bit
    uint64_t bound[256][2];    // premultiplied low and high of each value
};

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
VELMORA_CPU_CLONES __attribute__((noinline)) void RunLanes1(Lane* const* l, std::size_t from, std::size_t n) {
    RunLanesInline<1>(l, from, n);
}
VELMORA_CPU_CLONES __attribute__((noinline)) void RunLanes2(Lane* const* l, std::size_t from, std::size_t n) {
    RunLanesInline<2>(l, from, n);
}
VELMORA_CPU_CLONES __attribute__((noinline)) void RunLanes3(Lane* const* l, std::size_t from, std::size_t n) {
    RunLanesInline<3>(l, from, n);
}
VELMORA_CPU_CLONES __attribute__((noinline)) void RunLanes4(Lane* const* l, std::size_t from, std::size_t n) {
    RunLanesInline<4>(l, from, n);
}

void StartLane(Lane& lane) {
    uint16_t freq[256];
    BuildModel(lane.data, lane.length, freq);
    uint8_t* counts = lane.buffer->Grow(WorstCodedSize(lane.length));
    uint32_t cum = 0;
    for (int k = 0; k < 256; ++k) {
        lane.bound[k][0] = Premultiplied(cum);
        cum += freq[k];
        lane.bound[k][1] = Premultiplied(cum);
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

}  // namespace

void EncodeByteStreams(const EncodeRequest* requests, std::size_t count) {
    for (std::size_t first = 0; first < count; first += kLanes) {
        const std::size_t m = std::min<std::size_t>(kLanes, count - first);
        Lane lanes[kLanes];
        Lane* active[kLanes];
        for (std::size_t l = 0; l < m; ++l) {
            const EncodeRequest& r = requests[first + l];
            lanes[l].data = r.data;
            lanes[l].length = r.length;
            lanes[l].buffer = r.out;
            lanes[l].emittedBits = r.emittedBits;
            StartLane(lanes[l]);
            active[l] = &lanes[l];
        }
        // Longest first: the lanes run side by side for as long as the
        // shortest lasts, then the rest go on without it.
        // (At most four: an insertion sort, which also keeps the compiler from
        // seeing paths of a general sort that cannot be taken here.)
        for (std::size_t i = 1; i < m; ++i) {
            for (std::size_t j = i; j > 0 && active[j - 1]->length < active[j]->length; --j) {
                std::swap(active[j - 1], active[j]);
            }
        }
        std::size_t done = 0;
        for (std::size_t live = m; live > 0; --live) {
            const std::size_t until = active[live - 1]->length;
            const std::size_t steps = until - done;
            switch (live) {
                case 4: RunLanes4(active, done, steps); break;
                case 3: RunLanes3(active, done, steps); break;
                case 2: RunLanes2(active, done, steps); break;
                default: RunLanes1(active, done, steps); break;
            }
            done = until;
        }
        for (std::size_t l = 0; l < m; ++l) FinishLane(lanes[l]);
    }
}

void EncodeByteStream(const uint8_t* data, std::size_t length, CByteBuffer& out, std::size_t* emittedBits) {
    const EncodeRequest r{data, length, &out, emittedBits};
    EncodeByteStreams(&r, 1);
}

void EncodeByteStream(const uint8_t* data, std::size_t length, std::vector<uint8_t>& out,
                      std::size_t* emittedBits) {
    CByteBuffer buffer;
    EncodeByteStream(data, length, buffer, emittedBits);
    out.insert(out.end(), buffer.Data(), buffer.Data() + buffer.Size());
}

}  // namespace bytestream
