#include <algorithm>

#include "engine/ByteStreamCoder.h"
#include "engine/ByteStreamCore.h"
#include "engine/CpuDispatch.h"
#include "engine/InputWindow.h"

namespace bytestream {

using namespace detail;

namespace {

// Where the decoder's bytes come from: the sliding window over the archive
// file, or a block of the archive already in memory. Both give the bytes of
// the stream in order and the bytes around its end by offset.
class WindowSource {
public:
    explicit WindowSource(InputWindow& in) : in(in), p(in.Data()) {}
    bool ReadCounts(uint8_t* dst) {
        const bool ok = in.ReadExact(dst, kCountBytes);
        p = in.Data();
        return ok;
    }
    int64_t Position() const { return in.Position(); }
    // The next bytes of the stream: [first, first + n); n is 0 at the end.
    const uint8_t* More(std::size_t& n) {
        in.Skip(static_cast<std::size_t>(p - in.Data()));
        n = in.Ensure(4096);
        p = in.Data() + n;
        return in.Data();
    }
    void Done() {
        in.Skip(static_cast<std::size_t>(p - in.Data()));
        p = in.Data();
    }
    int ByteAt(int64_t offset) { return in.ByteAt(offset); }
    void Seek(int64_t offset) { in.Seek(offset); }

private:
    InputWindow& in;
    const uint8_t* p;  // end of what was handed out
};

class MemorySource {
public:
    MemorySource(const uint8_t* data, std::size_t size, std::size_t pos) : data(data), size(size), pos(pos) {}
    bool ReadCounts(uint8_t* dst) {
        if (pos > size || size - pos < kCountBytes) return false;
        std::memcpy(dst, data + pos, kCountBytes);
        pos += kCountBytes;
        return true;
    }
    int64_t Position() const { return static_cast<int64_t>(pos); }
    const uint8_t* More(std::size_t& n) {
        n = size - pos;
        const uint8_t* p = data + pos;
        pos = size;
        return p;
    }
    void Done() {}
    int ByteAt(int64_t offset) {
        return offset < 0 || offset >= static_cast<int64_t>(size) ? -1 : data[offset];
    }
    void Seek(int64_t offset) { pos = static_cast<std::size_t>(offset); }

private:
    const uint8_t* data;
    std::size_t size;
    std::size_t pos;
};

// Reads bits most significant first, a 64-bit register at a time. Bits are
// loaded ahead of use, but only the bits consumed count: the byte holding the
// last consumed bit is where the end marker is sought.
template <class Source>
class BitReader {
public:
    explicit BitReader(Source& src) : src(src) {}

    // The next k (0..32) bits.
    uint32_t Read(unsigned k) {
        if (avail < k) Refill(k);
        const uint32_t v = static_cast<uint32_t>((buf >> 1) >> (63 - k));
        buf <<= k;
        avail -= k;
        consumed += k;
        return v;
    }
    uint64_t Consumed() const { return consumed; }

private:
    void Refill(unsigned need) {
        if (end - p >= 8) {
            // Eight bytes at once; only the whole bytes that fit are taken.
            uint64_t word;
            std::memcpy(&word, p, 8);
            buf |= __builtin_bswap64(word) >> avail;
            p += (63 - avail) >> 3;
            avail |= 56;
            return;
        }
        while (avail <= 56) {
            if (p == end) {
                std::size_t n = 0;
                p = src.More(n);
                end = p + n;
                if (n == 0) break;
            }
            buf |= static_cast<uint64_t>(*p++) << (56 - avail);
            avail += 8;
        }
        // A valid stream is always followed by its marker: running out of
        // data inside a stream means it is damaged.
        if (avail < need) StreamNotFound();
    }

    Source& src;
    const uint8_t* p = nullptr;
    const uint8_t* end = nullptr;
    uint64_t buf = 0;
    unsigned avail = 0;
    uint64_t consumed = 0;
};

// Where the next item begins, judged from the seven bytes around c, the
// offset of the byte that holds the last bit read.
template <class Source>
int64_t FindStreamEnd(Source& src, int64_t c) {
    int b[7];
    for (int k = -3; k <= 3; ++k) b[k + 3] = src.ByteAt(c + k);
    auto at = [&](int k) { return b[k + 3]; };
    auto marker = [&](int k) { return at(k) == 0xFF && at(k + 1) == 0xFF && at(k + 2) == 0x00; };
    if (marker(-3) && at(0) != 0xFF) return c;
    if (marker(-2) && at(1) != 0xFF) return c + 1;
    if (marker(-1)) return c + 2;
    if (marker(0)) return c + 3;
    if (marker(1)) return c + 4;
    StreamNotFound();
}

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

// One stream being decoded. Like the encoder, several can advance in one
// loop with overlapping dependency chains.
template <class Source>
class Decoder {
public:
    explicit Decoder(Source& src) : src(src), bits(src) {
        uint8_t counts[kCountBytes];
        if (!src.ReadCounts(counts)) StreamNotFound();
        table.Load(counts);
        // The most probable value. When it is very probable, the test for
        // it comes before the division: count < H and count >= L are, for
        // the integers involved, v * total <= H * range and v * total >
        // L * range, two multiplications off the decoder's serial chain.
        for (int k = 0; k < 256; ++k) {
            if (table.highOf[k] - table.lowOf[k] > table.highOf[mps] - table.lowOf[mps]) {
                mps = static_cast<uint8_t>(k);
            }
        }
        mpsFirst = table.highOf[mps] - table.lowOf[mps] >= kMpsFirst;
        codedStart = src.Position();
        code = bits.Read(16);
    }

