#include <cstdio>

#include "app/CommandLine.h"
#include "app/CommandLineMessages.h"

int main(int argc, char** argv) {
    if (IsWindowCommandLine(argc, argv)) {
        // The window comes with the desktop build; until then say so.
        std::fprintf(stderr, "%s\n", climsg::kNoWindow);
        return 255;
    }
    return DispatchCommandLine(argc, argv);
}
