#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fcntl.h>
#include <memory>
#include <sys/file.h>
#include <unistd.h>
#include <thread>

#include "ArchiveTestSupport.h"
#include "TestLas.h"
#include "TestSupport.h"
#include "archive/ArchiveMessages.h"
#include "jobs/core/ArchiveJob.h"
#include "las/FileIo.h"

using archtest::EntryNames;
using archtest::GenerateLas;
using testsupport::ReadAll;
using testsupport::TempDir;
using testsupport::WriteAll;

namespace {

// Answers from a script, keeps every call, and goes on after an item unless
// told to stop at a given outcome.
class ScriptedHost : public IJobHost {
public:
    std::vector<bool> replaceAnswers;
    std::vector<bool> overwriteAnswers;
    std::vector<ItemOutcome> endAt;
    std::vector<std::string> started;
    std::vector<std::string> asked;
    std::vector<ItemResult> finished;
    std::vector<std::string> notices;

    void ItemStarted(const JobItem& item) override { started.push_back(item.name); }
    bool ConfirmReplace(const JobItem& item) override {
        asked.push_back("replace " + item.displayName);
        return Next(replaceAnswers);
    }
    bool ConfirmOverwrite(const JobItem&, const std::string& outputPath) override {
        asked.push_back("overwrite " + outputPath);
        return Next(overwriteAnswers);
    }
    void Notice(const std::string& text) override { notices.push_back(text); }
    bool ItemFinished(const ItemResult& r) override {
        finished.push_back(r);
        return std::find(endAt.begin(), endAt.end(), r.outcome) == endAt.end();
    }

private:
    static bool Next(std::vector<bool>& answers) {
        if (answers.empty()) return false;
        const bool a = answers.front();
        answers.erase(answers.begin());
        return a;
    }
};

std::vector<ItemOutcome> Outcomes(const JobSummary& s) {
    std::vector<ItemOutcome> out;
    for (const ItemResult& r : s.items) out.push_back(r.outcome);
    return out;
}

std::string V13(const TempDir& dir) {
    const testsupport::LasBuild v13 = testsupport::UnstorableLas(3);
    WriteAll(dir.File("v13.las"), testsupport::BuildLas(v13));
    return dir.File("v13.las");
}

TEST(JobSummaryText, CountsWhatHappenedInAFixedOrder) {
    JobSummary s;
    EXPECT_EQ(s.Text(), "nothing done");
    auto add = [&](ItemOutcome o) {
        ItemResult r;
        r.outcome = o;
        s.items.push_back(r);
    };
    add(ItemOutcome::Refused);
    add(ItemOutcome::Added);
    EXPECT_EQ(s.Text(), "1 file added, 1 refused");
    add(ItemOutcome::Added);
    add(ItemOutcome::Added);
    EXPECT_EQ(s.Text(), "3 files added, 1 refused");
    EXPECT_FALSE(s.AllSucceeded());
    JobSummary good;
    good.items.resize(2);
    good.items[0].outcome = ItemOutcome::Extracted;
    good.items[1].outcome = ItemOutcome::Unverified;
    EXPECT_TRUE(good.AllSucceeded());
    good.ended = true;
    EXPECT_FALSE(good.AllSucceeded()) << "a job ended early did not run to its end";
}

TEST(JobSummaryText, AFailureNamesWhatItIsAbout) {
    ItemResult r;
    r.item.name = "dir/a.las";
    EXPECT_EQ(r.Describe(), "");
    r.message = "Error writing archive!";
    r.cause = ENOSPC;
    EXPECT_EQ(r.Describe(), "dir/a.las: Error writing archive! (No space left on device)");
    r.subject = "x.vmra";
    r.cause = 0;
    EXPECT_EQ(r.Describe(), "x.vmra: Error writing archive!");
}

TEST(ArchivePathSuffix, OnlyAMissingExtensionIsAdded) {
    EXPECT_EQ(WithArchiveSuffix("/d/survey"), "/d/survey.VMRA");
    EXPECT_EQ(WithArchiveSuffix("/d/survey.vmra"), "/d/survey.vmra");
    EXPECT_EQ(WithArchiveSuffix("/d/survey.VmRa"), "/d/survey.VmRa");
    EXPECT_EQ(WithArchiveSuffix("/d/survey.las"), "/d/survey.las.VMRA");
}

TEST(NewArchive, MakesAnEmptyArchiveAndNeverTouchesAFileThatIsThere) {
    TempDir dir;
    EXPECT_EQ(CreateNewArchive(dir.Path().string(), "a.vmra"), NewArchiveOutcome::Created);
    EXPECT_EQ(FileSizeOf(dir.File("a.vmra")), 0);
    WriteAll(dir.File("b.vmra"), {1, 2, 3});
    EXPECT_EQ(CreateNewArchive(dir.Path().string() + "/", "b.vmra"), NewArchiveOutcome::Exists);
    EXPECT_EQ(ReadAll(dir.File("b.vmra")), (std::vector<uint8_t>{1, 2, 3}));
    for (const char* bad : {"", ".", "..", "sub/c.vmra", "../c.vmra"}) {
        EXPECT_EQ(CreateNewArchive(dir.Path().string(), bad), NewArchiveOutcome::NotCreated) << bad;
    }
    EXPECT_EQ(CreateNewArchive(dir.File("missing"), "c.vmra"), NewArchiveOutcome::NotCreated);
    EXPECT_EQ(archtest::FolderContents(dir.Path().string()),
              (std::vector<std::string>{"a.vmra", "b.vmra"}));
}

TEST(AddJob, RefusalsAndDeclinesAreReportedAndTheHostDecidesWhetherToGoOn) {
    TempDir dir;
    const std::string a = GenerateLas(dir, "a.las", 1500, 1, 1);
    const std::string b = GenerateLas(dir, "b.las", 900, 0, 2);
    const std::string v13 = V13(dir);
    const std::string arc = dir.File("x.vmra");

    ScriptedHost host;
    CArchiveJob job(host);
    JobSummary s = job.Add({a, v13, b}, arc);
    EXPECT_EQ(Outcomes(s), (std::vector<ItemOutcome>{ItemOutcome::Added, ItemOutcome::Refused,
                                                     ItemOutcome::Added}));
    EXPECT_TRUE(s.createdArchive);
    EXPECT_EQ(s.Text(), "2 files added, 1 refused");
    ASSERT_EQ(s.items.size(), 3u);
    EXPECT_EQ(s.items[1].subject, "") << "a refusal is about the LAS file, the item itself";
    EXPECT_EQ(s.items[1].Describe(), v13 + ": " + lasmsg::kShortRecords.text);
    EXPECT_TRUE(s.items[1].canContinue);
    EXPECT_EQ(s.items[0].storedIn, arc);
    EXPECT_GT(s.items[0].storedBytes, 0);
    EXPECT_EQ(host.started, (std::vector<std::string>{a, v13, b}));
    EXPECT_EQ(EntryNames(arc), (std::vector<std::string>{"a.las", "b.las"}));

    // Declining the replacement leaves the archive as it was; a host that
    // ends at a decline gets no further item.
    const auto before = ReadAll(arc);
    ScriptedHost decliner;
    decliner.replaceAnswers = {false};
    decliner.endAt = {ItemOutcome::Declined};
    CArchiveJob again(decliner);
    s = again.Add({a, b}, arc);
    EXPECT_EQ(Outcomes(s), std::vector<ItemOutcome>{ItemOutcome::Declined});
    EXPECT_TRUE(s.ended);
    EXPECT_FALSE(s.createdArchive);
    EXPECT_EQ(decliner.asked, std::vector<std::string>{"replace a.las"});
    EXPECT_EQ(ReadAll(arc), before);

    // Yes replaces, and the replaced entry goes last.
    ScriptedHost yes;
    yes.replaceAnswers = {true};
    CArchiveJob third(yes);
    s = third.Add({a}, arc);
    EXPECT_EQ(Outcomes(s), std::vector<ItemOutcome>{ItemOutcome::Replaced});
    EXPECT_EQ(EntryNames(arc), (std::vector<std::string>{"b.las", "a.las"}));
}

TEST(AddJob, AnArchiveMadeForNothingButRefusedFilesIsNotLeftBehind) {
    TempDir dir;
    ScriptedHost host;
    CArchiveJob job(host);
    const JobSummary s = job.Add({V13(dir)}, dir.File("x.vmra"));
    EXPECT_EQ(Outcomes(s), std::vector<ItemOutcome>{ItemOutcome::Refused});
    EXPECT_FALSE(s.createdArchive);
    EXPECT_FALSE(FileExists(dir.File("x.vmra")));
}

TEST(AddJob, AStopEndsTheJobAndTheArchiveKeepsWhatWasAddedBefore) {
    TempDir dir;
    const std::string a = GenerateLas(dir, "a.las", 1200, 1, 1);
    const std::string big = GenerateLas(dir, "big.las", 2100000, 3, 2);
    const std::string c = GenerateLas(dir, "c.las", 1200, 1, 3);
    const std::string arc = dir.File("x.vmra");

    // The host stops the job once the big file is well under way.
    ScriptedHost host;
    CArchiveJob job(host);
    std::atomic<bool> done{false};
    std::thread stopper([&] {
        while (!done.load()) {
            const JobProgress p = job.Progress();
            if (p.active && p.index == 1 && p.percent >= 10) {
                EXPECT_EQ(p.displayName, "big.las");
                EXPECT_EQ(p.count, 3u);
                EXPECT_EQ(p.lasBytes, FileSizeOf(big));
                EXPECT_LE(p.percent, 100);
                job.RequestStop();
                return;
            }
            std::this_thread::yield();
        }
    });
    const JobSummary s = job.Add({a, big, c}, arc);
    done = true;
    stopper.join();
    EXPECT_EQ(Outcomes(s), (std::vector<ItemOutcome>{ItemOutcome::Added, ItemOutcome::Stopped}));
    EXPECT_TRUE(s.stopped);
    EXPECT_FALSE(s.AllSucceeded());
    EXPECT_FALSE(job.Progress().active);
    EXPECT_EQ(EntryNames(arc), std::vector<std::string>{"a.las"});
}

// The host's safe point between its own steps: held while paused, let go by
// a resume, and false from a stop until the job is readied for the next batch.
TEST(JobPause, TheHostsSafePointWaitsWhilePausedAndTellsOfAStop) {
    using namespace std::chrono_literals;
    TempDir dir;
    ScriptedHost host;
    CArchiveJob job(host);
    EXPECT_TRUE(job.WaitWhilePaused());

    std::atomic<int> passed{-1};
    auto waitOnThread = [&] {
        passed = -1;
        return std::thread([&] { passed = job.WaitWhilePaused() ? 1 : 0; });
    };
    job.RequestPause();
    std::thread held = waitOnThread();
    std::this_thread::sleep_for(150ms);
    EXPECT_EQ(passed.load(), -1) << "the safe point let the job on while it was paused";
    job.Resume();
    held.join();
    EXPECT_EQ(passed.load(), 1);

    job.RequestPause();
    std::thread stopped = waitOnThread();
    std::this_thread::sleep_for(50ms);
    job.RequestStop();
    stopped.join();
    EXPECT_EQ(passed.load(), 0);
    EXPECT_FALSE(job.WaitWhilePaused()) << "a stop is final until the job is readied again";

    job.Reset();
    EXPECT_FALSE(job.StopRequested());
    EXPECT_TRUE(job.WaitWhilePaused());  // the pause left over went with the stop
    const std::string a = GenerateLas(dir, "a.las", 800, 1, 1);
    EXPECT_TRUE(job.Add({a}, dir.File("x.vmra")).AllSucceeded());
}

class ExtractJobs : public ::testing::Test {
protected:
    void SetUp() override {
        a = GenerateLas(dir, "a.las", 1500, 1, 1);
        b = GenerateLas(dir, "b.las", 700, 2, 2);
        c = GenerateLas(dir, "c.las", 1100, 3, 3);
        ScriptedHost host;
        CArchiveJob job(host);
        ASSERT_TRUE(job.Add({a, b, c}, arc).AllSucceeded());
        std::filesystem::create_directory(out);
    }
    TempDir dir;
    std::string a, b, c;
    std::string arc = dir.File("x.vmra");
    std::string out = dir.File("out");
};

TEST_F(ExtractJobs, EveryEntryWhenNoneIsNamedAndOverwritesOnlyWithConsent) {
    WriteAll(out + "/b.las", {1, 2, 3});
    ScriptedHost host;
    host.overwriteAnswers = {false};
    CArchiveJob job(host);
    const JobSummary s = job.Extract(arc, {}, out);
    EXPECT_EQ(Outcomes(s), (std::vector<ItemOutcome>{ItemOutcome::Extracted, ItemOutcome::Declined,
                                                     ItemOutcome::Extracted}));
    EXPECT_EQ(host.asked, std::vector<std::string>{"overwrite " + out + "/b.las"});
    EXPECT_EQ(ReadAll(out + "/a.las"), ReadAll(a));
    EXPECT_EQ(ReadAll(out + "/b.las"), (std::vector<uint8_t>{1, 2, 3}));
    EXPECT_EQ(ReadAll(out + "/c.las"), ReadAll(c));
    ASSERT_EQ(s.items.size(), 3u);
    EXPECT_EQ(s.items[0].item.lasBytes, FileSizeOf(a));
}

TEST_F(ExtractJobs, ADamagedEntryDoesNotKeepTheOthersFromComingBack) {
    // The first entry's point format byte, in its stored header, made absurd.
    auto bytes = ReadAll(arc);
    bytes[4 + 104] = 9;
    WriteAll(arc, bytes);
    ScriptedHost host;
    CArchiveJob job(host);
    const JobSummary s = job.Extract(arc, {"a.las", "missing.las", "c.las"}, out);
    EXPECT_EQ(Outcomes(s), (std::vector<ItemOutcome>{ItemOutcome::Damaged, ItemOutcome::Failed,
                                                     ItemOutcome::Extracted}));
    ASSERT_EQ(s.items.size(), 3u);
    EXPECT_EQ(s.items[0].Describe(), std::string("a.las: ") + archmsg::kDamagedEntry.text);
    EXPECT_EQ(s.items[1].Describe(), std::string("missing.las: ") + archmsg::kNotFound.text);
    EXPECT_FALSE(FileExists(out + "/a.las"));
    EXPECT_EQ(ReadAll(out + "/c.las"), ReadAll(c));
}

TEST_F(ExtractJobs, AnArchiveThatCannotBeReadIsOneFailureAboutTheArchive) {
    WriteAll(arc, {1, 2, 3, 4, 5, 6, 7, 8});
    ScriptedHost host;
    CArchiveJob job(host);
    const JobSummary s = job.Extract(arc, {}, out);
    ASSERT_EQ(s.items.size(), 1u);
    EXPECT_EQ(s.items[0].outcome, ItemOutcome::Failed);
    EXPECT_EQ(s.items[0].Describe(), arc + ": " + archmsg::kWrongFormat.text);
    EXPECT_TRUE(host.started.empty());
}

TEST_F(ExtractJobs, DeletingRemovesTheNamedEntriesAndReportsMissingOnes) {
    ScriptedHost host;
    CArchiveJob job(host);
    const JobSummary s = job.Delete(arc, {"b.las", "nope.las", "a.las"});
    EXPECT_EQ(Outcomes(s), (std::vector<ItemOutcome>{ItemOutcome::Deleted, ItemOutcome::Failed,
                                                     ItemOutcome::Deleted}));
    EXPECT_EQ(EntryNames(arc), std::vector<std::string>{"c.las"});
    EXPECT_EQ(s.Text(), "2 files deleted, 1 failed");
}

// Holds an archive the way another program changing it does.
class OtherProgram {
public:
    explicit OtherProgram(const std::string& path) : fd(open(path.c_str(), O_RDWR)) {
        EXPECT_EQ(flock(fd, LOCK_EX), 0);
    }
    ~OtherProgram() { close(fd); }

private:
    int fd;
};

TEST_F(ExtractJobs, ABusyArchiveIsWaitedForSaidOnceAndTheWaitCanBeStopped) {
    const auto before = ReadAll(arc);
    ScriptedHost host;
    CArchiveJob job(host);
    JobSummary s;
    {
        OtherProgram other(arc);
        std::thread worker([&] { s = job.Extract(arc, {"a.las"}, out); });
        while (host.notices.empty()) std::this_thread::yield();
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        EXPECT_EQ(host.notices, std::vector<std::string>{arc + ": " + archmsg::kWaitingForOther});
        EXPECT_FALSE(FileExists(out + "/a.las"));
        job.RequestStop();
        worker.join();
    }
    // Stopped while it waited: nothing was begun, and the job says so.
    EXPECT_TRUE(s.stopped);
    EXPECT_TRUE(host.started.empty());
    EXPECT_FALSE(s.AllSucceeded());

    // Once the other program is done, the waiting job carries on.
    ScriptedHost patient;
    CArchiveJob second(patient);
    {
        auto other = std::make_unique<OtherProgram>(arc);
        std::thread worker([&] { s = second.Delete(arc, {"b.las"}); });
        while (patient.notices.empty()) std::this_thread::yield();
        other.reset();
        worker.join();
    }
    EXPECT_EQ(Outcomes(s), std::vector<ItemOutcome>{ItemOutcome::Deleted});
    EXPECT_EQ(EntryNames(arc), (std::vector<std::string>{"a.las", "c.las"}));

    // A caller that must not block is told at once.
    OtherProgram other(arc);
    VMRAFile impatient;
    impatient.waitForLock = false;
    EXPECT_EQ(testsupport::MessageOf([&] { impatient.ListEntries(arc); }), archmsg::kArchiveBusy.text);
}

TEST_F(ExtractJobs, AnArchiveTheOtherProgramRemovedWhileWeWaitedIsMadeAfresh) {
    // The other program's first add failed: it removes the archive it made
    // before it lets go. The waiting add must not write into that file.
    const std::string fresh = dir.File("fresh.vmra");
    WriteAll(fresh, {});
    ScriptedHost host;
    CArchiveJob job(host);
    JobSummary s;
    {
        auto other = std::make_unique<OtherProgram>(fresh);
        std::thread worker([&] { s = job.Add({a}, fresh); });
        while (host.notices.empty()) std::this_thread::yield();
        std::filesystem::remove(fresh);
        other.reset();
        worker.join();
    }
    EXPECT_EQ(Outcomes(s), std::vector<ItemOutcome>{ItemOutcome::Added});
    EXPECT_EQ(EntryNames(fresh), std::vector<std::string>{"a.las"});

    // The same for an add that is already waiting to change the archive.
    const std::string again = dir.File("again.vmra");
    WriteAll(again, {});
    VMRAFile archive;
    std::atomic<bool> waiting{false};
    archive.onNotice = [&](const std::string&, const char*) { waiting = true; };
    {
        auto other = std::make_unique<OtherProgram>(again);
        std::thread worker([&] { archive.AddLasFile(a, again); });
        while (!waiting.load()) std::this_thread::yield();
        std::filesystem::remove(again);
        other.reset();
        worker.join();
    }
    EXPECT_EQ(EntryNames(again), std::vector<std::string>{"a.las"});
}

// Entries that may not become files, and a later entry of a name already
// extracted, are each refused by name before any question is asked; the
// others still come out. A test decodes every one of them, each itself.
TEST(ExtractJobNames, EntriesThatMayNotBecomeFilesAreRefusedOneByOne) {
    TempDir dir, root;
    const std::string las = GenerateLas(dir, "a.las", 1200, 1, 1);
    const archtest::FakeEntry a = archtest::EntryOf(las);
    auto named = [&](const std::string& name) {
        archtest::FakeEntry e = a;
        e.name = name;
        return e;
    };
    const std::string vmra = dir.File("x.vmra");
    WriteAll(vmra, archtest::BuildArchive({a, named(".profile"), named("../a.las"), a, named("b.las")}));
    const std::string out = root.File("out");
    std::filesystem::create_directory(out);
    for (const std::string& path : {out + "/a.las", out + "/.profile", root.File("a.las")}) {
        WriteAll(path, {'o', 'l', 'd'});
    }
    ScriptedHost host;
    host.overwriteAnswers = {true, true, true, true, true};
    CArchiveJob job(host);
    const JobSummary s = job.Extract(vmra, {}, out);
    EXPECT_EQ(Outcomes(s), (std::vector<ItemOutcome>{ItemOutcome::Extracted, ItemOutcome::Refused,
                                                      ItemOutcome::Refused, ItemOutcome::Refused,
                                                      ItemOutcome::Extracted}));
    ASSERT_EQ(s.items.size(), 5u);
    EXPECT_TRUE(s.items[1].failure.Is(archmsg::kNameHidden)) << s.items[1].failure.text;
    EXPECT_TRUE(s.items[2].failure.Is(archmsg::kUnsafeEntryName)) << s.items[2].failure.text;
    EXPECT_TRUE(s.items[3].failure.Is(archmsg::kDuplicateEntry)) << s.items[3].failure.text;
    EXPECT_EQ(s.items[3].item.name, "a.las");
    EXPECT_EQ(host.asked, std::vector<std::string>{"overwrite " + out + "/a.las"});
    EXPECT_EQ(ReadAll(out + "/a.las"), ReadAll(las));
    EXPECT_EQ(ReadAll(out + "/b.las"), ReadAll(las));
    EXPECT_EQ(ReadAll(out + "/.profile"), (archtest::Bytes{'o', 'l', 'd'}));
    EXPECT_EQ(ReadAll(root.File("a.las")), (archtest::Bytes{'o', 'l', 'd'}));
    EXPECT_FALSE(s.AllSucceeded());

    const JobSummary tested = job.Test(vmra, {});
    EXPECT_EQ(Outcomes(tested), (std::vector<ItemOutcome>{ItemOutcome::Passed, ItemOutcome::Unverified,
                                                           ItemOutcome::Unverified, ItemOutcome::Passed,
                                                           ItemOutcome::Unverified}));
}

}  // namespace

