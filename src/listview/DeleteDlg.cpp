#include "listview/DeleteDlg.h"

#include <QLabel>
#include <QProgressBar>
#include <QVBoxLayout>

#include <algorithm>

#include "jobs/JobReport.h"
#include "listview/ListLogic.h"
#include "listview/ListMessages.h"
#include "platform/Paths.h"

DeleteDlg::DeleteDlg(QWidget* parent, const QString& archivePath, const QStringList& entryNames)
    : QDialog(parent), archivePath(archivePath), entryNames(entryNames) {
    setWindowTitle(QString::fromLatin1(listmsg::kDeletingCaption));
    setModal(true);
    entry = new QLabel(this);
    entry->setObjectName(QStringLiteral("entry"));
    entry->setWordWrap(true);
    progress = new QProgressBar(this);
    progress->setRange(0, 100);
    progress->setValue(0);
    notice = new QLabel(this);
    notice->setObjectName(QStringLiteral("notice"));
    notice->setWordWrap(true);
    notice->hide();
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(entry);
    layout->addWidget(progress);
    layout->addWidget(notice);
    resize(360, 70);
    // An entry's deletion moves in larger steps than a compression: the
    // bar is sampled more often.
    runner.SetProgressInterval(100);
    connect(&runner, &CJobRunner::ItemStarted, this, &DeleteDlg::OnItemStarted);
    connect(&runner, &CJobRunner::ProgressMade, this, &DeleteDlg::OnProgress);
    connect(&runner, &CJobRunner::ItemFinished, this, &DeleteDlg::OnItemFinished);
    connect(&runner, &CJobRunner::Noticed, this, &DeleteDlg::OnNotice);
    connect(&runner, &CJobRunner::Ended, this, &DeleteDlg::OnEnded);
    // A deletion asks nothing; should a job ever ask, no is the safe answer.
    connect(&runner, &CJobRunner::ReplaceAsked, this, [this] { runner.Answer(false); });
    connect(&runner, &CJobRunner::OverwriteAsked, this, [this] { runner.Answer(false); });
    connect(&runner, &CJobRunner::MessageAsked, this, [this] { runner.Answer(platform::MsgResult::Cancel); });
}

DeleteDlg::~DeleteDlg() = default;

int DeleteDlg::Progress() const { return progress->value(); }

QString DeleteDlg::NoticeText() const { return notice->text(); }

const velmora::ItemReport* DeleteDlg::Failure() const {
    for (const velmora::ItemReport& r : summary.items)
        if (r.code != velmora::ErrorCode::Ok && r.outcome != velmora::Outcome::Stopped) return &r;
    return nullptr;
}

QString DeleteDlg::Error() const {
    const velmora::ItemReport* failure = Failure();
    return failure ? platform::FromCore(failure->reason) : QString();
}

int DeleteDlg::exec() {
    done = false;
    std::vector<std::string> names;
    for (const QString& n : entryNames) names.push_back(platform::ToCore(n));
    runner.Start([arc = platform::ToCore(archivePath), names](const velmora::JobOptions& options) {
        return velmora::Archive::At(arc).Delete(names, options);
    });
    return QDialog::exec();
}

void DeleteDlg::OnEnded(const velmora::JobReport& result) {
    done = true;
    summary = result;
    if (!Failed()) progress->setValue(100);
    QDialog::accept();
}

void DeleteDlg::OnItemStarted(const velmora::ItemStart& item) {
    // Names come from the archive: shown, they must not steer the label.
    entry->setText(QString::fromLatin1(listmsg::kDeletingEntry).arg(platform::FromCore(velmora::EscapeName(item.name))));
    FitHeight();
}

void DeleteDlg::OnItemFinished(const velmora::ItemReport& result) {
    if (result.code != velmora::ErrorCode::Ok) {
        runner.EndAfterItem();
        return;
    }
    progress->setValue(
        std::max(progress->value(), listview::OverallPercent(result.index + 1, result.count, 0)));
}

void DeleteDlg::OnNotice(const QString& line) {
    notice->setText(line);
    notice->show();
    FitHeight();
}

void DeleteDlg::FitHeight() {
    // A window's layout gives it the height of its labels' shortest wrap,
    // not of the lines they take at the window's width: a long path would be
    // cut off below.
    layout()->activate();
    const int needed = heightForWidth(width());
    if (needed > height()) resize(width(), needed);
}

void DeleteDlg::OnProgress(const velmora::JobStatus& p) {
    // Never back: an entry's figure starts again from 0 a moment after the
    // job has turned to it.
    progress->setValue(std::max(progress->value(), listview::OverallPercent(p.index, p.count, PercentOf(p))));
}

void DeleteDlg::reject() {
    if (done) {
        QDialog::reject();
        return;
    }
    // The job notices a stop only while it waits for another program, when
    // nothing has been changed yet; a rewrite under way goes to its end, and
    // the deletion ends after it. The dialog closes when the job has ended.
    runner.Stop();
}
