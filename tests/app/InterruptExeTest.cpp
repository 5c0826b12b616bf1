// The real executable stopped by signals, killed at random moments, and run
// twice on one archive at once.
#include <gtest/gtest.h>

#include <chrono>
#include <fcntl.h>
#include <filesystem>
#include <random>
#include <signal.h>
#include <sys/file.h>
#include <thread>
#include <unistd.h>

#include "ArchiveTestSupport.h"
#include "ExeRunner.h"
#include "LasGenerator.h"
#include "TestSupport.h"
#include "archive/ArchiveMessages.h"
#include "archive/VMRAFile.h"
#include "las/FileIo.h"
#include "las/LasMessages.h"

using archtest::EntryNames;
using exetest::ExeResult;
using exetest::Spawned;
using exetest::Velmora;
using testsupport::ReadAll;
using testsupport::TempDir;
using testsupport::WriteAll;

namespace {

void Pause(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// Two small entries in an archive, and a file that takes a while to add.
class Survey : public ::testing::Test {
protected:
    void SetUp() override {
        archtest::GenerateLas(dir, "a.las", 2000, 1, 1);
        archtest::GenerateLas(dir, "b.las", 3000, 3, 2);
        archtest::GenerateLas(dir, "big.las", 2100000, 3, 3);
        ASSERT_EQ(Velmora(dir.Path().string(), {"-c", "a.las", "b.las", "x.vmra"}).status, 0);
        base = ReadAll(vmra);
    }
    // Opens the archive as every operation does (putting right what an
    // interruption left), then tells whether it is as it was before.
    bool Settled(const std::string& label) {
        VMRAFile opener;
        EXPECT_NO_THROW(opener.ListEntries(vmra)) << label;
        EXPECT_FALSE(FileExists(vmra + "-journal")) << label;
        return ReadAll(vmra) == base;
    }

    TempDir dir;
    std::string vmra = dir.File("x.vmra");
    archtest::Bytes base;
};

TEST_F(Survey, SignalsDuringAnAddUndoItSaySoAndEndWith255) {
    int stopped = 0;
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) {
        for (int delay : {150, 450}) {
            WriteAll(vmra, base);
            Spawned p(dir.Path().string(), {"-c", "big.las", "x.vmra"});
            Pause(delay);
            p.Signal(sig);
            const ExeResult r = p.Wait();
            const std::string label = "signal " + std::to_string(sig) + " after " + std::to_string(delay) + " ms";
            if (r.status == 0) continue;  // done before the signal came
            ++stopped;
            EXPECT_EQ(r.status, 255) << label;
            EXPECT_TRUE(Contains(r.err, lasmsg::kStopped.text)) << label << ": " << r.err;
            EXPECT_TRUE(Settled(label)) << label << ": the archive changed";
            EXPECT_EQ(EntryNames(vmra), (std::vector<std::string>{"a.las", "b.las"}));
        }
    }
    EXPECT_GT(stopped, 0) << "no signal came while the file was being added";
}

TEST_F(Survey, ASignalDuringExtractionLeavesNoPartialFile) {
    const std::string one = dir.File("one.vmra");
    ASSERT_EQ(Velmora(dir.Path().string(), {"-c", "big.las", "one.vmra"}).status, 0);
    int stopped = 0;
    for (int delay : {100, 300, 600}) {
        TempDir out;
        Spawned p(out.Path().string(), {"-d", one});
        Pause(delay);
        p.Signal(SIGINT);
        const ExeResult r = p.Wait();
        if (r.status == 0) continue;
        ++stopped;
        EXPECT_EQ(r.status, 255);
        EXPECT_TRUE(archtest::FolderContents(out.Path().string()).empty())
            << "stopped after " << delay << " ms";
    }
    EXPECT_GT(stopped, 0);
}

// The file being extracted has no name until it is complete: a kill at any
// moment leaves either nothing or the whole file, never a hidden leftover.
TEST_F(Survey, AnExtractionKilledAtAnyMomentLeavesNoFileBehind) {
    const std::string one = dir.File("one.vmra");
    ASSERT_EQ(Velmora(dir.Path().string(), {"-c", "big.las", "one.vmra"}).status, 0);
    const int64_t size = FileSizeOf(dir.File("big.las"));
    TempDir timing;
    const ExeResult full = Velmora(timing.Path().string(), {"-j", "1", "-d", one});
    ASSERT_EQ(full.status, 0);
    const int span = static_cast<int>(full.seconds * 1000);
    int cut = 0;
    for (int round = 0; round <= 12; ++round) {
        TempDir out;
        Spawned p(out.Path().string(), {"-j", "1", "-d", one});
        Pause(round * span / 12);
        p.Signal(SIGKILL);
        p.Wait();
        const auto left = archtest::FolderContents(out.Path().string());
        const std::string label = "killed after " + std::to_string(round * span / 12) + " ms";
        if (left.empty()) {
            ++cut;
            continue;
        }
        EXPECT_EQ(left, std::vector<std::string>{"big.las"}) << label;
        EXPECT_EQ(FileSizeOf(out.File("big.las")), size) << label;
    }
    EXPECT_GT(cut, 2) << "the kills came too late to cut an extraction short";
}

// A signal that comes while -d still waits for another program's lock stops
// the job as soon as the lock is free: nothing is extracted.
TEST_F(Survey, ASignalWhileWaitingForTheLockStopsTheExtraction) {
    TempDir out;
    const int held = open(vmra.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(held, 0);
    ASSERT_EQ(flock(held, LOCK_EX), 0);
    Spawned p(out.Path().string(), {"-d", vmra});
    bool waiting = false;
    for (int i = 0; i < 1000 && !waiting; ++i) {
        waiting = Contains(p.ErrorSoFar(), archmsg::kWaitingForOther);
        if (!waiting) Pause(10);
    }
    EXPECT_TRUE(waiting) << "velmora never said it waits";
    p.Signal(SIGINT);
    Pause(300);
    close(held);
    ExeResult r;
    ASSERT_TRUE(p.EndsWithin(20, r)) << "the stopped job never ended";
    EXPECT_EQ(r.status, 255) << r.err;
    EXPECT_TRUE(Contains(r.err, lasmsg::kStopped.text)) << r.err;
    EXPECT_TRUE(archtest::FolderContents(out.Path().string()).empty());
}

TEST_F(Survey, ASecondSignalEndsTheProcessAtOnceAndTheArchiveSurvivesIt) {
    WriteAll(vmra, base);
    Spawned p(dir.Path().string(), {"-c", "big.las", "x.vmra"});
    Pause(300);
    p.Signal(SIGTERM);
    p.Signal(SIGTERM);
    p.Wait();
    EXPECT_TRUE(p.EndedBySignal() == SIGTERM || p.EndedBySignal() == 0);
    VMRAFile opener;
    const auto entries = opener.ListEntries(vmra);
    EXPECT_TRUE(entries.size() == 2 || entries.size() == 3);
    EXPECT_FALSE(FileExists(vmra + "-journal"));
}

TEST_F(Survey, KilledAtRandomMomentsTheArchiveIsBeforeOrAfter) {
    ASSERT_EQ(Velmora(dir.Path().string(), {"-c", "big.las", "x.vmra"}).status, 0);
    const auto after = ReadAll(vmra);
    std::mt19937 random(20261208);
    int killed = 0;
    for (int round = 0; round < 10; ++round) {
        WriteAll(vmra, base);
        Spawned p(dir.Path().string(), {"-c", "big.las", "x.vmra"});
        Pause(static_cast<int>(random() % 1200));
        p.Signal(SIGKILL);
        p.Wait();
        if (p.EndedBySignal() == SIGKILL) ++killed;
        const std::string label = "round " + std::to_string(round);
        const bool before = Settled(label);
        EXPECT_TRUE(before || ReadAll(vmra) == after) << label;
    }
    EXPECT_GT(killed, 0);
    // Every entry still comes back as it went in.
    TempDir out;
    ASSERT_EQ(Velmora(out.Path().string(), {"-d", vmra}).status, 0);
    EXPECT_EQ(ReadAll(out.File("a.las")), ReadAll(dir.File("a.las")));
    EXPECT_EQ(ReadAll(out.File("b.las")), ReadAll(dir.File("b.las")));
}

TEST_F(Survey, TwoProgramsAddingToOneArchiveAtOnceBothLand) {
    archtest::GenerateLas(dir, "c.las", 120000, 1, 4);
    archtest::GenerateLas(dir, "d.las", 100000, 2, 5);
    int waited = 0;
    for (int round = 0; round < 20; ++round) {
        WriteAll(vmra, base);
        Spawned first(dir.Path().string(), {"-c", "c.las", "x.vmra"});
        Spawned second(dir.Path().string(), {"-c", "d.las", "x.vmra"});
        const ExeResult r1 = first.Wait();
        const ExeResult r2 = second.Wait();
        ASSERT_EQ(r1.status, 0) << r1.err;
        ASSERT_EQ(r2.status, 0) << r2.err;
        if (Contains(r1.err + r2.err, archmsg::kWaitingForOther)) ++waited;
        auto names = EntryNames(vmra);
        std::sort(names.begin(), names.end());
        ASSERT_EQ(names, (std::vector<std::string>{"a.las", "b.las", "c.las", "d.las"})) << round;
        TempDir out;
        ASSERT_EQ(Velmora(out.Path().string(), {"-d", vmra}).status, 0);
        for (const char* n : {"a.las", "b.las", "c.las", "d.las"}) {
            ASSERT_EQ(ReadAll(out.File(n)), ReadAll(dir.File(n))) << round << " " << n;
        }
    }
    EXPECT_GT(waited, 0) << "the two programs never met";
}

// Without -y and without a terminal, the second of two programs adding one
// name must decline: it may not replace what the first added without asking.
TEST(TwoPrograms, AddingOneNameAtOnceNeverBothSucceed) {
    TempDir dir;
    const std::string vmra = dir.File("x.vmra");
    // Two different files of one name, from two folders.
    TempDir other;
    archtest::GenerateLas(other, "a.las", 3000, 3, 99);
    TempDir mine;
    archtest::GenerateLas(mine, "a.las", 2000, 1, 98);
    int bothAdded = 0;
    // The window between a look at the archive and the change was a few
    // milliseconds wide: many rounds, so that one of them meets it.
    for (int round = 0; round < 100; ++round) {
        std::remove(vmra.c_str());
        Spawned first(mine.Path().string(), {"-c", "a.las", vmra});
        Spawned second(other.Path().string(), {"-c", "a.las", vmra});
        const ExeResult r1 = first.Wait();
        const ExeResult r2 = second.Wait();
        ASSERT_EQ(EntryNames(vmra), std::vector<std::string>{"a.las"}) << round;
        // Without -y and without a terminal the second must decline.
        if (r1.status == 0 && r2.status == 0) ++bothAdded;
        ASSERT_NE(r1.status == 0, r2.status == 0) << round << "\n" << r1.err << "\n" << r2.err;
        // And the entry is the one whose add said so.
        TempDir out;
        ASSERT_EQ(Velmora(out.Path().string(), {"-d", vmra}).status, 0);
        EXPECT_EQ(ReadAll(out.File("a.las")), ReadAll((r1.status == 0 ? mine : other).File("a.las"))) << round;
    }
    EXPECT_EQ(bothAdded, 0) << "an entry was replaced without asking";
}

}  // namespace
