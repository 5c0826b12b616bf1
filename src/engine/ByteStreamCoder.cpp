#include "engine/ByteStreamCoder.h"

#include <cstring>

#include "engine/CpuDispatch.h"
#include "engine/EngineMessages.h"
#include "engine/InputWindow.h"
#include "las/ByteOrder.h"
#include "las/LasException.h"

namespace bytestream {

namespace {

constexpr uint32_t kTop = 0x8000;
constexpr uint32_t kSecond = 0x4000;
constexpr uint32_t kMask16 = 0xFFFF;

// Collects bits most significant first into a 64-bit register and stores
// whole bytes; the byte being filled is always written at the end, so a
// stream ending on a byte boundary gets a whole zero byte of padding.
class BitWriter {
public:
    BitWriter(std::vector<uint8_t>& out, std::size_t maxBytes) : out_(out), start_(out.size()) {
        out_.resize(start_ + maxBytes);
        p_ = out_.data() + start_;
    }
    // Appends the k (<= 32) low bits of value.
    void Put(uint32_t value, unsigned k) {
        acc_ = (acc_ << k) | value;
        filled_ += k;
        count_ += k;
        while (filled_ >= 8) {
            filled_ -= 8;
            *p_++ = static_cast<uint8_t>(acc_ >> filled_);
        }
    }
    void PutRepeated(uint32_t bit, std::size_t k) {
        for (; k >= 32; k -= 32) Put(bit ? 0xFFFFFFFFu : 0u, 32);
        if (k) Put(bit ? (1u << k) - 1 : 0u, static_cast<unsigned>(k));
    }
    std::size_t Count() const { return count_; }
    void Finish() {
        *p_++ = static_cast<uint8_t>(acc_ << (8 - filled_));
        out_.resize(static_cast<std::size_t>(p_ - out_.data()));
    }

private:
    std::vector<uint8_t>& out_;
    std::size_t start_;
    uint8_t* p_;
    uint64_t acc_ = 0;
    unsigned filled_ = 0;
    std::size_t count_ = 0;
};

// Leading bits on which low and high agree (16 when they are equal).
inline unsigned EqualTopBits(uint32_t low, uint32_t high) {
    const uint32_t x = (low ^ high) & kMask16;
    return x == 0 ? 16u : static_cast<unsigned>(__builtin_clz(x)) - 16u;
}

// Steps of the middle-straddling (underflow) case in a row: positions from
// bit 14 down where low has a 1 and high a 0.
inline unsigned UnderflowSteps(uint32_t low, uint32_t high) {
    const uint32_t z = ~(low & ~high) & 0x7FFF;
    return z == 0 ? 15u : static_cast<unsigned>(__builtin_clz(z)) - 17u;
}

inline uint32_t Ones(unsigned k) { return (1u << k) - 1; }

[[noreturn]] void StreamNotFound() { throw CLasException(enginemsg::kStreamNotFound); }

}  // namespace

void BuildModel(const uint8_t* data, std::size_t length, uint16_t freq[256]) {
    uint64_t n[256] = {};
    for (std::size_t i = 0; i < length; ++i) ++n[data[i]];

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

VELMORA_CPU_CLONES
void EncodeByteStream(const uint8_t* data, std::size_t length, std::vector<uint8_t>& out,
                      std::size_t* emittedBits) {
    uint16_t freq[256];
    BuildModel(data, length, freq);
    uint32_t lowOf[256], highOf[256];
    uint32_t cum = 0;
    const std::size_t countsAt = out.size();
    out.resize(countsAt + kCountBytes);
    for (int k = 0; k < 256; ++k) {
        lowOf[k] = cum;
        cum += freq[k];
        highOf[k] = cum;
        le::StoreU16(&out[countsAt + 2 * k], static_cast<uint16_t>(cum));
    }

    // A symbol costs at most about 14 bits; the pending bits of the flush
    // are bounded by the shifts made.
    BitWriter bits(out, 2 * length + 64);
    uint32_t low = 0, high = kMask16;
    std::size_t underflow = 0;
    for (std::size_t i = 0; i < length; ++i) {
        const uint32_t range = high - low + 1;
        const uint32_t b = data[i];
        high = low + (range * highOf[b]) / kTotal - 1;
        low = low + (range * lowOf[b]) / kTotal;
        // The renormalisation shifts out, first, the leading bits on which
        // low and high agree (the first of them followed by the pending
        // opposite bits), then every step of the underflow case; after one
        // of those the top bits differ for good. Done in two strides, it
        // emits exactly the bits of the bit-by-bit loop.
        const unsigned s1 = EqualTopBits(low, high);
        if (s1) {
            const uint32_t top = high >> 15;
            bits.Put(top, 1);
            if (underflow) {
                bits.PutRepeated(top ^ 1, underflow);
                underflow = 0;
            }
            if (s1 > 1) bits.Put((high >> (16 - s1)) & Ones(s1 - 1), s1 - 1);
            low = (low << s1) & kMask16;
            high = ((high << s1) | Ones(s1)) & kMask16;
        }
        const unsigned k = UnderflowSteps(low, high);
        if (k) {
            underflow += k;
            low = (low << k) & 0x7FFF;
            high = (((high << k) | Ones(k)) & 0x7FFF) | kTop;
        }
    }
    // Flush: the second bit of low, then the pending opposite bits.
    const uint32_t bit = (low & kSecond) ? 1 : 0;
    bits.Put(bit, 1);
    bits.PutRepeated(bit ^ 1, underflow + 1);
    if (emittedBits) *emittedBits = bits.Count();
    bits.Finish();

    out.push_back(0xFF);
    out.push_back(0xFF);
    out.push_back(0x00);
}

namespace {

// Reads bits most significant first through the window, a 64-bit register
// at a time. Bits are loaded ahead of use, but only the bits consumed count:
// the byte holding the last consumed bit is where the end marker is sought.
class BitReader {
public:
    explicit BitReader(InputWindow& in) : in_(in), p_(in.Data()), end_(in.Data()) {}

    // The next k (1..16) bits.
    uint32_t Read(unsigned k) {
        if (avail_ < k) Refill(k);
        const uint32_t v = static_cast<uint32_t>(buf_ >> (64 - k));
        buf_ <<= k;
        avail_ -= k;
        consumed_ += k;
        return v;
    }
    uint64_t Consumed() const { return consumed_; }
    // Hands the bytes loaded so far back to the window.
    void Sync() {
        in_.Skip(static_cast<std::size_t>(p_ - in_.Data()));
        end_ = p_ = in_.Data();
    }

private:
    void Refill(unsigned need) {
        while (avail_ <= 56) {
            if (p_ == end_) {
                Sync();
                const std::size_t n = in_.Ensure(4096);
                p_ = in_.Data();
                end_ = p_ + n;
                if (n == 0) break;
            }
            buf_ |= static_cast<uint64_t>(*p_++) << (56 - avail_);
            avail_ += 8;
        }
        // A valid stream is always followed by its marker: running out of
        // file inside a stream means it is damaged.
        if (avail_ < need) StreamNotFound();
    }

    InputWindow& in_;
    const uint8_t* p_;
    const uint8_t* end_;
    uint64_t buf_ = 0;
    unsigned avail_ = 0;
    uint64_t consumed_ = 0;
};

// Where the next item begins, judged from the seven bytes around c, the
// offset of the byte that holds the last bit read.
int64_t FindStreamEnd(InputWindow& in, int64_t c) {
    int b[7];
    for (int k = -3; k <= 3; ++k) b[k + 3] = in.ByteAt(c + k);
    auto at = [&](int k) { return b[k + 3]; };
    auto marker = [&](int k) { return at(k) == 0xFF && at(k + 1) == 0xFF && at(k + 2) == 0x00; };
    if (marker(-3) && at(0) != 0xFF) return c;
    if (marker(-2) && at(1) != 0xFF) return c + 1;
    if (marker(-1)) return c + 2;
    if (marker(0)) return c + 3;
    if (marker(1)) return c + 4;
    StreamNotFound();
}

}  // namespace

VELMORA_CPU_CLONES
void DecodeByteStream(InputWindow& in, uint8_t* out, std::size_t length) {
    uint8_t counts[kCountBytes];
    if (!in.ReadExact(counts, sizeof counts)) StreamNotFound();

    // A table an encoder could have written rises to exactly the total;
    // anything else is damage, and decoding it could divide by zero.
    uint32_t highOf[256], lowOf[256];
    uint32_t prev = 0;
    for (int k = 0; k < 256; ++k) {
        highOf[k] = le::LoadU16(&counts[2 * k]);
        lowOf[k] = prev;
        if (highOf[k] < prev) StreamNotFound();
        prev = highOf[k];
    }
    if (prev != kTotal) StreamNotFound();
    uint8_t symbolOf[kTotal];
    for (int k = 0; k < 256; ++k) {
        if (highOf[k] > lowOf[k]) std::memset(symbolOf + lowOf[k], k, highOf[k] - lowOf[k]);
    }

    const int64_t codedStart = in.Position();
    BitReader bits(in);
    uint32_t code = bits.Read(16);
    uint32_t low = 0, high = kMask16;

    for (std::size_t i = 0; i < length; ++i) {
        const int32_t range = static_cast<int32_t>(high - low + 1);
        const int32_t count =
            ((static_cast<int32_t>(code) - static_cast<int32_t>(low) + 1) * static_cast<int32_t>(kTotal) - 1) /
            range;
        // Only a damaged stream lets the count fall outside the table.
        if (static_cast<uint32_t>(count) >= kTotal) StreamNotFound();
        const uint8_t k = symbolOf[count];
        out[i] = k;
        const uint32_t r = static_cast<uint32_t>(range);
        high = low + (r * highOf[k]) / kTotal - 1;
        low = low + (r * lowOf[k]) / kTotal;
        // The same two strides as the encoder; in the underflow steps the
        // flipped second bit of code ends up as its top bit.
        const unsigned s1 = EqualTopBits(low, high);
        if (s1) {
            low = (low << s1) & kMask16;
            high = ((high << s1) | Ones(s1)) & kMask16;
            code = ((code << s1) | bits.Read(s1)) & kMask16;
        }
        const unsigned u = UnderflowSteps(low, high);
        if (u) {
            low = (low << u) & 0x7FFF;
            high = (((high << u) | Ones(u)) & 0x7FFF) | kTop;
            code = (((code << u) | bits.Read(u)) & kMask16) ^ kTop;
        }
    }
    bits.Sync();
    const int64_t last = codedStart + static_cast<int64_t>((bits.Consumed() - 1) / 8);
    const int64_t next = FindStreamEnd(in, last);
    in.Seek(next);
}

}  // namespace bytestream
