#pragma once

#include <QDialog>
#include <QString>
#include <QUrl>
#include <QWidget>

#include "platform/PlatformUi.h"

// The about box and the contacts dialog.
class CAboutDlg : public QDialog {
    Q_OBJECT
public:
    explicit CAboutDlg(QWidget* parent = nullptr);
};

class CContactsDialog : public QDialog {
    Q_OBJECT
public:
    explicit CContactsDialog(QWidget* parent = nullptr);
};

class QTextBrowser;

// The help pages shown by the program itself, for a machine without a web
// browser: the pages come from the program's resources, links between them
// work, and the main window stays usable beside it.
class CHelpWindow : public QWidget {
    Q_OBJECT
public:
    explicit CHelpWindow(QWidget* parent = nullptr);
    // page is a help page's file name (help::kIndexPage, help::kTutorialPage):
    // the installed copy when there is one, else the bundled one.
    void ShowPage(const QString& page, const QString& programFolder);

protected:
    // Escape closes the window, as it does a dialog.
    void keyPressEvent(QKeyEvent* event) override;

private:
    QTextBrowser* browser = nullptr;
};

namespace help {
inline constexpr const char* kIndexPage = "index.html";
inline constexpr const char* kTutorialPage = "tut.html";

// The page as the package installs it, <programFolder>/../share/doc/velmora/
// page, when that file is there; else empty.
QString InstalledPage(const QString& programFolder, const QString& page);

// The file URL of a bundled page, written out of the program's resources
// into a folder of its own the first time; an empty URL when that fails.
QUrl LocalPageUrl(const QString& page);

// Opens a help page in the default browser, the installed copy when there is
// one; false when no browser could be started. programFolder is the folder
// of the running program.
bool OpenInBrowser(platform::IPlatformUi& ui, const QString& page, const QString& programFolder);
}  // namespace help
