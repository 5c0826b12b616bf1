// Archives holding entries of the extended kind beside classic ones: every
// tool sees them, and what is damaged or newer is told apart.
#include <gtest/gtest.h>

#include <functional>
#include <map>

#include "ArchiveTestSupport.h"
#include "LasGenerator.h"
#include "TestSupport.h"
#include "archive/ArchiveMessages.h"
#include "archive/VMRAFile.h"
#include "engine/EngineMessages.h"
#include "engine/EntryMarkers.h"
#include "engine/ExtEntry.h"
#include "las/FileIo.h"

using archtest::Bytes;
using archtest::EntryNames;
using archtest::FolderContents;
using archtest::GenerateLas;
using archtest::GetU32;
using archtest::RecordAt;
using testsupport::ReadAll;
using testsupport::TempDir;
using testsupport::WriteAll;

namespace {

struct Made {
    std::string path;
    int minor;
    int format;
    uint64_t points;
};

LasGenOptions Options(uint64_t points, int format, int minor, const std::function<void(LasGenOptions&)>& more) {
    LasGenOptions o;
    o.points = points;
    o.format = format;
    o.versionMinor = minor;
    o.seed = points + static_cast<uint64_t>(format);
    more(o);
    return o;
}

// One file of each thing the classic kind cannot carry, and a classic one.
std::vector<Made> MixedFiles(const TempDir& dir) {
    const auto none = [](LasGenOptions&) {};
    struct Planned {
        const char* name;
        LasGenOptions options;
    };
    const Planned planned[] = {
        {"classic.las", Options(1500, 1, 2, none)},
        {"v14f7.las", Options(3000, 7, 4, [](LasGenOptions& o) {
             o.versionHeader = true;
             o.channels = 2;
             o.extraBytes = 10;
             o.evlrCount = 2;
         })},
        {"v13f4.las", Options(1200, 4, 3, [](LasGenOptions& o) {
             o.versionHeader = true;
             o.internalWaveform = true;
         })},
        {"empty.las", Options(0, 0, 2, none)},
        {"eb.las", Options(2500, 1, 2, [](LasGenOptions& o) {
             o.extraBytes = 6;
             o.describeExtraBytes = false;
             o.tailBytes = 9;
         })},
        {"v14f10.las", Options(900, 10, 4, [](LasGenOptions& o) {
             o.versionHeader = true;
             o.headerExtraBytes = 3;
         })},
    };
    std::vector<Made> made;
    for (const Planned& s : planned) {
        made.push_back({GenerateLas(dir, s.name, s.options), s.options.versionMinor, s.options.format,
                        s.options.points});
    }
    return made;
}

std::string NameOf(const std::string& path) { return path.substr(path.find_last_of('/') + 1); }

// The first byte of entry i's data: the mark of its kind.
uint8_t KindByte(const Bytes& image, std::size_t i) { return image[GetU32(image, RecordAt(image, i))]; }

TEST(ArchiveExtended, EveryToolHandlesBothKindsInOneArchive) {
    TempDir dir, out, other;
    const std::string vmra = dir.File("x.vmra");
    const std::vector<Made> files = MixedFiles(dir);
    VMRAFile archive;
    for (const Made& m : files) archive.AddLasFile(m.path, vmra);

    // Only the file the classic kind can carry is classic; the listing reads
    // the rest from the extended entries' heads.
    const std::vector<EntryInfo> listed = archive.ListEntries(vmra);
    ASSERT_EQ(listed.size(), files.size());
    const Bytes image = ReadAll(vmra);
    for (std::size_t i = 0; i < files.size(); ++i) {
        const std::string name = NameOf(files[i].path);
        EXPECT_EQ(listed[i].extended, i != 0) << name;
        EXPECT_EQ(KindByte(image, i), i == 0 ? entrymarker::kLas : extentry::kMarker) << name;
        ASSERT_TRUE(listed[i].headerRead) << name;
        EXPECT_EQ(listed[i].versionMinor, files[i].minor) << name;
        EXPECT_EQ(listed[i].pointFormat, files[i].format) << name;
        EXPECT_EQ(listed[i].points, files[i].points) << name;
        EXPECT_EQ(listed[i].checksum, EntryRecord::ChecksumState::Present) << name;
        EXPECT_TRUE(archive.TestEntry(vmra, name)) << name;
        archive.ExtractEntry(vmra, name, out.Path().string() + "/");
        EXPECT_EQ(ReadAll(out.File(name)), ReadAll(files[i].path)) << name;
    }

    // Deleting an extended entry in the middle moves the others down; a
    // replacement of an extended entry by a classic file and of the classic
    // entry by an extended one each lands at the end.
    archive.DeleteEntry(vmra, "v13f4.las");
    const std::string classicAsV14 = GenerateLas(other, "v14f7.las", 1100, 1, 9);
    archive.AddLasFile(classicAsV14, vmra);
    LasGenOptions v14 = Options(700, 6, 4, [](LasGenOptions& o) { o.versionHeader = true; });
    const std::string extendedAsClassic = GenerateLas(other, "classic.las", v14);
    archive.AddLasFile(extendedAsClassic, vmra);
    EXPECT_EQ(EntryNames(vmra),
              (std::vector<std::string>{"empty.las", "eb.las", "v14f10.las", "v14f7.las", "classic.las"}));
    const std::map<std::string, std::string> now = {
        {"empty.las", files[3].path},     {"eb.las", files[4].path},          {"v14f10.las", files[5].path},
        {"v14f7.las", classicAsV14},      {"classic.las", extendedAsClassic},
    };
    const std::vector<EntryInfo> after = archive.ListEntries(vmra);
    EXPECT_FALSE(after[3].extended);
    EXPECT_TRUE(after[4].extended);
    TempDir again;
    for (const auto& [name, original] : now) {
        EXPECT_TRUE(archive.TestEntry(vmra, name)) << name;
        archive.ExtractEntry(vmra, name, again.Path().string() + "/");
        EXPECT_EQ(ReadAll(again.File(name)), ReadAll(original)) << name;
    }
}

TEST(ArchiveExtended, EveryFileCanBeStoredExtendedAndOnlyThenAreClassicFilesSo) {
    TempDir dir, out;
    const std::string las = GenerateLas(dir, "a.las", 4000, 3, 5);
    VMRAFile classic;
    classic.AddLasFile(las, dir.File("classic.vmra"));
    VMRAFile extended;
    extended.extendedForAll = true;
    extended.AddLasFile(las, dir.File("extended.vmra"));
    EXPECT_EQ(KindByte(ReadAll(dir.File("classic.vmra")), 0), entrymarker::kLas);
    EXPECT_EQ(KindByte(ReadAll(dir.File("extended.vmra")), 0), extentry::kMarker);
    EXPECT_TRUE(extended.ListEntries(dir.File("extended.vmra"))[0].extended);
    EXPECT_TRUE(extended.TestEntry(dir.File("extended.vmra"), "a.las"));
    extended.ExtractEntry(dir.File("extended.vmra"), "a.las", out.Path().string() + "/");
    EXPECT_EQ(ReadAll(out.File("a.las")), ReadAll(las));
}

// Without --extended, a file the classic kind carries makes the very archive
// Velmora wrote before the extended kind existed (fixtures/README.md).
TEST(ArchiveExtended, ClassicFilesStillMakeTheArchiveOfOlderVersions) {
    TempDir dir;
    LasGenOptions o;
    o.points = 12;
    o.format = 3;
    o.seed = 5;
    o.vlrCount = 1;
    const std::string las = GenerateLas(dir, "golden.las", o);
    VMRAFile archive;
    archive.AddLasFile(las, dir.File("x.vmra"));
    EXPECT_EQ(ReadAll(dir.File("x.vmra")), ReadAll(std::string(VELMORA_ARCHIVE_FIXTURES_DIR) + "/checksum.vmra"));
}

// A flipped byte anywhere in an extended entry is found by -t and keeps -d
// from writing anything; an entry of a later layout is refused as such, and
// the batch may go on.
TEST(ArchiveExtended, DamagedAndNewerEntriesAreToldApartAndWriteNothing) {
    TempDir dir;
    LasGenOptions o = Options(3000, 6, 4, [](LasGenOptions& x) {
        x.versionHeader = true;
        x.evlrCount = 1;
    });
    const std::string las = GenerateLas(dir, "a.las", o);
    VMRAFile archive;
    archive.AddLasFile(las, dir.File("x.vmra"));
    const Bytes good = ReadAll(dir.File("x.vmra"));
    const std::size_t start = GetU32(good, RecordAt(good, 0));
    const std::size_t extent = RecordAt(good, 0) - start;

    int damaged = 0;
    for (std::size_t at = start + 2; at < start + extent; at += 1 + extent / 61) {
        Bytes bad = good;
        bad[at] ^= 0x20;
        TempDir box;
        WriteAll(box.File("x.vmra"), bad);
        VMRAFile reader;
        try {
            reader.TestEntry(box.File("x.vmra"), "a.las");
        } catch (const CLasException& e) {
            ++damaged;
        }
        EXPECT_THROW(reader.ExtractEntry(box.File("x.vmra"), "a.las", box.Path().string() + "/"), CLasException)
            << at - start;
        EXPECT_EQ(FolderContents(box.Path().string()), std::vector<std::string>{"x.vmra"}) << at - start;
    }
    EXPECT_GT(damaged, 55);

    // A stored size short of the entry's bytes: older writers left such
    // sizes for classic entries kept raw, never for this kind.
    {
        Bytes bad = good;
        archtest::PutU32(bad, RecordAt(bad, 0) + 4, static_cast<uint32_t>(extent - 1));
        TempDir box;
        WriteAll(box.File("x.vmra"), bad);
        VMRAFile reader;
        EXPECT_EQ(testsupport::MessageOf([&] { reader.TestEntry(box.File("x.vmra"), "a.las"); }),
                  archmsg::kDamagedEntry.text);
    }

    Bytes newer = good;
    newer[start + 1] = extentry::kVersion + 1;  // the layout version after the mark
    WriteAll(dir.File("newer.vmra"), newer);
    VMRAFile reader;
    TempDir out;
    for (bool extract : {false, true}) {
        try {
            if (extract) {
                reader.ExtractEntry(dir.File("newer.vmra"), "a.las", out.Path().string() + "/");
            } else {
                reader.TestEntry(dir.File("newer.vmra"), "a.las");
            }
            ADD_FAILURE() << "an entry of a later layout was read";
        } catch (const CLasException& e) {
            EXPECT_STREQ(e.Message(), enginemsg::kExtNewer.text);
            EXPECT_TRUE(e.canContinue);
        }
    }
    EXPECT_TRUE(FolderContents(out.Path().string()).empty());
    // Still listed, by name and sizes, as an extended entry.
    const std::vector<EntryInfo> listed = reader.ListEntries(dir.File("newer.vmra"));
    ASSERT_EQ(listed.size(), 1u);
    EXPECT_TRUE(listed[0].extended);
}

}  // namespace
