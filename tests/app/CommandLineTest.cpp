#include <gtest/gtest.h>

#include <signal.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <thread>

#include "ArchiveTestSupport.h"
#include "LasGenerator.h"
#include "TestLas.h"
#include "TestSupport.h"
#include "app/CommandLine.h"
#include "app/CommandLineMessages.h"
#include "archive/ArchiveMessages.h"
#include "archive/VMRAFile.h"
#include "las/FileIo.h"

using archtest::CurrentFolder;
using testsupport::ReadAll;
using testsupport::TempDir;
using testsupport::WriteAll;

namespace {

// Answers questions from a script and keeps everything shown.
class ScriptedConsole : public CommandLineConsole {
public:
    explicit ScriptedConsole(std::vector<bool> answers = {}) : answers_(std::move(answers)) {}
    void Show(const std::string& text) override { shown.push_back(text); }
    bool AskOkCancel(const std::string& text) override {
        asked.push_back(text);
        if (answers_.empty()) return false;
        const bool a = answers_.front();
        answers_.erase(answers_.begin());
        return a;
    }
    void Print(const std::string& text) override { printed += text; }
    std::vector<std::string> shown;
    std::vector<std::string> asked;
    std::string printed;

private:
    std::vector<bool> answers_;
};

int Dispatch(std::vector<const char*> args, CommandLineConsole& console) {
    args.insert(args.begin(), "velmora");
    return DispatchCommandLine(static_cast<int>(args.size()), args.data(), console);
}

void Generate(const std::string& path, uint64_t points, uint64_t seed) {
    LasGenOptions o;
    o.points = points;
    o.format = 1;
    o.seed = seed;
    ASSERT_TRUE(GenerateLasFile(path, o));
}

TEST(CommandLineText, ExtensionsComeFromTheFileNameOnly) {
    EXPECT_EQ(ExtensionOf("a.las"), "las");
    EXPECT_EQ(ExtensionOf("/x/y/A.Tar.LAS"), "LAS");
    EXPECT_EQ(ExtensionOf("survey"), "");
    EXPECT_EQ(ExtensionOf("survey."), "");
    EXPECT_EQ(ExtensionOf("/data.las/survey"), "");
    EXPECT_EQ(ExtensionOf("*.las"), "las");
}

TEST(CommandLineText, WindowFormsAreNoArgumentOrOneArchive) {
    const char* none[] = {"velmora"};
    const char* archive[] = {"velmora", "x.VMRA"};
    const char* las[] = {"velmora", "a.las"};
    const char* two[] = {"velmora", "x.vmra", "y.vmra"};
    EXPECT_TRUE(IsWindowCommandLine(1, none));
    EXPECT_TRUE(IsWindowCommandLine(2, archive));
    EXPECT_FALSE(IsWindowCommandLine(2, las));
    EXPECT_FALSE(IsWindowCommandLine(3, two));
}

TEST(CommandLineText, UsageNamesTheProgramAsInvoked) {
    EXPECT_EQ(UsageText("./velmora"),
              "Usage:\n"
              "- Open archive: ./velmora <*.vmra archive to open>\n"
              "- Compression: ./velmora -c <*.las files to compress separated by spaces> "
              "<*.vmra archive destination>\n"
              "- Decompression: ./velmora -d <*.las files to decompress separated by spaces> "
              "<*.vmra source archive>\n");
}

TEST(CommandLineJob, AnsweringOkReplacesAndCancelStopsTheJob) {
    TempDir dir;
    CurrentFolder here(dir.Path());
    Generate("a.las", 30, 1);
    Generate("b.las", 40, 2);
    ScriptedConsole first;
    ASSERT_EQ(Dispatch({"-c", "a.las", "x.vmra"}, first), 0);
    const auto before = ReadAll("x.vmra");

    // Cancel on the first file: nothing more is done, the usage text follows.
    ScriptedConsole no({false});
    EXPECT_EQ(Dispatch({"-c", "a.las", "b.las", "x.vmra"}, no), 255);
    EXPECT_EQ(no.asked,
              std::vector<std::string>{std::string("a.las") + climsg::kAlreadyInArchive});
    EXPECT_EQ(no.shown, std::vector<std::string>{UsageText("velmora")});
    EXPECT_EQ(ReadAll("x.vmra"), before);

    Generate("other.las", 50, 3);
    std::filesystem::create_directory("new");
    std::filesystem::copy_file("other.las", "new/a.las");
    ScriptedConsole yes({true});
    EXPECT_EQ(Dispatch({"-c", "new/a.las", "b.las", "x.vmra"}, yes), 0);
    EXPECT_EQ(yes.asked.size(), 1u);
    EXPECT_TRUE(yes.shown.empty());
    std::filesystem::create_directory("out");
    VMRAFile archive;
    archive.ExtractEntry("x.vmra", "a.las", "out/");
    EXPECT_EQ(ReadAll("out/a.las"), ReadAll("other.las"));
}

TEST(CommandLineJob, AFailureOfTheWholeExtractionIsShownLikeAnyOther) {
    TempDir dir;
    CurrentFolder here(dir.Path());
    WriteAll(dir.File("x.vmra"), {1, 2, 3, 4, 5, 6, 7, 8});
    ScriptedConsole console;
    EXPECT_EQ(Dispatch({"-d", "x.vmra"}, console), 255);
    EXPECT_EQ(console.shown,
              (std::vector<std::string>{std::string("x.vmra: ") + archmsg::kWrongFormat.text,
                                        UsageText("velmora")}));
}

TEST(CommandLineJob, AnArchiveCreatedForARefusedFileIsRemoved) {
    TempDir dir;
    CurrentFolder here(dir.Path());
    const testsupport::LasBuild v13 = testsupport::UnstorableLas(3);
    WriteAll(dir.File("v13.las"), testsupport::BuildLas(v13));
    ScriptedConsole console;
    EXPECT_EQ(Dispatch({"-c", "v13.las", "x.vmra"}, console), 255);
    ASSERT_FALSE(console.shown.empty());
    EXPECT_EQ(console.shown.front(), std::string("v13.las: ") + lasmsg::kShortRecords.text);
    EXPECT_FALSE(FileExists("x.vmra"));
}

TEST(CommandLineJob, CompressionEndsAtTheFirstFailedFileExtractionGoesPastDamagedEntries) {
    TempDir dir;
    CurrentFolder here(dir.Path());
    Generate("a.las", 1200, 1);
    Generate("b.las", 1300, 2);
    Generate("c.las", 1400, 3);
    const testsupport::LasBuild v13 = testsupport::UnstorableLas(3);
    WriteAll(dir.File("v13.las"), testsupport::BuildLas(v13));
    ScriptedConsole console;
    EXPECT_EQ(Dispatch({"-c", "a.las", "v13.las", "b.las", "x.vmra"}, console), 255);
    EXPECT_EQ(archtest::EntryNames("x.vmra"), std::vector<std::string>{"a.las"});
    ScriptedConsole more;
    ASSERT_EQ(Dispatch({"-c", "b.las", "c.las", "x.vmra"}, more), 0);

    // The first entry damaged: the others still come back, the damaged one
    // is named, and the run says it failed.
    auto bytes = ReadAll("x.vmra");
    bytes[4 + 104] = 9;
    WriteAll("x.vmra", bytes);
    std::filesystem::create_directory("out");
    CurrentFolder out(dir.Path() / "out");
    ScriptedConsole extract;
    EXPECT_EQ(Dispatch({"-d", "../x.vmra"}, extract), 255);
    ASSERT_EQ(extract.shown.size(), 2u);
    EXPECT_EQ(extract.shown[0], std::string("a.las: ") + archmsg::kDamagedEntry.text);
    EXPECT_EQ(extract.shown[1], UsageText("velmora"));
    EXPECT_FALSE(FileExists("a.las"));
    EXPECT_EQ(ReadAll("b.las"), ReadAll("../b.las"));
    EXPECT_EQ(ReadAll("c.las"), ReadAll("../c.las"));
}

}  // namespace