    // The registers are kept as low and width (range = high - low + 1), and
    // the renormalisation done in one stride of t = s1 + k shifts, as the
    // encoder does; in the k underflow steps the flipped second bit of code
    // ends up as its top bit.
    inline uint8_t Next() {
        const int32_t v = static_cast<int32_t>(code) - static_cast<int32_t>(low) + 1;
        uint8_t k;
        if (mpsFirst && v >= 1 && static_cast<uint32_t>(v) * kTotal <= range * table.highOf[mps] &&
            static_cast<uint32_t>(v) * kTotal > range * table.lowOf[mps]) {
            k = mps;
        } else {
            const int32_t count = (v * static_cast<int32_t>(kTotal) - 1) / static_cast<int32_t>(range);
            // Only a damaged stream lets the count fall outside the table.
            if (static_cast<uint32_t>(count) >= kTotal) StreamNotFound();
            k = table.symbolOf[count];
        }
        const uint32_t hr = ScaledBound(range, table.highScaled[k]);
        const uint32_t lr = ScaledBound(range, table.lowScaled[k]);
        const uint32_t l = low + lr;
        const uint32_t h = low + hr - 1;
        const unsigned z = static_cast<unsigned>(std::countl_zero(l ^ h));
        const uint32_t stops = ((~l | h) << 1) | 1;
        const unsigned underflow = static_cast<unsigned>(std::countl_zero(stops << (z & 31)));
        const unsigned t = z - 16 + underflow;
        low = (l << t) & 0x7FFF;
        range = (hr - lr) << t;
        code = (((code << t) | bits.Read(t)) & kMask16) ^ (underflow ? kTop : 0u);
        return k;
    }

    // Finds the end marker and moves the source to the next item.
    int64_t Finish() {
        src.Done();
        const int64_t last = codedStart + static_cast<int64_t>((bits.Consumed() - 1) / 8);
        const int64_t next = FindStreamEnd(src, last);
        src.Seek(next);
        return next;
    }

private:
    Source& src;
    BitReader<Source> bits;
    SymbolTable table;
    int64_t codedStart = 0;
    uint32_t low = 0, range = kMask16 + 1, code = 0;
    uint8_t mps = 0;
    bool mpsFirst = false;
    // From this frequency on (out of 10,000) the test for the most probable
    // value pays: it is right often enough to be well predicted.
    static constexpr uint32_t kMpsFirst = 8500;
};

template <class Source>
int64_t DecodeOne(Source& src, uint8_t* out, std::size_t length) {
    Decoder<Source> d(src);
    for (std::size_t i = 0; i < length; ++i) out[i] = d.Next();
    return d.Finish();
}

}  // namespace

bool ValidCountTable(const uint8_t* counts) {
    uint32_t prev = 0;
    for (int k = 0; k < 256; ++k) {
        const uint32_t high = le::LoadU16(counts + 2 * k);
        if (high < prev) return false;
        prev = high;
    }
    return prev == kTotal;
}

VELMORA_CPU_CLONES
void DecodeByteStream(InputWindow& in, uint8_t* out, std::size_t length) {
    WindowSource src(in);
    DecodeOne(src, out, length);
}

VELMORA_CPU_CLONES
std::size_t DecodeByteStreamAt(const uint8_t* data, std::size_t size, std::size_t offset, uint8_t* out,
                               std::size_t length) {
    MemorySource src(data, size, offset);
    return static_cast<std::size_t>(DecodeOne(src, out, length));
}

namespace {

// Two streams in one loop: the processor works on one while the other
// waits on its division and loads.
VELMORA_CPU_CLONES
void DecodePairAt(const uint8_t* data, std::size_t size, DecodeRequest& a, DecodeRequest& b) {
    MemorySource sa(data, size, a.offset), sb(data, size, b.offset);
    Decoder<MemorySource> da(sa), db(sb);
    const std::size_t both = std::min(a.length, b.length);
    std::size_t i = 0;
    for (; i < both; ++i) {
        a.out[i] = da.Next();
        b.out[i] = db.Next();
    }
    for (std::size_t j = i; j < a.length; ++j) a.out[j] = da.Next();
    for (std::size_t j = i; j < b.length; ++j) b.out[j] = db.Next();
    a.next = static_cast<std::size_t>(da.Finish());
    b.next = static_cast<std::size_t>(db.Finish());
}

void DecodeAloneAt(const uint8_t* data, std::size_t size, DecodeRequest& r) {
    try {
        r.next = DecodeByteStreamAt(data, size, r.offset, r.out, r.length);
    } catch (const CLasException&) {
        r.failed = true;
    }
}

}  // namespace

void DecodeByteStreamsAt(const uint8_t* data, std::size_t size, DecodeRequest* requests, std::size_t count) {
    // Pairs of similar length, so the pair's loop runs two streams most of
    // its way.
    std::vector<DecodeRequest*> order(count);
    for (std::size_t i = 0; i < count; ++i) order[i] = &requests[i];
    std::sort(order.begin(), order.end(), [](const DecodeRequest* a, const DecodeRequest* b) {
        return a->length > b->length;
    });
    for (std::size_t i = 0; i < count; i += 2) {
        if (i + 1 == count) {
            DecodeAloneAt(data, size, *order[i]);
            continue;
        }
        try {
            DecodePairAt(data, size, *order[i], *order[i + 1]);
        } catch (const CLasException&) {
            // Which of the two is damaged: each on its own.
            DecodeAloneAt(data, size, *order[i]);
            DecodeAloneAt(data, size, *order[i + 1]);
        }
    }
}

}  // namespace bytestream
