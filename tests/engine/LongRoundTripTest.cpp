#include <gtest/gtest.h>

#include "EngineRoundTrip.h"
#include "LasGenerator.h"
#include "TestSupport.h"
#include "engine/ChunkPlan.h"
#include "engine/PointCodec.h"
#include "las/FileIo.h"

using testsupport::ReadAll;
using testsupport::TempDir;

namespace {

// Multi-chunk entries of every format: chunks of a million points and a
// large last one, each predicted afresh. The last of 5.8 million points is
// so large that its groups are coded one at a time, after chunks coded two
// groups at a time.
class LongRoundTrip : public ::testing::TestWithParam<std::tuple<int, uint64_t>> {};

TEST_P(LongRoundTrip, ComesBackIdentical) {
    const auto [format, points] = GetParam();
    TempDir dir;
    LasGenOptions o;
    o.points = points;
    o.format = format;
    o.seed = 11 + static_cast<uint64_t>(format);
    ASSERT_TRUE(GenerateLasFile(dir.File("in.las"), o));
    CPointCodec codec;
    const int64_t n = testsupport::CompressToFile(codec, dir.File("in.las"), dir.File("e"));
    EXPECT_EQ(n, FileSizeOf(dir.File("e")));
    EXPECT_EQ(codec.streamsTotal.load(),
              chunkplan::ChunkCount(static_cast<int64_t>(points)) * chunkplan::RowsPerChunk(format));
    testsupport::DecompressFromFile(codec, dir.File("e"), dir.File("out.las"));
    EXPECT_TRUE(ReadAll(dir.File("in.las")) == ReadAll(dir.File("out.las")));
}

INSTANTIATE_TEST_SUITE_P(Formats, LongRoundTrip,
                         ::testing::Combine(::testing::Values(0, 1, 2, 3),
                                            ::testing::Values(uint64_t{2000001}, uint64_t{5800000})));

}  // namespace
