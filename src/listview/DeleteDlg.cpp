#include "listview/DeleteDlg.h"

#include <QProgressBar>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>
#include <exception>

#include "archive/VMRAFile.h"
#include "las/LasException.h"
#include "listview/ListMessages.h"
#include "platform/Paths.h"

DeleteDlg::DeleteDlg(QWidget* parent, VMRAFile* archive, const QString& entryName,
                     const QString& archivePath)
    : QDialog(parent), archive(archive), entryName(entryName), archivePath(archivePath) {
    setWindowTitle(QString::fromLatin1(listmsg::kDeletingCaption));
    setModal(true);
    progress = new QProgressBar(this);
    progress->setRange(0, 100);
    progress->setValue(0);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(progress);
    resize(360, 70);
    poll = new QTimer(this);
    poll->setInterval(100);
    connect(poll, &QTimer::timeout, this, &DeleteDlg::Poll);
}

DeleteDlg::~DeleteDlg() {
    if (deletion.joinable()) deletion.join();
}

int DeleteDlg::Progress() const { return progress->value(); }

int DeleteDlg::exec() {
    done = false;
    poll->start();
    const std::string arc = platform::ToCore(archivePath);
    const std::string name = platform::ToCore(entryName);
    deletion = std::thread([this, arc, name] {
        QString message;
        try {
            archive->DeleteEntry(arc, name);
        } catch (const CLasException& e) {
            message = platform::FromCore(e.Message());
        } catch (const std::exception& e) {
            message = platform::FromCore(e.what());
        }
        done = true;
        QMetaObject::invokeMethod(
            this,
            [this, message] {
                if (deletion.joinable()) deletion.join();
                poll->stop();
                failed = !message.isEmpty();
                error = message;
                if (!failed) progress->setValue(100);
                QDialog::accept();
            },
            Qt::QueuedConnection);
    });
    return QDialog::exec();
}

void DeleteDlg::Poll() {
    if (!done) progress->setValue(std::clamp(archive->DeleteProgress.load(), 0, 100));
}

void DeleteDlg::reject() {
    // The archive is being rewritten in place: cutting that short would
    // damage it, so the dialog stays until the deletion has ended.
    if (!done) return;
    QDialog::reject();
}
