#include <gtest/gtest.h>

#include <sys/stat.h>

#include <csignal>
#include <cstring>
#include <filesystem>
#include <sys/inotify.h>
#include <sys/resource.h>
#include <unistd.h>

#include "ArchiveTestSupport.h"
#include "LasGenerator.h"
#include "TestLas.h"
#include "TestSupport.h"
#include "archive/ArchiveMessages.h"
#include "archive/VMRAFile.h"
#include "las/FileIo.h"
#include "las/LasMessages.h"

using archtest::Bytes;
using archtest::EntryNames;
using archtest::GenerateLas;
using archtest::GetU32;
using testsupport::MessageOf;
using archtest::RecordAt;
using testsupport::ReadAll;
using testsupport::TempDir;
using testsupport::WriteAll;

namespace {

// Adds each file in turn to a fresh archive and returns its bytes.
Bytes FreshArchive(const std::vector<std::string>& lasPaths) {
    TempDir dir;
    VMRAFile archive;
    for (const auto& p : lasPaths) archive.AddLasFile(p, dir.File("fresh.vmra"));
    return ReadAll(dir.File("fresh.vmra"));
}

// The exception AddLasFile throws, caught whole so canContinue can be seen.
struct Refusal {
    std::string message;
    bool canContinue = false;
    bool thrown = false;
};
Refusal TryAdd(VMRAFile& archive, const std::string& las, const std::string& vmra) {
    Refusal r;
    try {
        archive.AddLasFile(las, vmra);
    } catch (const CLasException& e) {
        r = {e.Message(), e.canContinue, true};
    }
    return r;
}

TEST(ArchiveAdd, AMissingArchiveIsCreatedWithOneTrueSizedRecord) {
    TempDir dir;
    const std::string las = GenerateLas(dir, "small.las", 500, 1, 3);
    VMRAFile archive;
    archive.AddLasFile(las, dir.File("new.vmra"));

    const Bytes image = ReadAll(dir.File("new.vmra"));
    ASSERT_GE(image.size(), 4u + 232 + 268 + 4);
    EXPECT_EQ(GetU32(image, 0), VMRAFile::kMagic);
    EXPECT_EQ(archtest::CountOf(image), 1);
    const std::size_t rec = RecordAt(image, 0);
    EXPECT_EQ(GetU32(image, rec), 4u);
    EXPECT_EQ(GetU32(image, rec + 4), rec - 4) << "stored size is the data's true length";
    EXPECT_EQ(GetU32(image, rec + 8), static_cast<uint32_t>(FileSizeOf(las)));
    EXPECT_EQ(EntryNames(dir.File("new.vmra")), std::vector<std::string>{"small.las"});
    EXPECT_EQ(image[4], 'O') << "fewer than 1000 points are stored raw";
}

TEST(ArchiveAdd, ReplacingAnEntryGivesTheArchiveOfAFreshAddWithItLast) {
    TempDir dir, other;
    const std::string a = GenerateLas(dir, "a.las", 300, 0, 1);
    const std::string b = GenerateLas(dir, "b.las", 1500, 3, 2);
    const std::string c = GenerateLas(dir, "c.las", 200, 2, 3);
    const std::string newB = GenerateLas(other, "b.las", 1200, 1, 4);
    VMRAFile archive;
    for (const auto& p : {a, b, c}) archive.AddLasFile(p, dir.File("x.vmra"));
    ASSERT_TRUE(archive.ContainsEntry(dir.File("x.vmra"), newB));
    archive.AddLasFile(newB, dir.File("x.vmra"));

    EXPECT_EQ(EntryNames(dir.File("x.vmra")), (std::vector<std::string>{"a.las", "c.las", "b.las"}));
    EXPECT_EQ(ReadAll(dir.File("x.vmra")), FreshArchive({a, c, newB}));
}

TEST(ArchiveAdd, ReplacingTheOnlyEntryStartsTheArchiveAfresh) {
    TempDir dir, other;
    const std::string first = GenerateLas(dir, "a.las", 1100, 0, 1);
    const std::string second = GenerateLas(other, "a.las", 40, 3, 2);
    VMRAFile archive;
    archive.AddLasFile(first, dir.File("x.vmra"));
    archive.AddLasFile(second, dir.File("x.vmra"));
    EXPECT_EQ(ReadAll(dir.File("x.vmra")), FreshArchive({second}));
}

TEST(ArchiveAdd, RefusedFilesLeaveTheArchiveByteForByte) {
    TempDir dir;
    VMRAFile archive;
    archive.AddLasFile(GenerateLas(dir, "keep.las", 100, 0, 1), dir.File("x.vmra"));
    const Bytes before = ReadAll(dir.File("x.vmra"));

    // What no entry kind can give back: records shorter than their format's,
    // points the file is too short for.
    const testsupport::LasBuild v13 = testsupport::UnstorableLas(5);
    WriteAll(dir.File("v13.las"), testsupport::BuildLas(v13));
    testsupport::LasBuild cut;
    cut.points = 5;
    cut.declaredPoints = 6;
    WriteAll(dir.File("cut.las"), testsupport::BuildLas(cut));
    const std::string longName(255, 'n');
    WriteAll(dir.File(longName), testsupport::BuildLas(v13));
    WriteAll(dir.File("back\\slash.las"), testsupport::BuildLas(v13));
    // Names extraction would refuse: they could never come back.
    for (const char* name : {".hidden.las", "bell\a.las", "tile.laz"}) {
        WriteAll(dir.File(name), testsupport::BuildLas(v13));
    }
    std::filesystem::create_directory(dir.File("folder.las"));
    ASSERT_EQ(mkfifo(dir.File("fifo.las").c_str(), 0600), 0);

    struct Case {
        std::string las;
        const char* message;
        bool canContinue;
    };
    const Case cases[] = {
        {dir.File("v13.las"), lasmsg::kShortRecords.text, true},
        {dir.File("cut.las"), lasmsg::kTruncated.text, true},
        {dir.File(longName), archmsg::kNameTooLong.text, true},
        {dir.File("back\\slash.las"), archmsg::kNameHasBackslash.text, true},
        {dir.File(".hidden.las"), archmsg::kNameNotStorable.text, true},
        {dir.File("bell\a.las"), archmsg::kNameNotStorable.text, true},
        {dir.File("tile.laz"), archmsg::kNameNotStorable.text, true},
        {dir.File("missing.las"), archmsg::kErrorOpeningLas.text, false},
        // Refused before anything opens them: opening a FIFO would wait for
        // a writer forever.
        {dir.File("folder.las"), archmsg::kNotRegularLas.text, true},
        {dir.File("fifo.las"), archmsg::kNotRegularLas.text, true},
    };
    for (const auto& c : cases) {
        const Refusal r = TryAdd(archive, c.las, dir.File("x.vmra"));
        EXPECT_EQ(r.message, c.message) << c.las;
        EXPECT_EQ(r.canContinue, c.canContinue) << c.las;
        EXPECT_EQ(ReadAll(dir.File("x.vmra")), before) << c.las;
        // The same refusal into an archive that did not exist leaves none.
        EXPECT_TRUE(TryAdd(archive, c.las, dir.File("new.vmra")).thrown);
        EXPECT_FALSE(FileExists(dir.File("new.vmra"))) << c.las;
    }
}

TEST(ArchiveAdd, ACorpusFileWhosePointsEndEarlyChangesNothing) {
    VELMORA_REQUIRE_CORPUS(corpus);
    TempDir dir;
    VMRAFile archive;
    archive.AddLasFile(GenerateLas(dir, "keep.las", 100, 0, 1), dir.File("x.vmra"));
    const Bytes before = ReadAll(dir.File("x.vmra"));
    const Refusal r = TryAdd(archive, corpus + "/garbage_vlr_count.las", dir.File("x.vmra"));
    EXPECT_TRUE(r.thrown);
    EXPECT_TRUE(r.canContinue) << r.message;
    EXPECT_EQ(ReadAll(dir.File("x.vmra")), before);
}

TEST(ArchiveAdd, EmptyArchivesStayUnlessThisObjectCreatedThem) {
    TempDir dir;
    const testsupport::LasBuild v13 = testsupport::UnstorableLas(5);
    WriteAll(dir.File("v13.las"), testsupport::BuildLas(v13));
    // An empty archive the user made stays, as it was.
    WriteAll(dir.File("made.vmra"), {});
    VMRAFile archive;
    EXPECT_TRUE(TryAdd(archive, dir.File("v13.las"), dir.File("made.vmra")).thrown);
    EXPECT_TRUE(FileExists(dir.File("made.vmra")));
    // One that ContainsEntry created for this job goes again.
    EXPECT_FALSE(archive.ContainsEntry(dir.File("job.vmra"), dir.File("v13.las")));
    EXPECT_TRUE(FileExists(dir.File("job.vmra")));
    EXPECT_TRUE(TryAdd(archive, dir.File("v13.las"), dir.File("job.vmra")).thrown);
    EXPECT_FALSE(FileExists(dir.File("job.vmra")));
}

TEST(ArchiveAdd, ArchivesThatCannotBeOpenedAreReported) {
    TempDir dir;
    const std::string las = GenerateLas(dir, "a.las", 10, 0, 1);
    VMRAFile archive;
    EXPECT_EQ(TryAdd(archive, las, dir.File("no/such/folder/x.vmra")).message,
              archmsg::kErrorOpeningArchive.text);
    EXPECT_EQ(TryAdd(archive, las, "/proc/velmora-test.vmra").message, archmsg::kErrorOpeningArchive.text);
    std::filesystem::create_directory(dir.File("folder.vmra"));
    EXPECT_EQ(TryAdd(archive, las, dir.File("folder.vmra")).message, archmsg::kErrorOpeningArchive.text);
    const Bytes lasBytes = ReadAll(las);
    EXPECT_EQ(TryAdd(archive, las, las).message, archmsg::kWrongFormat.text);
    EXPECT_EQ(ReadAll(las), lasBytes);
}

TEST(ArchiveAdd, AnArchivePastTheSizeLimitIsRefusedAndRestored) {
    TempDir dir;
    const std::string small = GenerateLas(dir, "small.las", 20, 0, 1);
    const std::string big = GenerateLas(dir, "big.las", 900, 3, 2);
    VMRAFile archive;
    archive.AddLasFile(small, dir.File("x.vmra"));
    const Bytes before = ReadAll(dir.File("x.vmra"));
    archive.SetMaxArchiveBytes(static_cast<int64_t>(before.size()) + 1000);
    const Refusal r = TryAdd(archive, big, dir.File("x.vmra"));
    EXPECT_EQ(r.message, archmsg::kArchiveTooLarge.text);
    EXPECT_TRUE(r.canContinue);
    EXPECT_EQ(ReadAll(dir.File("x.vmra")), before);
    EXPECT_TRUE(TryAdd(archive, big, dir.File("new.vmra")).thrown);
    EXPECT_FALSE(FileExists(dir.File("new.vmra")));
    // A file that still fits goes in.
    archive.AddLasFile(GenerateLas(dir, "tiny.las", 5, 0, 3), dir.File("x.vmra"));
    EXPECT_EQ(EntryNames(dir.File("x.vmra")).size(), 2u);
}

TEST(ArchiveAdd, TheSizeGuardHoldsAtItsExactBound) {
    TempDir dir;
    const std::string small = GenerateLas(dir, "small.las", 20, 0, 1);
    const std::string next = GenerateLas(dir, "next.las", 1100, 1, 2);
    VMRAFile archive;
    archive.AddLasFile(small, dir.File("x.vmra"));
    const Bytes before = ReadAll(dir.File("x.vmra"));
    archive.AddLasFile(next, dir.File("x.vmra"));
    const int64_t needed = FileSizeOf(dir.File("x.vmra"));
    // An archive that would be one byte longer than allowed is refused...
    WriteAll(dir.File("x.vmra"), before);
    archive.SetMaxArchiveBytes(needed - 1);
    EXPECT_EQ(TryAdd(archive, next, dir.File("x.vmra")).message, archmsg::kArchiveTooLarge.text);
    EXPECT_EQ(ReadAll(dir.File("x.vmra")), before);
    // ...one of exactly the allowed length is not.
    archive.SetMaxArchiveBytes(needed);
    EXPECT_FALSE(TryAdd(archive, next, dir.File("x.vmra")).thrown);
    EXPECT_EQ(FileSizeOf(dir.File("x.vmra")), needed);
}

TEST(ArchiveAdd, ALonePointAfterATwoByteGapIsRefusedOrComesBackIdentical) {
    TempDir dir;
    testsupport::LasBuild b;
    b.versionMinor = 0;
    b.points = 1;
    b.gap = {0xDD, 0xCC};
    WriteAll(dir.File("one.las"), testsupport::BuildLas(b));
    VMRAFile archive;
    const Refusal r = TryAdd(archive, dir.File("one.las"), dir.File("x.vmra"));
    if (r.thrown) {
        EXPECT_TRUE(r.canContinue) << r.message;
        EXPECT_FALSE(FileExists(dir.File("x.vmra")));
        return;
    }
    TempDir out;
    archive.ExtractEntry(dir.File("x.vmra"), "one.las", out.Path().string());
    EXPECT_EQ(ReadAll(out.File("one.las")), ReadAll(dir.File("one.las")));
}

// The file-size limit of the process makes every write past it fail, as a
// full disk would.
TEST(ArchiveAdd, AWriteThatFailsMidwayRestoresTheArchive) {
    TempDir dir;
    const std::string small = GenerateLas(dir, "small.las", 20, 0, 1);
    const std::string big = GenerateLas(dir, "big.las", 900, 3, 2);
    VMRAFile archive;
    archive.AddLasFile(small, dir.File("x.vmra"));
    const Bytes before = ReadAll(dir.File("x.vmra"));

    std::signal(SIGXFSZ, SIG_IGN);
    rlimit old{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
    rlimit limited = old;
    limited.rlim_cur = before.size() + 4000;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);
    const Refusal r = TryAdd(archive, big, dir.File("x.vmra"));
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &old), 0);

    EXPECT_TRUE(r.thrown);
    EXPECT_EQ(ReadAll(dir.File("x.vmra")), before) << r.message;
}

