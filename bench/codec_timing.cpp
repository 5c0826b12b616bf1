// Times one compress and one decompress of a LAS file through the engine.
#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "engine/PointCodec.h"
#include "las/FileIo.h"
#include "las/LasAdmission.h"
#include "las/LasFile.h"

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s IN.las WORKDIR [threads]\n", argv[0]);
        return 2;
    }
    const std::string in = argv[1], dir = argv[2];
    CPointCodec codec;
    if (argc > 3) codec.SetThreadCount(std::atoi(argv[3]));
    using clock = std::chrono::steady_clock;
    auto t0 = clock::now();
    {
        CLasFile las;
        las.SetFileName(in);
        CheckLasAdmission(*las.ReadHeader(), FileSizeOf(in));
        las.ReadVlrs();
        CFile out(dir + "/entry", "wb");
        codec.Compress(&out, &las);
    }
    auto t1 = clock::now();
    {
        CLasFile las;
        las.SetFileName(dir + "/out.las");
        CFile src(dir + "/entry", "rb");
        int progress = 0;
        codec.Decompress(&src, &las, &progress);
    }
    auto t2 = clock::now();
    std::printf("compress %.3f s  decompress %.3f s  entry %lld bytes  las %lld bytes\n",
                std::chrono::duration<double>(t1 - t0).count(), std::chrono::duration<double>(t2 - t1).count(),
                static_cast<long long>(FileSizeOf(dir + "/entry")), static_cast<long long>(FileSizeOf(in)));
    return 0;
}
