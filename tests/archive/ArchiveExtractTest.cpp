#include <gtest/gtest.h>

#include "AllocationProbe.h"

#include <cstring>
#include <filesystem>

#include "ArchiveTestSupport.h"
#include "LasGenerator.h"
#include "TestLas.h"
#include "TestSupport.h"
#include "archive/ArchiveMessages.h"
#include "archive/VMRAFile.h"
#include "las/FileIo.h"
#include "las/LasMessages.h"

using archtest::Bytes;
using archtest::CurrentFolder;
using archtest::GenerateLas;
using archtest::FolderContents;
using archtest::GetU32;
using testsupport::MessageOf;
using archtest::PutU32;
using archtest::RecordAt;
using testsupport::ReadAll;
using testsupport::TempDir;
using testsupport::WriteAll;

namespace {

// An archive of a few small files: raw with and without VLRs, and coded.
struct SmallArchive {
    TempDir dir;
    std::vector<std::string> las;
    std::string path;
    SmallArchive() {
        LasGenOptions gap;
        gap.points = 40;
        gap.format = 2;
        gap.vlrCount = 0;
        gap.extraGapBytes = 7;
        las = {GenerateLas(dir, "raw999.las", 999, 0, 1), GenerateLas(dir, "gap.las", gap),
               GenerateLas(dir, "coded1000.las", 1000, 1, 2), GenerateLas(dir, "one.las", 1, 3, 3)};
        path = dir.File("x.vmra");
        VMRAFile archive;
        for (const auto& p : las) archive.AddLasFile(p, path);
    }
};

TEST(ArchiveExtract, RawAndCodedEntriesComeBackByteForByte) {
    SmallArchive a;
    TempDir out;
    VMRAFile archive;
    for (const auto& p : a.las) {
        const std::string name = FileNamePart(p);
        archive.ExtractEntry(a.path, name, out.Path().string() + "/");
        EXPECT_EQ(ReadAll(out.File(name)), ReadAll(p)) << name;
    }
    EXPECT_EQ(FolderContents(out.Path().string()).size(), a.las.size()) << "no scratch files left";
}

// An entry addressed by its place is the one the caller listed, or none:
// the archive may have changed since, and entries of one name are told
// apart by their places alone.
TEST(ArchiveExtract, AnEntryAddressedByItsPlaceMustStillBearItsName) {
    SmallArchive a;
    TempDir out;
    VMRAFile archive;
    // Another entry's name at that place, and a place past the last entry.
    const std::pair<std::size_t, std::string> wrong[] = {{1, "raw999.las"}, {4, "one.las"}};
    for (const auto& w : wrong) {
        const std::size_t at = w.first;
        const std::string& name = w.second;
        const std::string folder = out.Path().string();
        EXPECT_EQ(MessageOf([&] { archive.ExtractEntryAt(a.path, at, name, folder); }), archmsg::kNotFound.text);
        EXPECT_EQ(MessageOf([&] { archive.TestEntryAt(a.path, at, name); }), archmsg::kNotFound.text);
    }
    EXPECT_TRUE(FolderContents(out.Path().string()).empty());
    archive.ExtractEntryAt(a.path, 3, "one.las", out.Path().string());
    EXPECT_EQ(ReadAll(out.File("one.las")), ReadAll(a.las[3]));
    EXPECT_TRUE(archive.TestEntryAt(a.path, 2, "coded1000.las"));

    // Extracting everything gives the first entry of a name and refuses the
    // later one, which would overwrite it.
    Bytes image = ReadAll(a.path);
    archtest::SetEntryName(image, 1, "raw999.las");
    WriteAll(a.path, image);
    TempDir all;
    CurrentFolder here(all.Path());
    EXPECT_EQ(MessageOf([&] { archive.ExtractAll(a.path); }), archmsg::kDuplicateEntry.text);
    EXPECT_EQ(FolderContents(all.Path().string()),
              (std::vector<std::string>{"coded1000.las", "one.las", "raw999.las"}));
    EXPECT_EQ(ReadAll(all.File("raw999.las")), ReadAll(a.las[0]));
}

// Damaged but admitted: the header declares VLRs and leaves no room for
// them, so the entry carries an empty VLR block.
TEST(ArchiveExtract, AFileDeclaringVlrsWithoutRoomForThemComesBack) {
    TempDir dir, out;
    testsupport::LasBuild b;
    b.declaredVlrs = 2;
    b.points = 7;
    WriteAll(dir.File("novlr.las"), testsupport::BuildLas(b));
    VMRAFile archive;
    archive.AddLasFile(dir.File("novlr.las"), dir.File("x.vmra"));
    archive.ExtractEntry(dir.File("x.vmra"), "novlr.las", out.Path().string() + "/");
    EXPECT_EQ(ReadAll(out.File("novlr.las")), ReadAll(dir.File("novlr.las")));
}

TEST(ArchiveExtract, AFolderWithoutTrailingSeparatorStillReceivesTheFile) {
    SmallArchive a;
    TempDir out;
    VMRAFile archive;
    archive.ExtractEntry(a.path, "one.las", out.Path().string());
    EXPECT_EQ(ReadAll(out.File("one.las")), ReadAll(a.las[3]));
}

TEST(ArchiveExtract, MissingEntriesAndEmptyArchivesAreReported) {
    SmallArchive a;
    TempDir out;
    const std::string folder = out.Path().string() + "/";
    VMRAFile archive;
    archive.ExtractEntry(a.path, "one.las", folder);
    EXPECT_EQ(MessageOf([&] { archive.ExtractEntry(a.path, "ONE.las", folder); }),
              archmsg::kNotFound.text);
    EXPECT_EQ(MessageOf([&] { archive.ExtractEntry(a.path, "two.las", folder); }),
              archmsg::kNotFound.text);
    WriteAll(out.File("empty.vmra"), {});
    EXPECT_EQ(MessageOf([&] { archive.ExtractEntry(out.File("empty.vmra"), "one.las", folder); }),
              archmsg::kCannotCheck.text);
    EXPECT_EQ(MessageOf([&] { archive.ExtractEntry(out.File("none.vmra"), "one.las", folder); }),
              archmsg::kErrorOpeningArchive.text);
    EXPECT_EQ(MessageOf([&] { archive.ExtractEntry(a.las[0], "one.las", folder); }),
              archmsg::kWrongFormat.text);
    EXPECT_EQ(FolderContents(out.Path().string()),
              (std::vector<std::string>{"empty.vmra", "one.las"}));
}

TEST(ArchiveExtract, ExtractAllFillsTheCurrentFolderAndIgnoresEmptyArchives) {
    SmallArchive a;
    TempDir out;
    CurrentFolder here(out.Path());
    VMRAFile archive;
    archive.ExtractAll(a.path);
    for (const auto& p : a.las) EXPECT_EQ(ReadAll(out.File(FileNamePart(p))), ReadAll(p)) << p;
    EXPECT_EQ(FolderContents(out.Path().string()).size(), a.las.size());

    TempDir empty;
    CurrentFolder there(empty.Path());
    WriteAll(empty.File("empty.vmra"), {});
    EXPECT_EQ(MessageOf([&] { archive.ExtractAll("empty.vmra"); }), "");
    EXPECT_EQ(FolderContents(empty.Path().string()), std::vector<std::string>{"empty.vmra"});
}

TEST(ArchiveExtract, FoldersThatCannotBeWrittenGetNothing) {
    SmallArchive a;
    const Bytes before = ReadAll(a.path);
    TempDir out;
    WriteAll(out.File("plain.txt"), {'x'});
    VMRAFile archive;
    for (const std::string& folder :
         {out.File("missing") + "/", out.File("plain.txt") + "/", std::string("/proc/")}) {
        EXPECT_EQ(MessageOf([&] { archive.ExtractEntry(a.path, "raw999.las", folder); }),
                  lasmsg::kWriteOpen.text)
            << folder;
    }
    EXPECT_EQ(FolderContents(out.Path().string()), std::vector<std::string>{"plain.txt"});
    EXPECT_EQ(ReadAll(a.path), before);
}

// Entry names come from the file; none may lead outside the output folder.
TEST(ArchiveExtract, NamesThatAreNotPlainFileNamesAreRefused) {
    SmallArchive a;
    const Bytes good = ReadAll(a.path);
    const std::string hostile[] = {"../evil.las", "sub/evil.las", "..", ".", "", "a\\b.las",
                                   "/tmp/evil.las", std::string(256, 'x')};
    for (const auto& name : hostile) {
        Bytes bad = good;
        uint8_t* field = bad.data() + RecordAt(bad, 1) + 12;
        std::memset(field, 0, 256);
        std::memcpy(field, name.data(), name.size());
        TempDir box;
        std::filesystem::create_directory(box.Path() / "out");
        WriteAll(box.File("x.vmra"), bad);
        VMRAFile archive;
        EXPECT_EQ(MessageOf([&] {
                      archive.ExtractEntry(box.File("x.vmra"), name, box.File("out") + "/");
                  }),
                  archmsg::kUnsafeEntryName.text)
            << name;
        EXPECT_TRUE(FolderContents(box.File("out")).empty()) << name;
        // Extracting everything leaves that one entry out, and says so.
        {
            CurrentFolder here(box.Path() / "out");
            EXPECT_EQ(MessageOf([&] { archive.ExtractAll("../x.vmra"); }), archmsg::kUnsafeEntryName.text)
                << name;
        }
        EXPECT_EQ(FolderContents(box.File("out")),
                  (std::vector<std::string>{"coded1000.las", "one.las", "raw999.las"}))
            << name;
        EXPECT_EQ(FolderContents(box.Path().string()), (std::vector<std::string>{"out", "x.vmra"}))
            << name;
    }
}

// A damaged entry header cannot make extraction write more points than the
// entry's data can hold.
TEST(ArchiveExtract, EntryHeadersThatDoNotFitTheirDataAreRefused) {
    SmallArchive a;
    const Bytes good = ReadAll(a.path);
    struct Damage {
        const char* what;
        std::size_t entry;
        std::size_t at;  // offset inside the stored header image
        uint32_t value;
        int bytes;
    };
    const Damage cases[] = {
        {"raw point count far too high", 0, 108, 5000000, 4},
        {"raw point count one too high", 0, 108, 1000, 4},
        {"coded point count in the billions", 2, 108, 0xFFFFFFF0u, 4},
        {"unknown marker", 2, 0, 'Q', 1},
        {"point format 6", 0, 104, 6, 1},
        {"record length of another format", 2, 106, 34, 2},
        {"VLR block past the entry", 3, 96, 0x7FFFFFF0u, 4},
    };
    for (const auto& c : cases) {
        Bytes bad = good;
        const std::size_t at = GetU32(bad, RecordAt(bad, c.entry)) + c.at;
        for (int k = 0; k < c.bytes; ++k) bad[at + k] = static_cast<uint8_t>(c.value >> (8 * k));
        TempDir box;
        WriteAll(box.File("x.vmra"), bad);
        VMRAFile archive;
        const std::string name = FileNamePart(a.las[c.entry]);
        EXPECT_EQ(MessageOf([&] {
                      archive.ExtractEntry(box.File("x.vmra"), name, box.Path().string() + "/");
                  }),
                  archmsg::kDamagedEntry.text)
            << c.what;
        EXPECT_EQ(FolderContents(box.Path().string()), std::vector<std::string>{"x.vmra"}) << c.what;
    }
}

// Archives that recorded only the point bytes as the stored size of raw
// entries still list, extract and delete correctly.
TEST(ArchiveExtract, OlderArchivesWithShortStoredSizesStillWork) {
    SmallArchive a;
    Bytes image = ReadAll(a.path);
    // Older writers recorded only the points' bytes for entries kept
    // uncompressed (fewer than 1000 points and no gap block).
    const uint32_t shortSizes[] = {999 * 20, 0, 0, 1 * 34};
    for (std::size_t i = 0; i < 4; ++i) {
        if (shortSizes[i] != 0) PutU32(image, RecordAt(image, i) + 4, shortSizes[i]);
    }
    WriteAll(a.path, image);

    VMRAFile archive;
    archive.DeleteEntry(a.path, "raw999.las");
    archive.DeleteEntry(a.path, "one.las");
    TempDir out;
    {
        CurrentFolder here(out.Path());
        archive.ExtractAll(a.path);
    }
    EXPECT_EQ(FolderContents(out.Path().string()),
              (std::vector<std::string>{"coded1000.las", "gap.las"}));
    EXPECT_EQ(ReadAll(out.File("gap.las")), ReadAll(a.las[1]));
    EXPECT_EQ(ReadAll(out.File("coded1000.las")), ReadAll(a.las[2]));
}

TEST(ArchiveExtract, AStoredSizeThatDoesNotAccountForTheDataIsDamage) {
    SmallArchive a;
    const Bytes good = ReadAll(a.path);
    struct Case {
        std::size_t entry;
        int64_t delta;
        const char* message;
    };
    // A coded entry one byte short, or long (it then reaches into the next
    // entry: the directory as a whole is damaged), and a raw entry whose size
    // is neither its data's nor its points'.
    for (const Case c : {Case{2, -1, archmsg::kDamagedEntry.text}, Case{2, 1, archmsg::kCannotReadHeaders.text},
                         Case{1, -7, archmsg::kDamagedEntry.text}, Case{0, -1, archmsg::kDamagedEntry.text}}) {
        Bytes image = good;
        const std::size_t field = RecordAt(image, c.entry) + 4;
        PutU32(image, field, static_cast<uint32_t>(archtest::GetU32(image, field) + c.delta));
        WriteAll(a.path, image);
        VMRAFile archive;
        TempDir out;
        const std::string name = FileNamePart(a.las[c.entry]);
        EXPECT_EQ(MessageOf([&] { archive.ExtractEntry(a.path, name, out.Path().string() + "/"); }),
                  c.message)
            << name << " " << c.delta;
        EXPECT_TRUE(FolderContents(out.Path().string()).empty());
    }
}

TEST(ArchiveExtract, AnEntryClaimingMorePointsThanItsDataHoldsIsRefusedBeforeAllocating) {
    SmallArchive a;
    Bytes image = ReadAll(a.path);
    // The coded entry's stored header says four billion points.
    const std::size_t header = GetU32(image, RecordAt(image, 2));
    PutU32(image, header + 108, 4000000000u);
    WriteAll(a.path, image);
    VMRAFile archive;
    TempDir out;
    std::string message;
    EXPECT_LT(testsupport::LargestAllocationDuring([&] {
                  message = MessageOf([&] { archive.ExtractEntry(a.path, "coded1000.las", out.Path().string()); });
              }),
              std::size_t{4} << 20);
    EXPECT_EQ(message, archmsg::kDamagedEntry.text);
}

}  // namespace


