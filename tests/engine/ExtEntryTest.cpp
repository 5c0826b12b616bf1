// The extended entry: every LAS file comes back byte for byte, the stored
// bytes are pinned, and damaged entries fail without harm.
#include <gtest/gtest.h>

#include <malloc.h>
#include <zstd.h>

#include <algorithm>
#include <cstdio>
#include <exception>
#include <cstring>
#include <filesystem>
#include <random>

#include "AllocationProbe.h"
#include "ExtSynth.h"
#include "TestLas.h"
#include "TestSupport.h"
#include "engine/EngineMessages.h"
#include "engine/ExtEntry.h"
#include "engine/ExtPointModel.h"
#include "engine/ExtRans.h"
#include "engine/ExtSymbols.h"
#include "las/FileIo.h"
#include "las/LasException.h"
#include "las/LasLayout.h"

using testsupport::ReadAll;
using testsupport::TempDir;
using testsupport::WriteAll;
using Bytes = std::vector<uint8_t>;

namespace {

// The entry of a LAS file given as bytes; and where asked, the largest block
// of memory the coder took at once.
Bytes Encode(const Bytes& las, int threads = 0, std::size_t* largestBlock = nullptr) {
    TempDir dir;
    WriteAll(dir.File("in.las"), las);
    CFile in(dir.File("in.las"), "rb");
    const LasFileLayout layout = ReadLasLayout(las.data(), std::min(las.size(), kLasLayoutBytes),
                                               static_cast<int64_t>(las.size()));
    {
        CFile out(dir.File("out.entry"), "wb");
        std::exception_ptr failure;
        const std::size_t largest = testsupport::LargestAllocationDuring([&] {
            try {
                extentry::Compress(in, layout, out, {}, threads);
            } catch (...) {
                failure = std::current_exception();
            }
        });
        if (failure) std::rethrow_exception(failure);
        if (largestBlock) *largestBlock = largest;
    }
    return ReadAll(dir.File("out.entry"));
}

// Where an entry kept in parts goes on after its header block: past the
// marker, version, storage and file length, and the block (its length, then
// pieces of a codec byte, a length and the bytes).
const uint8_t* PastHeadBlock(const Bytes& entry) {
    const uint8_t* p = entry.data() + 3;
    const uint8_t* end = entry.data() + entry.size();
    uint64_t v = 0, head = 0;
    EXPECT_TRUE(GetVarint(p, end, v) && GetVarint(p, end, head));
    for (uint64_t done = 0; done < head && p < end; done += 16u << 20) {
        ++p;
        EXPECT_TRUE(GetVarint(p, end, v));
        p += v;
    }
    return p;
}

// The points a chunk of an entry kept in parts holds, as its description of
// the records says; and where it ends.
uint64_t ChunkPointsOf(const Bytes& entry, const uint8_t** after = nullptr) {
    const uint8_t* p = PastHeadBlock(entry);
    const uint8_t* end = entry.data() + entry.size();
    uint64_t v = 0, fields = 0;
    EXPECT_TRUE(GetVarint(p, end, v) && GetVarint(p, end, v) && GetVarint(p, end, fields));
    for (uint64_t f = 0; f < fields; ++f) {
        p += 2;
        EXPECT_TRUE(GetVarint(p, end, v) && GetVarint(p, end, v));
    }
    EXPECT_TRUE(GetVarint(p, end, v) && GetVarint(p, end, v));
    if (after) *after = p;
    return v;
}

// How the first chunks keep their records: the byte after each one's
// length, past the contexts byte.
std::vector<int> ChunkForms(const Bytes& entry, std::size_t chunks) {
    const uint8_t* p = nullptr;
    ChunkPointsOf(entry, &p);
    const uint8_t* const end = entry.data() + entry.size();
    ++p;
    std::vector<int> forms;
    for (uint64_t length = 0; forms.size() < chunks && GetVarint(p, end, length) && length > 0 &&
                              length <= static_cast<uint64_t>(end - p);
         p += length) {
        forms.push_back(*p);
    }
    EXPECT_EQ(forms.size(), chunks);
    return forms;
}
int FirstChunkForm(const Bytes& entry) {
    const std::vector<int> forms = ChunkForms(entry, 1);
    return forms.empty() ? -1 : forms[0];
}

// The LAS file an entry gives back (throws when it cannot).
Bytes Decode(const Bytes& entry, int threads = 0) {
    TempDir dir;
    WriteAll(dir.File("in.entry"), entry);
    CFile in(dir.File("in.entry"), "rb");
    Bytes las;
    extentry::Decompress(in, static_cast<int64_t>(entry.size()),
                         [&](const uint8_t* p, std::size_t n) { las.insert(las.end(), p, p + n); }, {}, threads);
    return las;
}

TEST(ExtRans, TablesAndSymbolsComeBackAsTheyWent) {
    std::mt19937 random(7);
    for (int round = 0; round < 50; ++round) {
        // Skewed alphabets of every size, counts small and large.
        const std::size_t alphabet = 1 + random() % 256;
        std::vector<uint32_t> counts(alphabet, 0);
        const uint32_t scale = round % 2 ? 3 : 100000;
        for (auto& c : counts) c = random() % 3 == 0 ? 0 : 1 + random() % scale;
        counts[random() % alphabet] = scale * 20;
        extrans::BitWriter w;
        extrans::PutCounts(w, counts);
        const Bytes stored = w.Finish();
        extrans::BitReader r;
        r.Start(stored.data(), stored.data() + stored.size());
        std::vector<uint32_t> back;
        ASSERT_TRUE(extrans::GetCounts(r, back));
        const extrans::Table a = extrans::MakeTable(counts), b = extrans::MakeTable(back);
        uint32_t sum = 0;
        for (std::size_t s = 0; s < alphabet; ++s) {
            EXPECT_EQ(a.freq[s] > 0, counts[s] > 0) << "a counted symbol must keep a slot";
            sum += a.freq[s];
        }
        EXPECT_EQ(sum, extrans::kTotal);
        EXPECT_EQ(std::vector<uint16_t>(b.freq.begin(), b.freq.begin() + static_cast<std::ptrdiff_t>(back.size())),
                  std::vector<uint16_t>(a.freq.begin(), a.freq.begin() + static_cast<std::ptrdiff_t>(back.size())));
        // Symbols drawn from the table come back, and the stream ends
        // exactly where it should.
        std::vector<uint32_t> symbols;
        for (int k = 0; k < 5000; ++k) {
            uint32_t s = static_cast<uint32_t>(random() % alphabet);
            while (a.freq[s] == 0) s = (s + 1) % static_cast<uint32_t>(alphabet);
            symbols.push_back(s);
        }
        extrans::Encoder e;
        for (auto it = symbols.rbegin(); it != symbols.rend(); ++it) e.Put(a, *it);
        const Bytes coded = e.Finish();
        std::vector<uint32_t> slots(extrans::DecodeWords(a));
        extrans::BuildDecodeSlots(a, slots.data());
        extrans::Decoder d;
        ASSERT_TRUE(d.Start(coded.data(), coded.data() + coded.size()));
        for (uint32_t s : symbols) ASSERT_EQ(d.Get(slots.data()), s);
        EXPECT_TRUE(d.Ended());
        // A stream cut short is read to its end and no further (the
        // sanitizer build sees a read past it), and does not end well; one
        // of an odd length is not a stream of words at all.
        const Bytes cut(coded.begin(), coded.end() - 2);
        ASSERT_TRUE(d.Start(cut.data(), cut.data() + cut.size()));
        for (std::size_t k = 0; k < symbols.size() + 64; ++k) d.Get(slots.data());
        EXPECT_FALSE(d.Ended());
        const Bytes odd(coded.begin(), coded.end() - 1);
        EXPECT_FALSE(d.Start(odd.data(), odd.data() + odd.size()));
    }
    // A table of one symbol takes every slot.
    const extrans::Table one = extrans::MakeTable({0, 0, 9});
    std::vector<uint32_t> slots(extrans::DecodeWords(one));
    extrans::BuildDecodeSlots(one, slots.data());
    extrans::Encoder e;
    for (int k = 0; k < 100; ++k) e.Put(one, 2);
    const Bytes coded = e.Finish();
    extrans::Decoder d;
    ASSERT_TRUE(d.Start(coded.data(), coded.data() + coded.size()));
    for (int k = 0; k < 100; ++k) ASSERT_EQ(d.Get(slots.data()), 2u);
    EXPECT_TRUE(d.Ended());
}

// The encoder's run of many symbols, whose words take the room of the
// symbols it reads as a chunk's do, writes exactly the words of putting them
// one by one: with frequencies of 1 (no reciprocal), of a whole table (never
// a word out) and between, from several tables in turn.
TEST(ExtRans, ARunOfSymbolsCodesAsTheyDoOneByOne) {
    std::mt19937 random(11);
    std::vector<std::vector<extrans::EncodeSymbol>> tables;
    tables.push_back(extrans::EncodeSymbols(extrans::MakeTable({0, 7})));                 // one symbol: 4096
    tables.push_back(extrans::EncodeSymbols(extrans::MakeTable({1000000, 1, 1, 1, 5})));  // frequencies of 1
    for (int t = 0; t < 3; ++t) {
        std::vector<uint32_t> counts(1 + random() % 256);
        for (auto& c : counts) c = 1 + random() % 1000;
        tables.push_back(extrans::EncodeSymbols(extrans::MakeTable(counts)));
    }
    for (const std::size_t n : {std::size_t{0}, std::size_t{1}, std::size_t{70000}, std::size_t{200001}}) {
        std::vector<const extrans::EncodeSymbol*> symbols(n);
        std::vector<uint32_t> held(n);  // table << 8 | symbol
        for (std::size_t i = 0; i < n; ++i) {
            const std::size_t t = random() % tables.size();
            do held[i] = static_cast<uint32_t>(t << 8 | random() % tables[t].size());
            while (tables[t][held[i] & 0xFF].freq == 0);
            symbols[i] = &tables[t][held[i] & 0xFF];
        }
        extrans::Encoder one, run;
        for (std::size_t i = n; i-- > 0;) one.Put(*symbols[i]);
        uint8_t* const top = reinterpret_cast<uint8_t*>(held.data() + n);
        const uint8_t* words = run.PutBackwardsBelow(
            n, [&](std::size_t i) -> const extrans::EncodeSymbol& { return tables[held[i] >> 8][held[i] & 0xFF]; },
            top);
        Bytes inPlace;
        run.FinishFrom(inPlace, words, top);
        EXPECT_EQ(inPlace, one.Finish()) << n << " symbols";
    }
}

// The grid's cells come from a multiplication that must give the quotient
// exactly, whatever the cell size a file's header leads to: numerators at
// both ends of 32 bits and around multiples of the divisor, divisors from 1
// to beyond 32 bits.
TEST(ExtModel, CellsAreTheExactQuotient) {
    std::mt19937_64 random(5);
    std::vector<uint64_t> divisors = {1, 2, 3, 5, 7, 10, 100, 641, 1000, 65535, 65536, 65537, 6700417,
                                      (1ull << 31) - 1, 1ull << 31, (1ull << 31) + 1, (1ull << 32) - 1,
                                      1ull << 32, (1ull << 32) + 1, 1ull << 40, ~0ull >> 1, ~0ull};
    for (int k = 0; k < 200; ++k) divisors.push_back(1 + random() % (k % 2 ? 0xFFFFFFFFull : 100000));
    for (const uint64_t d : divisors) {
        const CCellDivider divide(d);
        std::vector<uint64_t> numerators = {0, 1, 0xFFFFFFFFull, 0xFFFFFFFEull, 0x80000000ull, 0x7FFFFFFFull};
        for (uint64_t m = 1; m <= 3 && d <= 0xFFFFFFFFull; ++m) {
            if (m * d - 1 <= 0xFFFFFFFFull) numerators.push_back(m * d - 1);
            if (m * d <= 0xFFFFFFFFull) numerators.push_back(m * d);
        }
        if (d <= 0xFFFFFFFFull) {
            // The largest multiple below 2^32, and the number before it.
            const uint64_t top = 0xFFFFFFFFull / d * d;
            numerators.push_back(top);
            numerators.push_back(top - 1);
        }
        for (int k = 0; k < 200; ++k) numerators.push_back(random() & 0xFFFFFFFFull);
        for (const uint64_t n : numerators) ASSERT_EQ(divide(n), n / d) << n << " / " << d;
    }
}

// Every version of the grid's search finds the points the plain one finds:
// ties (points at the same distance, within a cell and across cells), empty
// cells and classes, and points so far apart that the squared distance
// passes 64 bits and wraps.
TEST(ExtModel, EverySearchOfTheGridFindsWhatThePlainOneFinds) {
    const std::vector<extgrid::Search>& versions = extgrid::Available();
    if (versions.size() < 2) GTEST_SKIP() << "this processor runs the plain search only";
    std::mt19937_64 random(11);
    const int32_t extremes[] = {INT32_MIN, INT32_MIN + 1, -1, 0, 1, INT32_MAX - 1, INT32_MAX};
    std::vector<extgrid::Slot> slots(9);
    std::array<const extgrid::Slot*, 9> cells{};
    for (int round = 0; round < 20000; ++round) {
        const int spread = round % 3;  // near, ties, far apart
        auto coordinate = [&]() -> int32_t {
            if (spread == 0) return static_cast<int32_t>(random() % 8);
            if (spread == 1) return static_cast<int32_t>(random() % 2) * 2;
            return extremes[random() % 7];
        };
        for (std::size_t o = 0; o < 9; ++o) {
            for (std::size_t t = 0; t < 4; ++t) {
                slots[o].point[t] = random() % 3 ? static_cast<uint32_t>(1 + random() % 1000) : 0;
                slots[o].x[t] = coordinate();
                slots[o].y[t] = coordinate();
            }
            cells[o] = random() % 4 ? &slots[o] : nullptr;
        }
        const int32_t x = coordinate(), y = coordinate();
        for (std::size_t tag = 0; tag < 4; ++tag) {
            uint32_t same = 0, any = 0;
            versions.front()(cells.data(), x, y, tag, same, any);
            for (std::size_t v = 1; v < versions.size(); ++v) {
                uint32_t sameV = ~0u, anyV = ~0u;
                versions[v](cells.data(), x, y, tag, sameV, anyV);
                ASSERT_EQ(sameV, same) << "version " << v << ", round " << round << ", class " << tag;
                ASSERT_EQ(anyV, any) << "version " << v << ", round " << round << ", class " << tag;
            }
        }
    }
}

// A sink given no room ahead grows as symbols come, keeping those it holds,
// and each chunk it codes starts with no table in use: the second chunk
// here uses tables the first numbered too, and others.
TEST(ExtSymbols, ASinkGrowsAndStartsEachChunkAfresh) {
    std::mt19937 random(3);
    constexpr uint32_t kTables = 50;
    CSymbolSink sink(kTables);
    for (const std::size_t n : {std::size_t{20000}, std::size_t{300}}) {
        std::vector<std::pair<uint32_t, uint32_t>> put;
        for (std::size_t i = 0; i < n; ++i) {
            const uint32_t table = n > 1000 ? random() % 40 : 30 + random() % 20;
            put.emplace_back(table, random() % (table + 1));
        }
        {
            // As the models put them: through one local view of the sink.
            CSymbolSink::Local local(sink);
            for (auto [table, symbol] : put) local.Sym(table, symbol);
        }
        std::vector<uint8_t> out;
        sink.Finish(out);
        CSymbolSource source;
        const uint8_t* p = out.data();
        ASSERT_TRUE(source.Start(p, out.data() + out.size(), kTables)) << n;
        for (const auto& [table, symbol] : put) {
            uint32_t got = 0;
            source.Sym(table, got);
            ASSERT_EQ(got, symbol) << n;
        }
        EXPECT_TRUE(source.Ended()) << n;
        EXPECT_EQ(p, out.data() + out.size()) << n;
    }
}

// A loop over records reads symbols through a local view of the source;
// where it stopped and what it found wrong must reach the source when the
// view is gone: the symbols end where they should, and a table the chunk
// never stored is damage.
TEST(ExtSymbols, ALocalViewHandsBackWhereItStoppedAndWhatItFound) {
    CSymbolSink sink(8);
    std::vector<uint32_t> put;
    for (uint32_t i = 0; i < 5000; ++i) {
        uint32_t symbol = i * 7 % 13;
        put.push_back(symbol);
        sink.Sym(2 + i % 3, symbol);
    }
    std::vector<uint8_t> out;
    sink.Finish(out);
    for (const bool askOther : {false, true}) {
        CSymbolSource source;
        const uint8_t* p = out.data();
        ASSERT_TRUE(source.Start(p, out.data() + out.size(), 8));
        {
            CSymbolSource::Local local(source);
            for (uint32_t i = 0; i < put.size(); ++i) {
                uint32_t got = 99;
                local.Sym(askOther && i == 100 ? 6 : 2 + i % 3, got);
                if (!askOther) {
                    ASSERT_EQ(got, put[i]) << i;
                }
            }
        }
        EXPECT_EQ(source.Ended(), !askOther) << askOther;
        EXPECT_EQ(source.Damaged(), askOther) << askOther;
    }
}

// Raw bits of every width, 0 to 64, read back across word and byte edges.
TEST(ExtRans, BitsOfEveryWidthComeBackAsTheyWent) {
    std::mt19937_64 random(11);
    std::vector<std::pair<uint64_t, unsigned>> put;
    extrans::BitWriter w;
    for (int k = 0; k < 3000; ++k) {
        const unsigned n = static_cast<unsigned>(random() % 65);
        const uint64_t v = n == 64 ? random() : random() & ((uint64_t(1) << n) - 1);
        w.Put(v, n);
        put.emplace_back(v, n);
    }
    const Bytes stored = w.Finish();
    extrans::BitReader r;
    r.Start(stored.data(), stored.data() + stored.size());
    for (const auto& [v, n] : put) ASSERT_EQ(r.Get(n), v) << n;
    EXPECT_FALSE(r.Overrun());
    r.Get(9);
    EXPECT_TRUE(r.Overrun()) << "reading past the end is seen";
}

// Files of every version and point format, with and without extra bytes,
// tails and longer headers, in the sizes that change how they are coded.
TEST(ExtEntry, EveryKindOfLasFileComesBackByteForByte) {
    for (uint8_t format = 0; format <= 10; ++format) {
        // Points enough for the finer contexts for a few formats only: the
        // coder is the same for all.
        std::vector<uint32_t> sizes = {0u, 1u, 999u};
        if (format == 1 || format == 7 || format == 10) sizes.push_back(20000u);
        for (const uint32_t points : sizes) {
            extsynth::Options o;
            o.format = format;
            o.versionMinor = format >= 6 ? 4 : format >= 4 ? 3 : 2;
            o.points = points;
            o.extraBytes = points % 2 ? 7 : 10;
            o.describeExtra = format % 2 == 0;
            o.tailBytes = format % 3 == 0 ? 300 : 0;
            o.headerExtra = format == 5 ? 3 : 0;
            o.seed = format * 31u + points;
            const Bytes las = extsynth::MakeLas(o);
            const Bytes entry = Encode(las);
            ASSERT_EQ(Decode(entry), las) << "format " << int(format) << ", " << points << " points";
            if (points == 20000) {
                EXPECT_LT(entry.size(), las.size() / 3) << "format " << int(format);
            }
        }
    }
    // A format no one has defined yet: its records are kept as bytes.
    extsynth::Options o;
    o.format = 1;
    Bytes las = extsynth::MakeLas(o);
    las[104] = 17;
    EXPECT_EQ(Decode(Encode(las)), las);
}

// Chunks coded side by side make the very bytes of chunks coded in turn, and
// damage in a chunk a second thread decodes is found as in the first.
TEST(ExtEntry, ThreadsChangeNothingButTheTime) {
    extsynth::Options o;
    o.format = 1;
    o.points = (1u << 18) * 2 + 1000;
    o.seed = 5;
    const Bytes las = extsynth::MakeLas(o);
    const Bytes one = Encode(las, 1);
    EXPECT_EQ(Encode(las, 3), one);
    EXPECT_EQ(Decode(one, 1), las);
    EXPECT_EQ(Decode(one, 2), las);
    Bytes damaged = one;
    damaged[damaged.size() * 3 / 5] ^= 0x10;  // inside the second of three chunks
    EXPECT_THROW(Decode(damaged, 3), CLasException);
    EXPECT_THROW(Decode(damaged, 1), CLasException);
}

TEST(ExtEntry, EveryRealFileComesBackByteForByte) {
    VELMORA_REQUIRE_CORPUS(corpus);
    std::vector<std::filesystem::path> files = testsupport::CorpusFiles();
    for (const auto& e : std::filesystem::directory_iterator(corpus + "/beyond")) files.push_back(e.path());
    int stored = 0;
    for (const auto& path : files) {
        // The largest file is for the speed work of the bench, not here.
        if (path.extension() != ".las" || std::filesystem::file_size(path) > (8u << 20)) continue;
        const Bytes las = ReadAll(path);
        try {
            ReadLasLayout(las.data(), std::min(las.size(), kLasLayoutBytes), static_cast<int64_t>(las.size()));
        } catch (const CLasException&) {
            continue;  // refused before anything is written; its own tests say why
        }
        EXPECT_EQ(Decode(Encode(las)), las) << path;
        ++stored;
    }
    EXPECT_GE(stored, 34);
}

// The stored bytes of one file of every point format, made once and kept
// (tests/engine/fixtures/ext_*.entry, written by this test with
// VELMORA_WRITE_EXT_FIXTURES=1): a change of the layout or of a model made
// alike in encoder and decoder shows here, and the decoder is held to the
// kept bytes whatever the encoder does. The entries of layout version 1
// (ext_v1_*.entry), which archives still hold, must give the same files.
// The thirteenth is a format no description knows, its records coded whole as
// bytes: the model's path for layouts of any other shape.
TEST(ExtEntry, GoldenEntriesOfEveryFormat) {
    const std::string folder = VELMORA_FIXTURES_DIR;
    const bool write = std::getenv("VELMORA_WRITE_EXT_FIXTURES") != nullptr;
    for (int format = 0; format <= 12; ++format) {
        extsynth::Options o;
        // The twelfth: format 7 with points enough for the finer contexts.
        o.format = static_cast<uint8_t>(format == 11 ? 7 : format == 12 ? 3 : format);
        o.versionMinor = o.format >= 6 ? 4 : o.format >= 4 ? 3 : 2;
        o.points = format == 11 ? 20000 : 1200;
        o.extraBytes = format % 3 == 0 ? 8 : 0;
        o.describeExtra = format % 2 == 0;
        o.tailBytes = format % 4 == 0 ? 100 : 0;
        o.seed = static_cast<uint64_t>(format) + 100;
        Bytes las = extsynth::MakeLas(o);
        if (format == 12) las[104] = 12;  // the point format
        const std::string name = folder + "/ext_" + std::to_string(format) + ".entry";
        if (write) WriteAll(name, Encode(las));
        ASSERT_TRUE(std::filesystem::exists(name)) << name;
        const Bytes kept = ReadAll(name);
        EXPECT_EQ(Encode(las), kept) << name;
        EXPECT_EQ(Decode(kept), las) << name;
        if (format == 12) continue;  // no entry of version 1 was kept
        const Bytes first = ReadAll(folder + "/ext_v1_" + std::to_string(format) + ".entry");
        ASSERT_EQ(first[1], 1) << format;
        EXPECT_EQ(Decode(first), las) << format;
    }
}

// A damaged entry may fail or give wrong bytes (the archive's checksum
// catches those), but never crash, hang or take memory without bound.
TEST(ExtEntry, DamagedEntriesFailWithoutHarm) {
    extsynth::Options o;
    o.format = 8;
    o.points = 1500;
    o.extraBytes = 9;
    o.describeExtra = true;
    o.tailBytes = 50;
    const Bytes las = extsynth::MakeLas(o);
    const Bytes good = Encode(las);
    int failed = 0;
    for (std::size_t at = 0; at < good.size(); at += 1 + at / 40) {
        for (const uint8_t mask : {uint8_t(0x01), uint8_t(0xFF)}) {
            Bytes bad = good;
            bad[at] ^= mask;
            try {
                Decode(bad);
            } catch (const CLasException& e) {
                EXPECT_TRUE(std::string(e.Message()) == enginemsg::kExtDamaged.text ||
                            std::string(e.Message()) == enginemsg::kExtNewer.text)
                    << e.Message();
                ++failed;
            }
        }
    }
    EXPECT_GT(failed, 0);
    for (std::size_t cut = 0; cut < good.size(); cut += 1 + cut / 20) {
        EXPECT_EQ(testsupport::MessageOf([&] { Decode(Bytes(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(cut))); }),
                  enginemsg::kExtDamaged.text)
            << cut;
    }
    Bytes newer = good;
    newer[1] = extentry::kVersion + 1;
    EXPECT_EQ(testsupport::MessageOf([&] { Decode(newer); }), enginemsg::kExtNewer.text);
    // No layout was ever numbered 0: such an entry is damaged, and not
    // read as one of the first layout, which it would pass for.
    Bytes none = ReadAll(std::string(VELMORA_FIXTURES_DIR) + "/ext_v1_0.entry");
    none[1] = 0;
    EXPECT_EQ(testsupport::MessageOf([&] { Decode(none); }), enginemsg::kExtDamaged.text);
    for (const Bytes* entry : std::initializer_list<const Bytes*>{&good, &none}) {
        TempDir box;
        WriteAll(box.File("e"), *entry);
        CFile in(box.File("e"), "rb");
        uint64_t length = 0;
        std::vector<uint8_t> head;
        EXPECT_EQ(extentry::ReadHead(in, static_cast<int64_t>(entry->size()), length, head), entry == &good);
    }

    // A length other than the archive's record of it is damage before any
    // byte is handed out.
    TempDir dir;
    WriteAll(dir.File("e"), good);
    for (const int64_t expected : {int64_t(las.size()) - 1, int64_t(las.size()), int64_t(las.size()) + 1}) {
        CFile in(dir.File("e"), "rb");
        std::size_t given = 0;
        const std::string message = testsupport::MessageOf([&] {
            extentry::Decompress(in, static_cast<int64_t>(good.size()),
                                 [&](const uint8_t*, std::size_t n) { given += n; }, {}, 1, expected);
        });
        EXPECT_EQ(message, expected == int64_t(las.size()) ? "" : enginemsg::kExtDamaged.text) << expected;
        EXPECT_EQ(given, expected == int64_t(las.size()) ? las.size() : 0u) << expected;
    }
}

// Records of thousands of extra bytes come back, without a table for every
// value of every byte, and in chunks of fewer of them: a byte coded byte by
// byte is a symbol, and a chunk of the points of shorter records would hold
// a hundred megabytes of them (and of tables for their values).
TEST(ExtEntry, LongRecordsKeepTheModelsSmall) {
    PointLayout wide = DescribePoints(1, 28 + 3000, {});
    ASSERT_EQ(wide.fields.back().size, 3000u);
    const CExtPointModel model(wide, 100, true);
    EXPECT_LT(model.TableCount(), 80000u);
    // Noise in the extra bytes, which would use every table there is.
    extsynth::Options o;
    o.format = 1;
    o.points = 17000;
    o.extraBytes = 1000;
    Bytes las = extsynth::MakeLas(o);
    std::mt19937 random(8);
    const std::size_t first = las.size() - std::size_t(o.points) * (28 + o.extraBytes);
    for (std::size_t at = first; at < las.size(); at += 28 + o.extraBytes) {
        for (std::size_t k = 28; k < 28 + o.extraBytes; ++k) las[at + k] = static_cast<uint8_t>(random());
    }
    std::size_t largest = 0;
    const Bytes entry = Encode(las, 2, &largest);
    EXPECT_LT(largest, std::size_t(32) << 20);
    EXPECT_EQ(Decode(entry), las);
}

// What a record can take, counted from its layout, holds for records of
// noise, which take nearly all of it: chunk sizes and the memory a job
// plans for rest on it.
TEST(ExtModel, NoRecordTakesMoreSymbolsThanItsLayoutSays) {
    std::mt19937_64 random(3);
    for (uint8_t format = 0; format <= 10; ++format) {
        for (const bool described : {false, true}) {
            extsynth::Options o;
            o.format = format;
            o.versionMinor = 4;
            o.points = 1;
            o.extraBytes = 14;
            o.describeExtra = described;
            const Bytes las = extsynth::MakeLas(o);
            const LasFileLayout file = ReadLasLayout(las.data(), kLasLayoutBytes, static_cast<int64_t>(las.size()));
            const Bytes head(las.begin(), las.begin() + static_cast<std::ptrdiff_t>(file.offsetToPoints));
            const PointLayout layout = DescribeFileRecords(file, head, 512);
            const auto extras = std::count_if(layout.fields.begin(), layout.fields.end(),
                                              [](const PointField& f) { return f.role == FieldRole::Extra; });
            ASSERT_EQ(extras, described ? 3 : 1) << int(format);
            const CExtPointModel::SymbolCount most = CExtPointModel::SymbolsAtMost(layout);
            CExtPointModel model(layout, 100, true);
            CSymbolSink sink(model.TableCount());
            const std::size_t n = 2000;
            Bytes records(n * layout.recordLength);
            for (auto& b : records) b = static_cast<uint8_t>(random());
            model.Code(sink, records.data(), n);
            EXPECT_LE(sink.Pending(), n * most.Total()) << int(format) << described;
            EXPECT_GE(sink.Pending(), n * (most.Total() - 1)) << int(format) << described;
        }
    }
}

// Every format's fields, with extra bytes and without, have a loop compiled
// for them; a set of fields no format has is coded by the loop that asks.
TEST(ExtModel, EveryFormatHasALoopCompiledForItsFields) {
    for (uint8_t format = 0; format <= 10; ++format) {
        for (const std::size_t extra : {0, 6}) {
            const PointLayout layout = DescribePoints(format, StandardLength(format) + extra);
            EXPECT_TRUE(CExtPointModel(layout, 100, false).Specialized()) << int(format) << ' ' << extra;
        }
    }
    // As a stored field list may have it: the user data byte as a byte of
    // no role.
    PointLayout noUserData = DescribePoints(1, 28);
    for (PointField& f : noUserData.fields) {
        if (f.role == FieldRole::UserData) f = {"byte", FieldRole::Extra, FieldType::Bytes, f.offset, 1, {}};
    }
    EXPECT_FALSE(CExtPointModel(noUserData, 100, false).Specialized());
}

// What a chunk's symbols would take, estimated without coding them, is near
// what coding them takes, for a survey's points and for noise; and the sink
// forgets them whole: what it codes next comes out as from a new sink.
TEST(ExtModel, AnEstimateOfTheCodedBytesIsNearThemAndForgetsTheSymbols) {
    std::mt19937_64 random(4);
    for (const bool noisy : {false, true}) {
        extsynth::Options o;
        o.format = 8;
        o.points = 20000;
        o.extraBytes = 40;
        Bytes las = extsynth::MakeLas(o);
        const LasFileLayout file = ReadLasLayout(las.data(), kLasLayoutBytes, static_cast<int64_t>(las.size()));
        uint8_t* const records = las.data() + file.offsetToPoints;
        if (noisy) std::generate(records, las.data() + las.size(), [&] { return static_cast<uint8_t>(random()); });
        const Bytes head(las.begin(), las.begin() + static_cast<std::ptrdiff_t>(file.offsetToPoints));
        const PointLayout layout = DescribeFileRecords(file, head, 512);
        CExtPointModel model(layout, 100, true);
        auto finished = [&](CSymbolSink& sink) {
            model.Code(sink, records, o.points);
            Bytes out;
            sink.Finish(out);
            return out;
        };
        CSymbolSink fresh(model.TableCount()), reused(model.TableCount());
        const Bytes coded = finished(fresh);
        model.Code(reused, records, o.points);
        const auto estimate = static_cast<double>(reused.EstimateAndForget());
        EXPECT_GT(estimate, 0.95 * static_cast<double>(coded.size())) << noisy;
        EXPECT_LT(estimate, 1.05 * static_cast<double>(coded.size())) << noisy;
        EXPECT_EQ(finished(reused), coded) << noisy;
    }
}

// Records of noise take four times the symbols a survey's do: a chunk of
// them gets as many points as its symbols leave room for, not the usual
// 262,144, so a coder's memory stays bounded.
TEST(ExtEntry, NoisyRecordsGetChunksTheirSymbolsFit) {
    extsynth::Options o;
    o.format = 10;
    o.versionMinor = 4;
    o.points = 200000;
    Bytes las = extsynth::MakeLas(o);
    std::mt19937 random(10);
    for (std::size_t at = las.size() - std::size_t(o.points) * 67; at < las.size(); ++at) {
        las[at] = static_cast<uint8_t>(random());
    }
    const Bytes entry = Encode(las, 1);
    // About 240 bytes of symbols a point, in 40 MiB.
    EXPECT_GT(ChunkPointsOf(entry), 150000u);
    EXPECT_LT(ChunkPointsOf(entry), 190000u);
    // Kept as they are: coded, they would take more.
    EXPECT_EQ(FirstChunkForm(entry), 1);
    EXPECT_LT(entry.size(), las.size() + 100);
    EXPECT_EQ(Decode(entry), las);
}

// Where a file's first points are noise, a chunk's first eighth is modelled
// before the chunk is, and a chunk whose eighth does not shrink is not
// modelled whole (modelling noise takes many times what zstd does); a chunk
// that shrinks is modelled still, and the entry does not depend on the
// threads.
TEST(ExtEntry, ChunksOfAFileThatStartsAsNoiseAreTriedOnTheirFirstEighth) {
    extsynth::Options o;
    o.format = 1;
    o.extraBytes = 8000;
    const std::size_t r = 28 + o.extraBytes, chunk = 524;
    o.points = 3 * chunk;
    Bytes las = extsynth::MakeLas(o);
    uint8_t* const first = las.data() + las.size() - std::size_t(o.points) * r;
    std::mt19937 random(12);
    auto noise = [&](std::size_t from, std::size_t to) {
        for (uint8_t* at = first + from * r; at < first + to * r; ++at) *at = static_cast<uint8_t>(random());
    };
    // The first chunk noise; the second noise for its first eighth, then
    // one record over and over, which the models too would have shrunk; the
    // third extra bytes that count up, point by point.
    noise(0, chunk + chunk / 8);
    for (std::size_t i = chunk + chunk / 8 + 1; i < 2 * chunk; ++i) std::copy_n(first + (i - 1) * r, r, first + i * r);
    for (std::size_t i = 2 * chunk; i < 3 * chunk; ++i) {
        for (std::size_t b = 28; b < r; ++b) first[i * r + b] = static_cast<uint8_t>(i + b);
    }
    const Bytes entry = Encode(las, 1);
    ASSERT_EQ(ChunkPointsOf(entry), chunk);
    EXPECT_EQ(ChunkForms(entry, 3), (std::vector<int>{1, 2, 0}));
    EXPECT_LT(entry.size(), las.size() / 2);
    EXPECT_EQ(Decode(entry), las);
    EXPECT_EQ(Encode(las, 2), entry);
}

// Chunks that keep their records as they are (form 1) or as a zstd frame
// (form 2), put together here byte by byte as the layout's documentation
// lays them out: the decoder reads them so, and another form, or a chunk
// that gives other than its points' records, is damage.
TEST(ExtEntry, ChunksKeptAsTheyAreOrAsZstdFrames) {
    extsynth::Options o;
    o.format = 1;
    o.points = 3000;
    const Bytes las = extsynth::MakeLas(o);
    const LasFileLayout l = ReadLasLayout(las.data(), kLasLayoutBytes, static_cast<int64_t>(las.size()));
    ASSERT_EQ(l.TailBytes(), 0);
    const std::size_t head = l.offsetToPoints, chunk = 1000 * l.recordLength;
    // forms: per chunk of 1,000 points; short: the second chunk holds one
    // record too few.
    auto build = [&](const std::vector<uint8_t>& forms, bool shortChunk = false) {
        Bytes e = {'X', 2, 1};
        PutVarint(e, las.size());
        PutVarint(e, head);
        e.push_back(0);
        PutVarint(e, head);
        e.insert(e.end(), las.begin(), las.begin() + static_cast<std::ptrdiff_t>(head));
        PutVarint(e, o.points);
        // One field of bytes, the record whole.
        PutVarint(e, l.recordLength);
        PutVarint(e, 1);
        e.push_back(24);
        e.push_back(10);
        PutVarint(e, 0);
        PutVarint(e, l.recordLength);
        PutVarint(e, 100);
        PutVarint(e, 1000);
        e.push_back(0);
        for (std::size_t k = 0; k < forms.size(); ++k) {
            const uint8_t* records = las.data() + head + k * chunk;
            const std::size_t n = chunk - (shortChunk && k == 1 ? l.recordLength : 0);
            Bytes body(records, records + n);
            if (forms[k] == 2) {
                body.resize(ZSTD_compressBound(n));
                body.resize(ZSTD_compress(body.data(), body.size(), records, n, 1));
            }
            PutVarint(e, 1 + body.size());
            e.push_back(forms[k]);
            e.insert(e.end(), body.begin(), body.end());
        }
        PutVarint(e, 0);  // no tail
        return e;
    };
    EXPECT_EQ(Decode(build({1, 2, 1})), las);
    EXPECT_EQ(Decode(build({2, 2, 2})), las);
    for (const Bytes& bad : {build({1, 3, 1}), build({1, 1, 1}, true), build({2, 2, 2}, true)}) {
        EXPECT_EQ(testsupport::MessageOf([&] { Decode(bad); }), enginemsg::kExtDamaged.text);
    }
}

// Records that repeat a few others whole, which the models code worse than
// a general-purpose coder does, are kept as such a coder keeps them.
TEST(ExtEntry, ChunksTheModelsCodeBadlyAreKeptOtherwise) {
    // 4.5 MB, past the size at which a file is also tried as one block.
    extsynth::Options o;
    o.format = 1;
    o.points = 20000;
    o.extraBytes = 200;
    Bytes las = extsynth::MakeLas(o);
    const std::size_t r = 28 + o.extraBytes, first = las.size() - std::size_t(o.points) * r;
    std::mt19937 random(11);
    Bytes kinds(7 * r);
    for (auto& b : kinds) b = static_cast<uint8_t>(random());
    for (std::size_t at = first; at < las.size(); at += r) {
        const auto kind = static_cast<std::ptrdiff_t>((random() % 7) * r);
        std::copy(kinds.begin() + kind, kinds.begin() + kind + static_cast<std::ptrdiff_t>(r),
                  las.begin() + static_cast<std::ptrdiff_t>(at));
    }
    const Bytes repeated = Encode(las, 1);
    EXPECT_EQ(FirstChunkForm(repeated), 2);
    EXPECT_LT(repeated.size(), las.size() / 20);
    EXPECT_EQ(Decode(repeated), las);
}

// A file of a quarter of a gigabyte before its points (a sparse file here)
// comes back a piece at a time: neither side holds the bytes before the
// points whole.
TEST(ExtEntry, AHugeHeadIsHandedOnAPieceAtATime) {
    TempDir dir;
    testsupport::LasBuild b;
    Bytes header = testsupport::BuildLas(b);
    const uint32_t offset = 256u << 20;
    for (int k = 0; k < 4; ++k) header[96 + k] = static_cast<uint8_t>(offset >> (8 * k));
    WriteAll(dir.File("gap.las"), header);
    std::filesystem::resize_file(dir.File("gap.las"), offset);
    const LasFileLayout layout = ReadLasLayout(header.data(), header.size(), offset);
    // Small blocks and the large ones the allocator maps on their own.
    auto inUse = [] {
        const struct mallinfo2 m = mallinfo2();
        return m.uordblks + m.hblkhd;
    };
    const std::size_t before = inUse();
    std::size_t most = 0;
    int64_t entryBytes = 0;
    {
        CFile in(dir.File("gap.las"), "rb");
        CFile out(dir.File("gap.entry"), "wb");
        extentry::Progress reading;
        reading.read = [&](int64_t, const uint8_t*, std::size_t) { most = std::max(most, inUse()); };
        entryBytes = extentry::Compress(in, layout, out, reading);
    }
    EXPECT_LT(entryBytes, 1 << 20);
    CFile entry(dir.File("gap.entry"), "rb");
    std::size_t given = 0;
    extentry::Decompress(entry, entryBytes,
                         [&](const uint8_t* p, std::size_t n) {
                             if (given == 0) {
                                 EXPECT_EQ(std::memcmp(p, header.data(), header.size()), 0);
                             }
                             given += n;
                             most = std::max(most, inUse());
                         },
                         {}, 1, offset);
    EXPECT_EQ(given, offset);
    // Under a sanitizer's allocator mallinfo2 may say nothing; then there is
    // nothing to compare.
    EXPECT_LT(most - std::min(most, before), std::size_t(64) << 20);
}

// The field list is read as the models need it: coordinates of another
// type than i32 (which the grid could not keep) make the entry damaged.
TEST(ExtEntry, CoordinatesOfAnotherTypeAreDamage) {
    extsynth::Options o;
    o.format = 1;
    o.points = 20000;
    const Bytes entry = Encode(extsynth::MakeLas(o));
    ASSERT_EQ(entry[2], 1) << "kept in parts";
    // Past the marker, version, storage and file length, the header block
    // (its length, then pieces of a codec byte, a length and the bytes),
    // the point count, R and the field count, to the first field: X.
    const uint8_t* p = PastHeadBlock(entry);
    const uint8_t* end = entry.data() + entry.size();
    uint64_t v = 0;
    for (int k = 0; k < 3; ++k) ASSERT_TRUE(GetVarint(p, end, v));
    const std::size_t xType = static_cast<std::size_t>(p - entry.data()) + 1;
    ASSERT_EQ(entry[xType - 1], 0) << "the role of X";
    ASSERT_EQ(entry[xType], 5) << "i32";
    EXPECT_EQ(Decode(entry), extsynth::MakeLas(o));
    Bytes unsignedX = entry;
    unsignedX[xType] = 4;  // u32, as wide
    EXPECT_EQ(testsupport::MessageOf([&] { Decode(unsignedX); }), enginemsg::kExtDamaged.text);
}

}  // namespace
