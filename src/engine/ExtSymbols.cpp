#include "engine/ExtSymbols.h"

#include <algorithm>
#include <cmath>


void PutVarint(std::vector<uint8_t>& out, uint64_t v) {
    while (v >= 0x80) {
        out.push_back(static_cast<uint8_t>(v | 0x80));
        v >>= 7;
    }
    out.push_back(static_cast<uint8_t>(v));
}

bool GetVarint(const uint8_t*& p, const uint8_t* end, uint64_t& v) {
    v = 0;
    for (unsigned shift = 0; shift < 64 && p < end; shift += 7) {
        const uint8_t b = *p++;
        v |= uint64_t(b & 0x7F) << shift;
        if (!(b & 0x80)) return true;
    }
    return false;
}

void CSymbolSink::Reserve(std::size_t n) {
    // The raw bits beside the symbols: an integer's three symbols carry at
    // most 52 of them, so three bytes a symbol is room enough.
    bits.Reserve(n * 3);
    const auto room = static_cast<std::size_t>(limit - symbols.get()), held = static_cast<std::size_t>(put - symbols.get());
    if (n <= room) return;
    // Default-initialised: the pages of room never used stay untouched.
    std::unique_ptr<uint32_t[]> more(new uint32_t[n]);
    if (held > 0) std::copy(symbols.get(), put, more.get());
    symbols = std::move(more);
    put = symbols.get() + held;
    limit = symbols.get() + n;
}

void CSymbolSink::Grow() { Reserve(std::max<std::size_t>(4096, 2 * static_cast<std::size_t>(limit - symbols.get()))); }

uint32_t CSymbolSink::FirstUse(uint32_t table) {
    const auto compact = static_cast<uint32_t>(used.size());
    compactOf[table] = compact;
    used.push_back(table);
    counts.resize(counts.size() + 256, 0);
    return compact;
}

void CSymbolSink::Finish(std::vector<uint8_t>& out) {
    uint32_t* const begin = symbols.get();
    const auto count = static_cast<std::size_t>(put - begin);
    extrans::PutGamma(section, uint64_t(used.size()) + 1);
    // The tables are stored in increasing order of their numbers.
    order.assign(used.begin(), used.end());
    std::sort(order.begin(), order.end());
    codeAt.assign(used.size(), 0);
    // A table's alphabet ends at its last symbol put. Room for every
    // table's code at once, so that it never moves while it grows (a move
    // holds it twice).
    alphabets.assign(used.size(), 256);
    std::size_t codes = 0;
    for (uint32_t c = 0; c < used.size(); ++c) {
        const uint32_t* own = counts.data() + std::size_t(c) * 256;
        while (own[alphabets[c] - 1] == 0) --alphabets[c];
        codes += alphabets[c];
    }
    code.clear();
    code.reserve(codes);
    uint32_t previous = 0;
    bool first = true;
    for (const uint32_t t : order) {
        extrans::PutGamma(section, uint64_t(t - (first ? 0 : previous + 1)) + 1);
        first = false;
        previous = t;
        const uint32_t c = compactOf[t];
        const uint32_t* own = counts.data() + std::size_t(c) * 256;
        const std::size_t alphabet = alphabets[c];
        const std::vector<uint32_t> tableCounts(own, own + alphabet);
        extrans::PutCounts(section, tableCounts);
        const std::vector<extrans::EncodeSymbol> symbolsOfTable = extrans::EncodeSymbols(extrans::MakeTable(tableCounts));
        codeAt[c] = static_cast<uint32_t>(code.size());
        code.insert(code.end(), symbolsOfTable.begin(), symbolsOfTable.end());
    }
    // The words take the room of the symbols they code, as those are used up.
    uint8_t* const top = reinterpret_cast<uint8_t*>(begin + count);
    auto codeOf = [this, begin](std::size_t i) -> const extrans::EncodeSymbol& {
        return code[codeAt[begin[i] >> 8] + (begin[i] & 0xFF)];
    };
    const uint8_t* const words = rans.PutBackwardsBelow(count, codeOf, top);
    const auto ransBytes = static_cast<std::size_t>(4 + (top - words));
    PutVarint(out, section.FinishedBytes());
    PutVarint(out, ransBytes);
    PutVarint(out, bits.FinishedBytes());
    out.reserve(out.size() + section.FinishedBytes() + ransBytes + bits.FinishedBytes());
    section.FinishInto(out);
    rans.FinishFrom(out, words, top);
    bits.FinishInto(out);
    Forget();
}

