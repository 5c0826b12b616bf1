// What the compression dialog shows while a batch runs and when it ends: the
// bar and the ratio of the file in hand, the batch's ratio at the end, and a
// line in the log for a file the user kept as it was.
#include <QAbstractItemModel>
#include <QFile>
#include <QLabel>
#include <QListWidget>
#include <QTimer>

#include <memory>

#include "ArchiveStates.h"
#include "GuiFixture.h"
#include "LasGenerator.h"
#include "archive/ArchiveMessages.h"
#include "archive/VMRAFile.h"
#include "jobs/CompressDialog.h"
#include "listview/ArchiveListing.h"
#include "listview/NameTips.h"

using guitest::GuiFixture;
using platform::MsgResult;

namespace {

QStringList EntryNames(const QString& archive) {
    QStringList names;
    for (const auto& e : listview::ReadArchiveListing(archive).entries) names << e.name;
    return names;
}

// Calls seen(line) as each line enters the job's log, before anything else
// of the event loop runs.
void OnLogLine(CJobDialog& job, std::function<void(const QString&)> seen) {
    auto* log = job.findChild<QListWidget*>(QStringLiteral("log"));
    ASSERT_NE(log, nullptr);
    QObject::connect(log->model(), &QAbstractItemModel::rowsInserted, &job,
                     [log, seen](const QModelIndex&, int first, int last) {
                         for (int r = first; r <= last; ++r) seen(log->item(r)->text());
                     });
}

}  // namespace

// A large generated file, made once: compressing it takes long enough for the
// display to be seen moving.
class JobProgressTest : public GuiFixture {
protected:
    static void SetUpTestSuite() {
        bigDir = std::make_unique<testsupport::TempDir>();
        LasGenOptions o;
        o.points = 2000000;
        o.format = 1;
        bigLas = QString::fromStdString(bigDir->File("big.las"));
        ASSERT_TRUE(GenerateLasFile(bigLas.toStdString(), o));
    }
    static void TearDownTestSuite() { bigDir.reset(); }

    QString Big(const QString& as) {
        const QString to = Root() + as;
        QFile::copy(bigLas, to);
        return to;
    }
    QString Small(const QString& as, uint64_t seed) {
        LasGenOptions o;
        o.points = 4000;
        o.format = 3;
        o.seed = seed;
        const QString to = Root() + as;
        QFile::remove(to);
        EXPECT_TRUE(GenerateLasFile(to.toStdString(), o));
        return to;
    }
    // A file whose last record is cut short: no entry kind takes it.
    QString CutShort(const QString& as, uint64_t seed) {
        const QString to = Small(as, seed);
        EXPECT_TRUE(guitest::CutShort(to));
        return to;
    }
    static void AddDirect(const QString& las, const QString& archive) {
        VMRAFile v;
        v.AddLasFile(las.toStdString(), archive.toStdString());
    }

    static std::unique_ptr<testsupport::TempDir> bigDir;
    static QString bigLas;
};
std::unique_ptr<testsupport::TempDir> JobProgressTest::bigDir;
QString JobProgressTest::bigLas;

// The user keeps the entry that is there; the next, large file must show
// its progress, or the window looks hung and invites Abort.
TEST_F(JobProgressTest, ADeclinedReplacementLetsTheNextFileShowItsProgress) {
    const QString archive = Root() + QStringLiteral("kept.vmra");
    AddDirect(Small(QStringLiteral("a.las"), 1), archive);
    Small(QStringLiteral("a.las"), 2);  // another file of the same name
    CCompressDialog job(ui);
    job.SetArchivePath(archive);
    job.SetFiles({Root() + QStringLiteral("a.las"), Big(QStringLiteral("big.las"))},
                 {QStringLiteral("a.las"), QStringLiteral("big.las")});
    ui.answers.push_back(MsgResult::Cancel);
    // The file takes a fraction of a second on a fast machine: sampled at the
    // window's pace the bar may well be caught only before and after it.
    job.Runner().SetProgressInterval(1);
    int most = 0;
    QString ratio;
    QTimer watch;
    watch.setInterval(5);
    QObject::connect(&watch, &QTimer::timeout, &job, [&] {
        // The bar's 100 at the end proves nothing about the file in hand.
        if (!job.WorkerRunning() || !job.LogLines().contains(QStringLiteral("Compressing file big.las"))) return;
        most = std::max(most, job.Progress());
        if (!job.RatioText().isEmpty()) ratio = job.RatioText();
    });
    watch.start();
    EXPECT_EQ(job.exec(), QDialog::Accepted);
    EXPECT_GT(most, 0) << "the bar stood still while the next file was compressed";
    EXPECT_TRUE(ratio.endsWith(QStringLiteral(" %"))) << ratio.toStdString();
    EXPECT_EQ(job.LogLines(), (QStringList{"Compressing files...", "Compressing file a.las",
                                           "Compressing file a.las: kept", "Compressing file big.las"}));
    EXPECT_EQ(EntryNames(archive), (QStringList{"a.las", "big.las"}));
    EXPECT_TRUE(ui.keptOpen.isEmpty());  // keeping an entry is no failure
}

// At the end the ratio is the batch's: what was stored of the files that went
// in against their LAS bytes. A file starts with no ratio until it has one.
TEST_F(JobProgressTest, TheSummaryShowsTheRatioOfWhatTheBatchStored) {
    const QString archive = Root() + QStringLiteral("batch.vmra");
    AddDirect(Small(QStringLiteral("a.las"), 1), archive);
    Small(QStringLiteral("a.las"), 3);
    CCompressDialog job(ui);
    job.SetArchivePath(archive);
    job.SetFiles({Big(QStringLiteral("big.las")), Root() + QStringLiteral("a.las"),
                  CutShort(QStringLiteral("cut.las"), 4)},
                 {QStringLiteral("big.las"), QStringLiteral("a.las"), QStringLiteral("cut.las")});
    ui.answers.push_back(MsgResult::Ok);  // replace a.las
    QStringList ratioAtStart;
    OnLogLine(job, [&](const QString& line) {
        if (line == QStringLiteral("Compressing file a.las") || line == QStringLiteral("Compressing file cut.las"))
            ratioAtStart << job.RatioText();
    });
    QString ratioAtEnd, actionAtEnd;
    ui.keepOpenSteps.push_back([&](QDialog&) {
        ratioAtEnd = job.RatioText();
        actionAtEnd = job.ActionText();
    });
    job.exec();
    ASSERT_EQ(ui.keptOpen, QStringList{"Compress"});  // the refused file keeps it open
    EXPECT_EQ(actionAtEnd, QStringLiteral("1 file added, 1 replaced, 1 refused"));
    EXPECT_EQ(ratioAtStart, (QStringList{QString(), QString()})) << "a file started with the ratio of the one before";

    int64_t las = 0, stored = 0;
    for (const auto& e : listview::ReadArchiveListing(archive).entries) {
        las += e.size;
        stored += e.packed;
    }
    ASSERT_GT(las, 0);
    EXPECT_EQ(ratioAtEnd, QString::asprintf("%.0f ", 100.0 * static_cast<double>(stored) / static_cast<double>(las)) +
                              QLatin1Char('%'));
}
