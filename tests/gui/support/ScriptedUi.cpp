#include "ScriptedUi.h"

#include <QDialog>

namespace guitest {

using platform::MsgButtons;
using platform::MsgResult;

MsgResult ScriptedUi::MessageBox(QWidget*, const QString& text, const QString& caption,
                                 MsgButtons buttons, platform::MsgIcon icon) {
    shown.push_back({text, caption, buttons, icon});
    if (buttons == MsgButtons::Ok) return MsgResult::Ok;
    if (answers.empty()) return buttons == MsgButtons::YesNo ? MsgResult::No : MsgResult::Cancel;
    const MsgResult r = answers.front();
    answers.pop_front();
    return r;
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

QStringList ScriptedUi::Texts() const {
    QStringList t;
    for (const Shown& s : shown) t << s.text;
    return t;
}

}  // namespace guitest
