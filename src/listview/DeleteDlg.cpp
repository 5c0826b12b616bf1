#include "listview/DeleteDlg.h"

#include <QLabel>
#include <QProgressBar>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>

#include "archive/EntryNames.h"
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
    poll = new QTimer(this);
    poll->setInterval(100);
    connect(poll, &QTimer::timeout, this, &DeleteDlg::Poll);
}

DeleteDlg::~DeleteDlg() {
    if (deletion.joinable()) deletion.join();
}

int DeleteDlg::Progress() const { return progress->value(); }

QString DeleteDlg::NoticeText() const { return notice->text(); }

const ItemResult* DeleteDlg::Failure() const {
    for (const ItemResult& r : summary.items)
        if (!Succeeded(r.outcome) && r.outcome != ItemOutcome::Stopped) return &r;
    return nullptr;
}

QString DeleteDlg::Error() const {
    const ItemResult* failure = Failure();
    return failure ? platform::FromCore(failure->message) : QString();
}

int DeleteDlg::exec() {
    done = false;
    job.Archive().ClearStopRequest();
    poll->start();
    const std::string arc = platform::ToCore(archivePath);
    std::vector<std::string> names;
    for (const QString& n : entryNames) names.push_back(platform::ToCore(n));
    deletion = std::thread([this, arc, names] {
        JobSummary result = job.Delete(arc, names);
        done = true;
        QMetaObject::invokeMethod(
            this,
            [this, result] {
                if (deletion.joinable()) deletion.join();
                poll->stop();
                summary = result;
                if (!Failed()) progress->setValue(100);
                QDialog::accept();
            },
            Qt::QueuedConnection);
    });
    return QDialog::exec();
}

void DeleteDlg::ItemStarted(const JobItem& item) {
    // Names come from the archive: shown, they must not steer the label.
    const QString text =
        QString::fromLatin1(listmsg::kDeletingEntry).arg(platform::FromCore(EscapeName(item.name)));
    QMetaObject::invokeMethod(
        this,
        [this, text] {
            entry->setText(text);
            FitHeight();
        },
        Qt::QueuedConnection);
}

bool DeleteDlg::ItemFinished(const ItemResult& result) {
    // The first entry that is not deleted ends the deletion, and so does a
    // stop request that came while an entry was being deleted.
    const bool goOn = Succeeded(result.outcome) && !job.StopRequested();
    if (Succeeded(result.outcome)) {
        const std::size_t index = result.item.index, count = result.item.count;
        QMetaObject::invokeMethod(
            this,
            [this, index, count] {
                progress->setValue(std::max(progress->value(), listview::OverallPercent(index + 1, count, 0)));
            },
            Qt::QueuedConnection);
    }
    return goOn;
}

void DeleteDlg::Notice(const std::string& text) {
    const QString line = platform::FromCore(text);
    QMetaObject::invokeMethod(
        this,
        [this, line] {
            notice->setText(line);
            notice->show();
            FitHeight();
        },
        Qt::QueuedConnection);
}

void DeleteDlg::FitHeight() {
    // A window's layout gives it the height of its labels' shortest wrap,
    // not of the lines they take at the window's width: a long path would be
    // cut off below.
    layout()->activate();
    const int needed = heightForWidth(width());
    if (needed > height()) resize(width(), needed);
}

void DeleteDlg::Poll() {
    if (done) return;
    // Never back: an entry's figure starts again from 0 a moment after the
    // job has turned to it.
    const JobProgress p = job.Progress();
    if (p.active) progress->setValue(std::max(progress->value(), listview::OverallPercent(p.index, p.count, p.percent)));
}

void DeleteDlg::reject() {
    if (done) {
        QDialog::reject();
        return;
    }
    // The job notices a stop only while it waits for another program, when
    // nothing has been changed yet; a rewrite under way goes to its end, and
    // the deletion ends after it. The dialog closes when the job has ended.
    job.RequestStop();
}