namespace {

// Without a checksum only the length is left to tell wrong data: an entry
// that decodes to more bytes than its record says went in is damage too.
TEST(ArchiveExtract, AnEntryWithoutChecksumDecodingLongerThanItsRecordIsDamage) {
    SmallArchive a;
    for (const std::size_t entry : {std::size_t{0}, std::size_t{2}}) {
        Bytes image = ReadAll(a.path);
        const std::size_t record = RecordAt(image, entry);
        archtest::SetEntryName(image, entry, FileNamePart(a.las[entry]));
        PutU32(image, record + 8, GetU32(image, record + 8) - 20);
        TempDir box;
        WriteAll(box.File("x.vmra"), image);
        VMRAFile archive;
        const std::string name = FileNamePart(a.las[entry]);
        EXPECT_EQ(MessageOf([&] { archive.ExtractEntry(box.File("x.vmra"), name, box.Path().string()); }),
                  archmsg::kLengthMismatch.text)
            << name;
        EXPECT_EQ(MessageOf([&] { archive.TestEntry(box.File("x.vmra"), name); }), archmsg::kLengthMismatch.text)
            << name;
        EXPECT_EQ(FolderContents(box.Path().string()), std::vector<std::string>{"x.vmra"}) << name;
    }
}

// A raw entry's point count times its record length, taken in 32 bits, can
// wrap to the very length its data has: the count must still be refused.
TEST(ArchiveExtract, ARawPointCountWhoseByteCountWrapsIsRefusedUpFront) {
    SmallArchive a;
    Bytes image = ReadAll(a.path);
    const std::size_t header = GetU32(image, RecordAt(image, 0));
    ASSERT_EQ(image[header], 'O') << "raw999.las is kept uncompressed";
    ASSERT_EQ(GetU32(image, header + 108), 999u);
    // 20-byte records: (999 + 2^30) * 20 is 999 * 20 modulo 2^32.
    const uint32_t wrapping = 999u + (1u << 30);
    ASSERT_EQ(static_cast<uint32_t>(wrapping * 20u), 999u * 20u);
    PutU32(image, header + 108, wrapping);
    WriteAll(a.path, image);
    VMRAFile archive;
    TempDir out;
    EXPECT_EQ(MessageOf([&] { archive.ExtractEntry(a.path, "raw999.las", out.Path().string()); }),
              archmsg::kDamagedEntry.text);
    EXPECT_EQ(MessageOf([&] { archive.TestEntry(a.path, "raw999.las"); }), archmsg::kDamagedEntry.text);
    EXPECT_TRUE(FolderContents(out.Path().string()).empty());
}

}  // namespace
