#include <algorithm>
#include <memory>

#include "engine/ByteStreamCoder.h"
#include "engine/ByteStreamCore.h"
#include "engine/CpuDispatch.h"
#include "engine/InputWindow.h"

namespace bytestream {

using namespace detail;

namespace {

// The model read from a stream's count table, with the lookup from a count
// to its symbol. A table an encoder could have written rises to exactly the
// total; anything else is damage, and decoding it could divide by zero.
struct SymbolTable {
    uint32_t lowOf[256], highOf[256];
    uint64_t lowScaled[256], highScaled[256];  // premultiplied bounds
    uint8_t symbolOf[kTotal];

    void Load(const uint8_t* counts) {
        if (!ValidCountTable(counts)) StreamNotFound();
        uint32_t prev = 0;
        for (int k = 0; k < 256; ++k) {
            highOf[k] = le::LoadU16(&counts[2 * k]);
            lowOf[k] = prev;
            prev = highOf[k];
        }
        for (int k = 0; k < 256; ++k) {
            if (highOf[k] > lowOf[k]) std::memset(symbolOf + lowOf[k], k, highOf[k] - lowOf[k]);
            lowScaled[k] = Premultiplied(lowOf[k]);
            highScaled[k] = Premultiplied(highOf[k]);
        }
    }
};

// The coded bits of a stream in memory, most significant first. The
// decoder's 16-bit code register, less low (see DecodeOne), is the top of
// a 64-bit window, and below it lie `ahead` bits loaded ahead of use:
// shifting the window shifts the code and takes in the next bits in one
// step.
struct BitIn {
    uint64_t window = 0;  // code - low, then the bits ahead
    uint32_t ahead = 0;   // valid bits below the code
};

// Where the bits come from. Needed only when the window is refilled, so it
// stays in memory and the hot loop's registers hold the window alone.
struct ByteSource {
    const uint8_t* p = nullptr;    // next byte to load
    const uint8_t* end = nullptr;  // end of the bytes there are
    bool damaged = false;          // the stream proved damaged
};

constexpr unsigned kCodeBits = 16;
// Bits held ahead at most: the window less the code, less one bit, so the
// whole bytes that fit are counted by one shift.
constexpr unsigned kMostAhead = 64 - kCodeBits - 1;

// Shifts the next k (0..40) bits into the code. Refilling near the end of
// the data is done in place too: a call there would make the compiler keep
// every lane's registers in memory as well, at every symbol.
__attribute__((always_inline)) inline void Advance(BitIn& in, ByteSource& src, unsigned k) {
    if (__builtin_expect(in.ahead < k, 0)) {
        const std::size_t left = static_cast<std::size_t>(src.end - src.p);
        uint64_t word = 0;
        if (__builtin_expect(left >= 8, 1)) {
            std::memcpy(&word, src.p, 8);
            word = __builtin_bswap64(word);
        } else {
            for (std::size_t b = 0; b < left; ++b) word |= static_cast<uint64_t>(src.p[b]) << (56 - 8 * b);
        }
        // Only the whole bytes that fit are counted (the bits after them
        // are the next bytes' own, which the next load puts in the same
        // place again).
        in.window |= word >> (kCodeBits + in.ahead);
        const unsigned bytes = static_cast<unsigned>(std::min<std::size_t>((kMostAhead - in.ahead) >> 3, left));
        src.p += bytes;
        in.ahead += 8 * bytes;
        // A valid stream is always followed by its marker: running out of
        // data inside a stream means it is damaged. The loop goes on with
        // zero bits and its caller reports it (see Lane).
        if (__builtin_expect(in.ahead < k, 0)) {
            src.damaged = true;
            in.ahead = k;
        }
    }
    in.window <<= k;
    in.ahead -= k;
}

inline uint32_t AboveLow(const BitIn& in) { return static_cast<uint32_t>(in.window >> (64 - kCodeBits)); }

// From this frequency on (out of 10,000) the test for the most probable
// value before the division pays: it is right often enough to be well
// predicted.
constexpr uint32_t kMpsFirst = 8500;

}  // namespace

// One stream being decoded: its model and its registers between the loops
// that advance it. The loops never throw: an exception leaving a function
// compiled for several processors is not always unwound (the compiler
// may treat the call as one that cannot throw, and the program ends).
// Damage is marked in the lane instead, and whoever ran the loop reports
// it once the loop is back.
struct detail::DecodeLane {
    SymbolTable table;
    const uint8_t* coded = nullptr;  // first byte of the coded bits
    ByteSource source;
    BitIn bits;  // holds the code register
    uint32_t low = 0, range = kMask16 + 1;
    uint32_t mps = 0;
    bool mpsFirst = false;
    uint8_t* out = nullptr;
    std::size_t length = 0;
    std::size_t done = 0;  // symbols decoded
};

namespace {

using Lane = detail::DecodeLane;

// data[0 .. size) holds the stream from offset on.
void StartLane(Lane& lane, const uint8_t* data, std::size_t size, std::size_t offset, uint8_t* out,
               std::size_t length) {
    if (offset > size || size - offset < kCountBytes) StreamNotFound();
    lane.table.Load(data + offset);
    // The most probable value. When it is very probable, the test for it
    // comes before the division: with v = code - low + 1, count < H and
    // count >= L are, for the integers involved, v * total <= H * range and
    // v * total > L * range, two multiplications off the decoder's serial
    // chain.
    const SymbolTable& t = lane.table;
    lane.mps = 0;
    for (uint32_t k = 0; k < 256; ++k) {
        if (t.highOf[k] - t.lowOf[k] > t.highOf[lane.mps] - t.lowOf[lane.mps]) lane.mps = k;
    }
    lane.mpsFirst = t.highOf[lane.mps] - t.lowOf[lane.mps] >= kMpsFirst;
    lane.coded = data + offset + kCountBytes;
    lane.source = {lane.coded, data + size, false};
    lane.bits = {0, 0};
    lane.low = 0;
    lane.range = kMask16 + 1;
    // Damage found here shows, like any other, when the lane has run.
    Advance(lane.bits, lane.source, kCodeBits);
    lane.out = out;
    lane.length = length;
    lane.done = 0;
}

// Keeps the compiler from folding a value into a later sum: a sum of three
// parts takes the processor a cycle more than two sums of two, where one
// of them is off the decoder's serial path.
template <class T>
__attribute__((always_inline)) inline void KeepApart(T& v) {
    asm("" : "+r"(v));
}

// One symbol. The registers are kept as low and width (range = high - low
// + 1), and the renormalisation done in one stride of t = s1 + k shifts, as
// the encoder does. The window's top holds not the code but code - low:
// every step of the renormalisation, the underflow steps too, moves code
// and low alike, so their difference just takes in the next bits, with no
// flipped bit and no subtraction of low on the serial path. For a valid
// stream it lies in [0, range).
__attribute__((always_inline)) inline uint8_t DecodeOne(uint32_t& low, uint32_t& range, BitIn& bits, Lane& c) {
    const SymbolTable& t = c.table;
    const uint32_t above = AboveLow(bits);  // code - low
    uint32_t k;
    // (above + 1) * total - 1, below 2^30 for any window.
    const uint32_t scaled = above * kTotal + (kTotal - 1);
    if (c.mpsFirst && scaled < range * t.highOf[c.mps] && scaled >= range * t.lowOf[c.mps]) {
        k = c.mps;
    } else {
        const uint32_t count = scaled / range;
        // No bits put the count outside the table: the value it picks
        // keeps code - low in [lr, hr), so below the next range, whatever
        // the stream holds (ValidCountTable vouches for the table). The
        // test stays, cheap and never taken, against reading outside it
        // should that ever change.
        if (__builtin_expect(count >= kTotal, 0)) {
            c.source.damaged = true;
            k = t.symbolOf[0];
        } else {
            k = t.symbolOf[count];
        }
    }
    const uint32_t hr = ScaledBound(range, t.highScaled[k]);
    const uint32_t lr = ScaledBound(range, t.lowScaled[k]);
    // code - l, before the shifts: never below 0 (see the count above).
    bits.window -= static_cast<uint64_t>(lr) << (64 - kCodeBits);
    uint32_t lowLess1 = low - 1;
    KeepApart(lowLess1);  // else h costs a three-part addition
    const uint32_t l = low + lr;
    const uint32_t h = lowLess1 + hr;
    const unsigned z = static_cast<unsigned>(std::countl_zero(l ^ h));
    unsigned zLess16 = z - 16;
    KeepApart(zLess16);
    // ((~l | h) << 1) | 1, in fewer dependent steps. Its lowest bit is set,
    // so what is counted is never 0.
    const uint32_t stops = ~((l & ~h) << 1);
    const unsigned underflow = static_cast<unsigned>(__builtin_clz(stops << (z & 31)));
    const unsigned shifts = zLess16 + underflow;
    low = (l << shifts) & 0x7FFF;
    range = (hr - lr) << shifts;
    Advance(bits, c.source, shifts);
    return static_cast<uint8_t>(k);
}

constexpr std::size_t kStepsBetweenChecks = 1024;

// Advances L lanes by `steps` symbols each, each from where it stands, with
// their registers in locals the byte stores cannot alias.
template <int L>
__attribute__((always_inline)) inline void RunLanes(Lane* const* lanes, std::size_t steps) {
    uint32_t low[L], range[L];
    BitIn bits[L];
    for (int l = 0; l < L; ++l) {
        low[l] = lanes[l]->low;
        range[l] = lanes[l]->range;
        bits[l] = lanes[l]->bits;
    }
    // The symbols go to a block on the stack first, where one index
    // reaches every lane's: the registers are too few for a pointer a lane.
    alignas(64) uint8_t staged[L][kStepsBetweenChecks];
    // A block at a time, so a damaged stream ends the run soon after its
    // damage shows, not after all the symbols it was asked for.
    std::size_t i = 0;
    while (i < steps) {
        const std::size_t n = std::min(steps - i, kStepsBetweenChecks);
        for (std::size_t j = 0; j < n; ++j) {
#pragma GCC unroll 4
            for (int l = 0; l < L; ++l) staged[l][j] = DecodeOne(low[l], range[l], bits[l], *lanes[l]);
        }
        bool damaged = false;
        for (int l = 0; l < L; ++l) {
            std::memcpy(lanes[l]->out + lanes[l]->done + i, staged[l], n);
            damaged = damaged || lanes[l]->source.damaged;
        }
        i += n;
        if (damaged) break;
    }
    for (int l = 0; l < L; ++l) {
        lanes[l]->low = low[l];
        lanes[l]->range = range[l];
        lanes[l]->bits = bits[l];
        lanes[l]->done += i;
    }
}

template <int L>
__attribute__((noinline)) void RunLanesPlain(Lane* const* l, std::size_t n) {
    RunLanes<L>(l, n);
}

#ifdef VELMORA_HAS_X86_64_V3
template <int L>
VELMORA_X86_64_V3 __attribute__((noinline)) void RunLanesV3(Lane* const* l, std::size_t n) {
    RunLanes<L>(l, n);
}
#endif

// Where the next item begins, judged from the seven bytes around c, the
// offset of the byte that holds the last bit taken; bytes beyond the data
// match nothing.
std::size_t FindStreamEnd(const uint8_t* data, std::size_t size, std::size_t c) {
    int b[7];
    for (int k = -3; k <= 3; ++k) {
        const std::size_t at = c + static_cast<std::size_t>(k);
        b[k + 3] = at < size ? data[at] : -1;
    }
    auto at = [&](int k) { return b[k + 3]; };
    auto marker = [&](int k) { return at(k) == 0xFF && at(k + 1) == 0xFF && at(k + 2) == 0x00; };
    if (marker(-3) && at(0) != 0xFF) return c;
    if (marker(-2) && at(1) != 0xFF) return c + 1;
    if (marker(-1)) return c + 2;
    if (marker(0)) return c + 3;
    if (marker(1)) return c + 4;
    StreamNotFound();
}

std::size_t FinishLane(const Lane& lane, const uint8_t* data, std::size_t size) {
    const std::size_t taken = 8 * static_cast<std::size_t>(lane.source.p - lane.coded) - lane.bits.ahead;
    const std::size_t last = static_cast<std::size_t>(lane.coded - data) + (taken - 1) / 8;
    return FindStreamEnd(data, size, last);
}

// A stream whose table gives one value the whole total: every symbol is
// that value, and decoding it leaves the registers as they start (the full
// interval maps onto itself, so no bit is ever shifted in). Such streams
// are common (a flag never set, a time step that never changes) and are
// filled at once rather than run symbol by symbol.
bool FillWhenSingleValued(Lane& lane) {
    const SymbolTable& t = lane.table;
    if (t.highOf[lane.mps] - t.lowOf[lane.mps] != kTotal) return false;
    // A stream of no symbols may have no buffer at all to fill.
    if (lane.done < lane.length) std::memset(lane.out + lane.done, static_cast<int>(lane.mps), lane.length - lane.done);
    lane.done = lane.length;
    return true;
}

std::size_t DecodeAt(const uint8_t* data, std::size_t size, std::size_t offset, uint8_t* out, std::size_t length,
                     const DecoderLoops& loops) {
    auto lane = std::make_unique<Lane>();
    StartLane(*lane, data, size, offset, out, length);
    Lane* lanes[1] = {lane.get()};
    if (!FillWhenSingleValued(*lane)) loops.lanes[0](lanes, length);
    if (lane->source.damaged) StreamNotFound();
    return FinishLane(*lane, data, size);
}

constexpr std::size_t kDecodeLanes = 3;

// Whether the stream at offset holds one value alone: its count table
// gives that value the whole total. (Damage shows when it is decoded.)
bool OneValued(const uint8_t* data, std::size_t size, std::size_t offset) {
    if (offset > size || size - offset < kCountBytes) return false;
    for (std::size_t k = 0; k < 256; ++k) {
        const uint32_t high = le::LoadU16(data + offset + 2 * k);
        if (high != 0) return high == kTotal;
    }
    return false;
}

// How many long streams may run at once while `left` of them are not done:
// a stream left to run alone costs nearly what three side by side do for
// each symbol, so four go two and two rather than three and one.
std::size_t LongLanesFor(std::size_t left) { return left == 4 ? 2 : kDecodeLanes; }

// Up to three streams in one loop (with four, more registers spill): the
// processor works on the others while one waits on its division and loads.
// As one ends, the next waiting stream takes its lane, so the loop runs as
// many streams as there are nearly all the way; with the longest first,
// those left alone at the end are short. On damage it throws, and
// finished[i] tells whether base[i] was done before.
void DecodeInLanesAt(const uint8_t* data, std::size_t size, DecodeRequest* base, DecodeRequest* const* order,
                     std::size_t count, bool* finished, const DecoderLoops& loops) {
    auto lanes = std::make_unique<Lane[]>(kDecodeLanes);
    DecodeRequest* servedBy[kDecodeLanes] = {};
    // Long streams: those of a quarter of the longest's symbols or more,
    // among those not of one value.
    std::unique_ptr<bool[]> longs(new bool[count]());
    std::size_t longest = 0;
    for (std::size_t i = 0; i < count; ++i) {
        longs[i] = !OneValued(data, size, base[i].offset);
        if (longs[i]) longest = std::max(longest, base[i].length);
    }
    std::size_t longLeft = 0;
    for (std::size_t i = 0; i < count; ++i) {
        longs[i] = longs[i] && base[i].length >= longest / 4;
        longLeft += longs[i];
    }
    auto isLong = [&](const DecodeRequest& r) { return longs[&r - base]; };
    std::size_t next = 0;
    for (;;) {
        Lane* live[kDecodeLanes];
        std::size_t liveCount = 0;
        std::size_t steps = SIZE_MAX;
        std::size_t longRunning = 0;
        for (std::size_t slot = 0; slot < kDecodeLanes; ++slot) longRunning += servedBy[slot] && isLong(*servedBy[slot]);
        for (std::size_t slot = 0; slot < kDecodeLanes; ++slot) {
            while (!servedBy[slot] && next < count) {
                const DecodeRequest& r = *order[next];
                const bool longOne = isLong(r);
                if (longOne && longRunning >= LongLanesFor(longLeft)) break;
                StartLane(lanes[slot], data, size, r.offset, r.out, r.length);
                if (FillWhenSingleValued(lanes[slot])) {
                    // Done without taking the lane: the slot takes the next.
                    if (lanes[slot].source.damaged) StreamNotFound();
                    order[next]->next = FinishLane(lanes[slot], data, size);
                    finished[order[next] - base] = true;
                    ++next;
                    continue;
                }
                servedBy[slot] = order[next++];
                longRunning += longOne;
            }
            if (!servedBy[slot]) continue;
            live[liveCount++] = &lanes[slot];
            steps = std::min(steps, lanes[slot].length - lanes[slot].done);
        }
        if (liveCount == 0) return;
        loops.lanes[liveCount - 1](live, steps);
        for (std::size_t l = 0; l < liveCount; ++l) {
            if (live[l]->source.damaged) StreamNotFound();
        }
        for (std::size_t slot = 0; slot < kDecodeLanes; ++slot) {
            if (!servedBy[slot] || lanes[slot].done < lanes[slot].length) continue;
            longLeft -= isLong(*servedBy[slot]);
            servedBy[slot]->next = FinishLane(lanes[slot], data, size);
            finished[servedBy[slot] - base] = true;
            servedBy[slot] = nullptr;
        }
    }
}

void DecodeAloneAt(const uint8_t* data, std::size_t size, DecodeRequest& r, const DecoderLoops& loops) {
    try {
        r.next = DecodeAt(data, size, r.offset, r.out, r.length, loops);
    } catch (const CLasException&) {
        r.failed = true;
    }
}

}  // namespace

DecoderLoops DecoderLoops::Plain() { return {"plain", {RunLanesPlain<1>, RunLanesPlain<2>, RunLanesPlain<3>}}; }

std::vector<DecoderLoops> DecoderLoops::Available() {
    std::vector<DecoderLoops> all = {Plain()};
#ifdef VELMORA_HAS_X86_64_V3
    if (RunsX86_64V3()) all.push_back({"x86-64-v3", {RunLanesV3<1>, RunLanesV3<2>, RunLanesV3<3>}});
#endif
    return all;
}

bool ValidCountTable(const uint8_t* counts) {
    uint32_t prev = 0;
    for (int k = 0; k < 256; ++k) {
        const uint32_t high = le::LoadU16(counts + 2 * k);
        if (high < prev) return false;
        prev = high;
    }
    return prev == kTotal;
}

void DecodeByteStream(InputWindow& in, uint8_t* out, std::size_t length, const DecoderLoops& loops) {
    // The whole stream in the window: it takes at most two bytes a symbol,
    // its counts, the flush, padding and marker, and the bytes after the
    // marker that tell where it ends.
    const std::size_t have = in.Ensure(kCountBytes + 2 * length + 96);
    in.Skip(DecodeAt(in.Data(), have, 0, out, length, loops));
}

std::size_t DecodeByteStreamAt(const uint8_t* data, std::size_t size, std::size_t offset, uint8_t* out,
                               std::size_t length, const DecoderLoops& loops) {
    return DecodeAt(data, size, offset, out, length, loops);
}

void DecodeByteStreamsAt(const uint8_t* data, std::size_t size, DecodeRequest* requests, std::size_t count,
                         const DecoderLoops& loops) {
    const std::vector<DecodeRequest*> order = LongestFirst(requests, count);
    std::unique_ptr<bool[]> finished(new bool[count]());
    try {
        DecodeInLanesAt(data, size, requests, order.data(), count, finished.get(), loops);
    } catch (const CLasException&) {
        // Which of them is damaged: each not yet finished on its own.
        for (std::size_t i = 0; i < count; ++i) {
            if (!finished[i]) DecodeAloneAt(data, size, requests[i], loops);
        }
    }
}

}  // namespace bytestream