void CSymbolSink::Forget() {
    // Ready for the next chunk.
    for (const uint32_t t : used) compactOf[t] = kUnused;
    put = symbols.get();
    used.clear();
    counts.clear();
}

namespace {

// n log2 n, worked out once for the counts most tables hold.
double NLogN(uint64_t n) {
    static const std::vector<double> small = [] {
        std::vector<double> v(4096, 0);
        for (std::size_t i = 1; i < v.size(); ++i) v[i] = static_cast<double>(i) * std::log2(static_cast<double>(i));
        return v;
    }();
    return n < small.size() ? small[n] : static_cast<double>(n) * std::log2(static_cast<double>(n));
}

}  // namespace

std::size_t CSymbolSink::EstimateAndForget() {
    // Elias gamma takes 2 floor(log2 v) + 1 bits for v >= 1.
    auto gamma = [](uint64_t v) { return 2.0 * (63 - __builtin_clzll(v)) + 1; };
    // The table section as Finish writes it: the tables' number and gaps,
    // and each one's counts (as frequencies where those take fewer bits).
    double size = gamma(used.size() + 1);
    order.assign(used.begin(), used.end());
    std::sort(order.begin(), order.end());
    for (std::size_t k = 0; k < order.size(); ++k) size += gamma(order[k] - (k == 0 ? 0 : order[k - 1] + 1) + 1);
    for (uint32_t c = 0; c < used.size(); ++c) {
        const uint32_t* own = counts.data() + std::size_t(c) * 256;
        uint64_t total = 0;
        std::size_t alphabet = 0;
        for (std::size_t s = 0; s < 256; ++s) {
            total += own[s];
            if (own[s] != 0) alphabet = s + 1;
        }
        const double scale = total > extrans::kTotal ? static_cast<double>(extrans::kTotal) / static_cast<double>(total) : 1;
        // The symbols' information: the sum of n log2(total / n).
        size += gamma(alphabet) + 1 + NLogN(total);
        for (std::size_t s = 0; s < alphabet; ++s) {
            size += gamma(static_cast<uint64_t>(own[s] * scale) + 1) - NLogN(own[s]);
        }
    }
    // The rANS stream's four bytes of state, and the raw bits.
    const std::size_t estimate = static_cast<std::size_t>(size / 8) + 4 + bits.FinishedBytes();
    bits.Clear();
    Forget();
    return estimate;
}

bool CSymbolSource::Start(const uint8_t*& p, const uint8_t* end, uint32_t tableCount) {
    uint64_t sectionBytes = 0, ransBytes = 0, bitBytes = 0;
    if (!GetVarint(p, end, sectionBytes) || !GetVarint(p, end, ransBytes) || !GetVarint(p, end, bitBytes)) {
        return false;
    }
    const uint64_t room = static_cast<uint64_t>(end - p);
    if (sectionBytes > room || ransBytes > room - sectionBytes || bitBytes > room - sectionBytes - ransBytes) {
        return false;
    }
    extrans::BitReader section;
    section.Start(p, p + sectionBytes);
    uint64_t used = 0;
    if (!extrans::GetGamma(section, used) || used - 1 > tableCount) return false;
    tableAt.assign(tableCount, kNone);
    slots.clear();
    uint64_t next = 0;
    std::vector<uint32_t> counts;
    for (uint64_t i = 0; i + 1 < used; ++i) {
        uint64_t gap = 0;
        if (!extrans::GetGamma(section, gap) || next + gap - 1 >= tableCount) return false;
        const uint64_t t = next + gap - 1;
        if (!extrans::GetCounts(section, counts)) return false;
        // At most one per table (numbers only grow), so slots stay bounded.
        const extrans::Table table = extrans::MakeTable(counts);
        tableAt[t] = static_cast<uint32_t>(slots.size());
        slots.resize(slots.size() + extrans::DecodeWords(table));
        extrans::BuildDecodeSlots(table, slots.data() + tableAt[t]);
        next = t + 1;
    }
    if (section.Overrun()) return false;
    p += sectionBytes;
    if (!rans.Start(p, p + ransBytes, end)) return false;
    p += ransBytes;
    bits.Start(p, p + bitBytes);
    p += bitBytes;
    damaged = false;
    return true;
}
