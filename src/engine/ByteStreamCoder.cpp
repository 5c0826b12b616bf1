#include "engine/ByteStreamCoder.h"

#include <cstring>

#include "engine/EngineMessages.h"
#include "engine/InputWindow.h"
#include "las/ByteOrder.h"
#include "las/LasException.h"

namespace bytestream {

namespace {

constexpr uint32_t kTop = 0x8000;
constexpr uint32_t kSecond = 0x4000;
constexpr uint32_t kMask16 = 0xFFFF;

// Collects bits most significant first; the byte being filled is always
// written at the end, so a stream ending on a byte boundary gets a whole
// zero byte of padding.
class BitWriter {
public:
    explicit BitWriter(std::vector<uint8_t>& out) : out_(out) {}
    void Put(uint32_t bit) {
        ++count_;
        cur_ = (cur_ << 1) | bit;
        if (++filled_ == 8) {
            out_.push_back(static_cast<uint8_t>(cur_));
            cur_ = 0;
            filled_ = 0;
        }
    }
    void Finish() { out_.push_back(static_cast<uint8_t>(cur_ << (8 - filled_))); }
    std::size_t Count() const { return count_; }

private:
    std::vector<uint8_t>& out_;
    uint32_t cur_ = 0;
    int filled_ = 0;
    std::size_t count_ = 0;
};

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

    BitWriter bits(out);
    uint32_t low = 0, high = kMask16;
    int32_t underflow = 0;
    for (std::size_t i = 0; i < length; ++i) {
        const uint32_t range = high - low + 1;
        const uint32_t b = data[i];
        high = (low + (range * highOf[b]) / kTotal - 1) & kMask16;
        low = (low + (range * lowOf[b]) / kTotal) & kMask16;
        for (;;) {
            if ((high & kTop) == (low & kTop)) {
                const uint32_t bit = (high & kTop) ? 1 : 0;
                bits.Put(bit);
                for (; underflow > 0; --underflow) bits.Put(bit ^ 1);
            } else if ((low & kSecond) && !(high & kSecond)) {
                ++underflow;
                low &= kSecond - 1;
                high |= kSecond;
            } else {
                break;
            }
            low = (low << 1) & kMask16;
            high = ((high << 1) | 1) & kMask16;
        }
    }
    // Flush: the second bit of low, then the pending opposite bits.
    const uint32_t bit = (low & kSecond) ? 1 : 0;
    bits.Put(bit);
    for (++underflow; underflow > 0; --underflow) bits.Put(bit ^ 1);
    if (emittedBits) *emittedBits = bits.Count();
    bits.Finish();

    out.push_back(0xFF);
    out.push_back(0xFF);
    out.push_back(0x00);
}

namespace {

// Reads bits most significant first through the window. The byte holding
// the last bit read is the one just before the window's position.
class BitReader {
public:
    explicit BitReader(InputWindow& in) : in_(in), p_(in.Data()), end_(in.Data()) {}
    uint32_t Bit() {
        if (left_ == 0) {
            if (p_ == end_) Refill();
            cur_ = *p_++;
            left_ = 8;
        }
        --left_;
        return (cur_ >> left_) & 1;
    }
    // Hands the bytes consumed so far back to the window.
    void Sync() {
        in_.Skip(static_cast<std::size_t>(p_ - in_.Data()));
        end_ = p_ = in_.Data();
    }

private:
    void Refill() {
        Sync();
        // A valid stream is always followed by its marker: running out of
        // file inside a stream means it is damaged.
        const std::size_t n = in_.Ensure(4096);
        if (n == 0) StreamNotFound();
        p_ = in_.Data();
        end_ = p_ + n;
    }

    InputWindow& in_;
    const uint8_t* p_ = nullptr;
    const uint8_t* end_ = nullptr;
    uint32_t cur_ = 0;
    int left_ = 0;
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

    BitReader bits(in);
    uint32_t code = 0;
    for (int i = 0; i < 16; ++i) code = (code << 1) | bits.Bit();
    uint32_t low = 0, high = kMask16;

    for (std::size_t i = 0; i < length; ++i) {
        const int32_t range = static_cast<int32_t>(high - low + 1);
        const int32_t count =
            ((static_cast<int32_t>(code) - static_cast<int32_t>(low) + 1) * static_cast<int32_t>(kTotal) - 1) /
            range;
        // Only a damaged stream lets the count fall outside the table.
        if (count < 0 || count >= static_cast<int32_t>(kTotal)) StreamNotFound();
        const uint8_t k = symbolOf[count];
        out[i] = k;
        const uint32_t r = static_cast<uint32_t>(range);
        high = (low + (r * highOf[k]) / kTotal - 1) & kMask16;
        low = (low + (r * lowOf[k]) / kTotal) & kMask16;
        for (;;) {
            if ((low ^ high) & kTop) {
                if ((low & kSecond) && !(high & kSecond)) {
                    code ^= kSecond;
                    low &= kSecond - 1;
                    high |= kSecond;
                } else {
                    break;
                }
            }
            low = (low << 1) & kMask16;
            high = ((high << 1) | 1) & kMask16;
            code = ((code << 1) | bits.Bit()) & kMask16;
        }
    }
    bits.Sync();
    const int64_t next = FindStreamEnd(in, in.Position() - 1);
    in.Seek(next);
}

}  // namespace bytestream
