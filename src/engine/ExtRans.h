#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "engine/Reciprocal.h"

// The entropy coder of extended entries: range asymmetric numeral systems
// with static frequency tables, one table per context. A chunk's symbols are
// counted first, the tables are made from the counts and stored with the
// chunk, and the symbols are then coded; decoding needs no more than a table
// lookup per symbol, which keeps extraction fast.
//
// Symbols are coded in reverse (the decoder meets them in the order they
// were put), into a stream of 16-bit words read backwards; raw bits, which
// no table would shrink, go to a bit stream of their own.
namespace extrans {

// Frequencies of a table add up to this.
inline constexpr uint32_t kTotalBits = 12;
inline constexpr uint32_t kTotal = 1u << kTotalBits;
// Alphabets have at most this many symbols.
inline constexpr uint32_t kMaxAlphabet = 256;

struct Table {
    std::vector<uint16_t> freq;  // per symbol; 0 for a symbol never coded
    std::vector<uint16_t> start; // cumulative
};

// Scales counts to frequencies adding up to kTotal, every counted symbol
// keeping at least 1. counts must hold at least one non-zero count.
Table MakeTable(const std::vector<uint32_t>& counts);

class BitWriter;
class BitReader;
// Elias gamma code of v >= 1: the length in unary, then the bits below the
// leading one. GetGamma is false on damaged input.
void PutGamma(BitWriter& out, uint64_t v);
bool GetGamma(BitReader& in, uint64_t& v);
// Writes the counts a table is made from, compactly: both sides then make
// the same table from them. Small counts are written as they are; large
// ones as the frequencies they scale to, which is all a decoder needs.
void PutCounts(BitWriter& out, const std::vector<uint32_t>& counts);
// Reads them back as counts that make the same table; false on damaged
// input (no counted symbol, an alphabet larger than kMaxAlphabet).
bool GetCounts(BitReader& in, std::vector<uint32_t>& counts);

// A symbol as the encoder needs it: its frequency, first slot, and the
// reciprocal of its frequency, so a step multiplies instead of dividing.
struct EncodeSymbol {
    uint32_t freq = 0, start = 0;
    uint64_t reciprocal = 0;  // reciprocal::Of(freq)
};
EncodeSymbol EncodeSymbolOf(const Table& t, uint32_t symbol);
// One per symbol of the table's alphabet.
std::vector<EncodeSymbol> EncodeSymbols(const Table& t);

// Codes symbols, last first: Put them in reverse order of decoding.
class Encoder {
public:
    void Put(const Table& t, uint32_t symbol);
    void Put(const EncodeSymbol& e) {
        if (WordOut(state, e)) {
            words.push_back(static_cast<uint16_t>(state));
            state >>= 16;
        }
        state = Step(state, e);
    }
    // Puts n symbols, of(n - 1) first and of(0) last, where of(i) is the
    // EncodeSymbol of the i-th; the same words as Put of each in turn,
    // written down from top, two bytes each (the first to go out highest):
    // at most one a symbol, so a caller that held the symbols below top,
    // four bytes each, lets their room take the words as the symbols are
    // used up (a stream of their own would hold the coded bytes once more).
    // Without a branch a symbol: whether a word goes out follows the data,
    // which no predictor guesses, and a wrong guess costs more than the
    // step. The word is always stored and the end moved only when it goes
    // out. Returns where the words begin, for FinishFrom; the stream is
    // then in the order the decoder reads it.
    template <class Of>
    uint8_t* PutBackwardsBelow(std::size_t n, const Of& of, uint8_t* top) {
        uint32_t s = state;
        uint8_t* w = top;
        for (std::size_t i = n; i-- > 0;) {
            const EncodeSymbol& e = of(i);
            w[-2] = static_cast<uint8_t>(s);
            w[-1] = static_cast<uint8_t>(s >> 8);
            const bool out = WordOut(s, e);
            w -= 2 * static_cast<std::size_t>(out);
            s = Step(out ? s >> 16 : s, e);
        }
        state = s;
        return w;
    }
    // Appends what Finish gives for a stream whose words PutBackwardsBelow
    // left in [from, top), and starts afresh.
    void FinishFrom(std::vector<uint8_t>& out, const uint8_t* from, const uint8_t* top);
    // The words Put wrote, in the order the decoder reads them.
    std::vector<uint8_t> Finish();

private:
    // Whether a word goes out before e is coded, which keeps the state
    // below 2^32 after the step.
    static bool WordOut(uint32_t s, const EncodeSymbol& e) { return s >= (uint64_t(1) << (32 - kTotalBits)) * e.freq; }
    // The state once e is coded: with q = s / freq, (q << kTotalBits) +
    // (s - q * freq) + start, written with one step less after the
    // multiplication.
    static uint32_t Step(uint32_t s, const EncodeSymbol& e) {
        const auto q = static_cast<uint32_t>(reciprocal::Divide(s, e.reciprocal));
        return s + q * (kTotal - e.freq) + e.start;
    }
    uint32_t state = 1u << 16;
    std::vector<uint16_t> words;  // in writing order (reversed by Finish)
};

// The decoding side of one table, as 32-bit words: for each of 64 buckets
// of 64 slots, the symbol its first slot belongs to (a byte each, 16 words),
// then for each symbol of the alphabet its frequency (low 16 bits) and first
// slot (high 16), and one more word whose first slot is kTotal. A symbol is
// found from its bucket's first symbol, moving up while the next symbol
// starts at or below the slot: a table takes a few cache lines, not kTotal
// bytes, so the tables a chunk uses stay in the cache.
inline constexpr uint32_t kBucketBits = 6;
inline constexpr std::size_t kBucketWords = (kTotal >> kBucketBits) / 4;
inline std::size_t DecodeWords(const Table& t) { return kBucketWords + t.freq.size() + 1; }
void BuildDecodeSlots(const Table& t, uint32_t* words);

class Decoder {
public:
    // Where decoding stands: all a symbol changes. A caller decoding many
    // symbols between stores of bytes keeps a copy of its own in a local,
    // which the compiler may hold in registers (a store of a byte could
    // otherwise be a store into the decoder), and hands it back after.
    struct Cursor {
        const uint8_t* at = nullptr;
        const uint8_t* end = nullptr;
        uint32_t state = 0;

