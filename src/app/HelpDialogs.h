#pragma once

#include <QDialog>
#include <QString>
#include <QUrl>

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

namespace help {
inline constexpr const char* kIndexPage = "index.html";
inline constexpr const char* kTutorialPage = "tut.html";

// The file URL of a bundled page, written out of the program's resources
// into a folder of its own the first time; an empty URL when that fails.
QUrl LocalPageUrl(const QString& page);

// Opens a bundled page in the default browser; shows the browser error when
// that cannot be done.
void OpenHelpPage(platform::IPlatformUi& ui, QWidget* parent, const QString& page);
}  // namespace help
