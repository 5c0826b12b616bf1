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
    explicit WindowSource(InputWindow& in) : in_(in), p_(in.Data()) {}
    bool ReadCounts(uint8_t* dst) {
        const bool ok = in_.ReadExact(dst, kCountBytes);
        p_ = in_.Data();
        return ok;
    }
    int64_t Position() const { return in_.Position(); }
    // The next bytes of the stream: [first, first + n); n is 0 at the end.
    const uint8_t* More(std::size_t& n) {
        in_.Skip(static_cast<std::size_t>(p_ - in_.Data()));
        n = in_.Ensure(4096);
        p_ = in_.Data() + n;
        return in_.Data();
    }
    void Done() {
        in_.Skip(static_cast<std::size_t>(p_ - in_.Data()));
        p_ = in_.Data();
    }
    int ByteAt(int64_t offset) { return in_.ByteAt(offset); }
    void Seek(int64_t offset) { in_.Seek(offset); }

private:
    InputWindow& in_;
    const uint8_t* p_;  // end of what was handed out
};

class MemorySource {
public:
    MemorySource(const uint8_t* data, std::size_t size, std::size_t pos) : data_(data), size_(size), pos_(pos) {}
    bool ReadCounts(uint8_t* dst) {
        if (pos_ > size_ || size_ - pos_ < kCountBytes) return false;
        std::memcpy(dst, data_ + pos_, kCountBytes);
        pos_ += kCountBytes;
        return true;
    }
    int64_t Position() const { return static_cast<int64_t>(pos_); }
    const uint8_t* More(std::size_t& n) {
        n = size_ - pos_;
        const uint8_t* p = data_ + pos_;
        pos_ = size_;
        return p;
    }
    void Done() {}
    int ByteAt(int64_t offset) {
        return offset < 0 || offset >= static_cast<int64_t>(size_) ? -1 : data_[offset];
    }
    void Seek(int64_t offset) { pos_ = static_cast<std::size_t>(offset); }

private:
    const uint8_t* data_;
    std::size_t size_;
    std::size_t pos_;
};

// Reads bits most significant first, a 64-bit register at a time. Bits are
// loaded ahead of use, but only the bits consumed count: the byte holding the
// last consumed bit is where the end marker is sought.
template <class Source>
class BitReader {
public:
    explicit BitReader(Source& src) : src_(src) {}

    // The next k (0..16) bits.
    uint32_t Read(unsigned k) {
        if (avail_ < k) Refill(k);
        const uint32_t v = static_cast<uint32_t>((buf_ >> 1) >> (63 - k));
        buf_ <<= k;
        avail_ -= k;
        consumed_ += k;
        return v;
    }
    uint64_t Consumed() const { return consumed_; }

private:
    void Refill(unsigned need) {
        if (end_ - p_ >= 8) {
            // Eight bytes at once; only the whole bytes that fit are taken.
            uint64_t word;
            std::memcpy(&word, p_, 8);
            buf_ |= __builtin_bswap64(word) >> avail_;
            p_ += (63 - avail_) >> 3;
            avail_ |= 56;
            return;
        }
        while (avail_ <= 56) {
            if (p_ == end_) {
                std::size_t n = 0;
                p_ = src_.More(n);
                end_ = p_ + n;
                if (n == 0) break;
            }
            buf_ |= static_cast<uint64_t>(*p_++) << (56 - avail_);
            avail_ += 8;
        }
        // A valid stream is always followed by its marker: running out of
        // data inside a stream means it is damaged.
        if (avail_ < need) StreamNotFound();
    }

    Source& src_;
    const uint8_t* p_ = nullptr;
    const uint8_t* end_ = nullptr;
    uint64_t buf_ = 0;
    unsigned avail_ = 0;
    uint64_t consumed_ = 0;
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
        uint32_t prev = 0;
        for (int k = 0; k < 256; ++k) {
            highOf[k] = le::LoadU16(&counts[2 * k]);
            lowOf[k] = prev;
            if (highOf[k] < prev) StreamNotFound();
            prev = highOf[k];
        }
        if (prev != kTotal) StreamNotFound();
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
    explicit Decoder(Source& src) : src_(src), bits_(src) {
        uint8_t counts[kCountBytes];
        if (!src.ReadCounts(counts)) StreamNotFound();
        table_.Load(counts);
        // The most probable value. When it is very probable, the test for
        // it comes before the division: count < H and count >= L are, for
        // the integers involved, v * total <= H * range and v * total >
        // L * range, two multiplications off the decoder's serial chain.
        for (int k = 0; k < 256; ++k) {
            if (table_.highOf[k] - table_.lowOf[k] > table_.highOf[mps_] - table_.lowOf[mps_]) {
                mps_ = static_cast<uint8_t>(k);
            }
        }
        mpsFirst_ = table_.highOf[mps_] - table_.lowOf[mps_] >= kMpsFirst;
        codedStart_ = src.Position();
        code_ = bits_.Read(16);
    }

    inline uint8_t Next() {
        const uint32_t r = high_ - low_ + 1;
        const int32_t v = static_cast<int32_t>(code_) - static_cast<int32_t>(low_) + 1;
        uint8_t k;
        if (mpsFirst_ && v >= 1 && static_cast<uint32_t>(v) * kTotal <= r * table_.highOf[mps_] &&
            static_cast<uint32_t>(v) * kTotal > r * table_.lowOf[mps_]) {
            k = mps_;
        } else {
            const int32_t count = (v * static_cast<int32_t>(kTotal) - 1) / static_cast<int32_t>(r);
            // Only a damaged stream lets the count fall outside the table.
            if (static_cast<uint32_t>(count) >= kTotal) StreamNotFound();
            k = table_.symbolOf[count];
        }
        uint32_t high = low_ + ScaledBound(r, table_.highScaled[k]) - 1;
        uint32_t low = low_ + ScaledBound(r, table_.lowScaled[k]);
        // The same two strides as the encoder; in the underflow steps the
        // flipped second bit of code ends up as its top bit.
        const unsigned s1 = EqualTopBits(low, high);
        low = (low << s1) & kMask16;
        high = ((high << s1) | Ones(s1)) & kMask16;
        uint32_t code = ((code_ << s1) | bits_.Read(s1)) & kMask16;
        // Now low's top bit is 0 and high's is 1, so the underflow stride
        // needs no case for zero steps (only code's flip does).
        const unsigned u = UnderflowSteps(low, high);
        low = (low << u) & 0x7FFF;
        high = (((high << u) | Ones(u)) & 0x7FFF) | kTop;
        code = (((code << u) | bits_.Read(u)) & kMask16) ^ (u ? kTop : 0u);
        low_ = low;
        high_ = high;
        code_ = code;
        return k;
    }

    // Finds the end marker and moves the source to the next item.
    int64_t Finish() {
        src_.Done();
        const int64_t last = codedStart_ + static_cast<int64_t>((bits_.Consumed() - 1) / 8);
        const int64_t next = FindStreamEnd(src_, last);
        src_.Seek(next);
        return next;
    }

private:
    Source& src_;
    BitReader<Source> bits_;
    SymbolTable table_;
    int64_t codedStart_ = 0;
    uint32_t low_ = 0, high_ = kMask16, code_ = 0;
    uint8_t mps_ = 0;
    bool mpsFirst_ = false;
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

VELMORA_CPU_CLONES
void DecodeTwoByteStreamsAt(const uint8_t* data, std::size_t size, StreamRequest& a, StreamRequest& b) {
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

}  // namespace bytestream
