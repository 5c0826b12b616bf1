#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <deque>
#include <functional>
#include <vector>

#include "platform/PlatformUi.h"

class QEventLoop;
class QMimeData;

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
    void CloseMessageBoxes(QWidget* parent) override;
    // Records the dialog, hands it to the next keep-open step if there is
    // one, and closes it (accepted) if the step left it open.
    void KeepOpen(QDialog& dialog) override;
    // Records the window's title; the window is shown as the Qt version does.
    void ShowWindow(QWidget& window) override;
    // Records what the drag carries and hands its data to the next drop
    // step, which plays the drop target and returns what it did; with no
    // step the drag is let go where nothing takes it.
    Qt::DropAction RunDrag(QDrag& drag, Qt::DropActions actions) override;

    // Texts of every message box so far, in order.
    QStringList Texts() const;

    // While holdQuestions is set, a question (not a plain message) stays
    // open as a real one would: its caller waits in an event loop until the
    // test calls Answer(), the program closes it, or holdLimitMs passes.
    bool QuestionOpen() const { return heldLoop != nullptr; }
    void Answer(platform::MsgResult answer);

    std::vector<Shown> shown;
    // Called with every message box as it is shown, before it is answered.
    std::function<void(const Shown&)> onShown;
    // Answers to questions, in order; an unscripted question gets Cancel (No).
    std::deque<platform::MsgResult> answers;
    std::deque<QString> openNames, saveNames, folders;
    QStringList savePrompts;  // the names the save dialog proposed
    int folderRequests = 0;
    std::vector<QUrl> urls;
    bool browserWorks = true;
    std::deque<std::function<int(QDialog&)>> dialogSteps;
    QStringList dialogTitles;
    std::deque<std::function<void(QDialog&)>> keepOpenSteps;
    QStringList keptOpen;  // titles of the dialogs that stayed open
    QStringList shownWindows;
    struct Dragged {
        QStringList formats;
        QList<QUrl> urls;
        Qt::DropActions actions;
        bool hasPixmap = false;
    };
    std::vector<Dragged> drags;
    std::deque<std::function<Qt::DropAction(const QMimeData&)>> dropSteps;

    bool holdQuestions = false;
    int holdLimitMs = 20000;
    int closedByProgram = 0;  // held questions the program closed itself
    int heldTooLong = 0;      // held questions nobody answered or closed

private:
    QEventLoop* heldLoop = nullptr;
    QWidget* heldParent = nullptr;
    platform::MsgResult heldAnswer = platform::MsgResult::Cancel;
};

}  // namespace guitest
