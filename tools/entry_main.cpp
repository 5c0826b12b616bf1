// velmora-entry: the engine alone, on files holding one archive entry's data.
//   velmora-entry -c IN.las OUT.entry    writes the classic entry for a LAS file
//   velmora-entry -x IN.las OUT.entry    writes the extended entry (any LAS file)
//   velmora-entry -d IN.entry OUT.las    rebuilds the LAS file from an entry of either kind
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "engine/ExtEntry.h"
#include "engine/PointCodec.h"
#include "las/FileIo.h"
#include "las/LasAdmission.h"
#include "las/LasException.h"
#include "las/LasFile.h"
#include "las/LasLayout.h"
#include "las/LasMessages.h"

namespace {

// The tool's own failures, beside the LAS layer's for opening files.
constexpr Failure kCannotRead = failures::Of(901, FailureKind::Unreadable, "ReadError::File could not be read.");
constexpr Failure kCannotWrite = failures::Of(902, FailureKind::Output, "WriteError::File could not be written.");

void WriteExtended(const char* lasPath, const char* entryPath) {
    CFile las(lasPath, "rb");
    const int64_t size = FileSizeOf(lasPath);
    if (!las.IsOpen() || size < 0) throw CLasException(lasmsg::kReadOpen);
    std::vector<uint8_t> head(static_cast<std::size_t>(std::min<int64_t>(size, kLasLayoutBytes)));
    if (!las.ReadExact(head.data(), head.size())) throw CLasException(kCannotRead);
    const LasFileLayout layout = ReadLasLayout(head.data(), head.size(), size);
    CFile out(entryPath, "wb");
    if (!out.IsOpen()) throw CLasException(lasmsg::kWriteOpen);
    extentry::Compress(las, layout, out, {});
    if (!out.Close()) throw CLasException(kCannotWrite);
}

void ReadExtended(CFile& in, const char* lasPath) {
    const int64_t extent = in.Size();
    CFile out(lasPath, "wb");
    if (!out.IsOpen()) throw CLasException(lasmsg::kWriteOpen);
    extentry::Decompress(in, extent,
                         [&](const uint8_t* data, std::size_t n) {
                             if (!out.Write(data, n)) throw CLasException(kCannotWrite);
                         },
                         {});
    if (!out.Close()) throw CLasException(kCannotWrite);
}

}  // namespace

int main(int argc, char** argv) {
    const char* mode = argc == 4 ? argv[1] : "";
    if (std::strcmp(mode, "-c") != 0 && std::strcmp(mode, "-x") != 0 && std::strcmp(mode, "-d") != 0) {
        std::fprintf(stderr, "usage: %s -c IN.las OUT.entry | -x IN.las OUT.entry | -d IN.entry OUT.las\n",
                     argv[0]);
        return 2;
    }
    try {
        CPointCodec codec;
        CLasFile las;
        if (mode[1] == 'x') {
            WriteExtended(argv[2], argv[3]);
        } else if (mode[1] == 'c') {
            las.SetFileName(argv[2]);
            CheckLasAdmission(*las.ReadHeader(), FileSizeOf(argv[2]));
            las.ReadVlrs();
            CFile out(argv[3], "wb");
            if (!out.IsOpen()) throw CLasException(lasmsg::kWriteOpen);
            codec.Compress(&out, &las);
            if (!out.Close()) throw CLasException(kCannotWrite);
        } else {
            CFile in(argv[2], "rb");
            if (!in.IsOpen()) throw CLasException(lasmsg::kReadOpen);
            uint8_t marker = 0;
            // The first byte tells the kinds apart.
            if (in.ReadExact(&marker, 1) && marker == extentry::kMarker) {
                in.Seek(0);
                ReadExtended(in, argv[3]);
                return 0;
            }
            in.Seek(0);
            las.SetFileName(argv[3]);
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
