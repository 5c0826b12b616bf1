#include <gtest/gtest.h>

#include <filesystem>

#include "ArchiveTestSupport.h"
#include "ExeRunner.h"
#include "LasGenerator.h"
#include "TestLas.h"
#include "TestSupport.h"
#include "app/CommandLine.h"
#include "app/CommandLineMessages.h"
#ifdef VELMORA_WITH_GUI
#include "app/AppMessages.h"
#endif
#include "archive/ArchiveMessages.h"
#include "archive/VMRAFile.h"
#include "las/FileIo.h"

using archtest::EntryNames;
using exetest::ExeResult;
using exetest::Velmora;
using testsupport::ReadAll;
using testsupport::TempDir;
using testsupport::WriteAll;

namespace {

std::string Usage() { return UsageText(exetest::ExePath()); }

std::vector<std::string> Files(const TempDir& dir) {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(dir.Path())) {
        names.push_back(e.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

// A folder with two small LAS files and an archive holding both.
struct Folder {
    TempDir dir;
    Folder() {
        for (auto [name, seed] : {std::pair{"a.las", 1}, std::pair{"b.las", 2}}) {
            LasGenOptions o;
            o.points = 40 + seed;
            o.format = 1;
            o.seed = static_cast<uint64_t>(seed);
            EXPECT_TRUE(GenerateLasFile(dir.File(name), o));
        }
    }
    std::string Path() const { return dir.Path().string(); }
};

TEST(VelmoraCompress, NoFilesDoNothingAndCreateNoArchive) {
    Folder f;
    const ExeResult r = Velmora(f.Path(), {"-c", "x.vmra"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_FALSE(FileExists(f.dir.File("x.vmra")));

    TempDir empty;
    const ExeResult none = Velmora(empty.Path().string(), {"-c", "*.las", "x.vmra"});
    EXPECT_EQ(none.status, 0);
    EXPECT_EQ(none.err, "");
    EXPECT_TRUE(Files(empty).empty());
}

TEST(VelmoraCompress, ThePatternAloneTakesEveryLasFileOfTheFolder) {
    Folder f;
    const ExeResult r = Velmora(f.Path(), {"-c", "*.LAS", "x.vmra"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(EntryNames(f.dir.File("x.vmra")), (std::vector<std::string>{"a.las", "b.las"}));
}

TEST(VelmoraCompress, ThePatternAmongOtherFilesIsAFileName) {
    Folder f;
    const ExeResult r = Velmora(f.Path(), {"-c", "*.las", "a.las", "x.vmra"});
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.err, "Error opening file *.las !\n");
    EXPECT_FALSE(FileExists(f.dir.File("x.vmra")));
}

TEST(VelmoraCompress, ExtensionsIgnoreCaseAndNamesStayAsTyped) {
    Folder f;
    std::filesystem::rename(f.dir.File("a.las"), f.dir.File("A.LAS"));
    const ExeResult r = Velmora(f.Path(), {"-c", "A.LAS", "X.VMRA"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(EntryNames(f.dir.File("X.VMRA")), std::vector<std::string>{"A.LAS"});
}

TEST(VelmoraCompress, AMissingFileEndsTheRunBeforeAnyArchiveIsTouched) {
    Folder f;
    const ExeResult r = Velmora(f.Path(), {"-c", "a.las", "missing.las", "x.vmra"});
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.err, "Error opening file missing.las !\n");
    EXPECT_FALSE(FileExists(f.dir.File("x.vmra")));
}

TEST(VelmoraCompress, AFailedSecondFileKeepsTheFirstAndShowsErrorThenUsage) {
    Folder f;
    const testsupport::LasBuild v13 = testsupport::UnstorableLas(4);
    WriteAll(f.dir.File("v13.las"), testsupport::BuildLas(v13));
    const ExeResult r = Velmora(f.Path(), {"-c", "a.las", "v13.las", "x.vmra"});
    EXPECT_EQ(r.status, 255);
    // Among many files the message must say which one it is about.
    EXPECT_EQ(r.err, std::string("v13.las: ") + lasmsg::kShortRecords.text + "\n" + Usage());
    EXPECT_EQ(EntryNames(f.dir.File("x.vmra")), std::vector<std::string>{"a.las"});
}

TEST(VelmoraCompress, WithoutATerminalTheOverwriteQuestionIsAnsweredCancel) {
    Folder f;
    ASSERT_EQ(Velmora(f.Path(), {"-c", "a.las", "x.vmra"}).status, 0);
    const auto before = ReadAll(f.dir.File("x.vmra"));
    const ExeResult r = Velmora(f.Path(), {"-c", "a.las", "x.vmra"});
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.err, std::string("a.las") + climsg::kAlreadyInArchive + "\n" +
                         climsg::kNotATerminal + "\n" + Usage());
    EXPECT_EQ(ReadAll(f.dir.File("x.vmra")), before);
}

TEST(VelmoraCompress, OnATerminalYReplacesAndAnythingElseCancels) {
    Folder f;
    ASSERT_EQ(Velmora(f.Path(), {"-c", "a.las", "b.las", "x.vmra"}).status, 0);
    const auto before = ReadAll(f.dir.File("x.vmra"));
    const ExeResult no = exetest::VelmoraOnTerminal(f.Path(), {"-c", "a.las", "x.vmra"}, "yes\n");
    EXPECT_EQ(no.status, 255) << no.err;
    EXPECT_NE(no.err.find("Overwrite?"), std::string::npos) << no.err;
    EXPECT_EQ(ReadAll(f.dir.File("x.vmra")), before);

    const ExeResult yes = exetest::VelmoraOnTerminal(f.Path(), {"-c", "a.las", "x.vmra"}, "y\n");
    EXPECT_EQ(yes.status, 0) << yes.err;
    EXPECT_EQ(EntryNames(f.dir.File("x.vmra")), (std::vector<std::string>{"b.las", "a.las"}));
}

TEST(VelmoraDecompress, EveryFormOfExtractAllWritesEveryEntry) {
    Folder f;
    ASSERT_EQ(Velmora(f.Path(), {"-c", "a.las", "b.las", "x.vmra"}).status, 0);
    const std::vector<std::vector<std::string>> forms = {
        {"-d", "ARCHIVE"}, {"-d", "*.LAS", "ARCHIVE"}, {"-d", "a.las", "b.las", "ARCHIVE"}};
    for (auto args : forms) {
        TempDir out;
        args.back() = f.dir.File("x.vmra");
        const ExeResult r = Velmora(out.Path().string(), args);
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(Files(out), (std::vector<std::string>{"a.las", "b.las"}));
        EXPECT_EQ(ReadAll(out.File("a.las")), ReadAll(f.dir.File("a.las")));
        EXPECT_EQ(ReadAll(out.File("b.las")), ReadAll(f.dir.File("b.las")));
    }
    // A relative archive path works from the current folder as typed.
    std::filesystem::create_directory(f.dir.File("out"));
    const ExeResult rel = Velmora(f.dir.File("out"), {"-d", "b.las", "../x.vmra"});
    EXPECT_EQ(rel.status, 0) << rel.err;
    EXPECT_EQ(ReadAll(f.dir.File("out/b.las")), ReadAll(f.dir.File("b.las")));
}

TEST(VelmoraDecompress, MissingArchivesAndEntriesAreReported) {
    Folder f;
    ASSERT_EQ(Velmora(f.Path(), {"-c", "a.las", "x.vmra"}).status, 0);
    const ExeResult missing = Velmora(f.Path(), {"-d", "none.vmra"});
    EXPECT_EQ(missing.status, 255);
    EXPECT_EQ(missing.err, "Error opening file none.vmra !\n");

    TempDir out;
    const ExeResult entry = Velmora(out.Path().string(), {"-d", "c.las", f.dir.File("x.vmra")});
    EXPECT_EQ(entry.status, 255);
    EXPECT_EQ(entry.err, std::string("c.las: ") + archmsg::kNotFound.text + "\n" + Usage());
    EXPECT_TRUE(Files(out).empty());

    WriteAll(out.File("empty.vmra"), {});
    const ExeResult empty = Velmora(out.Path().string(), {"-d", "a.las", "empty.vmra"});
    EXPECT_EQ(empty.status, 255);
    EXPECT_EQ(empty.err, std::string("empty.vmra: ") + archmsg::kCannotCheck.text + "\n" + Usage());
    const ExeResult all = Velmora(out.Path().string(), {"-d", "empty.vmra"});
    EXPECT_EQ(all.status, 0) << "an empty archive has nothing to extract";
}

TEST(VelmoraUsage, CommandLinesThatAreNotJobsShowTheUsageText) {
    Folder f;
    const std::vector<std::vector<std::string>> lines = {
        {"-C", "a.las", "x.vmra"}, {"-d", "a.txt", "x.vmra"}, {"x.vmra", "y.vmra"},
        {"a.las"},                 {"-c", "a.las", "x.zip"},  {"-c"},
        {"-d"},                    {"-l"}};
    for (const auto& args : lines) {
        const ExeResult r = Velmora(f.Path(), args);
        EXPECT_EQ(r.status, 255) << args[0];
        EXPECT_EQ(r.err, Usage()) << args[0];
    }
    EXPECT_EQ(Files(f.dir), (std::vector<std::string>{"a.las", "b.las"})) << "no archive touched";
}

// The window forms belong to the desktop build; a build without it says so.
TEST(VelmoraUsage, WithoutAWindowTheWindowFormsSaySo) {
    Folder f;
    // No screen for the program to open a window on.
    unsetenv("QT_QPA_PLATFORM");
    unsetenv("DISPLAY");
    unsetenv("WAYLAND_DISPLAY");
#ifdef VELMORA_WITH_GUI
    const std::string expected = std::string(appmsg::kNoDisplay) + "\n";
#else
    const std::string expected = std::string(climsg::kNoWindow) + "\n";
#endif
    for (const auto& args : {std::vector<std::string>{}, std::vector<std::string>{"x.vmra"}}) {
        const ExeResult r = Velmora(f.Path(), args);
        EXPECT_EQ(r.status, 255);
        EXPECT_EQ(r.err, expected);
    }
}

}  // namespace

// Fault injection is for the tests' builds: the shipped program goes on as
// if the setting were not there, where the tests' build of the same program
// dies at the first step that changes the archive.
TEST(VelmoraFaults, TheShippedProgramIgnoresPlantedFaults) {
    TempDir dir;
    const std::string las = archtest::GenerateLas(dir, "a.las", 5000, 1, 3);
    exetest::RunOptions kill;
    kill.environment.emplace_back("VELMORA_FAULT", "kill@1");
    const ExeResult shipped = Velmora(dir.Path().string(), {"-c", las, "a.vmra"}, kill);
    EXPECT_EQ(shipped.status, 0) << shipped.err;
    EXPECT_EQ(EntryNames(dir.File("a.vmra")), std::vector<std::string>{"a.las"});

    kill.program = exetest::FaultsExePath();
    const ExeResult planted = Velmora(dir.Path().string(), {"-c", las, "b.vmra"}, kill);
    EXPECT_EQ(planted.status, -1) << "the tests' build did not obey the planted fault";
}
