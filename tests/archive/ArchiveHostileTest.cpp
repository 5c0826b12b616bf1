#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

#include "ArchiveTestSupport.h"
#include "LasGenerator.h"
#include "TestSupport.h"
#include "archive/EntryNames.h"
#include "archive/VMRAFile.h"
#include "las/FileIo.h"

using archtest::Bytes;
using archtest::CurrentFolder;
using archtest::FolderContents;
using testsupport::ReadAll;
using testsupport::TempDir;
using testsupport::WriteAll;

namespace {

// Archive bytes of a raw, a coded and a VLR-carrying entry.
Bytes SampleArchive() {
    TempDir dir;
    VMRAFile archive;
    const std::pair<const char*, LasGenOptions> files[] = {
        {"raw.las", {.points = 60, .format = 0, .seed = 1, .vlrCount = 0}},
        {"coded.las", {.points = 1100, .format = 3, .seed = 2, .vlrCount = 1}},
        {"vlrs.las", {.points = 3, .format = 1, .seed = 3, .vlrCount = 3}},
    };
    for (const auto& [name, options] : files) {
        EXPECT_TRUE(GenerateLasFile(dir.File(name), options));
        archive.AddLasFile(dir.File(name), dir.File("x.vmra"));
    }
    return ReadAll(dir.File("x.vmra"));
}

// Runs every operation on one damaged archive inside the sandbox folder box.
// Each may fail with a message; none may crash, and nothing may appear
// outside the output folder except what the operations are meant to touch.
void ExerciseIn(const std::filesystem::path& box, const Bytes& damaged, const std::string& label) {
    const auto out = box / "out";
    std::filesystem::create_directories(out);
    const std::string vmra = (box / "x.vmra").string();
    WriteAll(vmra, damaged);
    LasGenOptions small;
    small.points = 5;
    small.format = 0;
    small.vlrCount = 0;
    const std::string add = (box / "add.las").string();
    ASSERT_TRUE(GenerateLasFile(add, small));

    VMRAFile archive;
    std::vector<std::string> names;
    try {
        CFile f(vmra, "rb");
        archive.ReadDirectory(f);
        for (const auto& r : archive.Directory()) names.push_back(r.Name());
    } catch (const CLasException&) {
    }
    try {
        CurrentFolder here(out);
        archive.ExtractAll(vmra);
    } catch (const CLasException&) {
    }
    for (const auto& name : names) {
        try {
            archive.ExtractEntry(vmra, name, out.string() + "/");
        } catch (const CLasException&) {
        }
    }
    for (const auto& name : FolderContents(out.string())) {
        EXPECT_TRUE(IsExtractableName(name)) << label;
        EXPECT_EQ(name.find(".velmora-"), std::string::npos) << label << ": scratch file left";
    }
    for (const auto& name : names) {
        try {
            archive.DeleteEntry(vmra, name);
        } catch (const CLasException&) {
        }
    }
    try {
        archive.AddLasFile(add, vmra);
    } catch (const CLasException&) {
    }
    EXPECT_EQ(FolderContents(box.string()), (std::vector<std::string>{"add.las", "out", "x.vmra"}))
        << label;
}

void Exercise(const Bytes& damaged, const std::string& label) {
    TempDir box;
    ExerciseIn(box.Path(), damaged, label);
}

TEST(ArchiveHostile, TruncatedArchivesFailCleanly) {
    const Bytes good = SampleArchive();
    std::vector<std::size_t> lengths = {1, 3, 4, 5, 8, 100, 236, 1000};
    for (std::size_t cut = 1; cut <= 600 && cut < good.size(); cut += 7) {
        lengths.push_back(good.size() - cut);
    }
    for (std::size_t n : lengths) {
        Exercise(Bytes(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(n)),
                 "cut at " + std::to_string(n));
    }
}

TEST(ArchiveHostile, FlippedBytesInTheDirectoryFailCleanly) {
    const Bytes good = SampleArchive();
    const std::size_t dirStart = good.size() - 4 - 3 * 268;
    for (std::size_t at = dirStart; at < good.size(); ++at) {
        // Offsets, sizes and counts everywhere; names only now and then.
        const std::size_t inRecord = (at - dirStart) % 268;
        if (at < good.size() - 4 && inRecord >= 20 && inRecord % 61 != 0) continue;
        for (uint8_t mask : {0x01, 0x80, 0xFF}) {
            Bytes bad = good;
            bad[at] ^= mask;
            Exercise(bad, "directory byte " + std::to_string(at) + " ^ " + std::to_string(mask));
        }
    }
}

TEST(ArchiveHostile, FlippedBytesInEntryDataFailCleanly) {
    const Bytes good = SampleArchive();
    const std::size_t dataEnd = good.size() - 4 - 3 * 268;
    for (std::size_t at = 4; at < dataEnd; at += (at < 4 + 240 ? 3 : 151)) {
        Bytes bad = good;
        bad[at] ^= 0x5A;
        Exercise(bad, "data byte " + std::to_string(at));
    }
}

TEST(ArchiveHostile, AbsurdCountsAndEscapingNamesFailCleanly) {
    const Bytes good = SampleArchive();
    for (uint32_t n : {0u, 2u, 4u, 1000u, 0x7FFFFFFFu, 0x80000000u, 0xFFFFFFFFu}) {
        Bytes bad = good;
        archtest::PutU32(bad, bad.size() - 4, n);
        Exercise(bad, "count " + std::to_string(n));
    }
    // Names that lead from the output folder into a sibling of the sandbox,
    // relatively and absolutely, all inside this test's own folder.
    TempDir root;
    const auto sibling = root.Path() / "sibling";
    std::filesystem::create_directory(sibling);
    const std::string names[] = {"../../sibling/escape.las", (sibling / "escape.las").string(),
                                 "../escape.las", ".."};
    for (const std::string& name : names) {
        Bytes bad = good;
        archtest::SetEntryName(bad, 2, name);
        ExerciseIn(root.Path() / "box", bad, name);
        std::filesystem::remove_all(root.Path() / "box");
        EXPECT_TRUE(FolderContents(sibling.string()).empty()) << name;
    }
    EXPECT_EQ(FolderContents(root.Path().string()), std::vector<std::string>{"sibling"});
}

}  // namespace
