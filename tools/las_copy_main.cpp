// velmora-lascopy: reads a LAS file through CLasFile in windows of points and
// writes it back, the path every extraction takes.
#include <cstdio>

#include "LasCopy.h"
#include "las/LasException.h"

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s IN.las OUT.las\n", argv[0]);
        return 2;
    }
    try {
        CopyLasThroughWindows(argv[1], argv[2], 1000000);
    } catch (const CLasException& e) {
        std::fprintf(stderr, "%s\n", e.Message());
        return 1;
    }
    return 0;
}
