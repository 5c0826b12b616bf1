#include "engine/PointCodec.h"

#include <algorithm>
#include <vector>

#include "engine/AttributeCodec.h"
#include "engine/ChunkColumns.h"
#include "engine/ChunkPlan.h"
#include "engine/ChunkRows.h"
#include "engine/ChunkDecoder.h"
#include "engine/CoordinateCodec.h"
#include "engine/EngineMessages.h"
#include "engine/GpsTimeCodec.h"
#include "engine/InputWindow.h"
#include "engine/PointView.h"
#include "engine/TaskPool.h"
#include "engine/WrapMath.h"
#include "las/FileIo.h"
#include "las/LasException.h"
#include "las/LasFile.h"
#include "las/LasHeader.h"
#include "las/LasMessages.h"

namespace {

using namespace chunkrows;
using chunkplan::ChunkCount;
using chunkplan::kChunk;
using chunkplan::NextChunkSize;
using chunkplan::UnitsPerChunk;

constexpr uint32_t kRawLimit = 1000;
constexpr uint64_t kHeaderBits = LasHeader::kImageSize * 8;

void FillColumns(const PointView& pts, ChunkColumns& c) {
    const std::size_t n = pts.count;
    c.x.resize(n);
    c.y.resize(n);
    c.z.resize(n);
    c.dx.assign(n, 0);
    c.dy.assign(n, 0);
    c.dz.assign(n, 0);
    c.flags.resize(n);
    const ByteField dir = attrs::FieldOf(attrs::ByteAttr::ScanDirection);
    for (std::size_t i = 0; i < n; ++i) {
        c.x[i] = pts.X(i);
        c.y[i] = pts.Y(i);
        c.z[i] = pts.Z(i);
        c.flags[i] = dir.Get(pts, i);
        if (i > 0) {
            c.dx[i] = wrap::Sub32(c.x[i], c.x[i - 1]);
            c.dy[i] = wrap::Sub32(c.y[i], c.y[i - 1]);
            c.dz[i] = wrap::Sub32(c.z[i], c.z[i - 1]);
        }
    }
}

void EncodeRow(Row row, const PointView& pts, const ChunkColumns& cols, std::vector<uint8_t>& out) {
    if (IsByteRow(row)) return attrs::EncodeByteAttr(ByteAttrOf(row), pts, out);
    switch (row) {
        case Row::PointSource: return attrs::EncodePointSource(pts, out);
        case Row::X: return coords::EncodeX(cols, out);
        case Row::Y: return coords::EncodeY(cols, out);
        case Row::Z: return coords::EncodeZ(cols, out);
        case Row::Intensity: return attrs::EncodeIntensity(pts, cols, out);
        case Row::GpsTime: return gpstime::Encode(pts, cols.flags, out);
        case Row::Red: return color::Encode(pts, 0, out);
        case Row::Green: return color::Encode(pts, 1, out);
        case Row::Blue: return color::Encode(pts, 2, out);
        default: return;
    }
}

void DecodeRow(Row row, InputWindow& in, const PointView& pts, ChunkColumns& cols) {
    if (IsByteRow(row)) return attrs::DecodeByteAttr(ByteAttrOf(row), in, pts, cols);
    const std::size_t n = pts.count;
    switch (row) {
        case Row::PointSource: return attrs::DecodePointSource(in, pts);
        case Row::X:
            coords::DecodeX(in, cols, n);
            for (std::size_t i = 0; i < n; ++i) pts.SetX(i, cols.x[i]);
            return;
        case Row::Y:
            coords::DecodeY(in, cols, n);
            for (std::size_t i = 0; i < n; ++i) pts.SetY(i, cols.y[i]);
            return;
        case Row::Z:
            coords::DecodeZ(in, cols, n);
            for (std::size_t i = 0; i < n; ++i) pts.SetZ(i, cols.z[i]);
            return;
        case Row::Intensity: return attrs::DecodeIntensity(in, pts, cols);
        case Row::GpsTime: return gpstime::Decode(in, pts, cols.flags);
        case Row::Red: return color::Decode(in, pts, 0);
        case Row::Green: return color::Decode(in, pts, 1);
        case Row::Blue: return color::Decode(in, pts, 2);
        default: return;
    }
}

}  // namespace

