// Tiled files: the copies' records, the header's counts, and whatever
// followed the points, moved behind the copies untouched.
#include <gtest/gtest.h>

#include <limits>

#include "LasFileView.h"
#include "LasGenerator.h"
#include "LasTiler.h"
#include "las/LasDigest.h"

using testsupport::ReadAll;
using testsupport::TempDir;

namespace {

constexpr std::size_t kLegacyCount = 107, kLegacyByReturn = 111, kScaleX = 131, kMaxX = 179, kMinX = 187;
constexpr std::size_t kPointCount = 247, kByReturn = 255;

// The copies hold the original's records, X shifted by the extent of the
// original's X, every other byte (extra bytes too) the same; after them come
// the original's bytes after its points, all of them.
void ExpectTiled(const LasFileView& in, const LasFileView& out, uint64_t copies, const std::string& what) {
    ASSERT_EQ(out.Count(), in.Count() * copies) << what;
    ASSERT_EQ(out.layout.offsetToPoints, in.layout.offsetToPoints) << what;
    const std::size_t r = in.layout.recordLength;
    int32_t lo = std::numeric_limits<int32_t>::max(), hi = std::numeric_limits<int32_t>::min();
    for (uint64_t i = 0; i < in.Count(); ++i) {
        lo = std::min(lo, le::LoadI32(in.Record(i)));
        hi = std::max(hi, le::LoadI32(in.Record(i)));
    }
    const int64_t shift = static_cast<int64_t>(hi) - lo + 1;
    for (uint64_t c = 0; c < copies; ++c) {
        for (uint64_t i = 0; i < in.Count(); ++i) {
            const uint8_t* a = in.Record(i);
            const uint8_t* b = out.Record(c * in.Count() + i);
            ASSERT_EQ(le::LoadI32(b), le::LoadI32(a) + shift * static_cast<int64_t>(c)) << what << " copy " << c;
            ASSERT_TRUE(std::equal(a + 4, a + r, b + 4)) << what << " copy " << c << " record " << i;
        }
    }
    // Header's fields before the counts, VLRs and gap: as they were.
    EXPECT_TRUE(std::equal(in.bytes.begin(), in.bytes.begin() + kLegacyCount, out.bytes.begin())) << what;
    EXPECT_TRUE(std::equal(in.bytes.begin() + in.layout.headerSize, in.bytes.begin() + in.layout.offsetToPoints,
                           out.bytes.begin() + in.layout.headerSize))
        << what;
    EXPECT_TRUE(std::equal(in.bytes.begin() + in.layout.PointsEnd(), in.bytes.end(),
                           out.bytes.begin() + out.layout.PointsEnd(), out.bytes.end()))
        << what << ": the bytes after the points";
    EXPECT_EQ(out.F64(kMinX), in.F64(kMinX)) << what;
    EXPECT_EQ(out.F64(kMaxX), in.F64(kMaxX) + in.F64(kScaleX) * shift * static_cast<double>(copies - 1)) << what;
}

TEST(LasTiler, ALas14FileKeepsItsEvlrsAndTailBehindTheCopies) {
    TempDir dir;
    LasGenOptions o;
    o.points = 2500;
    o.format = 7;
    o.versionMinor = 4;
    o.versionHeader = true;
    o.headerExtraBytes = 4;
    o.extraBytes = 10;
    o.evlrCount = 3;
    o.tailBytes = 9;
    ASSERT_TRUE(GenerateLasFile(dir.File("in.las"), o));
    ASSERT_EQ(TileLasFile(dir.File("in.las"), 3, dir.File("out.las")), TileResult::Done);
    const LasFileView in(dir.File("in.las")), out(dir.File("out.las"));
    ExpectTiled(in, out, 3, "1.4 format 7");
    EXPECT_EQ(out.layout.evlrCount, 3u);
    EXPECT_EQ(out.layout.evlrStart, static_cast<uint64_t>(out.layout.PointsEnd()));
    EXPECT_EQ(out.layout.legacyPointCount, 0u) << "formats 6-10 leave the 32-bit count at 0";
    for (int k = 0; k < 15; ++k) EXPECT_EQ(out.U64(kByReturn + 8 * k), 3 * in.U64(kByReturn + 8 * k)) << k;
    for (int k = 0; k < 5; ++k) EXPECT_EQ(out.U32(kLegacyByReturn + 4 * k), 0u) << k;
    // The extra bytes stay described, so the copies' are what they were.
    EXPECT_EQ(out.extraBytesVlr, in.extraBytesVlr);
}

// LAS 1.3 waveform data after the points moves with them; the legacy counts
// of a format 0-5 file in LAS 1.4 grow with the 64-bit ones.
TEST(LasTiler, WaveformDataAndLegacyCountsFollowTheCopies) {
    TempDir dir;
    LasGenOptions o;
    o.points = 1200;
    o.format = 5;
    o.versionMinor = 3;
    o.internalWaveform = true;
    o.tailBytes = 4;
    ASSERT_TRUE(GenerateLasFile(dir.File("w.las"), o));
    ASSERT_EQ(TileLasFile(dir.File("w.las"), 4, dir.File("w4.las")), TileResult::Done);
    const LasFileView w(dir.File("w.las")), w4(dir.File("w4.las"));
    ExpectTiled(w, w4, 4, "1.3 format 5");
    EXPECT_EQ(w4.layout.waveformStart, static_cast<uint64_t>(w4.layout.PointsEnd()));
    EXPECT_EQ(w4.layout.legacyPointCount, 4800u);

    o.format = 1;
    o.versionMinor = 4;
    o.versionHeader = true;
    o.internalWaveform = false;
    ASSERT_TRUE(GenerateLasFile(dir.File("l.las"), o));
    ASSERT_EQ(TileLasFile(dir.File("l.las"), 2, dir.File("l2.las")), TileResult::Done);
    const LasFileView l(dir.File("l.las")), l2(dir.File("l2.las"));
    ExpectTiled(l, l2, 2, "1.4 format 1");
    EXPECT_EQ(l2.layout.legacyPointCount, l2.layout.pointCount);
    for (int k = 0; k < 5; ++k) {
        EXPECT_EQ(l2.U32(kLegacyByReturn + 4 * k), l2.U64(kByReturn + 8 * k)) << k;
        EXPECT_EQ(l2.U32(kLegacyByReturn + 4 * k), 2 * l.U32(kLegacyByReturn + 4 * k)) << k;
    }
}

// A total past 32 bits: LAS 1.4 counts it in 64 and zeroes the older
// counts; older versions cannot count it, and nothing is written.
TEST(LasTiler, CountsPastThirtyTwoBits) {
    std::vector<uint8_t> header(375, 0);
    LasFileLayout l;
    l.versionMajor = 1;
    l.versionMinor = 4;
    l.headerSize = 375;
    l.offsetToPoints = 375;
    l.recordLength = 20;
    l.pointCount = (1ull << 31) + 5;
    l.fileSize = static_cast<int64_t>(375 + l.pointCount * 20);
    le::StoreU32(&header[kLegacyCount], static_cast<uint32_t>(l.pointCount));
    le::StoreU32(&header[kLegacyByReturn], static_cast<uint32_t>(l.pointCount));
    le::StoreU64(&header[kPointCount], l.pointCount);
    le::StoreU64(&header[kByReturn], l.pointCount);
    TileHeader(header.data(), l, 2, 100);
    EXPECT_EQ(le::LoadU64(&header[kPointCount]), 2 * l.pointCount);
    EXPECT_EQ(le::LoadU64(&header[kByReturn]), 2 * l.pointCount);
    EXPECT_EQ(le::LoadU32(&header[kLegacyCount]), 0u);
    EXPECT_EQ(le::LoadU32(&header[kLegacyByReturn]), 0u);

    // (Judged apart from tiling: a count let through by mistake would be
    // written, all of it.)
    LasFileLayout one = l;
    one.pointCount = 1;
    EXPECT_TRUE(TileCountFits(one, 1l << 32));
    one.pointCount = 5;
    EXPECT_FALSE(TileCountFits(one, 1l << 62)) << "wraps 64 bits";
    one.pointCount = 3;
    one.versionMinor = 2;
    one.headerSize = 227;
    EXPECT_TRUE(TileCountFits(one, 1431655765));
    EXPECT_FALSE(TileCountFits(one, 1431655766));
    EXPECT_FALSE(TileCountFits(one, 0));
    one.pointCount = 0;
    EXPECT_TRUE(TileCountFits(one, 1l << 40)) << "no points fit any count";

    TempDir dir;
    LasGenOptions o;
    o.points = 1;
    ASSERT_TRUE(GenerateLasFile(dir.File("one.las"), o));
    EXPECT_EQ(TileLasFile(dir.File("one.las"), 0, dir.File("none.las")), TileResult::CountOutOfRange);
    EXPECT_FALSE(std::filesystem::exists(dir.File("none.las")));
}

// Copies of no points are no points: the file comes back as it was, EVLRs
// and bounds included.
TEST(LasTiler, AFileOfNoPointsTilesToItself) {
    TempDir dir;
    LasGenOptions o;
    o.points = 0;
    o.format = 6;
    o.versionMinor = 4;
    o.evlrCount = 2;
    o.tailBytes = 3;
    ASSERT_TRUE(GenerateLasFile(dir.File("none.las"), o));
    // Bounds that are not zero, so that moving them shows.
    auto bytes = ReadAll(dir.File("none.las"));
    le::StoreF64(&bytes[kMaxX], 635100.0);
    le::StoreF64(&bytes[kMinX], 635000.0);
    testsupport::WriteAll(dir.File("none.las"), bytes);
    ASSERT_EQ(TileLasFile(dir.File("none.las"), 5, dir.File("none5.las")), TileResult::Done);
    EXPECT_EQ(ReadAll(dir.File("none5.las")), bytes);
}

// The benchmark's inputs are tiled from classic files: sizes and sums taken
// from the tiler before it knew LAS 1.4.
TEST(LasTiler, ClassicFilesTileToTheBytesTheyAlwaysDid) {
    struct Case {
        LasGenOptions options;
        long copies;
        std::size_t size;
        uint64_t xxh3;
    };
    LasGenOptions c;
    c.points = 1234, c.format = 1, c.seed = 8, c.vlrCount = 2, c.extraGapBytes = 3;
    LasGenOptions d;
    d.points = 900, d.format = 2, d.seed = 3, d.versionMinor = 0, d.vlrCount = 0;
    const Case cases[] = {{c, 3, 104072, 0x661EC203BCCDB10Full}, {d, 4, 93827, 0x1650C44A7C4A5694ull}};
    TempDir dir;
    for (const Case& k : cases) {
        ASSERT_TRUE(GenerateLasFile(dir.File("in.las"), k.options));
        ASSERT_EQ(TileLasFile(dir.File("in.las"), k.copies, dir.File("out.las")), TileResult::Done);
        const auto bytes = ReadAll(dir.File("out.las"));
        EXPECT_EQ(bytes.size(), k.size) << k.copies;
        EXPECT_EQ(CLasDigest::Of(bytes.data(), bytes.size()), k.xxh3) << k.copies;
    }
}

}  // namespace