// Sparse files stand in for archives of a gigabyte: nothing is written but
// their length.
TEST(ArchivePartFiles, ArchivesPastTheLimitPassTheEntryOnToTheirParts) {
    TempDir dir;
    const std::string las = GenerateLas(dir, "a.las", 30, 0, 1);
    const int64_t over = VMRAFile::kPartLimit + 1;
    archtest::MakeSparseFile(dir.File("survey.vmra"), over, {}, {});
    archtest::MakeSparseFile(dir.File("survey_part1.VMRA"), over, {}, {});
    VMRAFile archive;
    archive.AddLasFile(las, dir.File("survey.vmra"));
    EXPECT_EQ(FileSizeOf(dir.File("survey.vmra")), over);
    EXPECT_EQ(FileSizeOf(dir.File("survey_part1.VMRA")), over);
    EXPECT_EQ(EntryNames(dir.File("survey_part2.VMRA")), std::vector<std::string>{"a.las"});
    EXPECT_EQ(ReadAll(dir.File("survey_part2.VMRA")), FreshArchive({las}));
}

TEST(ArchivePartFiles, AnArchiveOfExactlyTheLimitStillTakesTheEntry) {
    TempDir dir;
    const std::string las = GenerateLas(dir, "a.las", 30, 0, 1);
    const int64_t size = VMRAFile::kPartLimit;
    // One big entry from offset 4 up to its record.
    const int64_t dirStart = size - 268 - 4;
    Bytes tail(268 + 4, 0);
    archtest::PutU32(tail, 0, 4);
    archtest::PutU32(tail, 4, static_cast<uint32_t>(dirStart - 4));
    std::memcpy(tail.data() + 12, "big.las", 7);
    archtest::PutU32(tail, 268, 1);
    archtest::MakeSparseFile(dir.File("survey.vmra"), size, {0x1D, 0x2C, 0x3B, 0x4A}, tail);

    VMRAFile archive;
    archive.AddLasFile(las, dir.File("survey.vmra"));
    EXPECT_FALSE(FileExists(dir.File("survey_part1.VMRA")));
    EXPECT_EQ(EntryNames(dir.File("survey.vmra")), (std::vector<std::string>{"big.las", "a.las"}));
    CFile f(dir.File("survey.vmra"), "rb");
    archive.ReadDirectory(f);
    EXPECT_EQ(archive.Directory()[1].dataOffset, static_cast<uint32_t>(dirStart));
    f.Close();
    // Taking it out again restores the archive of exactly the limit.
    archive.DeleteEntry(dir.File("survey.vmra"), "a.las");
    EXPECT_EQ(FileSizeOf(dir.File("survey.vmra")), size);
}