struct CPointCodec::Impl {
    int64_t startPosition = 0;
    uint64_t uncompressedBits = 0;
    int32_t chunkCount = 0;
    int64_t totalPoints = 0;
};

CPointCodec::CPointCodec() : impl(std::make_unique<Impl>()) {}
CPointCodec::~CPointCodec() = default;

void CPointCodec::ReleaseBuffers() { streamsTotal.store(0); }

namespace {

void CheckStop(const CPointCodec& codec) {
    if (codec.StopRequested()) throw CStopRequested();
}

void WriteAll(CFile& out, const void* data, std::size_t n) {
    if (!out.Write(data, n)) throw CLasException(enginemsg::kWriteEntry);
}

}  // namespace

int64_t CPointCodec::Compress(CFile* outputFile, CLasFile* lasFile) {
    if (!outputFile || !outputFile->IsOpen()) throw CLasException(enginemsg::kNoOutputFile);
    Impl& s = *impl;
    ratio = 0;
    streamsDone = 0;
    s.chunkCount = 0;
    s.uncompressedBits = 0;
    s.startPosition = outputFile->Tell();
    rawMode = false;
    CheckStop(*this);

    LasHeader& h = *lasFile->Header();
    const uint32_t n = h.NumberOfPointRecords();
    const int format = h.PointDataFormat();
    // A gap held as a VLR block is marked in the header's first byte, the
    // byte raw storage would need for its own marker; such files are coded
    // even when small, so they come back declaring no VLRs, as they were.
    const bool gapMarked = h.Marker() == LasHeader::kMarkerGap;
    const bool raw = n < kRawLimit && !(gapMarked && n >= 2);

    auto writeEntryHead = [&]() {
        WriteAll(*outputFile, h.bytes.data(), h.bytes.size());
        s.uncompressedBits += kHeaderBits;
        if (h.NumberOfVlrs() != 0) {
            const std::vector<uint8_t>& block = lasFile->VlrBlock();
            // The decoder takes the block's length from the header, so what is
            // written must be exactly that long.
            if (h.Gap() < 0 || block.size() != static_cast<uint64_t>(h.Gap())) {
                throw CLasException(lasmsg::kReadVlr);
            }
            WriteAll(*outputFile, block.data(), block.size());
            s.uncompressedBits += 8 * block.size();
        }
    };

    if (raw) {
        rawMode = true;
        const std::size_t r = h.PointDataRecordLength();
        // The records go in as they lie in the file, whatever their length.
        CFile in;
        if (!in.Open(lasFile->FileName(), "rb")) throw CLasException(lasmsg::kReadOpen);
        const uint64_t bytes = static_cast<uint64_t>(n) * r;
        const int64_t size = in.Size();
        if (size < 0 || h.OffsetToPointData() + bytes > static_cast<uint64_t>(size) ||
            !in.Seek(h.OffsetToPointData())) {
            throw CLasException(lasmsg::kReadPoints);
        }
        std::vector<uint8_t> records(bytes);
        if (!in.ReadExact(records.data(), records.size())) throw CLasException(lasmsg::kReadPoints);
        h.SetMarker(LasHeader::kMarkerRaw);
        writeEntryHead();
        if (!outputFile->Write(records.data(), records.size())) throw CLasException(enginemsg::kWritePoint);
    } else {
        writeEntryHead();
        s.totalPoints = n;
        s.chunkCount = ChunkCount(n);
        streamsTotal = s.chunkCount * UnitsPerChunk(format);
        const std::size_t r = h.PointDataRecordLength();
        // The codecs read the standard fields of each record in place.
        if (r < rec::RecordSize(format) || format > 3) throw CLasException(lasmsg::kRecordLength, true);
        TaskPool pool(TaskPool::Resolve(threadCount));
        std::vector<uint8_t> records;
        std::vector<uint8_t> outs[std::size(kRows)];
        int64_t first = 0;
        int64_t remaining = n;
        do {
            CheckStop(*this);
            const int64_t size = NextChunkSize(remaining);
            lasFile->ReadRecords(static_cast<uint32_t>(size), static_cast<uint32_t>(first), records);
            h.SetNumberOfPointRecords(static_cast<uint32_t>(size));
            first += kChunk;
            remaining -= kChunk;

            const PointView pts{records.data(), r, static_cast<std::size_t>(size), format};
            ChunkColumns cols;
            FillColumns(pts, cols);
            // Every row of a chunk depends only on the known points, so the
            // rows are coded side by side into memory and written in order.
            std::vector<std::function<void()>> tasks;
            for (Row row : kEncodeOrder) {
                if (!RowApplies(row, format)) continue;
                tasks.emplace_back([&, row] {
                    CheckStop(*this);
                    std::vector<uint8_t>& out = outs[static_cast<int>(row)];
                    out.clear();
                    EncodeRow(row, pts, cols, out);
                    ++streamsDone;
                });
            }
            pool.Run(tasks);
            for (const RowInfo& info : kRows) {
                if (!RowApplies(info.row, format)) continue;
                const std::vector<uint8_t>& out = outs[static_cast<int>(info.row)];
                WriteAll(*outputFile, out.data(), out.size());
                s.uncompressedBits += static_cast<uint64_t>(info.bitsPerPoint) * pts.count;
                ratio = static_cast<double>((outputFile->Tell() - s.startPosition) * 8) /
                        static_cast<double>(s.uncompressedBits);
            }
        } while (remaining > kChunk);
    }
    ratio = 0;
    streamsDone = 0;
    return outputFile->Tell() - s.startPosition;
}

