#include "app/MainApp.h"

#include <QApplication>
#include <QFileInfo>

#include <cstdio>

#include "app/AppMessages.h"
#include "app/MainFrame.h"
#include "platform/Icons.h"
#include "platform/PlatformUi.h"
#include "platform/Settings.h"

QString CMainApp::ArchiveArgument(const QString& argument) {
    const QFileInfo fi(argument);
    // A folder with an archive's name is no archive to open.
    if (!fi.exists() || fi.isDir()) return QString();
    return fi.absoluteFilePath();
}

void CMainApp::SetDesktopIdentity() {
    QGuiApplication::setDesktopFileName(QString::fromLatin1(appmsg::kDesktopFileName));
    QIcon icon = appicons::Icon(QStringLiteral("logo"));
    for (int size : {128, 256}) icon.addPixmap(appicons::Picture(QStringLiteral("logo"), size));
    QApplication::setWindowIcon(icon);
}

bool CMainApp::DisplayAvailable() {
#if defined(Q_OS_UNIX) && !defined(Q_OS_MACOS)
    return !qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") ||
           !qEnvironmentVariableIsEmpty("DISPLAY") ||
           !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
#else
    return true;
#endif
}

bool CMainApp::Run(int argc, char** argv, int* exitCode) {
    // Without a screen Qt would abort; say what to do instead.
    if (!DisplayAvailable()) {
        std::fprintf(stderr, "%s\n", appmsg::kNoDisplay);
        *exitCode = 255;
        return true;
    }
    QApplication app(argc, argv);
    QApplication::setOrganizationName(QString::fromLatin1(platform::CSettingsStore::kOrganization));
    QApplication::setApplicationName(QString::fromLatin1(platform::CSettingsStore::kApplication));
    SetDesktopIdentity();

    platform::CQtPlatformUi ui;
    QString archive;
    if (argc == 2) {
        archive = ArchiveArgument(QString::fromLocal8Bit(argv[1]));
        if (archive.isEmpty()) {
            platform::ShowMessage(ui, nullptr, appmsg::kFileDoesntExist);
            return false;
        }
        platform::CSettingsStore::Write(QStringLiteral("Path"), archive);
    }

    CMainFrame frame(ui);
    frame.ActivateFrame();
    if (!archive.isEmpty()) frame.AddRecentFile(archive);
    *exitCode = app.exec();
    return true;
}
