// The job dialogs as hosts of the job layer: testing entries, waiting for
// another program, archives put right on the way, and boxes that name the
// file they are about.
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>

#include <cerrno>
#include <functional>
#include <memory>
#include <utility>

#include "ArchiveStates.h"
#include "GuiFixture.h"
#include "LasGenerator.h"
#include "archive/ArchiveMessages.h"
#include "archive/VMRAFile.h"
#include "jobs/CompressDialog.h"
#include "jobs/DecompressDialog.h"
#include "jobs/TestDialog.h"
#include "las/LasException.h"
#include "las/LasMessages.h"
#include "listview/ArchiveListing.h"
#include "listview/DeleteDlg.h"

using guitest::CHeldArchiveLock;
using guitest::GuiFixture;
using platform::MsgButtons;
using platform::MsgIcon;
using platform::MsgResult;

namespace {

QByteArray Bytes(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QStringList EntryNames(const QString& archive) {
    QStringList names;
    for (const auto& e : listview::ReadArchiveListing(archive).entries) names << e.name;
    return names;
}

// Calls then() once the job's action text has become text.
void WhenActionIs(CJobDialog& job, const QString& text, std::function<void()> then) {
    auto* poll = new QTimer(&job);
    poll->setInterval(5);
    QObject::connect(poll, &QTimer::timeout, &job, [&job, poll, text, then] {
        if (job.ActionText() != text) return;
        poll->stop();
        then();
    });
    poll->start();
}

}  // namespace

class JobHostTest : public GuiFixture {
protected:
    void SetUp() override {
        GuiFixture::SetUp();
        archive = Root() + QStringLiteral("work.vmra");
        for (const char* name : {"a.las", "b.las"}) {
            LasGenOptions o;
            o.points = 4000;
            o.format = 1;
            o.seed = static_cast<uint64_t>(name[0]);
            ASSERT_TRUE(GenerateLasFile((Root() + QString::fromLatin1(name)).toStdString(), o));
            VMRAFile v;
            v.AddLasFile((Root() + QString::fromLatin1(name)).toStdString(), archive.toStdString());
        }
        out = MakeFolder(QStringLiteral("out")) + QLatin1Char('/');
    }
    QString Waiting() const { return archive + QStringLiteral(": ") + QString::fromLatin1(archmsg::kWaitingForOther); }