TEST(ArchivePartFiles, NextPartNameCountsUpInTheFileNameOnly) {
    const std::pair<const char*, const char*> cases[] = {
        {"survey.vmra", "survey_part1.VMRA"},
        {"survey_part1.VMRA", "survey_part2.VMRA"},
        {"/data/survey_part9.vmra", "/data/survey_part10.VMRA"},
        {"survey_part007.vmra", "survey_part8.VMRA"},
        {"survey_part.vmra", "survey_part1.VMRA"},
        {"survey_partial.vmra", "survey_part1.VMRA"},
        {"_part3.vmra", "_part3_part1.VMRA"},
        {"survey", "survey_part1.VMRA"},
        // Folder names take no part: neither their "_part" nor their dots.
        {"/data/my_parts/survey.vmra", "/data/my_parts/survey_part1.VMRA"},
        {"/data/old_part2/survey_part4.vmra", "/data/old_part2/survey_part5.VMRA"},
        {"/data/v1.2/survey", "/data/v1.2/survey_part1.VMRA"},
        {"survey_part99999999999999999999.vmra", "survey_part100000000000000000000.VMRA"},
    };
    for (const auto& [in, out] : cases) EXPECT_EQ(VMRAFile::NextPartName(in), out) << in;
}

TEST(ArchiveContains, AnswersByExactNameAndCreatesMissingArchivesEmpty) {
    TempDir dir;
    VMRAFile archive;
    EXPECT_FALSE(archive.ContainsEntry(dir.File("new.vmra"), "/x/a.las"));
    EXPECT_EQ(FileSizeOf(dir.File("new.vmra")), 0);
    EXPECT_FALSE(archive.ContainsEntry(dir.File("new.vmra"), "/x/a.las"));

    const std::string las = GenerateLas(dir, "a.las", 30, 0, 1);
    archive.AddLasFile(las, dir.File("x.vmra"));
    archive.AddLasFile(GenerateLas(dir, "b.las", 30, 0, 2), dir.File("x.vmra"));
    EXPECT_TRUE(archive.ContainsEntry(dir.File("x.vmra"), "/elsewhere/b.las"));
    EXPECT_EQ(archive.FoundIndex(), 1);
    EXPECT_FALSE(archive.ContainsEntry(dir.File("x.vmra"), "B.las"));
    EXPECT_EQ(archive.FoundIndex(), -1);
    EXPECT_EQ(MessageOf([&] { archive.ContainsEntry(las, "a.las"); }), archmsg::kWrongFormat.text);
    EXPECT_EQ(MessageOf([&] { archive.ContainsEntry(dir.File("no/x.vmra"), "a.las"); }),
              archmsg::kErrorOpeningArchive.text);
}

}  // namespace

