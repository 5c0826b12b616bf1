// The generator's files of formats 0-3 are pinned: golden entries and many
// tests were made from its exact bytes, so whatever it learns to write, what
// it wrote before must not move by a byte.
#include <gtest/gtest.h>

#include "LasGenerator.h"
#include "TestSupport.h"
#include "las/LasDigest.h"

using testsupport::ReadAll;
using testsupport::TempDir;

namespace {

struct Pinned {
    const char* what;
    LasGenOptions options;
    std::size_t size;
    uint64_t xxh3;
};

LasGenOptions Options(uint64_t points, int format, uint64_t seed, int versionMinor, int vlrs, int gap) {
    LasGenOptions o;
    o.points = points;
    o.format = format;
    o.seed = seed;
    o.versionMinor = versionMinor;
    o.vlrCount = vlrs;
    o.extraGapBytes = gap;
    return o;
}

LasGenOptions Defaults(uint64_t points) {
    LasGenOptions o;
    o.points = points;
    return o;
}

// Sizes and checksums taken from the generator before it knew more than
// formats 0-3 and the 227-byte header.
TEST(GeneratedLegacy, FilesOfFormatsZeroToThreeAreTheBytesTheyAlwaysWere) {
    const Pinned pinned[] = {
        {"defaults", Defaults(700), 24306, 0x2781F2E41A69E677ull},
        {"f0 1.0 no VLRs", Options(1000, 0, 61, 0, 0, 0), 20227, 0x3D86F8BA0577D2D5ull},
        {"f1 1.1 three VLRs", Options(1700, 1, 62, 1, 3, 0), 48106, 0xD1550AC95674C28Aull},
        {"f2 1.2 gap", Options(1300, 2, 63, 2, 1, 7), 34120, 0x0C53D189AC14B844ull},
        {"f3 1.3 refused by version", Options(40, 3, 9, 3, 2, 0), 1773, 0x3A2D334DB3BA50E4ull},
        {"f1 1.4 five VLRs", Options(66000, 1, 4, 4, 5, 3), 1848695, 0x018FDA6EF950E09Full},
        {"one point", Options(1, 2, 5, 2, 2, 0), 439, 0x17123B8CBF3A8130ull},
        {"no points", Options(0, 3, 5, 2, 1, 0), 313, 0x14B8912E54C0B906ull},
    };
    TempDir dir;
    for (const Pinned& p : pinned) {
        const std::string path = dir.File("p.las");
        ASSERT_TRUE(GenerateLasFile(path, p.options)) << p.what;
        const std::vector<uint8_t> bytes = ReadAll(path);
        EXPECT_EQ(bytes.size(), p.size) << p.what;
        EXPECT_EQ(CLasDigest::Of(bytes.data(), bytes.size()), p.xxh3) << p.what;
    }
}

// Files of the caller's own records, as the fixture makers write them.
TEST(GeneratedLegacy, RecordsWrittenByTheCallerAreFramedAsTheyAlwaysWere) {
    struct Case {
        int format;
        int versionMinor;
        int vlrs;
        int gap;
        std::size_t size;
        uint64_t xxh3;
    };
    const Case cases[] = {{0, 2, 2, 0, 1153, 0x0BB6FF568400FE16ull}, {3, 0, 1, 5, 1576, 0xD58628F6710666E4ull}, {1, 3, 0, 0, 1263, 0x0F86F30770DAFA6Cull}};
    TempDir dir;
    for (const Case& c : cases) {
        const std::size_t record = c.format == 0 ? 20 : c.format == 1 ? 28 : 34;
        const std::size_t n = 37;
        std::vector<uint8_t> records(n * record);
        for (std::size_t i = 0; i < records.size(); ++i) records[i] = static_cast<uint8_t>(i * 131 + i / 7);
        LasFileWriter w;
        const std::string path = dir.File("w.las");
        ASSERT_TRUE(w.Begin(path, Options(0, c.format, 1, c.versionMinor, c.vlrs, c.gap)));
        ASSERT_TRUE(w.Add(records.data(), 20) && w.Add(records.data() + 20 * record, n - 20) && w.Finish());
        const std::vector<uint8_t> bytes = ReadAll(path);
        EXPECT_EQ(bytes.size(), c.size) << "format " << c.format;
        EXPECT_EQ(CLasDigest::Of(bytes.data(), bytes.size()), c.xxh3) << "format " << c.format;
    }
}

}  // namespace
