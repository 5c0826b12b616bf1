#pragma once

#include <QString>

class CMainFrame;

// Window mode: the application object, the main frame and its message loop.
class CMainApp {
public:
    // Runs the window for the command line (no argument, or one archive).
    // Returns false, having shown "File doesn't exist!", when the archive is
    // missing: start-up then goes on to the command line, which explains the
    // usage. Otherwise *exitCode is the program's exit code.
    static bool Run(int argc, char** argv, int* exitCode);

    // The archive argument made absolute, or empty when no such file exists.
    static QString ArchiveArgument(const QString& argument);

    // How the desktop knows the running program: the desktop entry it was
    // installed with (so docks and task bars group its windows under the
    // entry's name and icon) and the logo as every window's icon.
    static void SetDesktopIdentity();

    // False when Qt would find no screen to show the window on.
    static bool DisplayAvailable();
};
