// The job runner on its own, with no dialog: real batches of the job layer
// on real files, watched through the runner's signals only.
#include <gtest/gtest.h>

#include <QEventLoop>
#include <QTimer>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "LasGenerator.h"
#include "TestSupport.h"
#include "archive/VMRAFile.h"
#include "jobs/JobRunner.h"
#include "las/FileIo.h"

using platform::MsgButtons;
using platform::MsgIcon;
using platform::MsgResult;

namespace {

// Everything a runner said, in order, as short lines ("started 0",
// "progress 0", "finished 0 Added", "replace? a.las", "ended").
struct Watch {
    explicit Watch(CJobRunner& runner) {
        QObject::connect(&runner, &CJobRunner::ItemStarted, [this](const velmora::ItemStart& item) {
            events.push_back("started " + std::to_string(item.index));
        });
        QObject::connect(&runner, &CJobRunner::ProgressMade, [this](const velmora::JobStatus& p) {
            events.push_back("progress " + std::to_string(p.index));
            if (p.fraction > 0) ++moving;
        });
        QObject::connect(&runner, &CJobRunner::ItemFinished, [this](const velmora::ItemReport& r) {
            events.push_back("finished " + std::to_string(r.index) + " " + Outcome(r.outcome));
        });
        QObject::connect(&runner, &CJobRunner::ReplaceAsked,
                         [this](const velmora::ItemStart& item) { events.push_back("replace? " + item.displayName); });
        QObject::connect(&runner, &CJobRunner::MessageAsked, [this](const QString& text, MsgButtons, MsgIcon) {
            events.push_back("message? " + text.toStdString());
        });
        QObject::connect(&runner, &CJobRunner::Ended, [this](const velmora::JobReport& s) {
            events.push_back("ended");
            summary = s;
            ++ends;
        });
    }
    static std::string Outcome(velmora::Outcome o) {
        switch (o) {
            case velmora::Outcome::Added: return "Added";
            case velmora::Outcome::Replaced: return "Replaced";
            case velmora::Outcome::Declined: return "Declined";
            case velmora::Outcome::Stopped: return "Stopped";
            default: return "other";
        }
    }
    // The events without the progress samples.
    std::vector<std::string> Steps() const {
        std::vector<std::string> steps;
        for (const std::string& e : events)
            if (e.rfind("progress ", 0) != 0) steps.push_back(e);
        return steps;
    }
    // Until the runner has ended, or a minute has passed.
    bool WaitForEnd() {
        QEventLoop loop;
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
            if (ends > 0) loop.quit();
        });
        poll.start(5);
        QTimer::singleShot(60000, &loop, &QEventLoop::quit);
        loop.exec();
        return ends > 0;
    }

    std::vector<std::string> events;
    velmora::JobReport summary;
    int ends = 0;
    int moving = 0;  // samples with some of the item done
};

// Lets the event loop run for a while.
void Spin(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

std::vector<std::string> Entries(const std::string& archive) {
    std::vector<std::string> names;
    VMRAFile v;
    for (const EntryRecord& r : v.ReadDirectoryOf(archive)) names.push_back(r.Name());
    return names;
}

}  // namespace

class JobRunnerTest : public ::testing::Test {
protected:
    // A file large enough for its progress to be seen, made once.
    static void SetUpTestSuite() {
        bigDir = std::make_unique<testsupport::TempDir>();
        bigLas = bigDir->File("big.las");
        LasGenOptions o;
        o.points = 600000;
        o.format = 1;
        ASSERT_TRUE(GenerateLasFile(bigLas, o));
    }
    static void TearDownTestSuite() { bigDir.reset(); }

    std::string Small(const std::string& name, uint64_t seed, const std::string& folder = "", uint64_t points = 3000) {
        LasGenOptions o;
        o.points = points;
        o.format = 3;
        o.seed = seed;
        const std::string path = dir.File(folder.empty() ? name : folder + "/" + name);
        EXPECT_TRUE(GenerateLasFile(path, o));
        return path;
    }

    testsupport::TempDir dir;
    static std::unique_ptr<testsupport::TempDir> bigDir;
    static std::string bigLas;
};
std::unique_ptr<testsupport::TempDir> JobRunnerTest::bigDir;
std::string JobRunnerTest::bigLas;

