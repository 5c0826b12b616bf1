#pragma once

#include <QPointer>
#include <QString>
#include <QUrl>

#include <vector>

class QDialog;
class QDrag;
class QMessageBox;
class QWidget;

// The one seam between the window and the platform's own dialogs: message
// boxes, file dialogs, the folder browser and the web browser. The window
// calls only these, through the implementation its frame was given; tests
// give one that answers from a script and records what was shown.
namespace platform {

enum class MsgButtons { Ok, OkCancel, YesNo };
enum class MsgIcon { None, Error, Question, Warning, Information };
enum class MsgResult { Ok, Cancel, Yes, No };

// The caption of every message box of the window.
inline constexpr const char* kAppCaption = "Velmora";
// The filter of the archive dialogs; it matches ".vmra" in any letter case.
inline constexpr const char* kArchiveFilter = "Compressed LAS File (*.VMRA *.vmra)";

class IPlatformUi {
public:
    virtual ~IPlatformUi() = default;
    virtual MsgResult MessageBox(QWidget* parent, const QString& text, const QString& caption,
                                 MsgButtons buttons, MsgIcon icon) = 0;
    // Empty when the user cancels.
    virtual QString OpenFileName(QWidget* parent, const QString& filter) = 0;
    virtual QString SaveFileName(QWidget* parent, const QString& proposed,
                                 const QString& filter) = 0;
    virtual QString BrowseFolder(QWidget* parent) = 0;
    // False when no browser could be started.
    virtual bool OpenUrl(const QUrl& url) = 0;
    // Runs one of the program's own small modal dialogs (find, new archive,
    // about, contacts) and returns its result code.
    virtual int RunDialog(QDialog& dialog) = 0;
    // Closes every message box now open over parent as its Escape key would
    // (No, Cancel or OK), so the call that opened it returns: what it asked
    // has been overtaken by events.
    virtual void CloseMessageBoxes(QWidget* parent) = 0;
    // A running dialog that has ended its work and now stays open until the
    // user closes it (a job's summary of what failed).
    virtual void KeepOpen(QDialog& dialog) = 0;
    // Shows one of the program's own windows that leave the main window
    // usable (the help pages) and brings it to the front.
    virtual void ShowWindow(QWidget& window) = 0;
    // Hands the drag to the window system, which carries it to wherever the
    // user lets go, and says what the drop target did with it; Qt deletes
    // the drag once it is over.
    virtual Qt::DropAction RunDrag(QDrag& drag, Qt::DropActions actions) = 0;
};

// The Qt dialogs and QDesktopServices.
class CQtPlatformUi : public IPlatformUi {
public:
    // openerWaitMs: how long OpenUrl waits for the system's opener to say
    // whether it found a browser.
    explicit CQtPlatformUi(int openerWaitMs = 2000) : openerWaitMs(openerWaitMs) {}

    MsgResult MessageBox(QWidget* parent, const QString& text, const QString& caption,
                         MsgButtons buttons, MsgIcon icon) override;
    QString OpenFileName(QWidget* parent, const QString& filter) override;
    QString SaveFileName(QWidget* parent, const QString& proposed, const QString& filter) override;
    QString BrowseFolder(QWidget* parent) override;
    bool OpenUrl(const QUrl& url) override;
    int RunDialog(QDialog& dialog) override;
    void CloseMessageBoxes(QWidget* parent) override;
    void KeepOpen(QDialog& dialog) override;
    void ShowWindow(QWidget& window) override;
    Qt::DropAction RunDrag(QDrag& drag, Qt::DropActions actions) override;

private:
    int openerWaitMs;
    // The boxes whose MessageBox call has not returned yet, innermost last.
    std::vector<QPointer<QMessageBox>> openBoxes;
};

// A message box with the application's caption.
MsgResult ShowMessage(IPlatformUi& ui, QWidget* parent, const QString& text,
                      MsgButtons buttons = MsgButtons::Ok, MsgIcon icon = MsgIcon::None);
MsgResult ShowMessage(IPlatformUi& ui, QWidget* parent, const char* text,
                      MsgButtons buttons = MsgButtons::Ok, MsgIcon icon = MsgIcon::None);

}  // namespace platform
