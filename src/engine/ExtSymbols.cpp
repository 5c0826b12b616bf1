#include "engine/ExtSymbols.h"

namespace {

void PutGammaBits(extrans::BitWriter& out, uint64_t v) {
    unsigned n = 0;
    for (uint64_t t = v; t; t >>= 1) ++n;
    out.Put(0, n - 1);
    out.Put(1, 1);
    out.Put(v & ((uint64_t(1) << (n - 1)) - 1), n - 1);
}

bool GetGammaBits(extrans::BitReader& in, uint64_t& v) {
    unsigned zeros = 0;
    while (in.Get(1) == 0) {
        if (++zeros > 40 || in.Overrun()) return false;
    }
    v = (uint64_t(1) << zeros) | in.Get(zeros);
    return !in.Overrun();
}

}  // namespace

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

void CSymbolSink::Finish(std::vector<uint8_t>& out) {
    // Counts, per table, of every symbol put.
    std::vector<std::vector<uint32_t>> counts(tableCount);
    for (uint32_t packed : symbols) {
        auto& c = counts[packed >> 8];
        const uint32_t s = packed & 0xFF;
        if (c.size() <= s) c.resize(s + 1, 0);
        ++c[s];
    }
    extrans::BitWriter section;
    uint32_t used = 0;
    for (const auto& c : counts) used += c.empty() ? 0 : 1;
    PutGammaBits(section, uint64_t(used) + 1);
    std::vector<extrans::Table> tables(tableCount);
    uint32_t previous = 0;
    bool first = true;
    for (uint32_t t = 0; t < tableCount; ++t) {
        if (counts[t].empty()) continue;
        PutGammaBits(section, uint64_t(t - (first ? 0 : previous + 1)) + 1);
        first = false;
        previous = t;
        extrans::PutCounts(section, counts[t]);
        tables[t] = extrans::MakeTable(counts[t]);
    }
    extrans::Encoder rans;
    for (auto it = symbols.rbegin(); it != symbols.rend(); ++it) rans.Put(tables[*it >> 8], *it & 0xFF);
    const std::vector<uint8_t> sectionBytes = section.Finish();
    const std::vector<uint8_t> ransBytes = rans.Finish();
    const std::vector<uint8_t> bitBytes = bits.Finish();
    PutVarint(out, sectionBytes.size());
    PutVarint(out, ransBytes.size());
    PutVarint(out, bitBytes.size());
    out.insert(out.end(), sectionBytes.begin(), sectionBytes.end());
    out.insert(out.end(), ransBytes.begin(), ransBytes.end());
    out.insert(out.end(), bitBytes.begin(), bitBytes.end());
    symbols.clear();
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
    if (!GetGammaBits(section, used) || used - 1 > tableCount) return false;
    tables.clear();
    tables.resize(tableCount);
    uint64_t next = 0;
    std::vector<uint32_t> counts;
    for (uint64_t i = 0; i + 1 < used; ++i) {
        uint64_t gap = 0;
        if (!GetGammaBits(section, gap) || next + gap - 1 >= tableCount) return false;
        const uint64_t t = next + gap - 1;
        if (!extrans::GetCounts(section, counts)) return false;
        tables[t] = std::make_unique<extrans::DecodeTable>();
        tables[t]->Build(extrans::MakeTable(counts));
        next = t + 1;
    }
    if (section.Overrun()) return false;
    p += sectionBytes;
    if (!rans.Start(p, p + ransBytes)) return false;
    p += ransBytes;
    bits.Start(p, p + bitBytes);
    p += bitBytes;
    damaged = false;
    return true;
}
