#include "listview/DeleteDlg.h"

#include <QLabel>
#include <QProgressBar>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>

#include "listview/ListMessages.h"
#include "platform/Paths.h"

DeleteDlg::DeleteDlg(QWidget* parent, const QString& archivePath, const QStringList& entryNames)
    : QDialog(parent), archivePath(archivePath), entryNames(entryNames) {
    setWindowTitle(QString::fromLatin1(listmsg::kDeletingCaption));
    setModal(true);
    progress = new QProgressBar(this);
    progress->setRange(0, 100);
    progress->setValue(0);
    notice = new QLabel(this);
    notice->setObjectName(QStringLiteral("notice"));
    notice->setWordWrap(true);
    notice->hide();
    auto* layout = new QVBoxLayout(this);
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

void DeleteDlg::Notice(const std::string& text) {
    const QString line = platform::FromCore(text);
    QMetaObject::invokeMethod(
        this,
        [this, line] {
            notice->setText(line);
            notice->show();
        },
        Qt::QueuedConnection);
}

void DeleteDlg::Poll() {
    if (!done) progress->setValue(std::clamp(job.Progress().percent, 0, 100));
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
