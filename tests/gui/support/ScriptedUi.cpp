#include "ScriptedUi.h"

#include <QDialog>
#include <QDrag>
#include <QMimeData>
#include <QEventLoop>
#include <QTimer>
#include <QWidget>

namespace guitest {

using platform::MsgButtons;
using platform::MsgResult;

namespace {
// What Escape gives on a box with these buttons.
MsgResult EscapeAnswer(MsgButtons buttons) {
    switch (buttons) {
        case MsgButtons::Ok: return MsgResult::Ok;
        case MsgButtons::OkCancel: return MsgResult::Cancel;
        case MsgButtons::YesNo: return MsgResult::No;
    }
    return MsgResult::Cancel;
}
}  // namespace

MsgResult ScriptedUi::MessageBox(QWidget* parent, const QString& text, const QString& caption,
                                 MsgButtons buttons, platform::MsgIcon icon) {
    shown.push_back({text, caption, buttons, icon});
    if (onShown) onShown(shown.back());
    if (buttons == MsgButtons::Ok) return MsgResult::Ok;
    if (holdQuestions && !heldLoop) {
        QEventLoop loop;
        heldLoop = &loop;
        heldParent = parent;
        heldAnswer = EscapeAnswer(buttons);
        QTimer limit;
        limit.setSingleShot(true);
        QObject::connect(&limit, &QTimer::timeout, &loop, [this, &loop] {
            ++heldTooLong;
            loop.quit();
        });
        limit.start(holdLimitMs);
        loop.exec();
        heldLoop = nullptr;
        heldParent = nullptr;
        return heldAnswer;
    }
    if (answers.empty()) return EscapeAnswer(buttons);
    const MsgResult r = answers.front();
    answers.pop_front();
    return r;
}

void ScriptedUi::Answer(MsgResult answer) {
    if (!heldLoop) return;
    heldAnswer = answer;
    heldLoop->quit();
}

void ScriptedUi::CloseMessageBoxes(QWidget* parent) {
    if (!heldLoop || heldParent != parent) return;
    ++closedByProgram;
    heldLoop->quit();  // with the escape answer set when it was opened
}

static QString Take(std::deque<QString>& q) {
    if (q.empty()) return QString();
    QString s = q.front();
    q.pop_front();
    return s;
}

QString ScriptedUi::OpenFileName(QWidget*, const QString&) { return Take(openNames); }

QString ScriptedUi::SaveFileName(QWidget*, const QString& proposed, const QString&) {
    savePrompts << proposed;
    return Take(saveNames);
}

QString ScriptedUi::BrowseFolder(QWidget*) {
    ++folderRequests;
    return Take(folders);
}

bool ScriptedUi::OpenUrl(const QUrl& url) {
    urls.push_back(url);
    return browserWorks;
}

int ScriptedUi::RunDialog(QDialog& dialog) {
    dialogTitles << dialog.windowTitle();
    if (dialogSteps.empty()) return QDialog::Rejected;
    auto step = std::move(dialogSteps.front());
    dialogSteps.pop_front();
    return step(dialog);
}

void ScriptedUi::KeepOpen(QDialog& dialog) {
    keptOpen << dialog.windowTitle();
    if (!keepOpenSteps.empty()) {
        auto step = std::move(keepOpenSteps.front());
        keepOpenSteps.pop_front();
        step(dialog);
    }
    if (dialog.isVisible()) dialog.accept();
}

void ScriptedUi::ShowWindow(QWidget& window) {
    shownWindows << window.windowTitle();
    window.show();
}

Qt::DropAction ScriptedUi::RunDrag(QDrag& drag, Qt::DropActions actions) {
    const QMimeData* data = drag.mimeData();
    drags.push_back({data ? data->formats() : QStringList(), data ? data->urls() : QList<QUrl>(),
                     actions, !drag.pixmap().isNull()});
    Qt::DropAction done = Qt::IgnoreAction;
    if (!dropSteps.empty() && data) {
        auto step = std::move(dropSteps.front());
        dropSteps.pop_front();
        done = step(*data);
    }
    // As after a real drag.
    drag.deleteLater();
    return done;
}

QStringList ScriptedUi::Texts() const {
    QStringList t;
    for (const Shown& s : shown) t << s.text;
    return t;
}

}  // namespace guitest
