#pragma once

#include <QString>
#include <QStringList>
#include <QUrl>

#include <deque>
#include <functional>
#include <vector>

#include "platform/PlatformUi.h"

namespace guitest {

// Answers the window's dialogs from a script and records what was shown.
class ScriptedUi : public platform::IPlatformUi {
public:
    struct Shown {
        QString text;
        QString caption;
        platform::MsgButtons buttons;
        platform::MsgIcon icon;
    };

    platform::MsgResult MessageBox(QWidget*, const QString& text, const QString& caption,
                                   platform::MsgButtons buttons, platform::MsgIcon icon) override;
    QString OpenFileName(QWidget*, const QString& filter) override;
    QString SaveFileName(QWidget*, const QString& proposed, const QString& filter) override;
    QString BrowseFolder(QWidget*) override;
    bool OpenUrl(const QUrl& url) override;
    // Hands the dialog to the next scripted step, which fills it in and
    // returns the result code; an unscripted dialog is cancelled.
    int RunDialog(QDialog& dialog) override;

    // Texts of every message box so far, in order.
    QStringList Texts() const;

    std::vector<Shown> shown;
    // Answers to questions, in order; an unscripted question gets Cancel (No).
    std::deque<platform::MsgResult> answers;
    std::deque<QString> openNames, saveNames, folders;
    QStringList savePrompts;  // the names the save dialog proposed
    int folderRequests = 0;
    std::vector<QUrl> urls;
    bool browserWorks = true;
    std::deque<std::function<int(QDialog&)>> dialogSteps;
    QStringList dialogTitles;
};

}  // namespace guitest