TEST_F(JobRunnerTest, TellsEachItemInOrderAndEndsOnceTheWorkerHasEnded) {
    const std::string small = Small("small.las", 1);
    const std::string archive = dir.File("x.vmra");
    CJobRunner runner;
    runner.SetProgressInterval(1);
    Watch watch(runner);
    // The work goes on for a moment after the batch: the end must wait for it.
    std::atomic<bool> workDone{false};
    bool workDoneAtEnd = false, runningAtEnd = true;
    QObject::connect(&runner, &CJobRunner::Ended, [&] {
        workDoneAtEnd = workDone.load();
        runningAtEnd = runner.Running();
    });
    ASSERT_TRUE(runner.Start([&](const velmora::JobOptions& o) {
        velmora::JobReport s = velmora::Archive::Compress({bigLas, small}, archive, o);
        std::this_thread::sleep_for(std::chrono::milliseconds(150));
        workDone = true;
        return s;
    }));
    EXPECT_TRUE(runner.Running());
    EXPECT_FALSE(runner.Start([](const velmora::JobOptions&) { return velmora::JobReport{}; })) << "a second run began over the first";
    ASSERT_TRUE(watch.WaitForEnd());
    Spin(100);

    EXPECT_EQ(watch.Steps(), (std::vector<std::string>{"started 0", "finished 0 Added", "started 1",
                                                        "finished 1 Added", "ended"}));
    EXPECT_EQ(watch.ends, 1);
    EXPECT_TRUE(workDoneAtEnd) << "ended before the work had";
    EXPECT_FALSE(runningAtEnd);
    // Every sample lies between its item's start and finish.
    std::string inHand;
    int samples = 0;
    for (const std::string& e : watch.events) {
        if (e.rfind("started ", 0) == 0) inHand = e.substr(8);
        if (e.rfind("finished ", 0) == 0) inHand.clear();
        if (e.rfind("progress ", 0) != 0) continue;
        ++samples;
        EXPECT_EQ(e.substr(9), inHand) << "a sample out of its item's place";
    }
    EXPECT_GT(samples, 0);
    EXPECT_GT(watch.moving, 0) << "no sample showed the large file moving";
    ASSERT_EQ(watch.summary.items.size(), 2u);
    EXPECT_TRUE(watch.summary.allSucceeded);
    EXPECT_EQ(Entries(archive), (std::vector<std::string>{"big.las", "small.las"}));
}

// The worker waits for the answer, however late it comes, and the job does
// what it says.
TEST_F(JobRunnerTest, TheAnswerToAReplaceQuestionReachesTheJob) {
    const std::string archive = dir.File("x.vmra");
    const std::string first = Small("a.las", 1);
    {
        VMRAFile v;
        v.AddLasFile(first, archive);
    }
    std::filesystem::create_directory(dir.File("new"));
    const std::string other = Small("a.las", 2, "new", 4000);
    ASSERT_NE(FileSizeOf(first), FileSizeOf(other));
    auto storedSize = [&] {
        VMRAFile v;
        return v.ReadDirectoryOf(archive).at(0).uncompressedSize;
    };
    const int64_t before = storedSize();

    for (const bool replace : {false, true}) {
        SCOPED_TRACE(replace ? "yes" : "no");
        CJobRunner runner;
        Watch watch(runner);
        velmora::ItemStart asked;
        QObject::connect(&runner, &CJobRunner::ReplaceAsked, [&](const velmora::ItemStart& item) {
            asked = item;
            QTimer::singleShot(300, &runner, [&runner, replace] { runner.Answer(replace); });
        });
        ASSERT_TRUE(runner.Start([&](const velmora::JobOptions& o) { return velmora::Archive::Compress({other}, archive, o); }));
        ASSERT_TRUE(watch.WaitForEnd());
        EXPECT_EQ(watch.Steps(), (std::vector<std::string>{"started 0", "replace? a.las",
                                                            replace ? "finished 0 Replaced" : "finished 0 Declined",
                                                            "ended"}));
        EXPECT_EQ(asked.name, other);
        EXPECT_EQ(Entries(archive), std::vector<std::string>{"a.las"});
        EXPECT_EQ(storedSize(), replace ? FileSizeOf(other) : before);
    }
}

