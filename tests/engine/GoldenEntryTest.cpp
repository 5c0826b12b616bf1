// The stored format frozen in fixtures: for small LAS inputs made for the
// purpose (tools/fixture_inputs_main.cpp), the exact entry bytes the encoder
// wrote when they were made. A round trip cannot see a change that alters
// the stored bytes identically in the encoder and the decoder; these can.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <set>

#include "EngineRoundTrip.h"
#include "LasGenerator.h"
#include "TestSupport.h"
#include "engine/ChunkColumns.h"
#include "engine/PointCodec.h"
#include "engine/ProcessorCode.h"

using testsupport::ReadAll;
using testsupport::TempDir;

namespace {

const std::filesystem::path kFixtures = VELMORA_FIXTURES_DIR;

// Every fixture, by what it pins down.
const char* const kNames[] = {
    // Coded entries of every point format, with and without VLRs and gaps.
    "gen_f0", "gen_f1", "gen_f2", "gen_f3",
    // Raw entries, and tiny ones coded because their gap takes the marker.
    "raw_f0", "raw_f1", "raw_f2", "raw_f3", "gap_f3_2", "gap_f1_5",
    // Random record bytes: large residuals everywhere.
    "random_f3",
    // Magnitudes at 255/256, 65,535/65,536, 16,777,215/16,777,216 and the
    // extremes in X, both GPS halves, point source, intensity and red.
    "value_lengths",
    // Matches exactly 100 and 101 steps back; the Z vote decided by the
    // window's last pair or by the pair just outside it.
    "windows",
    // Several near matches in one group of eight steps.
    "lanes",
    // Each kind of scan direction change under the GPS time predictor.
    "gps_first_flag_0", "gps_first_flag_1",
};

// Where two byte strings first differ, for a readable failure.
std::string FirstDifference(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
    const auto m = std::mismatch(a.begin(), a.end(), b.begin(), b.end());
    return "sizes " + std::to_string(a.size()) + " and " + std::to_string(b.size()) + ", first difference at " +
           std::to_string(m.first - a.begin());
}

class GoldenEntry : public ::testing::TestWithParam<const char*> {};

// Runs f with a codec set to each of `codes` (mixes of the versions of the
// hot loops this processor runs), with one thread and with two; f gets the
// codec and a description for its messages.
template <class F>
void ForEachSetting(const std::vector<ProcessorCode>& codes, F f) {
    for (const ProcessorCode& code : codes) {
        for (int threads : {1, 2}) {
            CPointCodec codec;
            codec.SetThreadCount(threads);
            codec.UseProcessorCode(code);
            f(codec, code.Name() + ", " + std::to_string(threads) + " threads");
        }
    }
}

TEST_P(GoldenEntry, EncoderWritesTheFrozenBytes) {
    const std::string name = GetParam();
    const auto expected = ReadAll(kFixtures / (name + ".entry"));
    ASSERT_FALSE(expected.empty());
    TempDir dir;
    ForEachSetting(testsupport::EveryEncodingCode(), [&](CPointCodec& codec, const std::string& setting) {
        const int64_t n = testsupport::CompressToFile(codec, (kFixtures / (name + ".las")).string(), dir.File("e"));
        const auto entry = ReadAll(dir.File("e"));
        EXPECT_EQ(n, static_cast<int64_t>(entry.size()));
        EXPECT_TRUE(entry == expected) << name << ", " << setting << ": " << FirstDifference(entry, expected);
    });
}

// Decoding finds the places of the streams first and decodes them side by
// side, with one thread or with several.
TEST_P(GoldenEntry, FrozenEntryDecodesToItsInput) {
    const std::string name = GetParam();
    const auto original = ReadAll(kFixtures / (name + ".las"));
    TempDir dir;
    ForEachSetting(testsupport::EveryDecodingCode(), [&](CPointCodec& codec, const std::string& setting) {
        testsupport::DecompressFromFile(codec, (kFixtures / (name + ".entry")).string(), dir.File("back.las"));
        const auto back = ReadAll(dir.File("back.las"));
        EXPECT_TRUE(back == original) << name << ", " << setting << ": " << FirstDifference(back, original);
    });
}

INSTANTIATE_TEST_SUITE_P(Fixtures, GoldenEntry, ::testing::ValuesIn(kNames),
                         [](const ::testing::TestParamInfo<const char*>& info) { return std::string(info.param); });

TEST(GoldenEntries, EveryFixtureOnDiskIsChecked) {
    std::set<std::string> onDisk, listed(std::begin(kNames), std::end(kNames));
    for (const auto& e : std::filesystem::directory_iterator(kFixtures)) {
        if (e.path().extension() == ".las") onDisk.insert(e.path().stem().string());
    }
    EXPECT_EQ(onDisk, listed);
}

// FNV-1a, 64 bits: enough to tell one entry from another.
uint64_t Fingerprint(const std::vector<uint8_t>& bytes) {
    uint64_t h = 0xCBF29CE484222325ull;
    for (uint8_t b : bytes) h = (h ^ b) * 0x100000001B3ull;
    return h;
}

// A file of two chunks, the second one point larger than the first: too
// large to keep, so it is made here from simple patterns (cheap to code,
// so the test stays quick under the sanitizers), and it and its entry are
// pinned by fingerprint.
void WriteTwoChunkFile(const std::string& path) {
    const std::size_t n = 2000001, piece = 1 << 16;
    LasGenOptions layout;
    layout.format = 0;
    layout.vlrCount = 1;
    LasFileWriter w;
    ASSERT_TRUE(w.Begin(path, layout));
    ChunkColumns c;
    std::vector<uint8_t> records(piece * 20);
    for (std::size_t first = 0; first < n; first += piece) {
        const std::size_t k = std::min(piece, n - first);
        c.Resize(k, 0);
        for (std::size_t j = 0; j < k; ++j) {
            const std::size_t i = first + j;
            c.x[j] = static_cast<int32_t>(10 * (i % 5000));
            c.y[j] = static_cast<int32_t>(i / 5000);
            c.z[j] = static_cast<int32_t>((i * 7919) % 1201);
            c.intensity[j] = static_cast<uint16_t>(i % 61);
            c.returnBits[j] = static_cast<uint8_t>(0x09 | ((i / 5000) % 2) << 6);
            c.classification[j] = static_cast<uint8_t>(2 + i % 3);
            c.scanAngle[j] = static_cast<uint8_t>(i % 41);
            c.userData[j] = 0;
            c.pointSource[j] = static_cast<uint16_t>(1 + i / 1000000);
        }
        c.Gather(records.data(), 20, 0, k);
        ASSERT_TRUE(w.Add(records.data(), k));
    }
    ASSERT_TRUE(w.Finish());
}

TEST(GoldenEntries, TwoChunkEntryIsFrozenAndComesBack) {
    TempDir dir;
    WriteTwoChunkFile(dir.File("in.las"));
    const auto input = ReadAll(dir.File("in.las"));
    ASSERT_EQ(Fingerprint(input), 0xE4FC9E0A3990C880ull)
        << "the input's recipe changed: the entry below no longer applies";
    CPointCodec codec;
    testsupport::CompressToFile(codec, dir.File("in.las"), dir.File("e"));
    EXPECT_EQ(codec.streamsTotal.load(), 24);
    // The entry the encoder wrote before any of its loops were changed.
    EXPECT_EQ(Fingerprint(ReadAll(dir.File("e"))), 0xC7BA59D2C007941Full);
    testsupport::DecompressFromFile(codec, dir.File("e"), dir.File("back.las"));
    EXPECT_TRUE(ReadAll(dir.File("back.las")) == input);
}

}  // namespace
