#include "platform/PlatformUi.h"

#include <QAbstractButton>
#include <QDesktopServices>
#include <QDialog>
#include <QDrag>
#include <QElapsedTimer>
#include <QFile>
#include <QFileDialog>
#include <QMessageBox>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>

namespace platform {

MsgResult ShowMessage(IPlatformUi& ui, QWidget* parent, const QString& text, MsgButtons buttons,
                      MsgIcon icon) {
    return ui.MessageBox(parent, text, QString::fromLatin1(kAppCaption), buttons, icon);
}

MsgResult ShowMessage(IPlatformUi& ui, QWidget* parent, const char* text, MsgButtons buttons,
                      MsgIcon icon) {
    return ShowMessage(ui, parent, QString::fromUtf8(text), buttons, icon);
}

MsgResult CQtPlatformUi::MessageBox(QWidget* parent, const QString& text, const QString& caption,
                                    MsgButtons buttons, MsgIcon icon) {
    QMessageBox box(parent);
    box.setWindowTitle(caption);
    box.setText(text);
    switch (icon) {
        case MsgIcon::None: box.setIcon(QMessageBox::NoIcon); break;
        case MsgIcon::Error: box.setIcon(QMessageBox::Critical); break;
        case MsgIcon::Question: box.setIcon(QMessageBox::Question); break;
        case MsgIcon::Warning: box.setIcon(QMessageBox::Warning); break;
        case MsgIcon::Information: box.setIcon(QMessageBox::Information); break;
    }
    switch (buttons) {
        case MsgButtons::Ok:
            box.setStandardButtons(QMessageBox::Ok);
            box.setEscapeButton(QMessageBox::Ok);
            break;
        case MsgButtons::OkCancel:
            box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
            box.setDefaultButton(QMessageBox::Ok);
            box.setEscapeButton(QMessageBox::Cancel);
            break;
        case MsgButtons::YesNo:
            box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
            box.setDefaultButton(QMessageBox::Yes);
            box.setEscapeButton(QMessageBox::No);
            break;
    }
    openBoxes.emplace_back(&box);
    const int answer = box.exec();
    std::erase_if(openBoxes, [&box](const QPointer<QMessageBox>& p) { return p.isNull() || p == &box; });
    switch (answer) {
        case QMessageBox::Ok: return MsgResult::Ok;
        case QMessageBox::Yes: return MsgResult::Yes;
        case QMessageBox::No: return MsgResult::No;
        default: return MsgResult::Cancel;
    }
}

QString CQtPlatformUi::OpenFileName(QWidget* parent, const QString& filter) {
    return QFileDialog::getOpenFileName(parent, QString(), QString(), filter);
}

QString CQtPlatformUi::SaveFileName(QWidget* parent, const QString& proposed,
                                    const QString& filter) {
    // The overwrite question belongs to the job (it asks per entry), not here.
    return QFileDialog::getSaveFileName(parent, QString(), proposed, filter, nullptr,
                                        QFileDialog::DontConfirmOverwrite);
}

QString CQtPlatformUi::BrowseFolder(QWidget* parent) {
    return QFileDialog::getExistingDirectory(parent);
}

namespace {
#if defined(Q_OS_UNIX) && !defined(Q_OS_MACOS)
// QDesktopServices hands the address to xdg-open and reports success as soon
// as that has started, also when it then finds no browser at all. Its exit
// status tells, so it runs behind a shell that writes the status to a file;
// the shell is detached, so a browser it starts outlives the program. It is
// awaited for a moment: it ends at once when it finds nothing or hands the
// page to a running browser; one that still runs has started a browser.
bool OpenThroughXdgOpen(const QString& opener, const QUrl& url, int waitMs) {
    QTemporaryDir dir;
    if (!dir.isValid()) return QDesktopServices::openUrl(url);
    const QString status = dir.filePath(QStringLiteral("status"));
    const QStringList args{QStringLiteral("-c"), QStringLiteral("\"$0\" \"$1\" >/dev/null 2>&1; echo $? > \"$2\""),
                           opener, url.toString(), status};
    if (!QProcess::startDetached(QStringLiteral("/bin/sh"), args)) return false;
    QElapsedTimer waited;
    waited.start();
    while (waited.elapsed() < waitMs) {
        QFile file(status);
        if (file.open(QIODevice::ReadOnly)) {
            const QByteArray code = file.readAll().trimmed();
            if (!code.isEmpty()) return code == "0";
        }
        QThread::msleep(20);
    }
    return true;
}
#endif
}  // namespace

bool CQtPlatformUi::OpenUrl(const QUrl& url) {
#if defined(Q_OS_UNIX) && !defined(Q_OS_MACOS)
    const QString opener = QStandardPaths::findExecutable(QStringLiteral("xdg-open"));
    if (!opener.isEmpty()) return OpenThroughXdgOpen(opener, url, openerWaitMs);
#endif
    return QDesktopServices::openUrl(url);
}

int CQtPlatformUi::RunDialog(QDialog& dialog) { return dialog.exec(); }

void CQtPlatformUi::CloseMessageBoxes(QWidget* parent) {
    for (const QPointer<QMessageBox>& box : std::vector<QPointer<QMessageBox>>(openBoxes)) {
        if (!box || box->parentWidget() != parent) continue;
        if (QAbstractButton* escape = box->escapeButton())
            escape->click();
        else
            box->reject();
    }
}

void CQtPlatformUi::ShowWindow(QWidget& window) {
    window.show();
    window.raise();
    window.activateWindow();
}

Qt::DropAction CQtPlatformUi::RunDrag(QDrag& drag, Qt::DropActions actions) { return drag.exec(actions); }

void CQtPlatformUi::KeepOpen(QDialog&) {
    // Nothing to do: the dialog is already on screen and its Close button
    // ends it.
}

}  // namespace platform
