// velmora-tile: lays COUNT copies of a LAS file side by side along X, each
// copy shifted by the file's X extent, and writes them as one file with the
// header's counts and bounds updated. Used to build benchmark inputs from
// real surveys.
#include <cstdio>
#include <cstdlib>

#include "LasTiler.h"
#include "las/LasException.h"

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: %s IN.las COUNT OUT.las\n", argv[0]);
        return 2;
    }
    try {
        if (TileLasFile(argv[1], std::strtol(argv[2], nullptr, 10), argv[3]) == TileResult::CountOutOfRange) {
            std::fprintf(stderr, "velmora-tile: COUNT out of range\n");
            return 2;
        }
    } catch (const CLasException& e) {
        std::fprintf(stderr, "velmora-tile: %s\n", e.Message());
        return 1;
    }
    return 0;
}
