#include <gtest/gtest.h>

#include "TestSupport.h"
#include "las/LasDigest.h"

using testsupport::TempDir;
using testsupport::WriteAll;

namespace {

std::vector<uint8_t> Bytes(std::size_t n) {
    std::vector<uint8_t> b(n);
    for (std::size_t i = 0; i < n; ++i) b[i] = static_cast<uint8_t>(i * 31 + 7);
    return b;
}

// However the bytes pass (twice over, out of order, with holes), the
// checksum is that of the whole file.
TEST(LasDigest, IsTheChecksumOfTheWholeFileHoweverItsBytesPass) {
    TempDir dir;
    const auto file = Bytes(5000);
    WriteAll(dir.File("a.las"), file);
    const uint64_t whole = CLasDigest::Of(file.data(), file.size());

    CLasDigest inOrder(dir.File("a.las"));
    inOrder.Take(0, file.data(), 1000);
    inOrder.Take(0, file.data(), 227);  // read again: no effect
    inOrder.Take(800, file.data() + 800, 4200);
    uint64_t sum = 0;
    ASSERT_TRUE(inOrder.Finish(5000, sum));
    EXPECT_EQ(sum, whole);

    // A hole is read from the file itself, and so is a tail never offered.
    CLasDigest holes(dir.File("a.las"));
    holes.Take(0, file.data(), 227);
    holes.Take(3000, file.data() + 3000, 1000);
    EXPECT_EQ(holes.BytesTaken(), 4000);
    ASSERT_TRUE(holes.Finish(5000, sum));
    EXPECT_EQ(sum, whole);

    CLasDigest written("");
    written.TakeNext(file.data(), 2500);
    written.TakeNext(file.data() + 2500, 2500);
    EXPECT_EQ(written.Value(), whole);
    EXPECT_EQ(written.BytesTaken(), 5000);

    // More bytes than the file was said to have: it changed meanwhile.
    CLasDigest grown(dir.File("a.las"));
    grown.Take(0, file.data(), 5000);
    EXPECT_FALSE(grown.Finish(4999, sum));
    // A file shorter than said cannot be finished either.
    CLasDigest shrunk(dir.File("a.las"));
    EXPECT_FALSE(shrunk.Finish(6000, sum));
}

}  // namespace