TEST_F(JobRunnerTest, AStopEndsTheJobWithTheSummaryMarkedStopped) {
    const std::string small = Small("small.las", 1);
    const std::string archive = dir.File("x.vmra");
    CJobRunner runner;
    runner.SetProgressInterval(1);
    Watch watch(runner);
    QObject::connect(&runner, &CJobRunner::ProgressMade, [&](const velmora::JobStatus& p) {
        if (p.fraction > 0 && !runner.StopRequested()) runner.Stop();
    });
    ASSERT_TRUE(runner.Start([&](const velmora::JobOptions& o) { return velmora::Archive::Compress({bigLas, small}, archive, o); }));
    ASSERT_TRUE(watch.WaitForEnd());
    EXPECT_EQ(watch.Steps(), (std::vector<std::string>{"started 0", "finished 0 Stopped", "ended"}));
    EXPECT_TRUE(watch.summary.stopped);
    ASSERT_EQ(watch.summary.items.size(), 1u);
    EXPECT_TRUE(Entries(archive).empty());
}

// A stop answers the open question no, whatever the watcher answers after
// it, and nothing more is asked.
TEST_F(JobRunnerTest, AfterAStopNothingMoreIsAsked) {
    const std::string archive = dir.File("x.vmra");
    {
        VMRAFile v;
        v.AddLasFile(Small("a.las", 1), archive);
        v.AddLasFile(Small("b.las", 2), archive);
    }
    const std::vector<uint8_t> before = testsupport::ReadAll(archive);
    std::filesystem::create_directory(dir.File("new"));
    const std::string a = Small("a.las", 3, "new"), b = Small("b.las", 4, "new");
    CJobRunner runner;
    Watch watch(runner);
    QObject::connect(&runner, &CJobRunner::ReplaceAsked, [&] {
        runner.Stop();
        runner.Answer(true);
    });
    ASSERT_TRUE(runner.Start([&](const velmora::JobOptions& o) { return velmora::Archive::Compress({a, b}, archive, o); }));
    ASSERT_TRUE(watch.WaitForEnd());
    EXPECT_EQ(watch.Steps(),
              (std::vector<std::string>{"started 0", "replace? a.las", "finished 0 Declined", "ended"}));
    EXPECT_TRUE(watch.summary.ended);
    EXPECT_EQ(testsupport::ReadAll(archive), before);
}

// While paused, the work's own question waits; a runner that goes away while
// its worker waits for an answer ends the worker and says nothing more.
TEST_F(JobRunnerTest, APauseHoldsTheWorksQuestionAndARunnerThatGoesLeavesNoWorker) {
    {
        CJobRunner runner;
        Watch watch(runner);
        std::atomic<bool> go{false};
        std::atomic<int> answer{-1};
        QObject::connect(&runner, &CJobRunner::MessageAsked, [&] { runner.Answer(MsgResult::Yes); });
        ASSERT_TRUE(runner.Start([&](const velmora::JobOptions&) {
            while (!go) std::this_thread::sleep_for(std::chrono::milliseconds(1));
            answer = static_cast<int>(runner.Ask(QStringLiteral("go on?"), MsgButtons::YesNo, MsgIcon::Question));
            return velmora::JobReport{};
        }));
        runner.Pause();
        go = true;
        Spin(300);
        EXPECT_TRUE(watch.events.empty()) << "asked while paused";
        EXPECT_EQ(answer.load(), -1);
        runner.Resume();
        ASSERT_TRUE(watch.WaitForEnd());
        EXPECT_EQ(watch.Steps(), (std::vector<std::string>{"message? go on?", "ended"}));
        EXPECT_EQ(answer.load(), static_cast<int>(MsgResult::Yes));
    }
    {
        std::atomic<int> answer{-1};
        int ends = 0;
        auto runner = std::make_unique<CJobRunner>();
        QObject::connect(runner.get(), &CJobRunner::Ended, [&] { ++ends; });
        bool asked = false;
        QObject::connect(runner.get(), &CJobRunner::MessageAsked, [&] { asked = true; });
        CJobRunner* r = runner.get();
        ASSERT_TRUE(runner->Start([&answer, r](const velmora::JobOptions&) {
            answer = static_cast<int>(r->Ask(QStringLiteral("anyone?"), MsgButtons::Ok, MsgIcon::None));
            return velmora::JobReport{};
        }));
        Spin(100);
        ASSERT_TRUE(asked);
        runner.reset();  // unanswered: the worker must not be left waiting
        EXPECT_EQ(answer.load(), static_cast<int>(MsgResult::Cancel));
        Spin(50);
        EXPECT_EQ(ends, 0);
    }
}
