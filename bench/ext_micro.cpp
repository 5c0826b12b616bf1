// velmora-ext-micro: the extended entry kind's coder alone on one LAS file,
// in one thread: the CPU time of compressing it into an entry and of
// decoding that entry, per point, median of the runs. The entry is decoded
// into nothing but its checksum, which must be the file's. Prints one
// "name value" line per figure.
#include <time.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "engine/ExtEntry.h"
#include "las/FileIo.h"
#include "las/LasDigest.h"
#include "las/LasException.h"
#include "las/LasLayout.h"

namespace {

double ThreadSeconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s FILE.las WORKFILE [RUNS]\n", argv[0]);
        return 2;
    }
    const std::string las = argv[1], work = argv[2];
    const int runs = argc > 3 ? std::max(1, std::atoi(argv[3])) : 5;
    try {
        const int64_t size = FileSizeOf(las);
        CFile in;
        std::vector<uint8_t> head(static_cast<std::size_t>(std::min<int64_t>(size, kLasLayoutBytes)));
        if (size < 0 || !in.Open(las, "rb") || !in.ReadExact(head.data(), head.size())) {
            std::fprintf(stderr, "velmora-ext-micro: cannot read %s\n", las.c_str());
            return 1;
        }
        const LasFileLayout layout = ReadLasLayout(head.data(), head.size(), size);
        std::vector<double> compress, decompress;
        int64_t entryBytes = 0;
        for (int r = 0; r < runs; ++r) {
            CFile out;
            if (!out.Open(work, "wb")) return 1;
            const double t0 = ThreadSeconds();
            entryBytes = extentry::Compress(in, layout, out, {}, 1);
            compress.push_back(ThreadSeconds() - t0);
            out.Close();
        }
        uint64_t expected = 0;
        CLasDigest original(las);
        if (!original.Finish(size, expected)) return 1;
        for (int r = 0; r < runs; ++r) {
            CFile entry;
            if (!entry.Open(work, "rb")) return 1;
            CLasDigest digest(work);
            const double t0 = ThreadSeconds();
            extentry::Decompress(entry, entryBytes, [&](const uint8_t* p, std::size_t n) { digest.TakeNext(p, n); },
                                 {}, 1);
            decompress.push_back(ThreadSeconds() - t0);
            if (digest.BytesTaken() != size || digest.Value() != expected) {
                std::fprintf(stderr, "velmora-ext-micro: the decoded file differs from the original\n");
                return 1;
            }
        }
        const double points = static_cast<double>(std::max<uint64_t>(1, layout.pointCount));
        std::printf("file %s\npoints %llu\nentry_bytes %lld\n", las.c_str(),
                    static_cast<unsigned long long>(layout.pointCount), static_cast<long long>(entryBytes));
        std::printf("compress_ns_per_point %.1f\n", Median(compress) / points * 1e9);
        std::printf("decompress_ns_per_point %.1f\n", Median(decompress) / points * 1e9);
    } catch (const CLasException& e) {
        std::fprintf(stderr, "velmora-ext-micro: %s\n", e.Message());
        return 1;
    }
    return 0;
}
