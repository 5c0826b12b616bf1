#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "engine/ExtRans.h"
#include "las/Invariant.h"

// The symbols of one chunk of an extended entry, between the point models
// and the entropy coder. A model names a table (a small number that stands
// for one field in one context) for every symbol it puts; the sink counts
// what each table saw, and codes every symbol with the table made from those
// counts. Bits that no model can predict pass beside the symbols.
//
// Stored form of a chunk's symbols, in this order:
//   varint  bytes of the table section, the rANS stream, the bit stream
//   table section (a bit stream): the number of tables used (gamma), then
//           for each, in increasing order, the distance from the previous
//           one's number (gamma) and its counts (extrans::PutCounts)
//   rANS stream, bit stream
class CSymbolSink {
public:
    static constexpr bool kEncoding = true;

    explicit CSymbolSink(uint32_t tableCount) : tableCount(tableCount), compactOf(tableCount, kUnused) {}
    // Room for a chunk's symbols before the first is put. Room not used is
    // never touched.
    void Reserve(std::size_t n);
    // Each table gets a small number in order of first use, and its
    // symbols are counted as they come: coding indexes flat arrays, and the
    // counting fills the time the models wait for memory.
    [[gnu::always_inline]] void Sym(uint32_t table, uint32_t& symbol) {
        VELMORA_ASSERT(table < tableCount && symbol < 256);
        uint32_t compact = compactOf[table];
        if (compact == kUnused) compact = FirstUse(table);
        if (put == limit) Grow();
        const uint32_t packed = compact << 8 | symbol;
        *put++ = packed;
        ++counts[packed];
    }
    void Bits(uint64_t& value, unsigned n) { bits.Put(value, n); }
    // The sink as a loop over records puts symbols into it. Coding stores
    // nothing into the records, so nothing the sink holds need be copied
    // out of the compiler's way (see CSymbolSource::Local): the sink serves.
    class Local {
    public:
        static constexpr bool kEncoding = true;
        explicit Local(CSymbolSink& sink) : sink(sink) {}
        [[gnu::always_inline]] void Sym(uint32_t table, uint32_t& symbol) { sink.Sym(table, symbol); }
        void Bits(uint64_t& value, unsigned n) { sink.Bits(value, n); }

    private:
        CSymbolSink& sink;
    };
    // Codes everything put so far and appends it to out.
    void Finish(std::vector<uint8_t>& out);
    // About the bytes Finish would append for everything put so far (each
    // symbol at the information its table's counts give it, each table at
    // the codes of its counts), and forgets it: a look at whether symbols
    // are worth coding, at a fraction of Finish's cost where they use
    // thousands of tables.
    std::size_t EstimateAndForget();
    // Symbols put since the last Finish, and the tables they were put with.
    std::size_t Pending() const { return static_cast<std::size_t>(put - symbols.get()); }
    std::size_t TablesUsed() const { return used.size(); }

private:
    static constexpr uint32_t kUnused = ~0u;
    void Grow();
    // Drops the symbols put and the tables' numbers, as a new chunk starts.
    void Forget();
    uint32_t FirstUse(uint32_t table);
    uint32_t tableCount;
    // The symbols put, as compact table number << 8 | symbol: a buffer of
    // its own rather than a vector's push_back, which the compiler would not
    // inline at every one of the models' many calls. Finish puts the coded
    // words in their room.
    std::unique_ptr<uint32_t[]> symbols;
    uint32_t* put = nullptr;
    uint32_t* limit = nullptr;
    std::vector<uint32_t> compactOf;  // per table, kUnused until used; kept between chunks
    std::vector<uint32_t> used;       // table numbers, by compact number
    std::vector<uint32_t> counts;     // 256 per compact number
    extrans::BitWriter bits;
    // Finish's working memory, kept between chunks: memory a thread frees
    // may go back to the system, and each chunk would then pay for touching
    // it afresh.
    extrans::BitWriter section;
    extrans::Encoder rans;
    std::vector<uint32_t> order, codeAt;     // tables by number; compact number -> first symbol in code
    std::vector<std::size_t> alphabets;      // by compact number
    std::vector<extrans::EncodeSymbol> code;
};

class CSymbolSource {
public:
    static constexpr bool kEncoding = false;

    // Reads the tables and starts the streams of a chunk's symbols at p;
    // moves p past them. False when they are damaged. The streams are read
    // where they lie, so the bytes up to end must stay until the chunk is
    // decoded.
    bool Start(const uint8_t*& p, const uint8_t* end, uint32_t tableCount);

    // The source as a loop that writes records takes symbols from it: what
    // a symbol reads and changes copied into a local of the loop, so that
    // the bytes it stores cannot be taken by the compiler to change them,
    // and handed back when the loop is done.
    class Local {
    public:
        static constexpr bool kEncoding = false;
        explicit Local(CSymbolSource& source)
            : source(source), cursor(source.rans.Position()), tableAt(source.tableAt.data()),
              tables(source.tableAt.size()), slots(source.slots.data()) {}
        [[gnu::always_inline]] ~Local() {
            source.rans.MoveTo(cursor);
            source.damaged = source.damaged || damaged;
        }
        Local(const Local&) = delete;
        Local& operator=(const Local&) = delete;

        [[gnu::always_inline]] void Sym(uint32_t table, uint32_t& symbol) {
            const uint32_t at = table < tables ? tableAt[table] : kNone;
            if (at == kNone) {
                // A table the chunk never stored: the data is not what was written.
                damaged = true;
                symbol = 0;
                return;
            }
            symbol = cursor.Get(slots + at);
        }
        void Bits(uint64_t& value, unsigned n) { value = source.bits.Get(n); }

    private:
        CSymbolSource& source;
        extrans::Decoder::Cursor cursor;
        const uint32_t* tableAt;
        std::size_t tables;
        const uint32_t* slots;
        bool damaged = false;
    };

    void Sym(uint32_t table, uint32_t& symbol) { Local(*this).Sym(table, symbol); }
    void Bits(uint64_t& value, unsigned n) { value = bits.Get(n); }
    // True once every symbol and bit was read and the streams ended where
    // they should.
    bool Ended() const { return !damaged && rans.Ended() && !bits.Overrun(); }
    bool Damaged() const { return damaged || bits.Overrun(); }

private:
    static constexpr uint32_t kNone = ~0u;
    // Where each table's slots begin in slots; kNone for a table not stored.
    std::vector<uint32_t> tableAt;
    std::vector<uint32_t> slots;
    extrans::Decoder rans;
    extrans::BitReader bits;
    bool damaged = false;
};

// Little-endian base-128 numbers, for the lengths of a chunk's parts.
void PutVarint(std::vector<uint8_t>& out, uint64_t v);
bool GetVarint(const uint8_t*& p, const uint8_t* end, uint64_t& v);
