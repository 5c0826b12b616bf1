// velmora-row-profile: where the time of one LAS file's coding goes, row by
// row, on one thread. Times are the thread's own CPU time, so other work on
// the machine disturbs them little.
#include <time.h>

#include <cstdio>
#include <map>
#include <string>

#include "engine/ChunkPlan.h"
#include "engine/ChunkRows.h"
#include "engine/InputWindow.h"
#include "las/FileIo.h"
#include "las/LasAdmission.h"
#include "las/LasException.h"
#include "las/LasFile.h"

namespace {
double CpuSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + ts.tv_nsec * 1e-9;
}
const char* Name(chunkrows::Row r) {
    static const char* names[] = {"user_data", "scan_direction", "scan_angle", "return_number", "point_source",
                                  "number_of_returns", "edge", "classification", "x", "y", "z", "intensity",
                                  "gps_time", "red", "green", "blue"};
    return names[static_cast<int>(r)];
}
}  // namespace

int main(int argc, char** argv) {
    using namespace chunkrows;
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s FILE.las WORKFILE\n", argv[0]);
        return 2;
    }
    try {
        CLasFile las;
        las.SetFileName(argv[1]);
        LasHeader h = *las.ReadHeader();
        CheckLasAdmission(h, FileSizeOf(argv[1]));
        const int format = h.PointDataFormat();
        const std::size_t r = h.PointDataRecordLength();
        std::map<int, double> enc, dec;
        std::map<int, std::size_t> bytes;
        double fill = 0;
        std::vector<uint8_t> records, out;
        int64_t first = 0, remaining = h.NumberOfPointRecords();
        CFile work(argv[2], "wb");
        do {
            const int64_t size = chunkplan::NextChunkSize(remaining);
            las.ReadRecords(static_cast<uint32_t>(size), static_cast<uint32_t>(first), records);
            first += chunkplan::kChunk;
            remaining -= chunkplan::kChunk;
            const PointView pts{records.data(), r, static_cast<std::size_t>(size), format};
            ChunkColumns cols;
            double t = CpuSeconds();
            FillColumns(pts, cols);
            fill += CpuSeconds() - t;
            for (const RowInfo& info : kRows) {
                if (!RowApplies(info.row, format)) continue;
                out.clear();
                t = CpuSeconds();
                EncodeRow(info.row, pts, cols, out);
                enc[static_cast<int>(info.row)] += CpuSeconds() - t;
                bytes[static_cast<int>(info.row)] += out.size();
                work.Write(out.data(), out.size());
            }
        } while (remaining > chunkplan::kChunk);
        work.Close();

        CFile in(argv[2], "rb");
        InputWindow window(in);
        remaining = h.NumberOfPointRecords();
        do {
            const int64_t size = chunkplan::NextChunkSize(remaining);
            remaining -= chunkplan::kChunk;
            records.assign(static_cast<std::size_t>(size) * r, 0);
            const PointView pts{records.data(), r, static_cast<std::size_t>(size), format};
            ChunkColumns cols;
            for (const RowInfo& info : kRows) {
                if (!RowApplies(info.row, format)) continue;
                const double t = CpuSeconds();
                DecodeRow(info.row, window, pts, cols);
                dec[static_cast<int>(info.row)] += CpuSeconds() - t;
            }
        } while (remaining > chunkplan::kChunk);

        double te = fill, td = 0;
        std::printf("%-18s %10s %10s %12s\n", "row", "encode_ms", "decode_ms", "bytes");
        for (const RowInfo& info : kRows) {
            if (!RowApplies(info.row, format)) continue;
            const int k = static_cast<int>(info.row);
            std::printf("%-18s %10.1f %10.1f %12zu\n", Name(info.row), enc[k] * 1e3, dec[k] * 1e3, bytes[k]);
            te += enc[k];
            td += dec[k];
        }
        std::printf("%-18s %10.1f %10s\n", "columns", fill * 1e3, "-");
        std::printf("%-18s %10.1f %10.1f\n", "total", te * 1e3, td * 1e3);
    } catch (const CLasException& e) {
        std::fprintf(stderr, "%s\n", e.Message());
        return 1;
    }
    return 0;
}