        [[gnu::always_inline]] uint32_t Get(const uint32_t* table) {
            const uint32_t slot = state & (kTotal - 1);
            uint32_t s = reinterpret_cast<const uint8_t*>(table)[slot >> kBucketBits];
            const uint32_t* symbols = table + kBucketWords;
            while ((symbols[s + 1] >> 16) <= slot) ++s;
            const uint32_t e = symbols[s];
            state = (e & 0xFFFF) * (state >> kTotalBits) + slot - (e >> 16);
            // Whether a word comes in follows the data, which no predictor
            // guesses: the next word is read every time and taken by
            // selection. The stream is a whole number of words with a word
            // readable after it (of the bytes it came with, or zeros), so a
            // damaged stream read past its end stays there, never reading
            // memory beyond.
            const uint32_t in = state < (1u << 16);
            const uint32_t word = static_cast<uint32_t>(at[0] | (at[1] << 8));
            // Shifts and masks rather than a choice, which the compiler may
            // make a branch.
            state = (state << (16 * in)) | (word & (0 - in));
            at += 2 * (in & (at != end));
            return s;
        }
    };

    // False when the stream cannot be one the encoder wrote: too short to
    // start, or of an odd length. The stream is read where it lies when at
    // least two bytes up to readable are there after it (a chunk's other
    // parts), and copied otherwise; either way it must outlive the decoding.
    bool Start(const uint8_t* begin, const uint8_t* end) { return Start(begin, end, end); }
    bool Start(const uint8_t* begin, const uint8_t* end, const uint8_t* readable);
    uint32_t Get(const uint32_t* table) { return cursor.Get(table); }
    const Cursor& Position() const { return cursor; }
    void MoveTo(const Cursor& c) { cursor = c; }
    // After the last symbol the state is back where the encoder began:
    // anything else means the stream was damaged.
    bool Ended() const { return cursor.state == (1u << 16) && cursor.at == cursor.end; }

private:
    // The stream's own copy where it has no word after it, with a zero
    // word after it; kept from chunk to chunk.
    std::vector<uint8_t> stream;
    Cursor cursor;
};

// Raw bits, least significant first within 64-bit words.
class BitWriter {
public:
    void Put(uint64_t value, unsigned bits);
    // Room for n more bytes, so that the stream never moves while it grows
    // (a move holds it twice); room not used is never touched.
    void Reserve(std::size_t n) { bytes.reserve(bytes.size() + n); }
    std::vector<uint8_t> Finish();
    void Clear() {
        bytes.clear();
        buffer = 0;
        filled = 0;
    }
    // The bytes Finish gives, and the same appended to out.
    std::size_t FinishedBytes() const { return bytes.size() + (filled + 7) / 8; }
    void FinishInto(std::vector<uint8_t>& out);

private:
    std::vector<uint8_t> bytes;
    uint64_t buffer = 0;
    unsigned filled = 0;
};

class BitReader {
public:
    void Start(const uint8_t* begin, const uint8_t* end) {
        p = begin;
        this->end = end;
        buffer = 0;
        filled = 0;
        overrun = false;
    }
    uint64_t Get(unsigned bits) {
        // Most reads are short and the buffer holds them.
        if (bits <= filled) {
            const uint64_t value = bits == 64 ? buffer : buffer & ((uint64_t(1) << bits) - 1);
            buffer = bits == 64 ? 0 : buffer >> bits;
            filled -= bits;
            return value;
        }
        return GetSlow(bits);
    }
    bool Overrun() const { return overrun; }

private:
    uint64_t GetSlow(unsigned bits);
    const uint8_t* p = nullptr;
    const uint8_t* end = nullptr;
    uint64_t buffer = 0;
    unsigned filled = 0;
    bool overrun = false;
};

}  // namespace extrans