// Every command ends by letting go of its signal watcher; a watcher that
// only looked up now and then kept each command alive up to a tenth of a
// second after its job, which thousands of tiles run one by one add up.
TEST(CommandLineSignals, TheWatcherLetsGoAsSoonAsTheCommandIsDone) {
    std::chrono::steady_clock::duration letGo{};
    for (int round = 0; round < 5; ++round) {
        auto watcher = std::make_unique<CSignalStop>();
        // Long enough for the watcher to be waiting.
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        const auto t0 = std::chrono::steady_clock::now();
        watcher.reset();
        letGo += std::chrono::steady_clock::now() - t0;
    }
    EXPECT_LT(std::chrono::duration_cast<std::chrono::milliseconds>(letGo).count(), 150);
}

// A signal that comes between the end of a command's job and the end of the
// program must leave the finished command alone: its files are complete,
// and it says success. The program's watcher leaves the signals blocked; a
// watcher for a run within a longer life hands the old mask back.
TEST(CommandLineSignals, ASignalAfterTheProgramsJobEndsNothing) {
    sigset_t before, now, pending;
    pthread_sigmask(SIG_SETMASK, nullptr, &before);
    ASSERT_FALSE(sigismember(&before, SIGTERM));
    { CSignalStop watcher; }
    pthread_sigmask(SIG_SETMASK, nullptr, &now);
    EXPECT_FALSE(sigismember(&now, SIGTERM)) << "a watcher within a longer life keeps the signals blocked";
    { CSignalStop watcher(true); }
    pthread_sigmask(SIG_SETMASK, nullptr, &now);
    ASSERT_TRUE(sigismember(&now, SIGTERM)) << "the program's watcher let the signals through";
    // Unblocked, this would end the test's process.
    raise(SIGTERM);
    sigpending(&pending);
    EXPECT_TRUE(sigismember(&pending, SIGTERM));
    sigset_t term;
    sigemptyset(&term);
    sigaddset(&term, SIGTERM);
    const timespec zero{};
    EXPECT_EQ(sigtimedwait(&term, nullptr, &zero), SIGTERM);
    pthread_sigmask(SIG_SETMASK, &before, nullptr);
}
