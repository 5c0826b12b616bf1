#include "engine/ExtRans.h"

#include <algorithm>
#include <cstring>

#include "las/Invariant.h"

namespace extrans {

namespace {

// rANS state bounds: the state lives in [kLow, kLow << 16).
constexpr uint32_t kLow = 1u << 16;

unsigned BitLength(uint64_t v) { return v == 0 ? 0 : 64 - static_cast<unsigned>(__builtin_clzll(v)); }

}  // namespace

// Elias gamma code of v >= 1: the length in unary, then the bits below the
// leading one.
void PutGamma(BitWriter& out, uint64_t v) {
    const unsigned n = BitLength(v);
    out.Put(0, n - 1);
    out.Put(1, 1);
    out.Put(v & ((uint64_t(1) << (n - 1)) - 1), n - 1);
}

bool GetGamma(BitReader& in, uint64_t& v) {
    unsigned zeros = 0;
    while (in.Get(1) == 0) {
        if (++zeros > 40 || in.Overrun()) return false;
    }
    v = (uint64_t(1) << zeros) | in.Get(zeros);
    return !in.Overrun();
}

Table MakeTable(const std::vector<uint32_t>& counts) {
    Table t;
    t.freq.assign(counts.size(), 0);
    t.start.assign(counts.size(), 0);
    uint64_t total = 0;
    for (uint32_t c : counts) total += c;
    uint32_t sum = 0;
    std::size_t largest = 0;
    for (std::size_t s = 0; s < counts.size(); ++s) {
        if (counts[s] == 0) continue;
        const uint64_t f = uint64_t(counts[s]) * kTotal / total;
        t.freq[s] = static_cast<uint16_t>(std::max<uint64_t>(1, f));
        sum += t.freq[s];
        if (counts[s] > counts[largest]) largest = s;
    }
    // Rounding down leaves slots over; raising rare symbols to 1 may take
    // too many. Both are settled on the most frequent symbols, where a slot
    // more or less costs least.
    if (sum < kTotal) t.freq[largest] = static_cast<uint16_t>(t.freq[largest] + (kTotal - sum));
    while (sum > kTotal) {
        std::size_t most = 0;
        for (std::size_t s = 1; s < t.freq.size(); ++s) {
            if (t.freq[s] > t.freq[most]) most = s;
        }
        const uint32_t take = std::min<uint32_t>(sum - kTotal, t.freq[most] / 2);
        t.freq[most] = static_cast<uint16_t>(t.freq[most] - take);
        sum -= take;
    }
    uint32_t at = 0;
    for (std::size_t s = 0; s < t.freq.size(); ++s) {
        t.start[s] = static_cast<uint16_t>(at);
        at += t.freq[s];
    }
    return t;
}

void PutCounts(BitWriter& out, const std::vector<uint32_t>& counts) {
    std::size_t alphabet = counts.size();
    while (alphabet > 0 && counts[alphabet - 1] == 0) --alphabet;
    uint64_t total = 0;
    for (std::size_t s = 0; s < alphabet; ++s) total += counts[s];
    PutGamma(out, alphabet);
    // Counts that would take more bits than the frequencies they scale to
    // are replaced by those frequencies: the table comes out the same.
    const bool scaled = total > kTotal;
    out.Put(scaled ? 1 : 0, 1);
    const Table t = scaled ? MakeTable(std::vector<uint32_t>(counts.begin(), counts.begin() + alphabet)) : Table{};
    for (std::size_t s = 0; s < alphabet; ++s) {
        const uint32_t v = scaled ? t.freq[s] : counts[s];
        PutGamma(out, uint64_t(v) + 1);
    }
}

bool GetCounts(BitReader& in, std::vector<uint32_t>& counts) {
    uint64_t alphabet = 0, scaled = 0;
    if (!GetGamma(in, alphabet) || alphabet > kMaxAlphabet) return false;
    scaled = in.Get(1);
    counts.assign(alphabet, 0);
    uint64_t total = 0;
    for (auto& c : counts) {
        uint64_t v = 0;
        if (!GetGamma(in, v) || v - 1 > (scaled ? kTotal : 0xFFFFFFFFull)) return false;
        c = static_cast<uint32_t>(v - 1);
        total += c;
    }
    // Frequencies must add up to what they were scaled to; counts must be
    // there at all.
    if (total == 0 || (scaled && total != kTotal)) return false;
    return !in.Overrun();
}

EncodeSymbol EncodeSymbolOf(const Table& t, uint32_t symbol) {
    EncodeSymbol e;
    e.freq = t.freq[symbol];
    e.start = t.start[symbol];
    e.reciprocal = reciprocal::Of(e.freq);
    return e;
}

std::vector<EncodeSymbol> EncodeSymbols(const Table& t) {
    std::vector<EncodeSymbol> out(t.freq.size());
    for (std::size_t s = 0; s < t.freq.size(); ++s) out[s] = EncodeSymbolOf(t, static_cast<uint32_t>(s));
    return out;
}

void Encoder::Put(const Table& t, uint32_t symbol) { Put(EncodeSymbolOf(t, symbol)); }

void Encoder::FinishFrom(std::vector<uint8_t>& out, const uint8_t* from, const uint8_t* top) {
    VELMORA_ASSERT(words.empty());
    const uint8_t head[4] = {static_cast<uint8_t>(state >> 16), static_cast<uint8_t>(state >> 24),
                             static_cast<uint8_t>(state), static_cast<uint8_t>(state >> 8)};
    out.insert(out.end(), head, head + 4);
    out.insert(out.end(), from, top);
    state = kLow;
}

std::vector<uint8_t> Encoder::Finish() {
    // The words Put wrote, last first, as PutBackwardsBelow leaves them.
    std::vector<uint8_t> stream;
    stream.reserve(2 * words.size());
    for (auto it = words.rbegin(); it != words.rend(); ++it) {
        stream.push_back(static_cast<uint8_t>(*it));
        stream.push_back(static_cast<uint8_t>(*it >> 8));
    }
    words.clear();
    std::vector<uint8_t> out;
    FinishFrom(out, stream.data(), stream.data() + stream.size());
    return out;
}

void BuildDecodeSlots(const Table& t, uint32_t* words) {
    auto* bucket = reinterpret_cast<uint8_t*>(words);
    uint32_t* symbols = words + kBucketWords;
    const std::size_t alphabet = t.freq.size();
    for (std::size_t s = 0; s < alphabet; ++s) {
        symbols[s] = uint32_t(t.freq[s]) | uint32_t(t.start[s]) << 16;
        // The buckets whose first slot this symbol holds.
        const uint32_t first = (t.start[s] + (1u << kBucketBits) - 1) >> kBucketBits;
        for (uint32_t b = first; b << kBucketBits < uint32_t(t.start[s]) + t.freq[s]; ++b) {
            bucket[b] = static_cast<uint8_t>(s);
        }
    }
    symbols[alphabet] = kTotal << 16;
}

bool Decoder::Start(const uint8_t* begin, const uint8_t* e, const uint8_t* readable) {
    const auto n = static_cast<std::size_t>(e - begin);
    if (n < 4 || n % 2 != 0) return false;
    // A copy would hold a chunk's largest part twice.
    const uint8_t* at = begin;
    if (readable - e < 2) {
        stream.resize(n + 2);
        std::copy(begin, e, stream.begin());
        stream[n] = stream[n + 1] = 0;
        at = stream.data();
    }
    cursor.at = at + 4;
    cursor.end = at + n;
    cursor.state = uint32_t(at[0] | at[1] << 8) << 16 | uint32_t(at[2] | at[3] << 8);
    return cursor.state >= kLow;
}

void BitWriter::Put(uint64_t value, unsigned bits) {
    for (unsigned done = 0; done < bits;) {
        const unsigned n = std::min(bits - done, 64 - filled);
        const uint64_t part = (value >> done) & (n == 64 ? ~uint64_t(0) : ((uint64_t(1) << n) - 1));
        buffer |= part << filled;
        filled += n;
        done += n;
        if (filled == 64) {
            const std::size_t at = bytes.size();
            bytes.resize(at + 8);
            for (int i = 0; i < 8; ++i) bytes[at + static_cast<std::size_t>(i)] = static_cast<uint8_t>(buffer >> (8 * i));
            buffer = 0;
            filled = 0;
        }
    }
}

void BitWriter::FinishInto(std::vector<uint8_t>& out) {
    out.insert(out.end(), bytes.begin(), bytes.end());
    for (unsigned i = 0; i * 8 < filled; ++i) out.push_back(static_cast<uint8_t>(buffer >> (8 * i)));
    bytes.clear();
    buffer = 0;
    filled = 0;
}

std::vector<uint8_t> BitWriter::Finish() {
    std::vector<uint8_t> out;
    FinishInto(out);
    return out;
}

uint64_t BitReader::GetSlow(unsigned bits) {
    uint64_t value = 0;
    for (unsigned done = 0; done < bits;) {
        if (filled == 0) {
            if (p == end) {
                overrun = true;
                return value;
            }
            // Whole words where the stream has them, else a byte.
            if (end - p >= 8) {
                std::memcpy(&buffer, p, 8);
                p += 8;
                filled = 64;
            } else {
                buffer = *p++;
                filled = 8;
            }
        }
        const unsigned n = std::min(bits - done, filled);
        if (n == 64) {
            value = buffer;
            buffer = 0;
        } else {
            value |= (buffer & ((uint64_t(1) << n) - 1)) << done;
            buffer >>= n;
        }
        filled -= n;
        done += n;
    }
    return value;
}

}  // namespace extrans
