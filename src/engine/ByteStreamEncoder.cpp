#include <algorithm>
#include <optional>

#include "engine/ByteStreamCoder.h"
#include "engine/ByteStreamCore.h"
#include "engine/CpuDispatch.h"

namespace bytestream {

using namespace detail;

namespace {

// Collects bits most significant first into a 64-bit register and stores
// whole bytes; the byte being filled is always written at the end, so a
// stream ending on a byte boundary gets a whole zero byte of padding.
class BitWriter {
public:
    BitWriter(std::vector<uint8_t>& out, std::size_t maxBytes) : out_(out), start_(out.size()) {
        // Eight bytes of slack: every Put stores a whole 64-bit word.
        out_.resize(start_ + maxBytes + 8);
        p_ = out_.data() + start_;
    }
    // Appends the k (<= 32) low bits of value. The pending bits (fewer than
    // eight) and the new ones are stored as one big-endian word and the
    // whole bytes among them are passed: no branch on how many there are.
    void Put(uint32_t value, unsigned k) {
        acc_ = (acc_ << k) | value;
        filled_ += k;
        count_ += k;
        StoreBigEndian64(p_, filled_ ? acc_ << (64 - filled_) : 0);
        p_ += filled_ >> 3;
        filled_ &= 7;
    }
    void PutRepeated(uint32_t bit, std::size_t k) {
        for (; k >= 32; k -= 32) Put(bit ? 0xFFFFFFFFu : 0u, 32);
        if (k) Put(bit ? (1u << k) - 1 : 0u, static_cast<unsigned>(k));
    }
    std::size_t Count() const { return count_; }
    // The byte being filled is written even when empty.
    void Finish() {
        *p_++ = static_cast<uint8_t>(acc_ << (8 - filled_));
        out_.resize(static_cast<std::size_t>(p_ - out_.data()));
    }

private:
    static void StoreBigEndian64(uint8_t* p, uint64_t v) {
        v = __builtin_bswap64(v);
        std::memcpy(p, &v, 8);
    }

    std::vector<uint8_t>& out_;
    std::size_t start_;
    uint8_t* p_;
    uint64_t acc_ = 0;
    unsigned filled_ = 0;
    std::size_t count_ = 0;
};

// One stream being encoded: its model, its registers and its bits.
class Encoder {
public:
    Encoder(const uint8_t* data, std::size_t length, std::vector<uint8_t>& out)
        : data_(data), length_(length), out_(out) {
        uint16_t freq[256];
        BuildModel(data, length, freq);
        uint32_t cum = 0;
        const std::size_t countsAt = out.size();
        out.resize(countsAt + kCountBytes);
        for (int k = 0; k < 256; ++k) {
            lowOf_[k] = Premultiplied(cum);
            cum += freq[k];
            highOf_[k] = Premultiplied(cum);
            le::StoreU16(&out[countsAt + 2 * k], static_cast<uint16_t>(cum));
        }
        // A symbol costs at most 16 bits, the flush what the shifts left.
        bits_.emplace(out, 2 * length + 64);
    }

    std::size_t Length() const { return length_; }

    inline void Encode(std::size_t i) {
        BitWriter& bits = *bits_;
        const uint32_t range = high_ - low_ + 1;
        const uint32_t b = data_[i];
        uint32_t high = low_ + ScaledBound(range, highOf_[b]) - 1;
        uint32_t low = low_ + ScaledBound(range, lowOf_[b]);
        // The renormalisation shifts out, first, the leading bits on which
        // low and high agree (the first of them followed by the pending
        // opposite bits), then every step of the underflow case; after one
        // of those the top bits differ for good. Done in two strides, it
        // emits exactly the bits of the bit-by-bit loop. Shifts by zero are
        // harmless, so only the rare pending bits need a branch.
        const unsigned s1 = EqualTopBits(low, high);
        if (underflow_ != 0 && s1 != 0) {
            const uint32_t top = high >> 15;
            bits.Put(top, 1);
            bits.PutRepeated(top ^ 1, underflow_);
            underflow_ = 0;
            bits.Put((high >> (16 - s1)) & Ones(s1 - 1), s1 - 1);
        } else {
            bits.Put(static_cast<uint32_t>((uint64_t{high} << s1) >> 16), s1);
        }
        low = (low << s1) & kMask16;
        high = ((high << s1) | Ones(s1)) & kMask16;
        // Now low's top bit is 0 and high's is 1, so the underflow stride
        // needs no case for zero steps.
        const unsigned k = UnderflowSteps(low, high);
        underflow_ += k;
        low_ = (low << k) & 0x7FFF;
        high_ = (((high << k) | Ones(k)) & 0x7FFF) | kTop;
    }

    // The flush (the second bit of low, then the pending opposite bits),
    // the padding and the end marker.
    void Finish(std::size_t* emittedBits) {
        BitWriter& bits = *bits_;
        const uint32_t bit = (low_ & kSecond) ? 1 : 0;
        bits.Put(bit, 1);
        bits.PutRepeated(bit ^ 1, underflow_ + 1);
        if (emittedBits) *emittedBits = bits.Count();
        bits.Finish();
        out_.push_back(0xFF);
        out_.push_back(0xFF);
        out_.push_back(0x00);
    }

private:
    const uint8_t* data_;
    std::size_t length_;
    std::vector<uint8_t>& out_;
    uint64_t lowOf_[256], highOf_[256];  // premultiplied bounds
    std::optional<BitWriter> bits_;
    uint32_t low_ = 0, high_ = kMask16;
    std::size_t underflow_ = 0;
};

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
    Encoder e(data, length, out);
    for (std::size_t i = 0; i < length; ++i) e.Encode(i);
    e.Finish(emittedBits);
}

}  // namespace bytestream
