#include <gtest/gtest.h>

#include "ArchiveTestSupport.h"
#include "TestSupport.h"
#include "archive/ArchiveMessages.h"
#include "archive/VMRAFile.h"
#include "las/FileIo.h"

using archtest::BuildArchive;
using archtest::Bytes;
using archtest::FakeEntry;
using archtest::Filler;
using testsupport::MessageOf;
using testsupport::ReadAll;
using testsupport::TempDir;
using testsupport::WriteAll;

namespace {

struct Deletion {
    Bytes result;
    std::vector<int> progress;
};

// Deletes `name` from an archive of `entries` and returns the archive's bytes
// and every progress value the deletion reported.
Deletion Delete(const std::vector<FakeEntry>& entries, const std::string& name) {
    TempDir dir;
    WriteAll(dir.File("x.vmra"), BuildArchive(entries));
    VMRAFile archive;
    Deletion d;
    archive.onDeleteProgress = [&](int p) {
        EXPECT_EQ(p, archive.DeleteProgress.load()) << "the hook sees the value readers see";
        d.progress.push_back(p);
    };
    archive.DeleteEntry(dir.File("x.vmra"), name);
    d.result = ReadAll(dir.File("x.vmra"));
    return d;
}

std::vector<FakeEntry> Three() {
    return {{"a.las", Filler(300, 1), -1, 1000},
            {"b.las", Filler(50, 2), -1, 2000},
            {"c.las", Filler(70, 3), -1, 3000}};
}

TEST(ArchiveDelete, EachPositionLeavesTheOthersAsIfAddedAlone) {
    for (std::size_t k = 0; k < 3; ++k) {
        auto entries = Three();
        const std::string name = entries[k].name;
        const Deletion d = Delete(entries, name);
        entries.erase(entries.begin() + static_cast<std::ptrdiff_t>(k));
        EXPECT_EQ(d.result, BuildArchive(entries)) << "deleting " << name;
        ASSERT_FALSE(d.progress.empty());
        EXPECT_EQ(d.progress.back(), 100);
        // Nothing lies behind the last entry: no block moves.
        if (k == 2) {
            EXPECT_EQ(d.progress, std::vector<int>{100});
        }
    }
}

TEST(ArchiveDelete, ProgressCountsBlocksOfTheMovedData) {
    // 2,500 bytes after the entry: two whole blocks and 452 bytes.
    const Deletion d = Delete({{"a.las", Filler(100, 1)}, {"b.las", Filler(2500, 2)}}, "a.las");
    EXPECT_EQ(d.progress, (std::vector<int>{0, 50, 100}));
    EXPECT_EQ(d.result, BuildArchive({{"b.las", Filler(2500, 2)}}));
}

TEST(ArchiveDelete, LongMovesOverlappingTheirSourceStayIntact) {
    // Much more data behind the entry than it is long, so every read of the
    // move overlaps the place it was written to before.
    std::vector<FakeEntry> entries = {
        {"a.las", Filler(10, 1)}, {"b.las", Filler(10, 9)}, {"c.las", Filler(700000, 2)},
        {"d.las", Filler(123457, 3)}};
    const Deletion d = Delete(entries, "b.las");
    entries.erase(entries.begin() + 1);
    EXPECT_EQ(d.result, BuildArchive(entries));
    const int blocks = (700000 + 123457) / 1024;
    ASSERT_EQ(d.progress.size(), static_cast<std::size_t>(blocks + 1));
    EXPECT_TRUE(std::is_sorted(d.progress.begin(), d.progress.end()));
    EXPECT_EQ(d.progress[1], 100 / blocks);
    EXPECT_EQ(d.progress[blocks - 1], (blocks - 1) * 100 / blocks);
}

TEST(ArchiveDelete, TheOnlyEntryLeavesAnEmptyArchive) {
    const Deletion d = Delete({{"a.las", Filler(300, 1)}}, "a.las");
    EXPECT_TRUE(d.result.empty());
    EXPECT_EQ(d.progress, std::vector<int>{100});
}

// Raw entries of older archives record only their point bytes as stored
// size; the data between that figure and the next entry belongs to the
// entry all the same and must go with it.
TEST(ArchiveDelete, ShortStoredSizesOfOlderArchivesRemoveTheWholeEntry) {
    std::vector<FakeEntry> entries = Three();
    entries[0].storedSize = 100;
    entries[1].storedSize = 20;
    entries[2].storedSize = 30;
    for (std::size_t k = 0; k < 3; ++k) {
        auto expected = entries;
        const Deletion d = Delete(entries, entries[k].name);
        expected.erase(expected.begin() + static_cast<std::ptrdiff_t>(k));
        EXPECT_EQ(d.result, BuildArchive(expected)) << "deleting " << entries[k].name;
    }
}

TEST(ArchiveDelete, MissingNamesAndArchivesChangeNothing) {
    TempDir dir;
    const Bytes image = BuildArchive(Three());
    WriteAll(dir.File("x.vmra"), image);
    WriteAll(dir.File("empty.vmra"), {});
    VMRAFile archive;
    archive.DeleteProgress = 100;  // left by an earlier deletion
    EXPECT_EQ(MessageOf([&] { archive.DeleteEntry(dir.File("x.vmra"), "A.las"); }),
              archmsg::kNotFound.text);
    EXPECT_EQ(archive.DeleteProgress.load(), 0) << "a new deletion does not start at 100";
    EXPECT_EQ(MessageOf([&] { archive.DeleteEntry(dir.File("x.vmra"), "a.las\n"); }),
              archmsg::kNotFound.text);
    EXPECT_EQ(ReadAll(dir.File("x.vmra")), image);
    EXPECT_EQ(MessageOf([&] { archive.DeleteEntry(dir.File("empty.vmra"), "a.las"); }),
              archmsg::kNotFound.text);
    EXPECT_TRUE(ReadAll(dir.File("empty.vmra")).empty());
    EXPECT_EQ(MessageOf([&] { archive.DeleteEntry(dir.File("none.vmra"), "a.las"); }),
              archmsg::kErrorOpeningArchive.text);
    EXPECT_FALSE(FileExists(dir.File("none.vmra")));
    EXPECT_EQ(MessageOf([&] { archive.DeleteEntry(dir.Path().string(), "a.las"); }),
              archmsg::kErrorOpeningArchive.text);
}

TEST(ArchiveDelete, DamagedDirectoriesAreRefusedBeforeAnythingMoves) {
    TempDir dir;
    Bytes image = BuildArchive(Three());
    archtest::PutU32(image, archtest::RecordAt(image, 1), 2);  // b.las over the magic
    WriteAll(dir.File("x.vmra"), image);
    VMRAFile archive;
    EXPECT_EQ(MessageOf([&] { archive.DeleteEntry(dir.File("x.vmra"), "a.las"); }),
              archmsg::kCannotReadHeaders.text);
    EXPECT_EQ(ReadAll(dir.File("x.vmra")), image);
}

}  // namespace
