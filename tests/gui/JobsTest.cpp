#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QPushButton>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <memory>
#include <thread>
#include <utility>

#include "GuiFixture.h"
#include "LasGenerator.h"
#include "archive/VMRAFile.h"
#include "jobs/CompressDialog.h"
#include "jobs/DecompressDialog.h"
#include "las/LasMessages.h"
#include "listview/ArchiveListing.h"

using guitest::GuiFixture;
using platform::MsgButtons;
using platform::MsgIcon;
using platform::MsgResult;
namespace fs = std::filesystem;

namespace {

QStringList EntryNames(const QString& archive) {
    QStringList names;
    for (const auto& e : listview::ReadArchiveListing(archive).entries) names << e.name;
    return names;
}

QByteArray Bytes(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Presses Abort (answered Yes) once the job has started on the file whose
// log line is given and the engine has made some progress with it.
void AbortWhenWorkingOn(CJobDialog& job, guitest::ScriptedUi& ui, const QString& logLine) {
    auto* timer = new QTimer(&job);
    timer->setInterval(1);
    QObject::connect(timer, &QTimer::timeout, &job, [&job, &ui, timer, logLine] {
        if (!job.LogLines().contains(logLine) || job.Runner().Control().Status().fraction <= 0) return;
        timer->stop();
        ui.answers.push_back(MsgResult::Yes);
        job.OnAbort();
    });
    timer->start();
}

// What the job did while its abort question was held open.
struct HeldQuestion {
    bool asked = false;
    int64_t early = -1, late = -1;  // the item's progress once it settled, and 0.8 s later
    bool runningLate = false;
    bool pausedLate = false;
};

// Presses Abort once the job works on the file of logLine and holds the
// question open: the streams done are taken once they have not moved for
// 0.4 s (at most 6 s into the question; a job coding the stream it was on
// when asked needs a moment), again 0.8 s later, then the question gets answer.
void HoldAbortQuestion(CJobDialog& job, guitest::ScriptedUi& ui, const QString& logLine, MsgResult answer,
                       HeldQuestion& seen) {
    ui.holdQuestions = true;
    CJobDialog* held = &job;
    guitest::ScriptedUi* script = &ui;
    HeldQuestion* watch = &seen;
    velmora::JobControl* control = &job.Runner().Control();
    auto* start = new QTimer(&job);
    start->setInterval(1);
    QObject::connect(start, &QTimer::timeout, &job, [=] {
        if (!held->LogLines().contains(logLine) || control->Status().fraction <= 0) return;
        start->stop();
        auto* settle = new QTimer(held);
        settle->setInterval(50);
        auto last = std::make_shared<int64_t>(-1);
        auto since = std::make_shared<QElapsedTimer>();
        auto asked = std::make_shared<QElapsedTimer>();
        asked->start();
        QObject::connect(settle, &QTimer::timeout, held, [=] {
            const int64_t now = std::lround(control->Status().fraction * 1000);
            if (now != *last) {
                *last = now;
                since->start();
            }
            if (since->elapsed() < 400 && asked->elapsed() < 6000) return;
            settle->stop();
            watch->early = now;
            QTimer::singleShot(800, held, [=] {
                watch->asked = script->QuestionOpen();
                watch->late = std::lround(control->Status().fraction * 1000);
                watch->runningLate = held->WorkerRunning();
                watch->pausedLate = control->Paused();
                script->Answer(answer);
            });
        });
        settle->start();
        held->OnAbort();
    });
    start->start();
}

// A job of our own whose worker the test steers: it counts steps, each after
// the safe point between files (unless it has none), until it is released;
// then it may report an error, and ends without passing another check point.
class CSteeredJob : public CJobDialog {
public:
    explicit CSteeredJob(platform::IPlatformUi& ui)
        : CJobDialog(ui, nullptr, "Steered", "Do you really want to quit compression?", "Cancle compression",
                     "Stepping ") {}
    ~CSteeredJob() override {
        release = true;
        StopAndWait();
    }
    std::atomic<bool> release{false};
    std::atomic<int> steps{0};
    bool safePoints = true;
    QString errorAtEnd;

protected:
    CJobRunner::Body Prepare() override {
        return [this, runner = &Runner(), safe = safePoints, error = errorAtEnd](const velmora::JobOptions&) {
            while (!release) {
                if (safe) runner->WaitAtCheckPoint();
                if (runner->StopRequested()) return velmora::JobReport{};
                ++steps;
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
            }
            if (!error.isEmpty()) runner->Ask(error, MsgButtons::Ok, MsgIcon::Error);
            Log(QStringLiteral("finished"));
            return velmora::JobReport{};
        };
    }
    void Report(const velmora::ItemReport&) override {}
};

}  // namespace

// Real LAS files from the corpus and a large generated one; real archives.
class JobsTest : public GuiFixture {
protected:
    static void SetUpTestSuite() {
        bigDir = std::make_unique<testsupport::TempDir>();
        LasGenOptions o;
        o.points = 3000000;
        o.format = 1;
        bigLas = QString::fromStdString(bigDir->File("big.las"));
        ASSERT_TRUE(GenerateLasFile(bigLas.toStdString(), o));
    }
    static void TearDownTestSuite() { bigDir.reset(); }

