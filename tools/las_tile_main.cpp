// velmora-tile: lays COUNT copies of a LAS file side by side along X, each
// copy shifted by the file's X extent, and writes them as one file with the
// header's counts and bounds updated. Used to build benchmark inputs from
// real surveys.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <vector>

#include "las/ByteOrder.h"
#include "las/FileIo.h"
#include "las/LasAdmission.h"
#include "las/LasException.h"
#include "las/LasFile.h"

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: %s IN.las COUNT OUT.las\n", argv[0]);
        return 2;
    }
    const std::string inPath = argv[1], outPath = argv[3];
    const long count = std::strtol(argv[2], nullptr, 10);
    try {
        CLasFile in;
        in.SetFileName(inPath);
        LasHeader h = *in.ReadHeader();
        CheckLasAdmission(h, FileSizeOf(inPath));
        const uint64_t n = h.NumberOfPointRecords();
        const std::size_t r = h.PointDataRecordLength();
        if (count < 1 || n * static_cast<uint64_t>(count) > 0xFFFFFFFFull) {
            std::fprintf(stderr, "velmora-tile: COUNT out of range\n");
            return 2;
        }
        CFile src(inPath, "rb");
        std::vector<uint8_t> prefix(h.OffsetToPointData());
        std::vector<uint8_t> points(n * r);
        if (!src.ReadExact(prefix.data(), prefix.size()) || !src.ReadExact(points.data(), points.size())) {
            throw CLasException("ReadError::LAS Points");
        }
        int32_t minX = std::numeric_limits<int32_t>::max(), maxX = std::numeric_limits<int32_t>::min();
        for (uint64_t i = 0; i < n; ++i) {
            const int32_t x = le::LoadI32(&points[i * r]);
            minX = std::min(minX, x);
            maxX = std::max(maxX, x);
        }
        const int64_t shift = static_cast<int64_t>(maxX) - minX + 1;

        // Header: point count, counts by return and the X bounds.
        LasHeader out = h;
        out.SetNumberOfPointRecords(static_cast<uint32_t>(n * count));
        for (int k = 0; k < 5; ++k) {
            const std::size_t at = LasHeader::kPointsByReturn + 4 * k;
            out.SetU32(at, static_cast<uint32_t>(le::LoadU32(&h.bytes[at]) * count));
        }
        const double scale = h.GetDouble(LasHeader::kScaleX);
        out.SetDouble(LasHeader::kMaxX, h.GetDouble(LasHeader::kMaxX) + scale * shift * (count - 1));
        uint8_t image[LasHeader::kFileSize];
        out.ToFileImage(image);
        std::copy(image, image + sizeof image, prefix.begin());

        CFile dst(outPath, "wb");
        if (!dst.Write(prefix.data(), prefix.size())) throw CLasException("WriteError::LAS Header");
        std::vector<uint8_t> copy(points.size());
        for (long c = 0; c < count; ++c) {
            copy = points;
            for (uint64_t i = 0; i < n; ++i) {
                uint8_t* p = &copy[i * r];
                le::StoreI32(p, static_cast<int32_t>(le::LoadI32(p) + shift * c));
            }
            if (!dst.Write(copy.data(), copy.size())) throw CLasException("WriteError::LAS Point");
        }
        if (!dst.Close()) throw CLasException("WriteError::LAS Point");
    } catch (const CLasException& e) {
        std::fprintf(stderr, "velmora-tile: %s\n", e.Message());
        return 1;
    }
    return 0;
}
