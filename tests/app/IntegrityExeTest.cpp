// What the command line does with inputs it must not trust.
#include <gtest/gtest.h>

#include <chrono>
#include <sys/stat.h>

#include "ArchiveTestSupport.h"
#include "ExeRunner.h"
#include "LasGenerator.h"
#include "TestSupport.h"
#include "app/CommandLine.h"
#include "archive/ArchiveMessages.h"
#include "las/FileIo.h"

using exetest::ExeResult;
using exetest::Velmora;
using testsupport::ReadAll;
using testsupport::TempDir;
using testsupport::WriteAll;

namespace {

TEST(VelmoraUntrusted, PipesGivenAsFilesEndAtOnce) {
    TempDir dir;
    ASSERT_EQ(mkfifo(dir.File("fifo.vmra").c_str(), 0600), 0);
    ASSERT_EQ(mkfifo(dir.File("fifo.las").c_str(), 0600), 0);
    LasGenOptions o;
    o.points = 1200;
    ASSERT_TRUE(GenerateLasFile(dir.File("a.las"), o));
    for (const auto& args : {std::vector<std::string>{"-d", "fifo.vmra"},
                             std::vector<std::string>{"-c", "fifo.las", "x.vmra"},
                             std::vector<std::string>{"-c", "a.las", "fifo.vmra"}}) {
        exetest::Spawned p(dir.Path().string(), args);
        ExeResult r;
        EXPECT_TRUE(p.EndsWithin(1.0, r)) << args[1] << " still waits on the pipe";
        EXPECT_EQ(r.status, 255) << args[1];
        EXPECT_FALSE(r.err.empty()) << args[1];
    }
    EXPECT_FALSE(FileExists(dir.File("x.vmra")));
}

TEST(VelmoraUntrusted, AnArchiveWhoseDirectoryDoesNotHoldIsNamedAndNothingIsExtracted) {
    TempDir dir;
    LasGenOptions o;
    o.points = 1500;
    ASSERT_TRUE(GenerateLasFile(dir.File("a.las"), o));
    ASSERT_EQ(Velmora(dir.Path().string(), {"-c", "a.las", "x.vmra"}).status, 0);
    auto bytes = ReadAll(dir.File("x.vmra"));
    bytes.push_back(0);
    WriteAll(dir.File("x.vmra"), bytes);
    TempDir out;
    const ExeResult r = Velmora(out.Path().string(), {"-d", dir.File("x.vmra")});
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.err.rfind(dir.File("x.vmra") + ": " + archmsg::kCannotReadHeaders.text, 0), 0u) << r.err;
    EXPECT_TRUE(archtest::FolderContents(out.Path().string()).empty());
}

TEST(VelmoraTest, OneLinePerEntryAndExitZeroOnlyWhenAllAreGood) {
    TempDir dir;
    for (auto [name, points] : {std::pair{"a.las", 1500}, std::pair{"b.las", 700}, std::pair{"c.las", 2500}}) {
        LasGenOptions o;
        o.points = static_cast<uint64_t>(points);
        o.format = 3;
        o.seed = static_cast<uint64_t>(points);
        ASSERT_TRUE(GenerateLasFile(dir.File(name), o));
    }
    ASSERT_EQ(Velmora(dir.Path().string(), {"-c", "a.las", "b.las", "c.las", "x.vmra"}).status, 0);
    const auto good = ReadAll(dir.File("x.vmra"));
    const auto before = archtest::FolderContents(dir.Path().string());

    ExeResult r = Velmora(dir.Path().string(), {"-t", "x.vmra"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "a.las: ok\nb.las: ok\nc.las: ok\n3 files tested ok\n");
    EXPECT_EQ(archtest::FolderContents(dir.Path().string()), before) << "a test writes nothing";

    r = Velmora(dir.Path().string(), {"-q", "-j", "1", "-t", "x.vmra", "c.las", "nope.las"});
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.out, std::string("c.las: ok\nnope.las: failed: ") + archmsg::kNotFound.text +
                         "\n1 file tested ok, 1 failed\n");

    // Without checksums (as other writers leave entries) the entries pass,
    // saying so.
    auto bare = good;
    const int32_t n = archtest::CountOf(bare);
    for (int32_t i = 0; i < n; ++i) {
        uint8_t* name = bare.data() + archtest::RecordAt(bare, static_cast<std::size_t>(i)) + 12;
        std::fill(name + 6, name + 256, 0);
    }
    WriteAll(dir.File("x.vmra"), bare);
    r = Velmora(dir.Path().string(), {"-t", "x.vmra"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "a.las: ok (no checksum)\nb.las: ok (no checksum)\nc.las: ok (no checksum)\n"
                     "3 files ok without checksum\n");

    // One flipped byte in the middle entry's points.
    auto bad = good;
    const std::size_t b = archtest::GetU32(bad, archtest::RecordAt(bad, 1));
    bad[b + 232 + 300] ^= 0x01;
    WriteAll(dir.File("x.vmra"), bad);
    r = Velmora(dir.Path().string(), {"-t", "x.vmra"});
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.out, std::string("a.las: ok\nb.las: damaged: ") + archmsg::kChecksumMismatch.text +
                         "\nc.las: ok\n2 files tested ok, 1 damaged\n");

    // An archive that cannot be read is an error about the archive.
    WriteAll(dir.File("x.vmra"), {1, 2, 3, 4, 5});
    r = Velmora(dir.Path().string(), {"-t", "x.vmra"});
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.err.rfind(std::string("x.vmra: ") + archmsg::kWrongFormat.text, 0), 0u) << r.err;
    // And the command line must name one archive.
    EXPECT_EQ(Velmora(dir.Path().string(), {"-t", "a.las"}).status, 255);
}

}  // namespace

