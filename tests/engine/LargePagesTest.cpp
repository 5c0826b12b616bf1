// The engine's memory for large arrays: blocks that share large pages must
// never overlap, and every block must hold what its size promises.
#include <gtest/gtest.h>

#include <cstdint>
#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

#include "engine/ByteStreamCoder.h"
#include "engine/ChunkColumns.h"
#include "engine/LargePages.h"

namespace {

constexpr std::size_t kMiB = std::size_t{1} << 20;

struct Block {
    uint8_t* at;
    std::size_t bytes;
    uint8_t mark;
};

// Blocks of many sizes live at once, on both sides of every threshold and
// of sizes that leave shared pages part full, each filled over all the room
// it was promised: every one must still hold only its own mark.
TEST(LargePages, BlocksLiveSideBySideWithoutOverlapping) {
    const std::size_t sizes[] = {largepages::kFrom - 1, largepages::kFrom,       largepages::kFrom + 1, kMiB,
                                 kMiB + kMiB / 4 + 3,   2 * kMiB - 1,            2 * kMiB,              2 * kMiB + 1,
                                 5 * kMiB + 12345,      largepages::kFrom / 2 + 7, 3 * kMiB / 2};
    std::vector<Block> blocks;
    uint8_t mark = 1;
    for (int round = 0; round < 3; ++round) {
        for (std::size_t bytes : sizes) {
            const std::size_t room = largepages::Mapped(bytes);
            ASSERT_GE(room, bytes);
            auto* at = static_cast<uint8_t*>(largepages::Take(room));
            std::memset(at, mark, room);
            blocks.push_back({at, room, mark++});
        }
        // Some go back between rounds, so later blocks fill the holes.
        for (std::size_t i = round; i < blocks.size(); i += 3) {
            largepages::Give(blocks[i].at, blocks[i].bytes);
            blocks[i].at = nullptr;
        }
    }
    for (const Block& b : blocks) {
        if (!b.at) continue;
        std::size_t wrong = 0;
        for (std::size_t k = 0; k < b.bytes; ++k) wrong += b.at[k] != b.mark;
        EXPECT_EQ(wrong, 0u) << "block of " << b.bytes << " bytes, mark " << int(b.mark);
    }
    for (const Block& b : blocks) largepages::Give(b.at, b.bytes);
}

// A size no address space holds is refused, not wrapped into a small block
// that the caller would then write past.
TEST(LargePages, AnImpossibleSizeIsRefusedWhole) {
    const std::size_t huge = static_cast<std::size_t>(-1) - 100;
    EXPECT_GE(largepages::Mapped(huge), huge);
    EXPECT_THROW(largepages::Take(huge), std::bad_alloc);
    CByteBuffer b;
    b.Append("abc", 3);
    EXPECT_THROW(b.Grow(huge), std::bad_alloc);
    // Its size and the growth together would wrap around.
    EXPECT_THROW(b.Grow(static_cast<std::size_t>(-1) - 1), std::bad_alloc);
    EXPECT_EQ(b.Size(), 3u);
}

// A buffer keeps its bytes as it grows, whichever kind of memory it moves
// between, and its room is all usable.
TEST(LargePages, AByteBufferKeepsItsBytesAcrossEveryGrowth) {
    CByteBuffer b;
    std::vector<uint8_t> expected;
    uint32_t seed = 7;
    const CByteBuffer::Use uses[] = {CByteBuffer::Use::Room, CByteBuffer::Use::Filled};
    for (int step = 0; step < 40; ++step) {
        const std::size_t n = (step % 5 + 1) * 97 * 1024 + step;
        uint8_t* at = b.Grow(n, uses[step % 2]);
        for (std::size_t k = 0; k < n; ++k) {
            seed = seed * 1103515245u + 12345u;
            at[k] = static_cast<uint8_t>(seed >> 24);
            expected.push_back(at[k]);
        }
    }
    ASSERT_EQ(b.Size(), expected.size());
    EXPECT_EQ(std::memcmp(b.Data(), expected.data(), expected.size()), 0);
}

// A chunk read for some fields first and then for all (its streams could
// not be decoded side by side) sizes the other columns later: those already
// restored must keep their values, and every column its own memory.
TEST(LargePages, ColumnsSizedLaterLeaveTheRestoredOnesAsTheyAre) {
    const std::size_t n = 300000;
    ChunkColumns c;
    c.format = 3;
    c.SizeArrays(n, 3, n, ChunkColumns::kXPart | ChunkColumns::kGpsPart);
    ASSERT_EQ(c.x.size(), n);
    ASSERT_TRUE(c.y.empty());
    for (std::size_t i = 0; i < n; ++i) {
        c.x[i] = static_cast<int32_t>(i * 7);
        c.gpsBits[i] = static_cast<int64_t>(i) << 20;
    }
    c.SizeArrays(n, 3, n);
    for (auto* v : {&c.y, &c.z}) std::fill(v->begin(), v->end(), -1);
    for (auto& col : c.rgb) std::fill(col.begin(), col.end(), 0xFFFF);
    std::fill(c.returnBits.begin(), c.returnBits.end(), 0xAB);
    std::size_t wrong = 0;
    for (std::size_t i = 0; i < n; ++i) {
        wrong += c.x[i] != static_cast<int32_t>(i * 7);
        wrong += c.gpsBits[i] != static_cast<int64_t>(i) << 20;
    }
    EXPECT_EQ(wrong, 0u);
    EXPECT_EQ(c.rgb[2].size(), n);
    EXPECT_EQ(c.returnBits[n - 1], 0xAB);
}

}  // namespace
