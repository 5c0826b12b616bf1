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
                 "          [--vlrs K] [--gap BYTES] [--version-header] [--header-extra BYTES]\n"
                 "          [--channels C] [--extra-bytes N] [--undescribed] [--evlrs K]\n"
                 "          [--waveform] [--tail BYTES] --out FILE.las\n"
                 "  --format F          point format 0-10 (4-5 need --version-minor 3 or 4, 6-10 need 4)\n"
                 "  --version-header    the header of the version: 235 bytes for 1.3, 375 for 1.4\n"
                 "                      (formats 0-3 get 227 bytes without it; 4-10 always have it)\n"
                 "  --header-extra N    N more bytes at the end of the header\n"
                 "  --channels C        scanner channels 1-4 (formats 6-10), their pulses interleaved\n"
                 "  --extra-bytes N     N bytes after each record's fields, described by an Extra Bytes VLR\n"
                 "  --undescribed       the extra bytes without the VLR that describes them\n"
                 "  --evlrs K           K extended VLRs after the points (LAS 1.4 with --version-header)\n"
                 "  --waveform          formats 4, 5, 9, 10: the waveform data after the points\n"
                 "  --tail N            N bytes at the very end that belong to nothing\n",
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
        auto count = [&]() { return static_cast<int>(std::min<unsigned long long>(number(), 1u << 30)); };
        if (a == "--points" && hasValue) opt.points = number();
        else if (a == "--format" && hasValue) opt.format = count();
        else if (a == "--seed" && hasValue) opt.seed = number();
        else if (a == "--version-minor" && hasValue) opt.versionMinor = count();
        else if (a == "--vlrs" && hasValue) opt.vlrCount = count();
        else if (a == "--gap" && hasValue) opt.extraGapBytes = count();
        else if (a == "--version-header") opt.versionHeader = true;
        else if (a == "--header-extra" && hasValue) opt.headerExtraBytes = count();
        else if (a == "--channels" && hasValue) opt.channels = count();
        else if (a == "--extra-bytes" && hasValue) opt.extraBytes = count();
        else if (a == "--undescribed") opt.describeExtraBytes = false;
        else if (a == "--evlrs" && hasValue) opt.evlrCount = count();
        else if (a == "--waveform") opt.internalWaveform = true;
        else if (a == "--tail" && hasValue) opt.tailBytes = count();
        else if (a == "--out" && hasValue) out = argv[++i];
        else {
            Usage(argv[0]);
            return 2;
        }
    }
    if (out.empty() || opt.points > 0xFFFFFFFFull) {
        Usage(argv[0]);
        return 2;
    }
    if (const char* problem = LasGenProblem(opt)) {
        std::fprintf(stderr, "velmora-gen: %s\n", problem);
        return 2;
    }
    if (!GenerateLasFile(out, opt)) {
        std::fprintf(stderr, "velmora-gen: cannot write %s\n", out.c_str());
        return 1;
    }
    return 0;
}
