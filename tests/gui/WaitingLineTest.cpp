// The line that says a job waits for another program names the archive by
// its whole path, which may be long: at the dialogs' first size it shows in
// full, and the dialogs stay on the screen.
#include <QApplication>
#include <QLabel>
#include <QScreen>
#include <QTimer>

#include <functional>

#include "ArchiveStates.h"
#include "GuiFixture.h"
#include "LasGenerator.h"
#include "archive/ArchiveMessages.h"
#include "archive/VMRAFile.h"
#include "jobs/DecompressDialog.h"
#include "listview/DeleteDlg.h"

using platform::MsgResult;

namespace {

// Whether the label shows all of its text: wrapped, the lines it needs fit
// its height, unwrapped its one line fits its width; and it lies inside its
// window.
::testing::AssertionResult ShowsWhole(const QLabel& label) {
    const QRect inWindow(label.mapTo(label.window(), QPoint(0, 0)), label.size());
    if (!label.isVisible()) return ::testing::AssertionFailure() << "not shown";
    if (!label.window()->rect().contains(inWindow))
        return ::testing::AssertionFailure() << "reaches out of its window";
    const QRect room = label.contentsRect();
    if (label.wordWrap()) {
        const int needed = label.heightForWidth(label.width());
        if (needed > label.height())
            return ::testing::AssertionFailure() << needed << " px high wrapped, " << label.height() << " shown";
    } else {
        const int needed = label.fontMetrics().horizontalAdvance(label.text());
        if (needed > room.width())
            return ::testing::AssertionFailure() << needed << " px wide, " << room.width() << " shown";
    }
    return ::testing::AssertionSuccess();
}

// Calls then() once the label's text holds the waiting line.
void WhenWaiting(QWidget& dialog, const char* labelName, std::function<void(QLabel&)> then) {
    auto* poll = new QTimer(&dialog);
    poll->setInterval(5);
    QObject::connect(poll, &QTimer::timeout, &dialog, [&dialog, poll, labelName, then] {
        auto* label = dialog.findChild<QLabel*>(QString::fromLatin1(labelName));
        if (!label || !label->text().endsWith(QString::fromLatin1(archmsg::kWaitingForOther))) return;
        poll->stop();
        // Once the layout has taken the new text in.
        QTimer::singleShot(50, &dialog, [label, then] { then(*label); });
    });
    poll->start();
}

}  // namespace

class WaitingLineTest : public guitest::GuiFixture {
protected:
    void SetUp() override {
        GuiFixture::SetUp();
        // Where a survey's archives live: some folders down, long names.
        archive = MakeFolder(QStringLiteral("survey_2026/block_17_north_flight_lines/day_3_afternoon_second_pass")) +
                  QStringLiteral("/flight_lines_block_17_north_strips.vmra");
        LasGenOptions o;
        o.points = 2000;
        const QString las = Root() + QStringLiteral("a.las");
        ASSERT_TRUE(GenerateLasFile(las.toStdString(), o));
        VMRAFile v;
        v.AddLasFile(las.toStdString(), archive.toStdString());
        screen = QApplication::primaryScreen()->availableGeometry();
    }
    QString archive;
    QRect screen;
};

TEST_F(WaitingLineTest, TheJobDialogShowsItWholeAtItsFirstSize) {
    guitest::CHeldArchiveLock other(archive);
    ASSERT_TRUE(other.Held());
    CDecompressDialog job(ui);
    job.SetArchivePath(archive);
    job.SetOutputFolder(MakeFolder(QStringLiteral("out")) + QLatin1Char('/'));
    job.SetEntries({QStringLiteral("a.las")});
    const QSize first = job.size();
    bool seen = false;
    WhenWaiting(job, "action", [&](QLabel& line) {
        seen = true;
        EXPECT_TRUE(ShowsWhole(line)) << line.text().toStdString();
        auto* file = job.findChild<QLabel*>(QStringLiteral("archivePath"));
        EXPECT_TRUE(file && ShowsWhole(*file));
        EXPECT_EQ(job.width(), first.width());
        EXPECT_EQ(job.height(), first.height());
        EXPECT_LE(job.width(), screen.width());
        ui.answers.push_back(MsgResult::Yes);
        job.OnAbort();
    });
    QTimer::singleShot(8000, &job, [&] { other.Release(); });
    job.exec();
    EXPECT_TRUE(seen);
    EXPECT_TRUE(job.Aborted());
}

TEST_F(WaitingLineTest, TheDeletionDialogShowsItWholeAtItsFirstSize) {
    guitest::CHeldArchiveLock other(archive);
    ASSERT_TRUE(other.Held());
    DeleteDlg dlg(nullptr, archive, {QStringLiteral("a.las")});
    const int firstWidth = dlg.width();
    bool seen = false;
    WhenWaiting(dlg, "notice", [&](QLabel& line) {
        seen = true;
        EXPECT_TRUE(ShowsWhole(line)) << line.text().toStdString();
        EXPECT_EQ(dlg.width(), firstWidth);
        EXPECT_LE(dlg.height(), screen.height());
        dlg.reject();  // Escape
    });
    QTimer::singleShot(8000, &dlg, [&] { other.Release(); });
    dlg.exec();
    EXPECT_TRUE(seen);
    EXPECT_TRUE(dlg.Summary().stopped);
}
