#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <functional>
#include <thread>
#include <unistd.h>

#include "EngineRoundTrip.h"
#include "LasGenerator.h"
#include "TestLas.h"
#include "TestSupport.h"
#include "engine/ByteStreamCoder.h"
#include "engine/ChunkColumns.h"
#include "engine/ChunkDecoder.h"
#include "engine/ChunkEncoder.h"
#include "engine/ChunkPlan.h"
#include "engine/ChunkRows.h"
#include "engine/EngineMessages.h"
#include "engine/InOrderWork.h"
#include "engine/InputWindow.h"
#include "engine/PointCodec.h"
#include "engine/ProcessorCode.h"
#include "engine/TaskPool.h"
#include "engine/ValueBlockCoder.h"
#include "las/FileIo.h"
#include "las/LasException.h"
#include "las/LasFile.h"
#include "las/LasMessages.h"

using testsupport::ReadAll;
using testsupport::TempDir;
using testsupport::WriteAll;

namespace {

TEST(ChunkPlan, ChunksAreAMillionWithALargeLastOne) {
    using chunkplan::ChunkCount;
    using chunkplan::ChunkSizes;
    EXPECT_EQ(ChunkSizes(1000), (std::vector<int64_t>{1000}));
    EXPECT_EQ(ChunkSizes(2000000), (std::vector<int64_t>{2000000}));
    EXPECT_EQ(ChunkSizes(2000001), (std::vector<int64_t>{1000000, 1000001}));
    EXPECT_EQ(ChunkSizes(3000000), (std::vector<int64_t>{1000000, 2000000}));
    EXPECT_EQ(ChunkSizes(5500000),
              (std::vector<int64_t>{1000000, 1000000, 1000000, 1000000, 1500000}));
    for (int64_t n : std::vector<int64_t>{1000, 2000000, 2000001, 3000000, 5500000, 4294967295LL}) {
        EXPECT_EQ(static_cast<std::size_t>(ChunkCount(n)), ChunkSizes(n).size()) << n;
    }
    EXPECT_EQ(ChunkCount(5500000) * chunkplan::RowsPerChunk(3), 80);
    EXPECT_EQ(chunkplan::RowsPerChunk(0), 12);
    EXPECT_EQ(chunkplan::RowsPerChunk(1), 13);
    EXPECT_EQ(chunkplan::RowsPerChunk(2), 15);
    EXPECT_EQ(chunkplan::RowsPerChunk(7), 12);
}

TEST(ChunkPlan, DefaultThreadsFollowTheCoresAsFarAsTheLargestChunkLeavesMemory) {
    using chunkplan::DefaultThreads;
    // Chunks of a million points leave room for four threads on any format.
    EXPECT_EQ(DefaultThreads(8, 1000000, 34), 4);
    EXPECT_EQ(DefaultThreads(8, 1500000, 28), 4);
    // A last chunk of two million format 3 points: two, as on the machine
    // where 121 MB was measured (three would pass 128 MB).
    EXPECT_EQ(DefaultThreads(8, 2000000, 34), 2);
    EXPECT_EQ(DefaultThreads(2, 2000000, 34), 2);
    // Never more than the cores, never none (an unknown core count is 0).
    EXPECT_EQ(DefaultThreads(1, 1000000, 20), 1);
    EXPECT_EQ(DefaultThreads(3, 1000, 20), 3);
    EXPECT_EQ(DefaultThreads(0, 1000000, 34), 1);
    EXPECT_EQ(DefaultThreads(64, 1000, 20), 4);
}

std::string Generate(const TempDir& dir, const std::string& name, uint64_t points, int format,
                     int vlrs = 3, int gap = 0) {
    LasGenOptions o;
    o.points = points;
    o.format = format;
    o.seed = points + static_cast<uint64_t>(format);
    o.vlrCount = vlrs;
    o.extraGapBytes = gap;
    const std::string path = dir.File(name);
    EXPECT_TRUE(GenerateLasFile(path, o));
    return path;
}

// Two groups a task up to one and a half chunks; above that one, and the
// second slot of every thread gives its memory back, so the largest chunk's
// job holds no second group's buffers.
TEST(ChunkPlan, TheLargestChunksGoOneGroupATaskAndFreeTheSecondSlots) {
    using chunkrows::GroupsPerTask;
    EXPECT_EQ(GroupsPerTask(1000), 2u);
    EXPECT_EQ(GroupsPerTask(1500000), 2u);
    EXPECT_EQ(GroupsPerTask(1500001), 1u);
    EXPECT_EQ(GroupsPerTask(2000000), 1u);
    constexpr int kThreads = 3;
    chunkrows::Scratch scratch[kThreads * chunkrows::kMostGroupsPerTask];
    auto fill = [&] {
        for (auto& s : scratch) s.pool[0].Append("abcd", 4);
    };
    fill();
    chunkrows::ReleaseUnusedSlots(scratch, kThreads, 1000000);
    for (const auto& s : scratch) EXPECT_EQ(s.pool[0].Size(), 4u);
    chunkrows::ReleaseUnusedSlots(scratch, kThreads, 2000000);
    for (std::size_t i = 0; i < std::size(scratch); ++i) {
        const bool second = i % chunkrows::kMostGroupsPerTask != 0;
        EXPECT_EQ(scratch[i].pool[0].Data() == nullptr, second) << "slot " << i;
        EXPECT_EQ(scratch[i].pool[0].Size(), second ? 0u : 4u) << "slot " << i;
    }
}

TEST(Driver, FewerThanAThousandPointsAreStoredRaw) {
    TempDir dir;
    const std::string las = Generate(dir, "a.las", 999, 1);
    CPointCodec codec;
    const int64_t n = testsupport::CompressToFile(codec, las, dir.File("e"));
    EXPECT_TRUE(codec.rawMode);
    const auto entry = ReadAll(dir.File("e"));
    const auto original = ReadAll(las);
    const int64_t vlrBytes = static_cast<int64_t>(original.size()) - 227 - 999 * 28;
    EXPECT_EQ(n, 232 + vlrBytes + 999 * 28);
    EXPECT_EQ(entry.size(), static_cast<std::size_t>(n));
    EXPECT_EQ(entry[0], 'O');
    testsupport::DecompressFromFile(codec, dir.File("e"), dir.File("b.las"));
    const auto back = ReadAll(dir.File("b.las"));
    EXPECT_EQ(back, original);
    EXPECT_EQ(back[0], 'L');
}

TEST(Driver, AThousandPointsAreOneCodedChunk) {
    TempDir dir;
    const std::string las = Generate(dir, "a.las", 1000, 0);
    CPointCodec codec;
    testsupport::CompressToFile(codec, las, dir.File("e"));
    EXPECT_FALSE(codec.rawMode);
    EXPECT_EQ(codec.streamsTotal.load(), 12);
    EXPECT_EQ(codec.streamsDone.load(), 0) << "reset at the end of the entry";
    const auto entry = ReadAll(dir.File("e"));
    EXPECT_EQ(entry[0], 'L');
    // After the head, row 1 (user data) begins with its count table.
    const auto original = ReadAll(las);
    const std::size_t head = 232 + (original.size() - 227 - 1000 * 20);
    EXPECT_EQ(entry[head + 510], 0x10);
    EXPECT_EQ(entry[head + 511], 0x27);
    testsupport::DecompressFromFile(codec, dir.File("e"), dir.File("b.las"));
    EXPECT_EQ(ReadAll(dir.File("b.las")), original);
    codec.ReleaseBuffers();
    EXPECT_EQ(codec.streamsTotal.load(), 0);
}

TEST(Driver, GapWithoutVlrsIsStoredAsAMarkedBlock) {
    TempDir dir;
    for (uint32_t points : {2u, 999u, 1500u}) {
        testsupport::LasBuild b;
        b.format = 3;
        b.gap = {9, 8, 7, 6, 5};
        b.points = points;
        WriteAll(dir.File("g.las"), testsupport::BuildLas(b));
        CPointCodec codec;
        testsupport::CompressToFile(codec, dir.File("g.las"), dir.File("e"));
        // Even a small file is coded: raw storage would take the marker byte.
        EXPECT_FALSE(codec.rawMode) << points;
        const auto entry = ReadAll(dir.File("e"));
        EXPECT_EQ(entry[0], 'V') << points;
        EXPECT_EQ(entry[100], 1) << "VLR count held as one";
        EXPECT_EQ(std::vector<uint8_t>(entry.begin() + 232, entry.begin() + 237), b.gap);
        testsupport::DecompressFromFile(codec, dir.File("e"), dir.File("b.las"));
        const auto back = ReadAll(dir.File("b.las"));
        EXPECT_EQ(back, ReadAll(dir.File("g.las"))) << points;
        EXPECT_EQ(back[100], 0) << "the file declares no VLRs again";
    }
}

TEST(Driver, GpsResidualsAreSplitIntoHighAndLowHalves) {
    // Times 100, 110, 120, 130, 125: at point 4 the prediction is
    // t(2) + 10 = 130, the residual -5: high half -1, low half -5.
    TempDir dir;
    testsupport::LasBuild b;
    b.format = 1;
    b.points = 1000;
    auto las = testsupport::BuildLas(b);
    for (int i = 0; i < 1000; ++i) {
        uint8_t* rec = &las[227 + 28 * i];
        rec[14] = 0;  // one scan direction throughout
        const int64_t t = i < 4 ? 100 + 10 * i : 125 + 10 * (i - 4);
        for (int k = 0; k < 8; ++k) rec[20 + k] = static_cast<uint8_t>(static_cast<uint64_t>(t) >> (8 * k));
    }
    WriteAll(dir.File("t.las"), las);
    CPointCodec codec;
    testsupport::CompressToFile(codec, dir.File("t.las"), dir.File("e"));
    // Walk the entry: head, 12 rows, then the two GPS blocks.
    CFile f(dir.File("e"), "rb");
    InputWindow in(f);
    in.Skip(232);
    std::vector<uint8_t> bytes(1000);
    std::vector<int32_t> values(1000);
    for (int row = 0; row < 12; ++row) {
        if (row == 4 || row >= 8) {
            valueblock::DecodeValueBlock(in, values.data(), 1000, ProcessorCode::Detected().decoder);
        } else {
            bytestream::DecodeByteStream(in, bytes.data(), 1000, ProcessorCode::Detected().decoder);
        }
    }
    std::vector<int32_t> high(1000), low(1000);
    valueblock::DecodeValueBlock(in, high.data(), 1000, ProcessorCode::Detected().decoder);
    valueblock::DecodeValueBlock(in, low.data(), 1000, ProcessorCode::Detected().decoder);
    EXPECT_EQ(high[0], 0);
    EXPECT_EQ(low[0], 100);
    EXPECT_EQ(low[1], 10);
    EXPECT_EQ(low[2], 20);
    EXPECT_EQ(low[3], 30);
    EXPECT_EQ(high[4], -1);
    EXPECT_EQ(low[4], -5);
    EXPECT_EQ(in.Position(), FileSizeOf(dir.File("e")));
    testsupport::DecompressFromFile(codec, dir.File("e"), dir.File("b.las"));
    EXPECT_EQ(ReadAll(dir.File("b.las")), las);
}

TEST(Driver, EveryFormatRoundTripsAroundTheRawLimit) {
    TempDir dir;
    CPointCodec codec;
    for (int format = 0; format <= 3; ++format) {
        for (uint64_t points : {999u, 1000u, 1001u}) {
            const std::string las = Generate(dir, "in.las", points, format);
            const int64_t n = testsupport::CompressToFile(codec, las, dir.File("e"));
            EXPECT_EQ(n, FileSizeOf(dir.File("e")));
            testsupport::DecompressFromFile(codec, dir.File("e"), dir.File("out.las"));
            EXPECT_TRUE(ReadAll(las) == ReadAll(dir.File("out.las")))
                << "format " << format << ", " << points << " points";
        }
    }
}

TEST(Driver, StreamsDecodedSideBySideGiveTheSameFile) {
    // Decoding side by side must accept ordinary entries (or it silently
    // costs the speed-up), with one thread and with several.
    TempDir dir;
    for (int format = 0; format <= 3; ++format) {
        for (uint64_t points : {1000u, 4321u, 30000u}) {
            const std::string las = Generate(dir, "in.las", points, format);
            CPointCodec codec;
            testsupport::CompressToFile(codec, las, dir.File("e"));
            codec.SetThreadCount(2);
            testsupport::DecompressFromFile(codec, dir.File("e"), dir.File("two.las"));
            EXPECT_EQ(codec.ParallelChunks(), 1) << "format " << format << ", " << points;
            codec.SetThreadCount(1);
            testsupport::DecompressFromFile(codec, dir.File("e"), dir.File("one.las"));
            EXPECT_EQ(codec.ParallelChunks(), 1) << "format " << format << ", " << points;
            const auto original = ReadAll(las);
            EXPECT_TRUE(ReadAll(dir.File("two.las")) == original) << "format " << format << ", " << points;
            EXPECT_TRUE(ReadAll(dir.File("one.las")) == original) << "format " << format << ", " << points;
        }
    }
}

// The window over an archive grows (to megabytes, for a chunk's streams)
// and slides; what it shows must be the file's bytes wherever it stands.
TEST(Driver, TheInputWindowShowsTheFileAsItGrowsAndSlides) {
    TempDir dir;
    std::vector<uint8_t> bytes(5u << 20);
    uint32_t s = 7;
    for (uint8_t& b : bytes) {
        s = s * 1664525u + 1013904223u;
        b = static_cast<uint8_t>(s >> 24);
    }
    WriteAll(dir.File("f"), bytes);
    CFile f;
    ASSERT_TRUE(f.Open(dir.File("f"), "rb"));
    InputWindow in(f);
    std::size_t pos = 0, rounds = 0;
    while (pos < bytes.size()) {
        s = s * 1664525u + 1013904223u;
        // Mostly small requests, now and then one of megabytes.
        const std::size_t n = (s >> 28) == 0 ? 1 + (s >> 8) % (3u << 20) : 1 + (s >> 8) % 5000;
        const std::size_t have = in.Ensure(n);
        ASSERT_EQ(have, std::min(n, bytes.size() - pos)) << pos;
        ASSERT_EQ(std::memcmp(in.Data(), bytes.data() + pos, have), 0) << pos << " " << n;
        if (pos >= 3) {
            EXPECT_EQ(in.ByteAt(static_cast<int64_t>(pos) - 3), bytes[pos - 3]) << pos;
        }
        EXPECT_EQ(in.ByteAt(static_cast<int64_t>(bytes.size())), -1);
        const std::size_t step = 1 + (s >> 4) % have;
        in.Skip(step);
        pos += step;
        EXPECT_EQ(in.Position(), static_cast<int64_t>(pos));
        ++rounds;
    }
    EXPECT_GT(rounds, 100u);
    EXPECT_EQ(in.Ensure(1), 0u);
}

// The one chunk of an entry without VLRs, decoded into c by d.
// With `another`, a chunk is said to follow, which no count table does:
// the streams are not found ahead, and the chunk is decoded stream after
// stream.
bool DecodeOnlyChunk(CChunkDecoder& d, const std::string& entry, std::size_t points, int format,
                     ChunkColumns& c, const std::function<void(int)>& drain = {}, bool another = false,
                     std::size_t room = 0) {
    CFile f;
    EXPECT_TRUE(f.Open(entry, "rb"));
    f.Seek(LasHeader::kImageSize);
    InputWindow in(f);
    return d.Decode(in, points, format, another, c, drain, room);
}

// While a chunk's records are written, the next chunk's streams are
// decoded into the same columns: no row may be restored into them before
// the writing is done, nor may sizing them for a larger chunk move them.
TEST(Driver, WhatStillReadsThePreviousChunkSeesItWhole) {
    TempDir dir;
    const int format = 3;
    CPointCodec codec;
    testsupport::CompressToFile(codec, Generate(dir, "a.las", 30000, format, 0), dir.File("a"));
    testsupport::CompressToFile(codec, Generate(dir, "b.las", 30000 - 1, format, 0), dir.File("b"));
    testsupport::CompressToFile(codec, Generate(dir, "c.las", 45000, format, 0), dir.File("c"));
    for (int threads : {1, 2}) {
        TaskPool pool(threads);
        const ProcessorCode& detected = ProcessorCode::Detected();
        CChunkDecoder decoder(pool, detected, {[] {}, [] {}});
        ChunkColumns cols;
        ASSERT_TRUE(DecodeOnlyChunk(decoder, dir.File("a"), 30000, format, cols));
        const ChunkColumns a = cols;
        int drains = 0;
        // Slow on purpose, so rows restored too early would land while it reads.
        auto sameAsA = [&](int) {
            std::this_thread::sleep_for(std::chrono::milliseconds(30));
            ++drains;
            for (auto [now, then] : {std::pair{&cols.x, &a.x}, {&cols.y, &a.y}, {&cols.z, &a.z}}) {
                EXPECT_TRUE(std::equal(then->begin(), then->end(), now->begin())) << threads;
            }
            EXPECT_TRUE(std::equal(a.gpsBits.begin(), a.gpsBits.end(), cols.gpsBits.begin())) << threads;
            for (int k = 0; k < 3; ++k) {
                EXPECT_TRUE(std::equal(a.rgb[k].begin(), a.rgb[k].end(), cols.rgb[k].begin())) << threads;
            }
            EXPECT_TRUE(std::equal(a.intensity.begin(), a.intensity.end(), cols.intensity.begin())) << threads;
            EXPECT_TRUE(std::equal(a.returnBits.begin(), a.returnBits.end(), cols.returnBits.begin())) << threads;
            EXPECT_TRUE(std::equal(a.userData.begin(), a.userData.end(), cols.userData.begin())) << threads;
        };
        // Columns that hold the next chunk as they are...
        ASSERT_TRUE(DecodeOnlyChunk(decoder, dir.File("b"), 30000 - 1, format, cols, sameAsA));
        EXPECT_EQ(drains, 1);
        // ...and columns that must grow for it.
        ASSERT_TRUE(DecodeOnlyChunk(decoder, dir.File("a"), 30000, format, cols));
        ASSERT_TRUE(DecodeOnlyChunk(decoder, dir.File("c"), 45000, format, cols, sameAsA));
        EXPECT_EQ(drains, 2);
        // ...and a chunk decoded stream after stream.
        ASSERT_TRUE(DecodeOnlyChunk(decoder, dir.File("a"), 30000, format, cols));
        EXPECT_FALSE(DecodeOnlyChunk(decoder, dir.File("b"), 30000 - 1, format, cols, sameAsA, true));
        EXPECT_EQ(drains, 3);
        ChunkColumns b;
        ASSERT_TRUE(DecodeOnlyChunk(decoder, dir.File("b"), 30000 - 1, format, b));
        EXPECT_EQ(cols.y, b.y);
        // And what was decoded after the drain is the new chunk itself.
        ASSERT_TRUE(DecodeOnlyChunk(decoder, dir.File("a"), 30000, format, cols));
        ASSERT_TRUE(DecodeOnlyChunk(decoder, dir.File("c"), 45000, format, cols, sameAsA));
        ChunkColumns fresh;
        ASSERT_TRUE(DecodeOnlyChunk(decoder, dir.File("c"), 45000, format, fresh));
        EXPECT_EQ(cols.z, fresh.z);
        EXPECT_EQ(cols.gpsBits, fresh.gpsBits);
        // Columns sized with room for the larger chunk from the first one on
        // grow for it in place, beside its streams, once the drain is done.
        ChunkColumns roomy;
        ASSERT_TRUE(DecodeOnlyChunk(decoder, dir.File("a"), 30000, format, roomy, {}, false, 45000));
        EXPECT_EQ(roomy.count, 30000u);
        EXPECT_EQ(roomy.x.size(), 30000u);
        const int32_t* const xAt = roomy.x.data();
        const int64_t* const gpsAt = roomy.gpsBits.data();
        bool drained = false;
        auto aWhole = [&](int) {
            std::this_thread::sleep_for(std::chrono::milliseconds(30));
            drained = true;
            EXPECT_TRUE(std::equal(a.x.begin(), a.x.end(), roomy.x.begin())) << threads;
            EXPECT_TRUE(std::equal(a.gpsBits.begin(), a.gpsBits.end(), roomy.gpsBits.begin())) << threads;
        };
        ASSERT_TRUE(DecodeOnlyChunk(decoder, dir.File("c"), 45000, format, roomy, aWhole, false, 45000));
        EXPECT_TRUE(drained);
        EXPECT_EQ(roomy.x.data(), xAt) << threads;
        EXPECT_EQ(roomy.gpsBits.data(), gpsAt) << threads;
        EXPECT_EQ(roomy.z, fresh.z);
        EXPECT_EQ(roomy.rgb[2], fresh.rgb[2]);
    }
}

// A failure in a chunk's batch fails the chunk and leaves nothing waiting
// for ever, and the decoder is sound afterwards: a drain that fails, and a
// task that stops before its groups are decoded (it settles them as failed,
// so a group of another task waiting for one of them goes on). The first
// task to start its groups (X and the return bits, as a rule: tasks are
// taken in order) stops, late, when Y's task on the other thread already
// waits for X. Whichever thread takes it: under load, either may take
// every group task.
TEST(Driver, AFailureInTheBatchFailsTheChunkAndEndsEveryWait) {
    TempDir dir;
    CPointCodec codec;
    testsupport::CompressToFile(codec, Generate(dir, "a.las", 20000, 3, 0), dir.File("a"));
    TaskPool pool(2);
    const ProcessorCode& detected = ProcessorCode::Detected();
    std::atomic<bool> firstStops{false};
    auto checkPoint = [&] {
        if (!firstStops.exchange(false)) return;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        throw CLasException(enginemsg::kWriteEntry);
    };
    CChunkDecoder decoder(pool, detected, {checkPoint, [] {}});
    ChunkColumns cols;
    ASSERT_TRUE(DecodeOnlyChunk(decoder, dir.File("a"), 20000, 3, cols));
    auto failingDrain = [](int) { throw CLasException(lasmsg::kWritePoint); };
    EXPECT_THROW(DecodeOnlyChunk(decoder, dir.File("a"), 20000, 3, cols, failingDrain), CLasException);
    EXPECT_TRUE(DecodeOnlyChunk(decoder, dir.File("a"), 20000, 3, cols));
    firstStops = true;
    EXPECT_THROW(DecodeOnlyChunk(decoder, dir.File("a"), 20000, 3, cols), CLasException);
    EXPECT_TRUE(DecodeOnlyChunk(decoder, dir.File("a"), 20000, 3, cols));
}

// Items come back in the order they went in, each with its own result,
// though later ones finish first; no two items at work at once share a
// worker's memory; an item is never refilled while at work; a failure comes
// back with its own item, after those before it; and the work's end waits
// for what is still at work.
TEST(InOrderWork, ItemsComeBackInOrderWithTheirOwnResults) {
    struct Item {
        int in = 0, out = 0;
    };
    for (const std::size_t workers : {std::size_t{0}, std::size_t{3}}) {
        std::vector<std::atomic<bool>> busy(std::max<std::size_t>(1, workers));
        std::atomic<int> finished{0}, overtaken{0};
        std::atomic<bool> shared{false};
        auto work = [&](Item& item, std::size_t worker) {
            if (busy[worker].exchange(true)) shared = true;
            const int in = item.in;
            // Every fifth item is slow: the items after it finish first.
            std::this_thread::sleep_for(std::chrono::microseconds(in % 5 == 0 ? 3000 : 100));
            if (in < finished) ++overtaken;
            finished = std::max(finished.load(), in);
            busy[worker] = false;
            if (in == 77) throw CLasException(lasmsg::kWritePoint);
            item.out = in * 3 + 1;
        };
        CInOrderWork<Item> line(workers, workers + 1, work);
        int next = 0;
        for (int k = 0; k < 77; ++k) {
            for (; line.Room() && next < 100; line.Put()) line.Next().in = next++;
            ASSERT_TRUE(line.Pending());
            ASSERT_EQ(line.Oldest().out, k * 3 + 1) << "item " << k << " with " << workers << " workers";
            line.Release();
        }
        for (; line.Room() && next < 100; line.Put()) line.Next().in = next++;
        EXPECT_THROW(line.Oldest(), CLasException);
        EXPECT_FALSE(shared) << workers << " workers";
        if (workers > 0) {
            EXPECT_GT(overtaken, 0) << "no item finished before one put in earlier";
        }
    }
}

TEST(Driver, DamagedEntriesFailCleanly) {
    TempDir dir;
    const std::string las = Generate(dir, "a.las", 3000, 3);
    CPointCodec codec;
    testsupport::CompressToFile(codec, las, dir.File("e"));
    const auto entry = ReadAll(dir.File("e"));
    int failures = 0;
    // Cuts at many places, and flipped bytes all through the entry.
    for (std::size_t cut = 0; cut < entry.size(); cut += 1 + entry.size() / 300) {
        WriteAll(dir.File("d"), std::vector<uint8_t>(entry.begin(), entry.begin() + static_cast<long>(cut)));
        try {
            testsupport::DecompressFromFile(codec, dir.File("d"), dir.File("o.las"));
            ADD_FAILURE() << "entry cut at " << cut << " decoded";
        } catch (const CLasException&) {
            ++failures;
        }
    }
    uint32_t s = 3;
    for (int k = 0; k < 300; ++k) {
        auto bad = entry;
        s = s * 1664525u + 1013904223u;
        const std::size_t at = 232 + (s >> 8) % (bad.size() - 232);
        bad[at] ^= static_cast<uint8_t>(1u << (s % 8));
        WriteAll(dir.File("d"), bad);
        try {
            testsupport::DecompressFromFile(codec, dir.File("d"), dir.File("o.las"));
        } catch (const CLasException&) {
            ++failures;
        }
    }
    EXPECT_GT(failures, 300);
}

TEST(Driver, AbsurdHeadersInAnEntryAreRefusedWithoutAllocating) {
    TempDir dir;
    const std::string las = Generate(dir, "a.las", 1500, 0, 0);
    CPointCodec codec;
    testsupport::CompressToFile(codec, las, dir.File("e"));
    auto entry = ReadAll(dir.File("e"));
    auto expectMessage = [&](const std::vector<uint8_t>& bytes, const char* message) {
        WriteAll(dir.File("d"), bytes);
        try {
            testsupport::DecompressFromFile(codec, dir.File("d"), dir.File("o.las"));
            ADD_FAILURE() << "decoded";
        } catch (const CLasException& e) {
            EXPECT_STREQ(e.Message(), message);
        }
    };
    auto hugeGap = entry;
    hugeGap[100] = 1;                                  // one VLR
    hugeGap[96] = hugeGap[97] = hugeGap[98] = 0xFF;    // offset near 2^32
    hugeGap[99] = 0x7F;
    expectMessage(hugeGap, enginemsg::kEntryHeader.text);
    auto hugeRaw = entry;
    hugeRaw[0] = 'O';
    hugeRaw[108] = hugeRaw[109] = hugeRaw[110] = hugeRaw[111] = 0xFF;  // 4 billion records
    expectMessage(hugeRaw, enginemsg::kReadPoints.text);
    auto format9 = entry;
    format9[104] = 9;
    expectMessage(format9, enginemsg::kEntryFormat.text);
    auto longRecords = entry;  // 65,535-byte records would size a 65 GB chunk
    longRecords[106] = longRecords[107] = 0xFF;
    expectMessage(longRecords, enginemsg::kEntryRecordLength.text);
    expectMessage(std::vector<uint8_t>(entry.begin(), entry.begin() + 100), enginemsg::kEntryHeader.text);
}

// The columns of a LAS file's points (fewer than a chunk's).
ChunkColumns ColumnsOf(const std::string& path) {
    CLasFile las;
    las.SetFileName(path);
    const LasHeader& h = *las.ReadHeader();
    std::vector<uint8_t> records;
    las.ReadRecords(h.NumberOfPointRecords(), 0, records);
    ChunkColumns c;
    c.Resize(h.NumberOfPointRecords(), h.PointDataFormat());
    c.Scatter(records.data(), h.PointDataRecordLength(), 0, c.count);
    return c;
}

// The next chunk is read into the columns while the last groups of the one
// before are coding: only once every group has read what it needs of them.
TEST(Driver, TheNextChunkGoesIntoTheColumnsOnlyOnceEveryGroupHasReadThem) {
    TempDir dir;
    const ChunkColumns original = ColumnsOf(Generate(dir, "a.las", 200000, 3, 0));
    const ProcessorCode& detected = ProcessorCode::Detected();
    auto code = [&](int threads, ChunkColumns& c, const std::function<void(int)>& next) {
        std::vector<uint8_t> bytes;
        std::size_t rows = 0;
        CChunkEncoder::Hooks hooks;
        hooks.checkPoint = [] {};
        hooks.rowCoded = [&](chunkrows::Row, std::size_t, std::size_t points) {
            ++rows;
            EXPECT_EQ(points, original.count);
        };
        hooks.write = [&](const CByteBuffer& b) { bytes.insert(bytes.end(), b.Data(), b.Data() + b.Size()); };
        TaskPool pool(threads);
        CChunkEncoder encoder(pool, detected, hooks);
        encoder.Encode(c, next);
        EXPECT_EQ(rows, 16u);
        return bytes;
    };
    ChunkColumns alone = original;
    const std::vector<uint8_t> expected = code(1, alone, {});
    // With more threads than groups, the next chunk's task starts at once,
    // while every group is still reading.
    for (int threads : {1, 2, 4, 16}) {
        ChunkColumns c = original;
        int refills = 0;
        // Everything the groups read, replaced.
        auto refill = [&](int worker) {
            EXPECT_GE(worker, 0);
            EXPECT_LT(worker, threads);
            ++refills;
            c.Resize(c.count / 2, c.format);
            for (auto* v : {&c.x, &c.y, &c.z}) std::fill(v->begin(), v->end(), 7);
            for (auto* v : {&c.intensity, &c.pointSource, &c.rgb[0], &c.rgb[1], &c.rgb[2]}) {
                std::fill(v->begin(), v->end(), 7);
            }
            for (auto* v : {&c.returnBits, &c.classification, &c.scanAngle, &c.userData}) {
                std::fill(v->begin(), v->end(), 7);
            }
            std::fill(c.gpsBits.begin(), c.gpsBits.end(), 7);
        };
        EXPECT_TRUE(code(threads, c, refill) == expected) << threads << " threads";
        EXPECT_EQ(refills, 1);
    }
}

// A group that fails keeps the next chunk out, and leaves nothing waiting.
// Format 1 has seven groups, so its last task holds one; format 0 has six,
// so its last group to start is the second of a task of two, which must
// count both as done with the columns.
TEST(Driver, AFailedGroupKeepsTheNextChunkOut) {
    TempDir dir;
    const ProcessorCode& detected = ProcessorCode::Detected();
    for (const auto& [format, groups] : {std::pair{1, 7}, {0, 6}}) {
        const ChunkColumns c = ColumnsOf(Generate(dir, "a" + std::to_string(format) + ".las", 5000, format, 0));
        for (int threads : {1, 2, 3}) {
            std::atomic<int> calls{0};
            CChunkEncoder::Hooks hooks;
            // The last group to start fails, late enough for the next chunk's
            // task to have started and to wait for it.
            hooks.checkPoint = [&, groups = groups] {
                if (++calls < groups) return;
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
                throw CLasException(enginemsg::kWriteEntry);
            };
            hooks.rowCoded = [](chunkrows::Row, std::size_t, std::size_t) {};
            hooks.write = [](const CByteBuffer&) {};
            TaskPool pool(threads);
            CChunkEncoder encoder(pool, detected, hooks);
            bool refilled = false;
            EXPECT_THROW(encoder.Encode(c, [&](int) { refilled = true; }), CLasException) << threads;
            EXPECT_FALSE(refilled) << threads;
        }
    }
}

// Records are read piece by piece, in turn, by several threads: a piece
// that cannot be read (the file shrank after its header was read) fails
// the compression, and no thread waits for its turn after it for ever.
TEST(Driver, AFileThatShrinksWhileReadFailsCompressionOnEveryThreadCount) {
    TempDir dir;
    const std::string path = Generate(dir, "a.las", 300000, 1, 0);
    const int64_t full = FileSizeOf(path);
    for (int threads : {1, 2, 3}) {
        for (int64_t keep : {full / 2, full - 10}) {
            ASSERT_EQ(truncate(path.c_str(), full), 0);
            CLasFile las;
            las.SetFileName(path);
            las.ReadHeader();
            las.ReadVlrs();
            ASSERT_EQ(truncate(path.c_str(), keep), 0);
            CFile out(dir.File("e"), "wb");
            CPointCodec codec;
            codec.SetThreadCount(threads);
            try {
                codec.Compress(&out, &las);
                ADD_FAILURE() << threads << " threads, " << keep << " bytes: compressed";
            } catch (const CLasException& e) {
                EXPECT_STREQ(e.Message(), lasmsg::kReadPoints.text) << threads;
            }
        }
    }
}

TEST(Driver, AStopRequestEndsCompressionAndDecompression) {
    TempDir dir;
    const std::string las = Generate(dir, "a.las", 20000, 3);
    CPointCodec codec;
    codec.RequestStop();
    EXPECT_THROW(testsupport::CompressToFile(codec, las, dir.File("e")), CStopRequested);
    codec.ClearStop();
    testsupport::CompressToFile(codec, las, dir.File("e"));
    codec.RequestStop();
    EXPECT_THROW(testsupport::DecompressFromFile(codec, dir.File("e"), dir.File("o.las")), CStopRequested);
    codec.ClearStop();

    // A stop from another thread while the entry is being coded.
    const std::string big = Generate(dir, "big.las", 2000001, 3);
    std::thread stopper([&] {
        while (codec.streamsDone.load() < 3) std::this_thread::yield();
        codec.RequestStop();
    });
    EXPECT_THROW(testsupport::CompressToFile(codec, big, dir.File("e2")), CStopRequested);
    stopper.join();
    EXPECT_LT(FileSizeOf(dir.File("e2")), FileSizeOf(dir.File("e")) * 100);
}

TEST(Driver, APauseHoldsTheJobUntilResumedOrStopped) {
    TempDir dir;
    const std::string las = Generate(dir, "p.las", 3000000, 1);
    CPointCodec codec;
    // Paused before it starts: the job waits at its first check point.
    codec.RequestPause();
    std::atomic<bool> finished{false};
    std::thread worker([&] {
        testsupport::CompressToFile(codec, las, dir.File("e"));
        finished = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_FALSE(finished.load());
    EXPECT_EQ(codec.streamsDone.load(), 0);
    codec.Resume();
    worker.join();
    EXPECT_TRUE(finished.load());

    // A stop while paused ends the job instead of resuming it.
    codec.RequestPause();
    std::thread stopped([&] {
        EXPECT_THROW(testsupport::CompressToFile(codec, las, dir.File("e2")), CStopRequested);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    codec.RequestStop();
    stopped.join();
    EXPECT_TRUE(codec.Paused());
    codec.Resume();
    codec.ClearStop();
}

}  // namespace
