#include <cstdio>
#include <string>

#include "app/WindowMode.h"
#ifdef VELMORA_WITH_GUI
#include "app/MainApp.h"
#endif

namespace {
std::string UsageText(const std::string& prog) {
    return "Usage:\n- Open archive: " + prog + " <*.vmra archive to open>\n- Compression: " + prog +
           " -c <*.las files to compress separated by spaces> <*.vmra archive destination>\n"
           "- Decompression: " + prog +
           " -d <*.las files to decompress separated by spaces> <*.vmra source archive>\n";
}
}  // namespace

int main(int argc, char** argv) {
    if (IsWindowCommandLine(argc, argv)) {
#ifdef VELMORA_WITH_GUI
        int exitCode = 0;
        if (CMainApp::Run(argc, argv, &exitCode)) return exitCode;
#else
        std::fputs("This build of Velmora has no window; use -c or -d to work from the "
                   "command line.\n",
                   stderr);
#endif
    }
    std::fputs(UsageText(argv[0]).c_str(), stderr);
    return 255;
}