    void SetUp() override {
        GuiFixture::SetUp();
        corpus = QString::fromStdString(testsupport::CorpusDir());
    }
    // Copies a corpus file into the test folder under a name of our own.
    QString Las(const char* corpusName, const QString& as) {
        const QString to = Root() + as;
        QFile::copy(corpus + QLatin1Char('/') + QString::fromLatin1(corpusName), to);
        return to;
    }
    QString Big(const QString& as) {
        const QString to = Root() + as;
        QFile::copy(bigLas, to);
        return to;
    }
    static void AddDirect(const QString& las, const QString& archive) {
        VMRAFile v;
        v.AddLasFile(las.toStdString(), archive.toStdString());
    }

    QString corpus;
    static std::unique_ptr<testsupport::TempDir> bigDir;
    static QString bigLas;
};
std::unique_ptr<testsupport::TempDir> JobsTest::bigDir;
QString JobsTest::bigLas;

TEST_F(JobsTest, BatchOfThreeIntoANewArchiveTypedWithoutExtension) {
    VELMORA_REQUIRE_CORPUS(dir);
    CCompressDialog job(ui);
    QStringList names;
    for (const char* n : {"a.las", "b.las", "c.las"}) names << QString::fromLatin1(n);
    job.SetFiles({Las("point10.las", "a.las"), Las("point_time.las", "b.las"), Las("100_points.las", "c.las")}, names);
    ui.saveNames.push_back(Root() + QStringLiteral("survey"));
    EXPECT_EQ(job.exec(), QDialog::Accepted);  // closes by itself

    EXPECT_EQ(ui.savePrompts, QStringList{Root() + QStringLiteral("a.VMRA")});
    EXPECT_EQ(job.ArchivePath(), Root() + QStringLiteral("survey.VMRA"));
    EXPECT_TRUE(job.ArchiveCreated());
    EXPECT_EQ(EntryNames(job.ArchivePath()), (QStringList{"a.las", "b.las", "c.las"}));
    EXPECT_EQ(job.LogLines(), (QStringList{"Compressing files...", "Compressing file a.las",
                                           "Compressing file b.las", "Compressing file c.las"}));
    EXPECT_EQ(job.FilesText(), QStringLiteral("File(s):\n3/3"));
    EXPECT_EQ(job.ArchivePathText(), job.ArchivePath());
    EXPECT_EQ(job.ActionText(), QStringLiteral("Compressing file c.las..."));
    EXPECT_TRUE(ui.shown.empty()) << ui.Texts().join(QLatin1Char('|')).toStdString();
    EXPECT_TRUE(ui.keptOpen.isEmpty());  // nothing failed: the dialog closed by itself
    EXPECT_FALSE(job.WorkerRunning());
}

TEST_F(JobsTest, ChosenNameEndingInVmraGetsNoSecondExtension) {
    VELMORA_REQUIRE_CORPUS(dir);
    CCompressDialog job(ui);
    job.SetFiles({Las("point10.las", "a.las")}, {QStringLiteral("a.las")});
    ui.saveNames.push_back(Root() + QStringLiteral("x.vmra"));
    job.exec();
    EXPECT_EQ(job.ArchivePath(), Root() + QStringLiteral("x.vmra"));
    EXPECT_EQ(EntryNames(job.ArchivePath()), QStringList{"a.las"});
    EXPECT_EQ(CCompressDialog::ProposedArchiveName(QStringLiteral("/d.x/file")), QStringLiteral("/d.x/file.VMRA"));
    EXPECT_EQ(CCompressDialog::ProposedArchiveName(QStringLiteral("/d/a.b.las")), QStringLiteral("/d/a.b.VMRA"));
}

TEST_F(JobsTest, CancellingTheArchiveChooserEndsTheJob) {
    VELMORA_REQUIRE_CORPUS(dir);
    CCompressDialog job(ui);
    job.SetFiles({Las("point10.las", "a.las"), Las("point_time.las", "b.las"), Las("100_points.las", "c.las")},
                 {QStringLiteral("a.las"), QStringLiteral("b.las"), QStringLiteral("c.las")});
    ui.saveNames = {QString(), Root() + QStringLiteral("late")};
    EXPECT_EQ(job.exec(), QDialog::Accepted);
    EXPECT_EQ(ui.savePrompts, QStringList{Root() + QStringLiteral("a.VMRA")});
    EXPECT_FALSE(QFileInfo::exists(Root() + QStringLiteral("late.VMRA")));
    EXPECT_TRUE(job.ArchivePath().isEmpty());
    EXPECT_FALSE(job.ArchiveCreated());
    EXPECT_EQ(job.LogLines(), QStringList{"Compressing files..."});
    EXPECT_TRUE(ui.shown.empty());
}

TEST_F(JobsTest, ARefusedFileInTheMiddleFailsAndTheBatchGoesOn) {
    VELMORA_REQUIRE_CORPUS(dir);
    CCompressDialog job(ui);
    job.SetArchivePath(Root() + QStringLiteral("mixed.vmra"));
    job.SetFiles({Las("point10.las", "a.las"), Las("garbage_vlr_count.las", "cut.las"), Las("100_points.las", "c.las")},
                 {QStringLiteral("a.las"), QStringLiteral("cut.las"), QStringLiteral("c.las")});
    // At the end the dialog stays with its log, the summary and Close.
    bool closeShown = false, abortShown = true;
    ui.keepOpenSteps.push_back([&](QDialog& d) {
        auto* close = d.findChild<QPushButton*>(QStringLiteral("close"));
        auto* abort = d.findChild<QPushButton*>(QStringLiteral("abort"));
        ASSERT_TRUE(close && abort);
        closeShown = close->isVisible();
        abortShown = abort->isVisible();
        close->click();
    });
    EXPECT_EQ(job.exec(), QDialog::Accepted);
    EXPECT_EQ(ui.keptOpen, QStringList{"Compress"});
    EXPECT_TRUE(closeShown);
    EXPECT_FALSE(abortShown);
    ASSERT_EQ(ui.shown.size(), 1u);
    // The core's text, then the file it is about.
    EXPECT_EQ(ui.shown[0].text, QString::fromUtf8(lasmsg::kTruncated.text) + QStringLiteral("\n\n") + Root() +
                                    QStringLiteral("cut.las"));
    EXPECT_EQ(ui.shown[0].icon, MsgIcon::Error);
    EXPECT_EQ(job.LogLines(), (QStringList{"Compressing files...", "Compressing file a.las",
                                           "Compressing file cut.las",
                                           "Compressing file cut.las: FAILED " + Root() + "cut.las: " +
                                               QString::fromUtf8(lasmsg::kTruncated.text),
                                           "Compressing file c.las", "2 files added, 1 refused"}));
    EXPECT_EQ(job.ActionText(), QStringLiteral("2 files added, 1 refused"));
    EXPECT_EQ(EntryNames(job.ArchivePath()), (QStringList{"a.las", "c.las"}));
}

TEST_F(JobsTest, DecliningTheOverwriteKeepsTheEntryAndGoesOn) {
    VELMORA_REQUIRE_CORPUS(dir);
    const QString archive = Root() + QStringLiteral("keep.vmra");
    AddDirect(Las("point10.las", "a.las"), archive);
    const QByteArray before = Bytes(archive);
    // A different file under the same name must not replace the entry.
    QFile::remove(Root() + QStringLiteral("a.las"));
    Las("point_time.las", "a.las");
    CCompressDialog job(ui);
    job.SetArchivePath(archive);
    job.SetFiles({Root() + QStringLiteral("a.las"), Las("100_points.las", "b.las")},
                 {QStringLiteral("a.las"), QStringLiteral("b.las")});
    ui.answers.push_back(MsgResult::Cancel);
    job.exec();
    ASSERT_EQ(ui.shown.size(), 1u);
    EXPECT_EQ(ui.shown[0].text, QStringLiteral("a.las\n\nLAS file already exists in archive!\nOverwrite?"));
    EXPECT_EQ(ui.shown[0].buttons, MsgButtons::OkCancel);
    EXPECT_EQ(ui.shown[0].icon, MsgIcon::Question);
    EXPECT_EQ(EntryNames(archive), (QStringList{"a.las", "b.las"}));
    EXPECT_TRUE(Bytes(archive).startsWith(before.left(before.size() - 4 - 268)));
    EXPECT_FALSE(job.ArchiveCreated());
    EXPECT_TRUE(ui.keptOpen.isEmpty());  // a declined overwrite is no failure
}

TEST_F(JobsTest, AbortDuringTheSecondFileLeavesExactlyTheFirstEntry) {
    VELMORA_REQUIRE_CORPUS(dir);
    const QString first = Las("sample_c.las", "first.las");
    const QString reference = Root() + QStringLiteral("reference.vmra");
    AddDirect(first, reference);

    CCompressDialog job(ui);
    job.SetArchivePath(Root() + QStringLiteral("aborted.vmra"));
    job.SetFiles({first, Big(QStringLiteral("second.las"))},
                 {QStringLiteral("first.las"), QStringLiteral("second.las")});
    AbortWhenWorkingOn(job, ui, QStringLiteral("Compressing file second.las"));
    job.exec();

    EXPECT_TRUE(job.Aborted());
    ASSERT_EQ(ui.shown.size(), 1u);
    EXPECT_EQ(ui.shown[0].text, QStringLiteral("Do you really want to quit compression?"));
    EXPECT_EQ(ui.shown[0].caption, QStringLiteral("Cancle compression"));
    EXPECT_EQ(ui.shown[0].buttons, MsgButtons::YesNo);
    EXPECT_EQ(EntryNames(job.ArchivePath()), QStringList{"first.las"});
    EXPECT_EQ(Bytes(job.ArchivePath()), Bytes(reference));
    EXPECT_FALSE(job.WorkerRunning());
}

// The user made the archive with New (an empty file) and aborts the first add.
TEST_F(JobsTest, AbortDuringTheFirstFileOfAnArchiveMadeWithNewKeepsItEmpty) {
    CCompressDialog job(ui);
    job.SetArchivePath(Root() + QStringLiteral("made.vmra"));
    QFile made(job.ArchivePath());
    ASSERT_TRUE(made.open(QIODevice::WriteOnly));
    made.close();
    job.SetFiles({Big(QStringLiteral("big.las")), Big(QStringLiteral("other.las"))},
                 {QStringLiteral("big.las"), QStringLiteral("other.las")});
    AbortWhenWorkingOn(job, ui, QStringLiteral("Compressing file big.las"));
    job.exec();
    EXPECT_TRUE(job.Aborted());
    // The second file is never started.
    EXPECT_FALSE(job.LogLines().contains(QStringLiteral("Compressing file other.las")));
    ASSERT_TRUE(QFileInfo::exists(job.ArchivePath()));
    EXPECT_EQ(QFileInfo(job.ArchivePath()).size(), 0);
}

// The archive is new to the job (the chooser named a file that was not there).
TEST_F(JobsTest, AbortDuringTheFirstFileOfANewArchiveLeavesAnEmptyArchive) {
    CCompressDialog job(ui);
    job.SetArchivePath(Root() + QStringLiteral("new.vmra"));
    job.SetFiles({Big(QStringLiteral("big.las"))}, {QStringLiteral("big.las")});
    AbortWhenWorkingOn(job, ui, QStringLiteral("Compressing file big.las"));
    job.exec();
    EXPECT_TRUE(job.Aborted());
    ASSERT_TRUE(QFileInfo::exists(job.ArchivePath()));
    EXPECT_EQ(QFileInfo(job.ArchivePath()).size(), 0);
}

TEST_F(JobsTest, TheAbortQuestionHoldsTheCompressionAndNoLetsItFinish) {
    const QString las = Big(QStringLiteral("big.las"));
    CCompressDialog job(ui);
    job.SetArchivePath(Root() + QStringLiteral("held.vmra"));
    job.SetFiles({las}, {QStringLiteral("big.las")});
    HeldQuestion seen;
    HoldAbortQuestion(job, ui, QStringLiteral("Compressing file big.las"), MsgResult::No, seen);
    EXPECT_EQ(job.exec(), QDialog::Accepted);
    EXPECT_TRUE(seen.asked);
    EXPECT_TRUE(seen.runningLate) << "the job went on and ended while the user was asked";
    EXPECT_TRUE(seen.pausedLate);
    EXPECT_GE(seen.early, 1);
    EXPECT_EQ(seen.late, seen.early) << "streams were coded while the question was open";
    EXPECT_FALSE(job.Aborted());
    EXPECT_FALSE(job.Runner().Control().Paused());
    EXPECT_EQ(EntryNames(job.ArchivePath()), QStringList{"big.las"});
    EXPECT_EQ(ui.closedByProgram, 0);
}

TEST_F(JobsTest, TheAbortQuestionHoldsTheExtractionAndYesStopsIt) {
    const QString archive = Root() + QStringLiteral("big.vmra");
    AddDirect(Big(QStringLiteral("big.las")), archive);
    const QString out = MakeFolder(QStringLiteral("out"));
    CDecompressDialog job(ui);
    job.SetArchivePath(archive);
    job.SetOutputFolder(out + QLatin1Char('/'));
    job.SetEntries({QStringLiteral("big.las"), QStringLiteral("big.las")});
    HeldQuestion seen;
    HoldAbortQuestion(job, ui, QStringLiteral("Decompressing file big.las"), MsgResult::Yes, seen);
    job.exec();
    EXPECT_TRUE(seen.asked);
    EXPECT_TRUE(seen.runningLate);
    EXPECT_TRUE(seen.pausedLate);
    EXPECT_EQ(seen.late, seen.early);
    EXPECT_TRUE(job.Aborted());
    EXPECT_FALSE(job.WorkerRunning());
    ASSERT_EQ(ui.shown.size(), 1u);  // the second entry was never started
    EXPECT_EQ(ui.shown[0].caption, QStringLiteral("Cancle decompression"));
    EXPECT_EQ(job.LogLines(), (QStringList{"Decompressing files...", "Decompressing file big.las"}));
    EXPECT_TRUE(QDir(out).isEmpty());
}

TEST_F(JobsTest, TheAbortQuestionStopsTheWorkerBetweenFiles) {
    CSteeredJob job(ui);
    ui.holdQuestions = true;
    int early = -1, late = -1;
    // Asked once the worker is under way: on a loaded machine its thread
    // may not have taken a step in the first 50 ms, and a worker held
    // before its first step would show nothing of being held. A worker that
    // takes no step in 10 s is asked all the same, and fails below.
    QTimer underWay;
    underWay.setInterval(5);
    int polls = 0;
    QObject::connect(&underWay, &QTimer::timeout, &job, [&] {
        if (job.steps.load() == 0 && ++polls < 2000) return;
        underWay.stop();
        QTimer::singleShot(300, &job, [&] { early = job.steps.load(); });
        QTimer::singleShot(700, &job, [&] {
            late = job.steps.load();
            ui.Answer(MsgResult::No);
        });
        job.OnAbort();
        // Answered No: the worker goes on counting until it is released.
        QTimer::singleShot(200, &job, [&] { job.release = true; });
    });
    underWay.start();
    EXPECT_EQ(job.exec(), QDialog::Accepted);
    ASSERT_GE(early, 1) << "the worker had taken no step when the question came";
    EXPECT_EQ(late, early) << "the worker went on while the user was asked";
    EXPECT_GT(job.steps.load(), late);
    EXPECT_EQ(job.LogLines(), QStringList{"finished"});
}

// The error box of one file is answered while the job is held, as if the
// abort question had opened right after it: the next file must not start.
TEST_F(JobsTest, BetweenFilesAHeldJobStartsNoFurtherFile) {
    VELMORA_REQUIRE_CORPUS(dir);
    const QString archive = Root() + QStringLiteral("two.vmra");
    AddDirect(Las("point10.las", "b.las"), archive);
    CCompressDialog compress(ui);
    compress.SetArchivePath(Root() + QStringLiteral("c.vmra"));
    compress.SetFiles({Las("garbage_vlr_count.las", "cut.las"), Las("100_points.las", "c.las")},
                      {QStringLiteral("cut.las"), QStringLiteral("c.las")});
    CDecompressDialog extract(ui);
    extract.SetArchivePath(archive);
    extract.SetOutputFolder(MakeFolder(QStringLiteral("out")) + QLatin1Char('/'));
    extract.SetEntries({QStringLiteral("missing.las"), QStringLiteral("b.las")});

    for (CJobDialog* job : {static_cast<CJobDialog*>(&compress), static_cast<CJobDialog*>(&extract)}) {
        const QString next = job == &compress ? QStringLiteral("Compressing file c.las")
                                              : QStringLiteral("Decompressing file b.las");
        SCOPED_TRACE(next.toStdString());
        bool startedWhileHeld = true, held = false;
        ui.onShown = [&](const guitest::ScriptedUi::Shown&) {
            if (std::exchange(held, true)) return;
            job->Runner().Control().Pause();
            QTimer::singleShot(400, job, [&] {
                startedWhileHeld = job->LogLines().contains(next);
                job->Runner().Control().Resume();
            });
        };
        job->exec();
        ui.onShown = nullptr;
        EXPECT_TRUE(held);
        EXPECT_FALSE(startedWhileHeld);
        EXPECT_TRUE(job->LogLines().contains(next));  // and after it, it did
    }
}

TEST_F(JobsTest, AJobThatEndsWhileTheAbortQuestionIsOpenClosesTheQuestion) {
    CSteeredJob job(ui);
    job.safePoints = false;  // as a worker that is past its last check point
    ui.holdQuestions = true;
    ui.holdLimitMs = 5000;
    QTimer::singleShot(20, &job, [&] {
        QTimer::singleShot(100, &job, [&] { job.release = true; });
        job.OnAbort();
    });
    EXPECT_EQ(job.exec(), QDialog::Accepted);
    EXPECT_EQ(ui.closedByProgram + ui.heldTooLong, 1);
    EXPECT_EQ(ui.closedByProgram, 1) << "the question stayed open after the job had ended";
    EXPECT_FALSE(job.Aborted());
    EXPECT_EQ(job.LogLines(), QStringList{"finished"});
}

TEST_F(JobsTest, TheWorkersOwnQuestionsWaitForTheAnswerToAbort) {
    for (const MsgResult answer : {MsgResult::No, MsgResult::Yes}) {
        SCOPED_TRACE(answer == MsgResult::Yes ? "Yes" : "No");
        guitest::ScriptedUi local;
        CSteeredJob job(local);
        job.safePoints = false;  // it runs on into its error while the question is open
        job.errorAtEnd = QStringLiteral("late error");
        local.holdQuestions = true;
        std::size_t shownWhileAsked = 0;
        QTimer::singleShot(20, &job, [&] {
            QTimer::singleShot(100, &job, [&] { job.release = true; });
            QTimer::singleShot(500, &job, [&] {
                shownWhileAsked = local.shown.size();
                local.Answer(answer);
            });
            job.OnAbort();
        });
        job.exec();
        EXPECT_EQ(shownWhileAsked, 1u) << "an error box opened over the abort question";
        const QStringList expected = answer == MsgResult::No
                                         ? QStringList{"Do you really want to quit compression?", "late error"}
                                         : QStringList{"Do you really want to quit compression?"};
        EXPECT_EQ(local.Texts(), expected);
        EXPECT_EQ(job.Aborted(), answer == MsgResult::Yes);
    }
}

TEST_F(JobsTest, AnsweringNoToAbortLetsTheJobFinish) {
    VELMORA_REQUIRE_CORPUS(dir);
    CCompressDialog job(ui);
    job.SetArchivePath(Root() + QStringLiteral("go.vmra"));
    job.SetFiles({Las("autzen_trim.las", "a.las")}, {QStringLiteral("a.las")});
    QTimer::singleShot(0, &job, [&] { job.OnAbort(); });  // unscripted: No
    job.exec();
    EXPECT_FALSE(job.Aborted());
    EXPECT_EQ(EntryNames(job.ArchivePath()), QStringList{"a.las"});
}

class ExtractJobTest : public JobsTest {
protected:
    void SetUp() override {
        JobsTest::SetUp();
        if (corpus.isEmpty()) return;
        archive = Root() + QStringLiteral("two.vmra");
        AddDirect(Las("point10.las", "a.las"), archive);
        AddDirect(Las("point_time.las", "b.las"), archive);
        out = MakeFolder(QStringLiteral("out"));
    }
    QString archive, out;
};

TEST_F(ExtractJobTest, TwoEntriesIntoAChosenFolder) {
    VELMORA_REQUIRE_CORPUS(dir);
    CDecompressDialog job(ui);
    job.SetArchivePath(archive);
    job.SetEntries({QStringLiteral("a.las"), QStringLiteral("b.las")});
    ui.folders.push_back(out);  // no trailing separator: the job adds it
    EXPECT_EQ(job.exec(), QDialog::Accepted);
    EXPECT_EQ(job.OutputFolder(), out + QLatin1Char('/'));
    EXPECT_EQ(Bytes(out + QStringLiteral("/a.las")), Bytes(Root() + QStringLiteral("a.las")));
    EXPECT_EQ(Bytes(out + QStringLiteral("/b.las")), Bytes(Root() + QStringLiteral("b.las")));
    EXPECT_EQ(job.LogLines(), (QStringList{"Decompressing files...", "Decompressing file a.las",
                                           "Decompressing file b.las"}));
    EXPECT_TRUE(ui.shown.empty());
}

TEST_F(ExtractJobTest, CancelledFolderBrowserExtractsNothing) {
    VELMORA_REQUIRE_CORPUS(dir);
    CDecompressDialog job(ui);
    job.SetArchivePath(archive);
    job.SetEntries({QStringLiteral("a.las"), QStringLiteral("b.las")});
    EXPECT_EQ(job.exec(), QDialog::Accepted);
    EXPECT_EQ(ui.folderRequests, 1);
    EXPECT_EQ(job.LogLines(), QStringList{"Decompressing files..."});
    EXPECT_TRUE(QDir(out).isEmpty());
}

TEST_F(ExtractJobTest, ExistingOutputAnsweredWithCancelIsSkipped) {
    VELMORA_REQUIRE_CORPUS(dir);
    QFile old(out + QStringLiteral("/a.las"));
    ASSERT_TRUE(old.open(QIODevice::WriteOnly));
    old.write("mine");
    old.close();
    CDecompressDialog job(ui);
    job.SetArchivePath(archive);
    job.SetOutputFolder(out + QLatin1Char('/'));
    job.SetEntries({QStringLiteral("a.las"), QStringLiteral("b.las")});
    ui.answers.push_back(MsgResult::Cancel);
    job.exec();
    ASSERT_EQ(ui.shown.size(), 1u);
    EXPECT_EQ(ui.shown[0].text, out + QStringLiteral("/a.las\n\nFile already exists.\nOverwrite?"));
    EXPECT_EQ(Bytes(out + QStringLiteral("/a.las")), QByteArray("mine"));
    EXPECT_EQ(Bytes(out + QStringLiteral("/b.las")), Bytes(Root() + QStringLiteral("b.las")));
}

TEST_F(ExtractJobTest, MissingEntryIsReportedAndTheNextIsExtracted) {
    VELMORA_REQUIRE_CORPUS(dir);
    CDecompressDialog job(ui);
    job.SetArchivePath(archive);
    job.SetOutputFolder(out + QLatin1Char('/'));
    job.SetEntries({QStringLiteral("missing.las"), QStringLiteral("b.las")});
    job.exec();
    ASSERT_EQ(ui.shown.size(), 1u);
    EXPECT_EQ(ui.shown[0].text, QStringLiteral("LAS file not found in archive!\n\nmissing.las"));
    EXPECT_EQ(ui.shown[0].icon, MsgIcon::Error);
    EXPECT_FALSE(QFileInfo::exists(out + QStringLiteral("/missing.las")));
    EXPECT_EQ(Bytes(out + QStringLiteral("/b.las")), Bytes(Root() + QStringLiteral("b.las")));
    EXPECT_EQ(ui.keptOpen, QStringList{"Decompress"});
    EXPECT_EQ(job.LogLines(), (QStringList{"Decompressing files...", "Decompressing file missing.las",
                                           "Decompressing file missing.las: FAILED missing.las: LAS file not found in archive!",
                                           "Decompressing file b.las",
                                           "1 file extracted, 1 failed"}));
}

// "Extract to" of several archives runs one dialog object once per archive.
TEST_F(ExtractJobTest, EachRunOfAReusedDialogStartsClean) {
    VELMORA_REQUIRE_CORPUS(dir);
    const QString second = Root() + QStringLiteral("second.vmra");
    AddDirect(Las("100_points.las", "c.las"), second);
    CDecompressDialog job(ui);
    job.SetArchivePath(archive);
    job.SetOutputFolder(out + QLatin1Char('/'));
    job.SetEntries({QStringLiteral("missing.las"), QStringLiteral("a.las")});
    job.exec();
    ASSERT_EQ(ui.keptOpen, QStringList{"Decompress"});
    EXPECT_EQ(guitest::CountOf(job.Summary(), velmora::Outcome::Failed), 1u);

    job.SetArchivePath(second);
    job.SetEntries(QStringList{QStringLiteral("c.las")});
    EXPECT_EQ(job.exec(), QDialog::Accepted);
    EXPECT_EQ(job.LogLines(), (QStringList{"Decompressing files...", "Decompressing file c.las"}));
    EXPECT_EQ(job.FilesText(), QStringLiteral("File(s):\n1/1"));
    EXPECT_EQ(job.ArchivePathText(), second);
    EXPECT_EQ(guitest::CountOf(job.Summary(), velmora::Outcome::Extracted), 1u);
    EXPECT_EQ(guitest::CountOf(job.Summary(), velmora::Outcome::Failed), 0u);
    EXPECT_EQ(ui.keptOpen.size(), 1);  // the clean run closed by itself
    auto* close = job.findChild<QPushButton*>(QStringLiteral("close"));
    auto* abort = job.findChild<QPushButton*>(QStringLiteral("abort"));
    ASSERT_TRUE(close && abort);
    EXPECT_TRUE(close->isHidden());
    EXPECT_FALSE(abort->isHidden());
    EXPECT_EQ(Bytes(out + QStringLiteral("/c.las")), Bytes(Root() + QStringLiteral("c.las")));

    // A run with nothing to do shows none of the texts of the one before.
    job.SetEntries({});
    job.exec();
    EXPECT_EQ(job.LogLines(), QStringList{"Decompressing files..."});
    EXPECT_TRUE(job.ArchivePathText().isEmpty());
    EXPECT_TRUE(job.FilesText().isEmpty());
    EXPECT_TRUE(job.ActionText().isEmpty());
}

TEST_F(JobsTest, AbortedExtractionLeavesNoPartFile) {
    const QString archive = Root() + QStringLiteral("big.vmra");
    AddDirect(Big(QStringLiteral("big.las")), archive);
    const QString out = MakeFolder(QStringLiteral("out"));
    CDecompressDialog job(ui);
    job.SetArchivePath(archive);
    job.SetOutputFolder(out + QLatin1Char('/'));
    job.SetEntries({QStringLiteral("big.las")});
    AbortWhenWorkingOn(job, ui, QStringLiteral("Decompressing file big.las"));
    job.exec();
    EXPECT_TRUE(job.Aborted());
    ASSERT_EQ(ui.shown.size(), 1u);
    EXPECT_EQ(ui.shown[0].caption, QStringLiteral("Cancle decompression"));
    EXPECT_TRUE(QDir(out).isEmpty()) << QDir(out).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden)
                                            .join(QLatin1Char(' '))
                                            .toStdString();
}

TEST(JobDialogWindowTest, MinimisingTheDialogMinimisesTheMainWindow) {
    guitest::ScriptedUi ui;
    QWidget main;
    main.show();
    CCompressDialog job(ui, &main);
    job.show();
    job.setWindowState(Qt::WindowMinimized);
    EXPECT_TRUE(main.isMinimized());
    job.setWindowState(Qt::WindowNoState);
    EXPECT_FALSE(main.isMinimized());
}