    QString archive, out;
};

TEST_F(JobHostTest, TestingEntriesSaysWhatWasFoundForEach) {
    // A name too long to leave room for a checksum in its record.
    const QString longName = QString(236, QLatin1Char('n')) + QStringLiteral(".las");
    QFile::copy(Root() + QStringLiteral("a.las"), Root() + longName);
    {
        VMRAFile v;
        v.AddLasFile((Root() + longName).toStdString(), archive.toStdString());
    }
    ASSERT_TRUE(guitest::DamageEntry(archive, QStringLiteral("b.las")));

    CTestDialog job(ui);
    EXPECT_EQ(job.windowTitle(), QStringLiteral("Test"));
    job.SetArchivePath(archive);
    job.SetEntries({QStringLiteral("a.las"), QStringLiteral("b.las"), longName});
    // Damage keeps the dialog open with its summary; it is a finding, not an
    // error box.
    EXPECT_EQ(job.exec(), QDialog::Accepted);
    EXPECT_TRUE(ui.shown.empty()) << ui.Texts().join(QLatin1Char('|')).toStdString();
    EXPECT_EQ(ui.keptOpen, QStringList{"Test"});
    const QStringList log = job.LogLines();
    ASSERT_EQ(log.size(), 8) << log.join(QLatin1Char('|')).toStdString();
    EXPECT_EQ(log.mid(0, 4), (QStringList{"Testing files...", "Testing file a.las", "a.las: ok", "Testing file b.las"}));
    // What the user can act on; the engine's reason is for developers, on
    // the line's tool tip.
    EXPECT_EQ(log[4], QStringLiteral("b.las: damaged: its compressed data is damaged"));
    EXPECT_GT(job.findChild<QListWidget*>(QStringLiteral("log"))->item(4)->toolTip().size(), 10);
    // A test stores nothing: no ratio to show. Done, its bar is full.
    EXPECT_TRUE(job.findChild<QLabel*>(QStringLiteral("ratio"))->isHidden());
    EXPECT_EQ(job.findChild<QProgressBar*>(QStringLiteral("progress"))->value(), 100);
    EXPECT_EQ(log.mid(5), (QStringList{QStringLiteral("Testing file ") + longName,
                                       longName + QStringLiteral(": ok (no checksum)"),
                                       "1 file tested ok, 1 ok without checksum, 1 damaged"}));
    EXPECT_EQ(job.ActionText(), QStringLiteral("1 file tested ok, 1 ok without checksum, 1 damaged"));

    // An entry that is not there cannot be tested: a box says so and names it.
    ui.keptOpen.clear();
    job.SetEntries(QStringList{QStringLiteral("gone.las"), QStringLiteral("a.las")});
    job.exec();
    ASSERT_EQ(ui.shown.size(), 1u);
    EXPECT_EQ(ui.shown[0].text, QStringLiteral("LAS file not found in archive!\n\ngone.las"));
    EXPECT_EQ(ui.shown[0].icon, MsgIcon::Error);
    EXPECT_EQ(job.LogLines(), (QStringList{"Testing files...", "Testing file gone.las",
                                           "gone.las: failed: LAS file not found in archive!", "Testing file a.las",
                                           "a.las: ok", "1 file tested ok, 1 failed"}));
    EXPECT_EQ(ui.keptOpen, QStringList{"Test"});
}

// A name from someone else's archive is shown as what it holds: a carriage
// return or an escape sequence in it must not break the log or the box.
TEST_F(JobHostTest, LogsAndBoxesShowHostileNamesEscaped) {
    const std::string hostile = "evil\x1b[2J\r.las";
    const QString shown = QStringLiteral("evil\\x1b[2J\\x0d.las");
    {
        // Renamed in place, its checksum record moved along with the name.
        QFile f(archive);
        ASSERT_TRUE(f.open(QIODevice::ReadWrite));
        QByteArray bytes = f.readAll();
        const qsizetype at = bytes.size() - 4 - 2 * static_cast<qsizetype>(EntryRecord::kSize);
        EntryRecord r;
        r.Load(reinterpret_cast<const uint8_t*>(bytes.constData() + at));
        const auto checksum = r.Checksum();
        ASSERT_TRUE(checksum.has_value());
        r.SetName(hostile);
        ASSERT_TRUE(r.SetChecksum(*checksum));
        r.Store(reinterpret_cast<uint8_t*>(bytes.data() + at));
        f.seek(0);
        f.write(bytes);
    }
    CTestDialog test(ui);
    test.SetArchivePath(archive);
    test.SetEntries({QString::fromStdString(hostile)});
    test.exec();
    EXPECT_EQ(test.LogLines(), (QStringList{"Testing files...", QStringLiteral("Testing file ") + shown,
                                            shown + QStringLiteral(": ok"), "1 file tested ok"}));
    // Extraction refuses the name, and its box names it escaped.
    CDecompressDialog extract(ui);
    extract.SetArchivePath(archive);
    extract.SetOutputFolder(out);
    extract.SetEntries({QString::fromStdString(hostile)});
    ui.answers.push_back(MsgResult::Ok);
    extract.exec();
    ASSERT_FALSE(ui.shown.empty());
    EXPECT_TRUE(ui.shown[0].text.endsWith(QStringLiteral("\n\n") + shown)) << ui.shown[0].text.toStdString();
    EXPECT_TRUE(QDir(out).entryList(QDir::Files | QDir::Hidden).isEmpty());
}

// A sound archive gets its verdict too: the dialog stays with the summary
// until the user closes it.
TEST_F(JobHostTest, ATestWithEveryEntryIntactStaysOpenWithItsVerdict) {
    CTestDialog job(ui);
    job.SetArchivePath(archive);
    job.SetEntries({QStringLiteral("a.las"), QStringLiteral("b.las")});
    bool closeShown = false;
    QString action;
    ui.keepOpenSteps.push_back([&](QDialog& d) {
        auto* close = d.findChild<QPushButton*>(QStringLiteral("close"));
        closeShown = close && close->isVisible();
        action = job.ActionText();
    });
    EXPECT_EQ(job.exec(), QDialog::Accepted);
    EXPECT_EQ(ui.keptOpen, QStringList{"Test"});
    EXPECT_TRUE(closeShown);
    EXPECT_EQ(action, QStringLiteral("2 files tested ok"));
    EXPECT_EQ(job.LogLines(), (QStringList{"Testing files...", "Testing file a.las", "a.las: ok", "Testing file b.las",
                                           "b.las: ok", "2 files tested ok"}));
    EXPECT_TRUE(ui.shown.empty());
    EXPECT_EQ(guitest::CountOf(job.Summary(), velmora::Outcome::Passed), 2u);
    EXPECT_EQ(job.FilesText(), QStringLiteral("File(s):\n2/2"));
}

// Another program changes the archive: the dialog says that it waits, and
// Abort ends the wait with nothing done.
TEST_F(JobHostTest, AnExtractionWaitsVisiblyForAnotherProgramAndAbortEndsTheWait) {
    CHeldArchiveLock other(archive);
    ASSERT_TRUE(other.Held());
    CDecompressDialog job(ui);
    job.SetArchivePath(archive);
    job.SetOutputFolder(out);
    job.SetEntries({QStringLiteral("a.las"), QStringLiteral("b.las")});
    bool sawWait = false;
    WhenActionIs(job, Waiting(), [&] {
        sawWait = job.LogLines().contains(Waiting());
        ui.answers.push_back(MsgResult::Yes);
        job.OnAbort();
    });
    // Should Abort not end the wait, the other program finishes after all,
    // and the checks below tell.
    QTimer::singleShot(8000, &job, [&] { other.Release(); });
    QElapsedTimer clock;
    clock.start();
    job.exec();
    EXPECT_TRUE(sawWait);
    EXPECT_LT(clock.elapsed(), 10000);
    EXPECT_TRUE(job.Aborted());
    EXPECT_TRUE(job.Summary().stopped);
    EXPECT_EQ(ui.Texts(), QStringList{"Do you really want to quit decompression?"});
    EXPECT_TRUE(QDir(out).isEmpty());
    EXPECT_TRUE(ui.keptOpen.isEmpty());
}

TEST_F(JobHostTest, ACompressionWaitsForAnotherProgramAndGoesOnWhenItIsDone) {
    LasGenOptions o;
    o.points = 3000;
    ASSERT_TRUE(GenerateLasFile((Root() + QStringLiteral("c.las")).toStdString(), o));
    auto other = std::make_unique<CHeldArchiveLock>(archive);
    ASSERT_TRUE(other->Held());
    CCompressDialog job(ui);
    job.SetArchivePath(archive);
    job.SetFiles({Root() + QStringLiteral("c.las")}, {QStringLiteral("c.las")});
    bool sawWait = false;
    WhenActionIs(job, Waiting(), [&] {
        sawWait = true;
        other->Release();
    });
    EXPECT_EQ(job.exec(), QDialog::Accepted);
    EXPECT_TRUE(sawWait);
    EXPECT_EQ(job.LogLines(), (QStringList{"Compressing files...", "Compressing file c.las", Waiting()}));
    EXPECT_EQ(EntryNames(archive), (QStringList{"a.las", "b.las", "c.las"}));
    EXPECT_TRUE(ui.shown.empty());
}

TEST_F(JobHostTest, AnArchivePutRightOnTheWayIsInTheLog) {
    LasGenOptions o;
    o.points = 3000;
    ASSERT_TRUE(GenerateLasFile((Root() + QStringLiteral("c.las")).toStdString(), o));
    const QByteArray before = Bytes(archive);
    ASSERT_TRUE(guitest::LeaveInterruptedChange(archive, Root() + QStringLiteral("c.las")));
    CDecompressDialog job(ui);
    job.SetArchivePath(archive);
    job.SetOutputFolder(out);
    job.SetEntries({QStringLiteral("b.las")});
    EXPECT_EQ(job.exec(), QDialog::Accepted);
    const QString recovered = archive + QStringLiteral(": ") + QString::fromLatin1(archmsg::kRecovered);
    // Put right when the job first reads the archive, before its first entry.
    EXPECT_EQ(job.LogLines(), (QStringList{"Decompressing files...", recovered, "Decompressing file b.las"}));
    EXPECT_EQ(Bytes(archive), before);
    EXPECT_FALSE(QFileInfo::exists(archive + QStringLiteral("-journal")));
    EXPECT_EQ(Bytes(out + QStringLiteral("b.las")), Bytes(Root() + QStringLiteral("b.las")));
}

// A failure about the archive names the archive, with the system's reason.
TEST_F(JobHostTest, BoxesNameTheArchiveWhenTheFailureIsAboutIt) {
    CDecompressDialog job(ui);
    job.SetArchivePath(Root() + QStringLiteral("nowhere.vmra"));
    job.SetOutputFolder(out);
    job.SetEntries({QStringLiteral("a.las")});
    job.exec();
    ASSERT_EQ(ui.shown.size(), 1u);
    EXPECT_EQ(ui.shown[0].text, QStringLiteral("Error opening archive!\n\n") + job.ArchivePath() + QLatin1Char('\n') +
                                    QString::fromUtf8(CauseText(ENOENT)));
    EXPECT_EQ(job.LogLines().last(), QStringLiteral("1 file failed"));
}

// Extracting every entry of an archive is one batch of the job layer.
TEST_F(JobHostTest, AWholeArchiveIsExtractedAsItsDirectoryListsIt) {
    CDecompressDialog job(ui);
    job.SetArchivePath(archive);
    job.SetOutputFolder(out);
    job.SetWholeArchive(true);
    EXPECT_EQ(job.exec(), QDialog::Accepted);
    EXPECT_EQ(job.LogLines(),
              (QStringList{"Decompressing files...", "Decompressing file a.las", "Decompressing file b.las"}));
    for (const char* n : {"a.las", "b.las"})
        EXPECT_EQ(Bytes(out + QString::fromLatin1(n)), Bytes(Root() + QString::fromLatin1(n))) << n;
}

TEST_F(JobHostTest, ADeletionWaitingForAnotherProgramCanBeGivenUp) {
    CHeldArchiveLock other(archive);
    ASSERT_TRUE(other.Held());
    const QByteArray before = Bytes(archive);
    DeleteDlg dlg(nullptr, archive, {QStringLiteral("a.las"), QStringLiteral("b.las")});
    auto* poll = new QTimer(&dlg);
    poll->setInterval(5);
    QString seen;
    QObject::connect(poll, &QTimer::timeout, &dlg, [&] {
        if (dlg.NoticeText().isEmpty()) return;
        poll->stop();
        seen = dlg.NoticeText();
        dlg.reject();  // Escape
    });
    poll->start();
    QTimer::singleShot(8000, &dlg, [&] { other.Release(); });
    dlg.exec();
    EXPECT_EQ(seen, Waiting());
    EXPECT_TRUE(dlg.Summary().stopped);
    EXPECT_FALSE(dlg.Failed());
    EXPECT_EQ(Bytes(archive), before);
}

TEST_F(JobHostTest, ADeletionEndsAtTheFirstEntryThatCannotBeDeleted) {
    DeleteDlg dlg(nullptr, archive, {QStringLiteral("gone.las"), QStringLiteral("a.las")});
    dlg.exec();
    ASSERT_TRUE(dlg.Failed());
    EXPECT_EQ(dlg.Failure()->name, "gone.las");
    EXPECT_EQ(dlg.Summary().items.size(), 1u);
    EXPECT_EQ(EntryNames(archive), (QStringList{"a.las", "b.las"}));

    DeleteDlg both(nullptr, archive, {QStringLiteral("b.las"), QStringLiteral("a.las")});
    both.exec();
    EXPECT_FALSE(both.Failed());
    EXPECT_EQ(guitest::CountOf(both.Summary(), velmora::Outcome::Deleted), 2u);
    EXPECT_EQ(QFileInfo(archive).size(), 0);  // the last entry leaves an empty archive
}

// A LAS 1.4 file goes through the window's jobs like any other: added as an
// extended entry beside the classic ones, listed, tested and extracted
// byte for byte.
TEST_F(JobHostTest, ALas14FileIsAddedListedTestedAndExtracted) {
    LasGenOptions o;
    o.points = 5000;
    o.format = 7;
    o.versionMinor = 4;
    o.versionHeader = true;
    o.extraBytes = 6;
    o.evlrCount = 1;
    const QString v14 = Root() + QStringLiteral("v14.las");
    ASSERT_TRUE(GenerateLasFile(v14.toStdString(), o));
    CCompressDialog add(ui);
    add.SetArchivePath(archive);
    add.SetFiles({v14}, {QStringLiteral("v14.las")});
    add.exec();
    EXPECT_TRUE(ui.shown.empty()) << ui.Texts().join(QLatin1Char('|')).toStdString();
    EXPECT_EQ(EntryNames(archive), (QStringList{"a.las", "b.las", "v14.las"}));
    const auto listing = listview::ReadArchiveListing(archive);
    ASSERT_EQ(listing.entries.size(), 3u);
    EXPECT_EQ(listing.entries[2].size, QFileInfo(v14).size());
    EXPECT_GT(listing.entries[2].packed, 0);
    EXPECT_LT(listing.entries[2].packed, listing.entries[2].size / 2);

    CTestDialog test(ui);
    test.SetArchivePath(archive);
    test.SetEntries({QStringLiteral("v14.las")});
    test.exec();
    EXPECT_TRUE(test.LogLines().contains(QStringLiteral("v14.las: ok"))) << test.LogLines().join(QLatin1Char('|')).toStdString();

    CDecompressDialog extract(ui);
    extract.SetArchivePath(archive);
    extract.SetOutputFolder(out);
    extract.SetEntries({QStringLiteral("v14.las")});
    extract.exec();
    EXPECT_TRUE(ui.shown.empty()) << ui.Texts().join(QLatin1Char('|')).toStdString();
    EXPECT_EQ(Bytes(out + QStringLiteral("v14.las")), Bytes(v14));
}

// The user confirms Abort while the box about one file is still open: the
// batch ends there, and the next file is not begun.
TEST_F(JobHostTest, AnAbortDuringAFilesErrorBoxStartsNoFurtherFile) {
    LasGenOptions o;
    o.points = 3000;
    ASSERT_TRUE(GenerateLasFile((Root() + QStringLiteral("v13.las")).toStdString(), o));
    ASSERT_TRUE(guitest::CutShort(Root() + QStringLiteral("v13.las")));
    CCompressDialog job(ui);
    job.SetArchivePath(archive);
    job.SetFiles({Root() + QStringLiteral("v13.las"), Root() + QStringLiteral("a.las")},
                 {QStringLiteral("v13.las"), QStringLiteral("a.las")});
    bool asked = false;
    ui.onShown = [&](const guitest::ScriptedUi::Shown&) {
        if (std::exchange(asked, true)) return;
        ui.answers.push_back(MsgResult::Yes);
        job.OnAbort();
    };
    job.exec();
    ui.onShown = nullptr;
    EXPECT_TRUE(job.Aborted());
    ASSERT_EQ(job.Summary().items.size(), 1u);
    EXPECT_EQ(job.Summary().items[0].outcome, velmora::Outcome::Refused);
    EXPECT_TRUE(job.Summary().ended);
    EXPECT_EQ(ui.Texts().size(), 2);  // the error box and the abort question
    EXPECT_EQ(EntryNames(archive), (QStringList{"a.las", "b.las"}));
}

// A replacement the user agreed to that then fails is logged apart from a
// new file that fails.
TEST_F(JobHostTest, AFailedReplacementIsLoggedAsSuch) {
    LasGenOptions o;
    o.points = 3000;
    const QString folder = MakeFolder(QStringLiteral("new")) + QLatin1Char('/');
    for (const char* name : {"a.las", "n.las"}) {
        ASSERT_TRUE(GenerateLasFile((folder + QString::fromLatin1(name)).toStdString(), o));
        ASSERT_TRUE(guitest::CutShort(folder + QString::fromLatin1(name)));
    }
    CCompressDialog job(ui);
    job.SetArchivePath(archive);
    job.SetFiles({folder + QStringLiteral("a.las"), folder + QStringLiteral("n.las")},
                 {QStringLiteral("a.las"), QStringLiteral("n.las")});
    ui.answers.push_back(MsgResult::Ok);  // replace a.las
    job.exec();
    // Each failure's line says why, as the command line does.
    const QString truncated = QStringLiteral(": ") + QString::fromUtf8(lasmsg::kTruncated.text);
    EXPECT_EQ(job.LogLines(),
              (QStringList{"Compressing files...", "Compressing file a.las",
                           "Compressing file a.las: FAILURE " + folder + "a.las" + truncated, "Compressing file n.las",
                           "Compressing file n.las: FAILED " + folder + "n.las" + truncated, "2 files refused"}));
    ASSERT_EQ(ui.shown.size(), 3u);
    EXPECT_EQ(ui.shown[0].text, QStringLiteral("a.las\n\nLAS file already exists in archive!\nOverwrite?"));
    EXPECT_EQ(ui.shown[1].text, QString::fromUtf8(lasmsg::kTruncated.text) + QStringLiteral("\n\n") + folder +
                                    QStringLiteral("a.las"));
    EXPECT_EQ(ui.keptOpen, QStringList{"Compress"});
}
