#include <cstdio>

#include "app/CommandLine.h"
#include "app/CommandLineMessages.h"
#ifdef VELMORA_WITH_GUI
#include "app/MainApp.h"
#endif

int main(int argc, char** argv) {
    if (IsWindowCommandLine(argc, argv)) {
#ifdef VELMORA_WITH_GUI
        int exitCode = 0;
        // False when the archive argument does not exist: that has been
        // said, and the command line below explains the usage.
        if (CMainApp::Run(argc, argv, &exitCode)) return exitCode;
#else
        std::fprintf(stderr, "%s\n", climsg::kNoWindow);
        return 255;
#endif
    }
    return DispatchCommandLine(argc, argv);
}