// One add reads the LAS file through one handle, besides the first look at
// its header: the system tells every opening of the file to a watch on it
// (closings are watched too, as the system would fold two openings that
// follow each other unread into one).
TEST(ArchiveAdd, TheLasFileIsOpenedOnceForItsPointsInEitherKind) {
    TempDir dir;
    const std::string las = archtest::GenerateLas(dir, "big.las", 3'000'000, 1, 4);
    for (bool extended : {false, true}) {
        SCOPED_TRACE(extended ? "extended" : "classic");
        const int watch = inotify_init1(IN_NONBLOCK);
        ASSERT_GE(watch, 0);
        ASSERT_GE(inotify_add_watch(watch, las.c_str(), IN_OPEN | IN_CLOSE), 0);
        VMRAFile archive;
        archive.extendedForAll = extended;
        archive.AddLasFile(las, dir.File(extended ? "x.vmra" : "c.vmra"));
        int opens = 0;
        alignas(inotify_event) char buffer[4096];
        for (ssize_t n; (n = read(watch, buffer, sizeof buffer)) > 0;) {
            for (char* p = buffer; p < buffer + n; p += sizeof(inotify_event) + reinterpret_cast<inotify_event*>(p)->len) {
                if (reinterpret_cast<inotify_event*>(p)->mask & IN_OPEN) ++opens;
            }
        }
        close(watch);
        EXPECT_GE(opens, 1);
        EXPECT_LE(opens, 2);
    }
}