void CPointCodec::Decompress(CFile* inputFile, CLasFile* lasFile, int* progressCounter) {
    if (!inputFile || !inputFile->IsOpen()) throw CLasException(enginemsg::kNoInputFile);
    Impl& s = *impl;
    ratio = 0;
    streamsDone = 0;
    s.chunkCount = 0;
    s.uncompressedBits = 0;
    s.startPosition = inputFile->Tell();
    CheckStop(*this);

    parallelChunks = 0;
    InputWindow in(*inputFile);
    auto header = std::make_unique<LasHeader>();
    if (!in.ReadExact(header->bytes.data(), header->bytes.size())) {
        throw CLasException(enginemsg::kEntryHeader);
    }
    LasHeader& h = *header;
    lasFile->SetHeader(std::move(header));
    if (h.NumberOfVlrs() != 0) {
        // The block's length comes from the stored header; it must fit in
        // what is left of the archive before it sizes anything.
        const int64_t g = h.Gap();
        if (g < 0 || g > in.Remaining()) throw CLasException(enginemsg::kEntryHeader);
        std::vector<uint8_t> block(static_cast<std::size_t>(g));
        if (!in.ReadExact(block.data(), block.size())) throw CLasException(enginemsg::kEntryHeader);
        lasFile->SetVlrBlock(std::move(block));
    }

    const uint32_t n = h.NumberOfPointRecords();
    const int format = h.PointDataFormat();
    if (h.Marker() == LasHeader::kMarkerRaw) {
        const std::size_t r = h.PointDataRecordLength();
        if (static_cast<uint64_t>(n) * r > static_cast<uint64_t>(in.Remaining())) {
            throw CLasException(enginemsg::kReadPoints);
        }
        h.SetMarker(LasHeader::kMarkerLas);
        lasFile->WriteHeader();
        lasFile->WriteVlrs();
        // Records are copied as stored, in bounded blocks, whatever their
        // length or format.
        CRecordAppender out(lasFile->FileName(), r, n, progressCounter);
        const std::size_t perBlock = std::max<std::size_t>(1, (std::size_t{1} << 20) / std::max<std::size_t>(r, 1));
        std::vector<uint8_t> buf;
        for (std::size_t done = 0; done < n;) {
            CheckStop(*this);
            const std::size_t k = std::min<std::size_t>(perBlock, n - done);
            buf.resize(k * r);
            if (!in.ReadExact(buf.data(), buf.size())) throw CLasException(enginemsg::kReadPoints);
            out.Append(buf.data(), k);
            done += k;
        }
        out.Finish();
    } else {
        if (format > 3) throw CLasException(enginemsg::kEntryFormat);
        // A value block needs at least two values: fewer points cannot have
        // been coded.
        if (n < 2) throw CLasException(enginemsg::kStreamNotFound);
        lasFile->WriteHeader();
        lasFile->WriteVlrs();
        s.totalPoints = n;
        s.chunkCount = ChunkCount(n);
        streamsTotal = s.chunkCount * UnitsPerChunk(format);
        const std::size_t r = h.PointDataRecordLength();
        // Records are rebuilt in a buffer of at least the format's standard
        // size each; bytes a longer record has beyond it stay zero.
        const std::size_t stride = std::max<std::size_t>(r, rec::RecordSize(format));
        std::vector<uint8_t> records;
        std::vector<uint8_t> packed;
        TaskPool pool(TaskPool::Resolve(threadCount));
        const chunkdecoder::Context ctx{pool, [this] { CheckStop(*this); }, [this] { ++streamsDone; }, false};
        int64_t remaining = n;
        do {
            CheckStop(*this);
            const int64_t size = NextChunkSize(remaining);
            lasFile->Header()->SetNumberOfPointRecords(static_cast<uint32_t>(size));
            remaining -= kChunk;
            records.assign(static_cast<std::size_t>(size) * stride, 0);
            const PointView pts{records.data(), stride, static_cast<std::size_t>(size), format};
            chunkdecoder::Context chunkCtx = ctx;
            chunkCtx.moreChunks = remaining > kChunk;
            const int32_t doneBefore = streamsDone;
            const bool parallel = pool.Threads() > 1 && chunkdecoder::DecodeInParallel(in, pts, chunkCtx);
            if (parallel) {
                ++parallelChunks;
                for (const RowInfo& info : kRows) {
                    if (RowApplies(info.row, format)) s.uncompressedBits += uint64_t{info.bitsPerPoint} * pts.count;
                }
                ratio = static_cast<double>((in.Position() - s.startPosition) * 8) /
                        static_cast<double>(s.uncompressedBits);
            } else {
                streamsDone = doneBefore;
                ChunkColumns cols;
                for (const RowInfo& info : kRows) {
                    if (!RowApplies(info.row, format)) continue;
                    CheckStop(*this);
                    DecodeRow(info.row, in, pts, cols);
                    s.uncompressedBits += static_cast<uint64_t>(info.bitsPerPoint) * pts.count;
                    ++streamsDone;
                    ratio = static_cast<double>((in.Position() - s.startPosition) * 8) /
                            static_cast<double>(s.uncompressedBits);
                }
            }
            const uint8_t* out = records.data();
            if (stride != r) {
                packed.resize(static_cast<std::size_t>(size) * r);
                for (std::size_t i = 0; i < static_cast<std::size_t>(size); ++i) {
                    std::copy_n(records.data() + i * stride, r, packed.data() + i * r);
                }
                out = packed.data();
            }
            CRecordAppender appender(lasFile->FileName(), r, static_cast<std::size_t>(size), progressCounter);
            appender.Append(out, static_cast<std::size_t>(size));
            appender.Finish();
        } while (remaining > kChunk);
    }
    in.SyncFile();
    ratio = 0;
    streamsDone = 0;
}
