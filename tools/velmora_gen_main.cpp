// velmora-gen: writes a synthetic LAS file for tests and benchmarks.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "LasGenerator.h"

namespace {
void Usage(const char* prog) {
    std::fprintf(stderr,
                 "usage: %s --points N --format F [--seed S] [--version-minor M]\n"
                 "          [--vlrs K] [--gap BYTES] --out FILE.las\n",
                 prog);
}
}  // namespace

int main(int argc, char** argv) {
    LasGenOptions opt;
    std::string out;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const bool hasValue = i + 1 < argc;
        auto number = [&]() { return std::strtoull(argv[++i], nullptr, 10); };
        if (a == "--points" && hasValue) opt.points = number();
        else if (a == "--format" && hasValue) opt.format = static_cast<int>(number());
        else if (a == "--seed" && hasValue) opt.seed = number();
        else if (a == "--version-minor" && hasValue) opt.versionMinor = static_cast<int>(number());
        else if (a == "--vlrs" && hasValue) opt.vlrCount = static_cast<int>(number());
        else if (a == "--gap" && hasValue) opt.extraGapBytes = static_cast<int>(number());
        else if (a == "--out" && hasValue) out = argv[++i];
        else {
            Usage(argv[0]);
            return 2;
        }
    }
    if (out.empty() || opt.format < 0 || opt.format > 3 || opt.points > 0xFFFFFFFFull) {
        Usage(argv[0]);
        return 2;
    }
    if (!GenerateLasFile(out, opt)) {
        std::fprintf(stderr, "velmora-gen: cannot write %s\n", out.c_str());
        return 1;
    }
    return 0;
}
