// velmora-row-profile: where the time of one LAS file's coding goes, on one
// thread, row by row and stage by stage: reading the records and putting
// them into columns; for each row, making its streams from the columns
// (prediction and splitting), coding them (entropy coding) and laying them
// out; then decoding the streams (entropy decoding), restoring the
// attributes (prediction) and packing and writing the records; last, the
// decoding as extraction runs it (streams side by side). Times are
// the thread's own CPU time, so other work on the machine disturbs them
// little.
#include <time.h>

#include <cstdio>
#include <string>
#include <vector>

#include "engine/ChunkDecoder.h"
#include "engine/ChunkPlan.h"
#include "engine/TaskPool.h"
#include "engine/ChunkRows.h"
#include "engine/InputWindow.h"
#include "las/FileIo.h"
#include "las/LasAdmission.h"
#include "las/LasException.h"
#include "las/LasFile.h"

namespace {

using namespace chunkrows;

double CpuSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + ts.tv_nsec * 1e-9;
}

const char* Name(Row r) {
    static const char* names[] = {"user_data", "scan_direction", "scan_angle", "return_number", "point_source",
                                  "number_of_returns", "edge", "classification", "x", "y", "z", "intensity",
                                  "gps_time", "red", "green", "blue"};
    return names[Index(r)];
}

const char* Name(Group g) {
    static const char* names[] = {"return_bits", "bytes_and_source", "x", "y", "z", "intensity",
                                  "gps_time", "red", "green", "blue"};
    return names[static_cast<int>(g)];
}

struct Clock {
    double start = CpuSeconds();
    double Lap() {
        const double now = CpuSeconds(), d = now - start;
        start = now;
        return d;
    }
};

constexpr std::size_t kPiece = 1 << 16;

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s FILE.las WORKFILE\n", argv[0]);
        return 2;
    }
    try {
        CLasFile las;
        las.SetFileName(argv[1]);
        const LasHeader h = *las.ReadHeader();
        CheckLasAdmission(h, FileSizeOf(argv[1]));
        const int format = h.PointDataFormat();
        const std::size_t r = h.PointDataRecordLength();
        const ProcessorCode& processor = ProcessorCode::Detected();
        double prepare[kGroupCount] = {}, code[kGroupCount] = {}, layout[kGroupCount] = {};
        double entropy[kRowCount] = {}, restore[kRowCount] = {};
        std::size_t bytes[kRowCount] = {};
        double readIo = 0, scatter = 0, gather = 0, writeIo = 0;
        std::vector<uint8_t> piece;
        ChunkColumns cols;
        Scratch s;
        CByteBuffer outs[kRowCount];
        const std::vector<int64_t> sizes = chunkplan::ChunkSizes(h.NumberOfPointRecords());
        CFile work(argv[2], "wb");
        int64_t first = 0;
        Clock clock;
        for (const int64_t size : sizes) {
            cols.Resize(static_cast<std::size_t>(size), format);
            clock.Lap();
            for (int64_t done = 0; done < size; done += static_cast<int64_t>(kPiece)) {
                const int64_t k = std::min<int64_t>(static_cast<int64_t>(kPiece), size - done);
                las.ReadRecords(static_cast<uint32_t>(k), static_cast<uint32_t>(first + done), piece);
                readIo += clock.Lap();
                cols.Scatter(piece.data(), r, static_cast<std::size_t>(done), static_cast<std::size_t>(k));
                scatter += clock.Lap();
            }
            first += size;
            for (Group g : kGroups) {
                if (!GroupApplies(g, format)) continue;
                const int gi = static_cast<int>(g);
                clock.Lap();
                PrepareGroup(g, cols, processor.coords, s, outs);
                prepare[gi] += clock.Lap();
                CodeGroup(s, processor.encoder);
                code[gi] += clock.Lap();
                LayOutGroup(g, s, outs);
                layout[gi] += clock.Lap();
            }
            for (const RowInfo& info : kRows) {
                if (!RowApplies(info.row, format)) continue;
                bytes[Index(info.row)] += outs[Index(info.row)].Size();
                work.Write(outs[Index(info.row)].Data(), outs[Index(info.row)].Size());
            }
        }
        work.Close();

        CFile in(argv[2], "rb");
        InputWindow window(in);
        CFile out("/dev/null", "wb");
        for (const int64_t size : sizes) {
            cols.Resize(static_cast<std::size_t>(size), format);
            for (const RowInfo& info : kRows) {
                if (!RowApplies(info.row, format)) continue;
                clock.Lap();
                ReadRowStreams(info.row, window, cols.count, s, processor.decoder);
                entropy[Index(info.row)] += clock.Lap();
                RestoreRow(info.row, processor.coords, s, 0, cols);
                restore[Index(info.row)] += clock.Lap();
            }
            for (std::size_t done = 0; done < cols.count; done += kPiece) {
                const std::size_t k = std::min(kPiece, cols.count - done);
                piece.resize(k * r);
                clock.Lap();
                cols.Gather(piece.data(), r, done, k);
                gather += clock.Lap();
                out.Write(piece.data(), piece.size());
                writeIo += clock.Lap();
            }
        }

        // The decoder as extraction runs it: each chunk's streams found,
        // then each group's streams decoded side by side and restored.
        double sideBySide = 0;
        {
            CFile again(argv[2], "rb");
            InputWindow chunks(again);
            TaskPool pool(1);
            CChunkDecoder decoder(pool, processor, {[] {}, [] {}});
            clock.Lap();
            for (std::size_t k = 0; k < sizes.size(); ++k) {
                decoder.Decode(chunks, static_cast<std::size_t>(sizes[k]), format, k + 1 < sizes.size(), cols);
            }
            sideBySide = clock.Lap();
        }

        std::printf("compress, one thread (ms)\n%-14s %9s %9s %9s\n", "group", "streams", "entropy", "layout");
        double te = readIo + scatter, td = gather + writeIo;
        for (Group g : kGroups) {
            if (!GroupApplies(g, format)) continue;
            const int gi = static_cast<int>(g);
            std::printf("%-14s %9.1f %9.1f %9.1f\n", Name(g), prepare[gi] * 1e3, code[gi] * 1e3, layout[gi] * 1e3);
            te += prepare[gi] + code[gi] + layout[gi];
        }
        std::printf("%-14s %9.1f\n%-14s %9.1f\n%-14s %9.1f\n\n", "read_io", readIo * 1e3, "scatter", scatter * 1e3,
                    "total", te * 1e3);
        std::printf("decompress, one thread, stream after stream (ms)\n%-18s %9s %9s %12s\n", "row", "entropy",
                    "restore", "bytes");
        for (const RowInfo& info : kRows) {
            if (!RowApplies(info.row, format)) continue;
            const int k = Index(info.row);
            std::printf("%-18s %9.1f %9.1f %12zu\n", Name(info.row), entropy[k] * 1e3, restore[k] * 1e3, bytes[k]);
            td += entropy[k] + restore[k];
        }
        std::printf("%-18s %9.1f\n%-18s %9.1f\n%-18s %9.1f\n\n", "gather", gather * 1e3, "write_io", writeIo * 1e3,
                    "total", td * 1e3);
        std::printf("decompress, one thread, side by side (ms)\n%-18s %9.1f\n", "streams_and_restore",
                    sideBySide * 1e3);
    } catch (const CLasException& e) {
        std::fprintf(stderr, "%s\n", e.Message());
        return 1;
    }
    return 0;
}
