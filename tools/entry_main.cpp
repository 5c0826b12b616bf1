// velmora-entry: the engine alone, on files holding one archive entry's data.
//   velmora-entry -c IN.las OUT.entry    writes the entry for a LAS file
//   velmora-entry -d IN.entry OUT.las    rebuilds the LAS file from an entry
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "engine/PointCodec.h"
#include "las/FileIo.h"
#include "las/LasAdmission.h"
#include "las/LasException.h"
#include "las/LasFile.h"

int main(int argc, char** argv) {
    if (argc != 4 || (std::strcmp(argv[1], "-c") != 0 && std::strcmp(argv[1], "-d") != 0)) {
        std::fprintf(stderr, "usage: %s -c IN.las OUT.entry | -d IN.entry OUT.las\n", argv[0]);
        return 2;
    }
    try {
        CPointCodec codec;
        CLasFile las;
        if (argv[1][1] == 'c') {
            las.SetFileName(argv[2]);
            CheckLasAdmission(*las.ReadHeader(), FileSizeOf(argv[2]));
            las.ReadVlrs();
            CFile out(argv[3], "wb");
            if (!out.IsOpen()) throw CLasException("WriteError::File could not be open.");
            codec.Compress(&out, &las);
            if (!out.Close()) throw CLasException("WriteError::File could not be written.");
        } else {
            las.SetFileName(argv[3]);
            CFile in(argv[2], "rb");
            if (!in.IsOpen()) throw CLasException("ReadError::File could not be open.");
            int progress = 0;
            codec.Decompress(&in, &las, &progress);
            if (std::getenv("VELMORA_VERBOSE")) {
                std::fprintf(stderr, "chunks decoded in parallel: %d\n", codec.ParallelChunks());
            }
        }
    } catch (const CLasException& e) {
        std::fprintf(stderr, "%s\n", e.Message());
        return 1;
    }
    return 0;
}
