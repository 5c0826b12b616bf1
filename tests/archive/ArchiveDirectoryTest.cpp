#include <gtest/gtest.h>

#include <chrono>
#include <climits>

#include "AllocationProbe.h"

#include "ArchiveTestSupport.h"
#include "TestLas.h"
#include "TestSupport.h"
#include "archive/ArchiveMessages.h"
#include "archive/VMRAFile.h"
#include "las/FileIo.h"

using archtest::BuildArchive;
using archtest::Bytes;
using archtest::FakeEntry;
using archtest::Filler;
using testsupport::MessageOf;
using archtest::PutU32;
using archtest::RecordAt;
using testsupport::TempDir;
using testsupport::WriteAll;

namespace {

std::vector<FakeEntry> ThreeEntries() {
    return {{"a.las", Filler(300, 1)}, {"b.las", Filler(50, 2)}, {"c.las", Filler(70, 3)}};
}

// Writes the image and reads its directory through a fresh object; returns
// the message of the failure, or "".
std::string ReadDirectoryOf(const Bytes& image, VMRAFile& archive) {
    TempDir dir;
    WriteAll(dir.File("x.vmra"), image);
    CFile f(dir.File("x.vmra"), "rb");
    return MessageOf([&] { archive.ReadDirectory(f); });
}

std::string ReadDirectoryOf(const Bytes& image) {
    VMRAFile archive;
    return ReadDirectoryOf(image, archive);
}

TEST(ArchiveDirectory, AnEmptyFileIsAnArchiveWithoutEntries) {
    TempDir dir;
    WriteAll(dir.File("empty.vmra"), {});
    CFile f(dir.File("empty.vmra"), "rb");
    VMRAFile archive;
    EXPECT_EQ(archive.ReadEntryCount(f), 0);
    archive.ReadDirectory(f);
    EXPECT_TRUE(archive.Directory().empty());
    EXPECT_FALSE(archive.FindEntry(f, "a.las"));
    EXPECT_EQ(archive.FoundIndex(), -1);
}

TEST(ArchiveDirectory, RecordsLoadInOrderWithTheirExtents) {
    VMRAFile archive;
    const Bytes image = BuildArchive(ThreeEntries());
    ASSERT_EQ(ReadDirectoryOf(image, archive), "");
    ASSERT_EQ(archive.EntryCount(), 3);
    const auto& d = archive.Directory();
    EXPECT_EQ(d[0].Name(), "a.las");
    EXPECT_EQ(d[2].Name(), "c.las");
    EXPECT_EQ(d[0].dataOffset, 4u);
    EXPECT_EQ(d[1].dataOffset, 304u);
    EXPECT_EQ(d[2].dataOffset, 354u);
    EXPECT_EQ(archive.DirectoryStart(), 424);
    EXPECT_EQ(archive.EntryExtent(0), 300);
    EXPECT_EQ(archive.EntryExtent(2), 70);
}

TEST(ArchiveDirectory, ForeignAndShortFilesAreNotArchives) {
    testsupport::LasBuild las;
    las.points = 3;
    EXPECT_EQ(ReadDirectoryOf(testsupport::BuildLas(las)), archmsg::kWrongFormat.text);
    EXPECT_EQ(ReadDirectoryOf({0x1D, 0x2C, 0x3B}), archmsg::kWrongFormat.text);
    // The magic number alone: the count would be the magic number itself.
    EXPECT_EQ(ReadDirectoryOf({0x1D, 0x2C, 0x3B, 0x4A}), archmsg::kCannotReadHeaders.text);
    EXPECT_EQ(ReadDirectoryOf({0x1D, 0x2C, 0x3B, 0x4A, 0, 0, 0}), archmsg::kCannotReadHeaders.text);
    // Magic and a zero count is a valid archive without entries.
    EXPECT_EQ(ReadDirectoryOf({0x1D, 0x2C, 0x3B, 0x4A, 0, 0, 0, 0}), "");
}

TEST(ArchiveDirectory, CountsTheFileCannotHoldAreRefusedBeforeAnyAllocation) {
    Bytes image(10000, 0);
    image[0] = 0x1D, image[1] = 0x2C, image[2] = 0x3B, image[3] = 0x4A;
    for (uint32_t n : {1000u, 38u, 0xFFFFFFFFu, 0x80000000u, 0x7FFFFFFFu}) {
        PutU32(image, image.size() - 4, n);
        EXPECT_EQ(ReadDirectoryOf(image), archmsg::kCannotReadHeaders.text) << n;
        TempDir dir;
        WriteAll(dir.File("x.vmra"), image);
        CFile f(dir.File("x.vmra"), "rb");
        VMRAFile archive;
        EXPECT_EQ(MessageOf([&] { archive.ReadEntryCount(f); }), archmsg::kCannotReadHeaders.text) << n;
        // Refused before a directory of that count is allocated.
        EXPECT_LT(testsupport::LargestAllocationDuring([&] { archive.ReadDirectory(f); }),
                  std::size_t{1} << 16)
            << n;
    }
}

TEST(ArchiveDirectory, RecordsMustPointBetweenMagicAndDirectoryInOrder) {
    const Bytes good = BuildArchive(ThreeEntries());
    ASSERT_EQ(ReadDirectoryOf(good), "");
    struct Damage {
        const char* what;
        std::size_t record;
        std::size_t field;  // 0 offset, 4 stored size
        uint32_t value;
    };
    const Damage cases[] = {
        {"data over the magic number", 0, 0, 0},
        {"data inside the magic number", 0, 0, 2},
        {"data starting in the directory", 2, 0, 424},
        {"data past the end", 2, 0, 0xFFFFFF00u},
        {"data running into the directory", 2, 4, 71},
        {"stored size wrapping 32 bits", 1, 4, 0xFFFFFFF0u},
        {"overlapping the entry before", 1, 0, 200},
        {"out of order", 1, 0, 360},
    };
    for (const auto& c : cases) {
        Bytes bad = good;
        PutU32(bad, RecordAt(bad, c.record) + c.field, c.value);
        EXPECT_EQ(ReadDirectoryOf(bad), archmsg::kCannotReadHeaders.text) << c.what;
    }
}

// A count that the file's length allows is no promise that the records are
// there: a sparse gigabyte of zeros must fail at its first record, without
// the memory or the time a directory of that count would take.
TEST(ArchiveDirectory, ABogusDirectoryFailsAtItsFirstBadRecordWithoutItsCountsMemory) {
    TempDir dir;
    const std::string path = dir.File("sparse.vmra");
    const int64_t size = int64_t{1} << 30;
    Bytes count(4);
    PutU32(count, 0, static_cast<uint32_t>((size - 8) / 268));
    archtest::MakeSparseFile(path, size, {0x1D, 0x2C, 0x3B, 0x4A}, count);
    VMRAFile archive;
    std::string message;
    const auto start = std::chrono::steady_clock::now();
    const std::size_t largest = testsupport::LargestAllocationDuring(
        [&] { message = MessageOf([&] { archive.ListEntries(path); }); });
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_EQ(message, archmsg::kCannotReadHeaders.text);
    EXPECT_LT(largest, std::size_t{1} << 20);
    EXPECT_LT(seconds, 1.0);
}

// Records are read a block at a time: every record of a directory many
// blocks long comes back in its place, and one bad record far into it
// still fails the whole directory.
TEST(ArchiveDirectory, ALongDirectoryReadsWholeAcrossItsBlocks) {
    const auto nameOf = [](std::size_t i) { return std::to_string(i).append(".las"); };
    std::vector<FakeEntry> entries;
    for (std::size_t i = 0; i < 1000; ++i) entries.push_back({nameOf(i), Filler(3, 1)});
    const Bytes good = BuildArchive(entries);
    VMRAFile archive;
    ASSERT_EQ(ReadDirectoryOf(good, archive), "");
    ASSERT_EQ(archive.Directory().size(), 1000u);
    for (std::size_t i = 0; i < 1000; ++i) {
        EXPECT_EQ(archive.Directory()[i].Name(), nameOf(i)) << i;
        EXPECT_EQ(archive.Directory()[i].dataOffset, 4 + 3 * i) << i;
    }
    EXPECT_EQ(archive.DirectoryStart(), 3004);
    for (const std::size_t bad : {std::size_t{243}, std::size_t{244}, std::size_t{245}, std::size_t{999}}) {
        Bytes image = good;
        PutU32(image, RecordAt(image, bad), 4 + 3 * static_cast<uint32_t>(bad) - 1);
        EXPECT_EQ(ReadDirectoryOf(image), archmsg::kCannotReadHeaders.text) << bad;
    }
}

TEST(ArchiveDirectory, ShortStoredSizesOfOlderArchivesAreReadWithTrueExtents) {
    auto entries = ThreeEntries();
    entries[0].storedSize = 60;  // raw entries once recorded only their point bytes
    entries[2].storedSize = 10;
    VMRAFile archive;
    ASSERT_EQ(ReadDirectoryOf(BuildArchive(entries), archive), "");
    EXPECT_EQ(archive.Directory()[0].storedSize, 60u);
    EXPECT_EQ(archive.EntryExtent(0), 300);
    EXPECT_EQ(archive.EntryExtent(2), 70);
}

TEST(ArchiveDirectory, NamesAreComparedByteForByteWithCase) {
    TempDir dir;
    WriteAll(dir.File("x.vmra"),
             BuildArchive({{"Survey.las", Filler(10, 1)}, {"survey.las", Filler(10, 2)}}));
    CFile f(dir.File("x.vmra"), "rb");
    VMRAFile archive;
    EXPECT_TRUE(archive.FindEntry(f, "survey.las"));
    EXPECT_EQ(archive.FoundIndex(), 1);
    EXPECT_TRUE(archive.FindEntry(f, "Survey.las"));
    EXPECT_EQ(archive.FoundIndex(), 0);
    EXPECT_FALSE(archive.FindEntry(f, "SURVEY.las"));
    EXPECT_FALSE(archive.FindEntry(f, "survey.las "));
    EXPECT_TRUE(archive.Directory().empty()) << "the search frees the directory again";
}

TEST(ArchiveListing, EntriesShowTheFiguresOfTheirStoredHeaders) {
    TempDir dir;
    VMRAFile archive;
    archive.AddLasFile(archtest::GenerateLas(dir, "raw.las", 900, 0, 1), dir.File("x.vmra"));
    archive.AddLasFile(archtest::GenerateLas(dir, "coded.las", 1500, 3, 2), dir.File("x.vmra"));
    auto infos = archive.ListEntries(dir.File("x.vmra"));
    ASSERT_EQ(infos.size(), 2u);
    EXPECT_EQ(infos[0].name, "raw.las");
    EXPECT_TRUE(infos[0].headerRead);
    EXPECT_TRUE(infos[0].stored);
    EXPECT_EQ(infos[0].pointFormat, 0);
    EXPECT_EQ(infos[0].points, 900u);
    EXPECT_EQ(infos[0].versionMajor, 1);
    EXPECT_EQ(infos[0].versionMinor, 2);
    EXPECT_EQ(infos[0].record.uncompressedSize,
              static_cast<uint32_t>(FileSizeOf(dir.File("raw.las"))));
    EXPECT_EQ(infos[1].name, "coded.las");
    EXPECT_FALSE(infos[1].stored);
    EXPECT_EQ(infos[1].pointFormat, 3);
    EXPECT_EQ(infos[1].points, 1500u);
    EXPECT_EQ(infos[1].extent, infos[1].record.storedSize);

    // Entries too short for a header are still listed, as damaged ones.
    WriteAll(dir.File("fake.vmra"), BuildArchive(ThreeEntries()));
    infos = archive.ListEntries(dir.File("fake.vmra"));
    ASSERT_EQ(infos.size(), 3u);
    EXPECT_FALSE(infos[1].headerRead);
    EXPECT_EQ(infos[1].extent, 50);
}

}  // namespace
