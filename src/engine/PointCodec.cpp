#include "engine/PointCodec.h"

#include <algorithm>
#include <future>
#include <mutex>
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

void CPointCodec::BeginEntry(int64_t startPosition) {
    ratio = 0;
    streamsDone = 0;
    impl->chunkCount = 0;
    impl->uncompressedBits = 0;
    impl->startPosition = startPosition;
    CheckPoint();
}

namespace {

void CheckStop(CPointCodec& codec) { codec.CheckPoint(); }

void WriteAll(CFile& out, const void* data, std::size_t n) {
    if (!out.Write(data, n)) throw CLasException(enginemsg::kWriteEntry);
}

}  // namespace

int64_t CPointCodec::Compress(CFile* outputFile, CLasFile* lasFile) {
    if (!outputFile || !outputFile->IsOpen()) throw CLasException(enginemsg::kNoOutputFile);
    Impl& s = *impl;
    BeginEntry(outputFile->Tell());
    rawMode = false;

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
        // The records go in as they lie in the file, whatever their length.
        std::vector<uint8_t> records;
        lasFile->ReadRecords(n, 0, records);
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
        std::vector<uint8_t> outs[std::size(kRows)];
        struct Loaded {
            std::vector<uint8_t> records;
            ChunkColumns cols;
        };
        const std::vector<int64_t> sizes = chunkplan::ChunkSizes(n);
        auto load = [&](std::size_t k, Loaded& into) {
            lasFile->ReadRecords(static_cast<uint32_t>(sizes[k]), static_cast<uint32_t>(k * kChunk), into.records);
            FillColumns(PointView{into.records.data(), r, static_cast<std::size_t>(sizes[k]), format}, into.cols);
        };
        Loaded current, following;
        load(0, current);
        for (std::size_t k = 0; k < sizes.size(); ++k) {
            CheckStop(*this);
            const int64_t size = sizes[k];
            h.SetNumberOfPointRecords(static_cast<uint32_t>(size));
            // The next chunk is read while this one is coded.
            std::future<void> ahead;
            if (k + 1 < sizes.size()) ahead = std::async(std::launch::async, load, k + 1, std::ref(following));

            const PointView pts{current.records.data(), r, static_cast<std::size_t>(size), format};
            const ChunkColumns& cols = current.cols;
            // Every row of a chunk depends only on the known points, so the
            // rows are coded side by side into memory and written in order.
            std::vector<std::function<void()>> tasks;
            // The running ratio follows the rows as they finish, in whatever
            // order, not only when the chunk is written.
            const int64_t writtenBefore = outputFile->Tell() - s.startPosition;
            const uint64_t bitsBefore = s.uncompressedBits;
            std::atomic<int64_t> chunkBytes{0};
            std::atomic<uint64_t> chunkBits{0};
            std::mutex ratioMutex;
            for (Row row : kEncodeOrder) {
                if (!RowApplies(row, format)) continue;
                tasks.emplace_back([&, row] {
                    CheckStop(*this);
                    std::vector<uint8_t>& out = outs[static_cast<int>(row)];
                    out.clear();
                    EncodeRow(row, pts, cols, out);
                    const uint64_t rowBits = uint64_t{kRows[static_cast<int>(row)].bitsPerPoint} * pts.count;
                    std::lock_guard<std::mutex> lock(ratioMutex);
                    chunkBytes += static_cast<int64_t>(out.size());
                    chunkBits += rowBits;
                    ratio = static_cast<double>((writtenBefore + chunkBytes) * 8) /
                            static_cast<double>(bitsBefore + chunkBits);
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
            if (ahead.valid()) {
                ahead.get();
                std::swap(current, following);
            }
        }
    }
    ratio = 0;
    streamsDone = 0;
    return outputFile->Tell() - s.startPosition;
}

void CPointCodec::Decompress(CFile* inputFile, CLasFile* lasFile, int* progressCounter) {
    if (!inputFile || !inputFile->IsOpen()) throw CLasException(enginemsg::kNoInputFile);
    Impl& s = *impl;
    BeginEntry(inputFile->Tell());

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
        CRecordAppender out(*lasFile, r, n, progressCounter);
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
        // Coding keeps only the standard fields, so a coded entry can only
        // give back records of the standard length; any other length (never
        // written by an encoder that checks its input) would also size the
        // chunk buffer from two arbitrary bytes.
        const std::size_t r = h.PointDataRecordLength();
        if (r != rec::RecordSize(format)) throw CLasException(enginemsg::kEntryRecordLength);
        // A value block needs at least two values: fewer points cannot have
        // been coded.
        if (n < 2) throw CLasException(enginemsg::kStreamNotFound);
        lasFile->WriteHeader();
        lasFile->WriteVlrs();
        s.totalPoints = n;
        s.chunkCount = ChunkCount(n);
        streamsTotal = s.chunkCount * UnitsPerChunk(format);
        std::vector<uint8_t> records, written;
        // The records of one chunk are written while the next is decoded.
        std::future<void> writing;
        auto write = [&](std::size_t count) {
            CRecordAppender appender(*lasFile, r, count, progressCounter);
            appender.Append(written.data(), count);
            appender.Finish();
        };
        TaskPool pool(TaskPool::Resolve(threadCount));
        const std::function<void()> checkStop = [this] { CheckStop(*this); };
        const std::function<void()> rowDone = [this] { ++streamsDone; };
        const std::vector<int64_t> sizes = chunkplan::ChunkSizes(n);
        // With several threads a chunk goes through two stages: its streams
        // are decoded side by side, then its attributes are restored while
        // the next chunk's streams are decoded. A chunk whose boundaries
        // cannot be found or do not hold is decoded stream after stream.
        auto prepare = [&](std::size_t k) -> std::unique_ptr<chunkdecoder::ParallelChunk> {
            if (pool.Threads() < 2 || k >= sizes.size()) return nullptr;
            auto chunk = std::make_unique<chunkdecoder::ParallelChunk>();
            if (!chunk->Scan(in, static_cast<std::size_t>(sizes[k]), format, k + 1 < sizes.size())) return nullptr;
            return chunk;
        };
        auto settle = [](std::unique_ptr<chunkdecoder::ParallelChunk>& chunk) {
            if (chunk && !chunk->Verify()) chunk.reset();
        };
        std::unique_ptr<chunkdecoder::ParallelChunk> current = prepare(0);
        if (current) {
            std::vector<std::function<void()>> tasks;
            current->EntropyTasks(tasks, checkStop);
            pool.Run(tasks);
            settle(current);
        }
        for (std::size_t k = 0; k < sizes.size(); ++k) {
            CheckStop(*this);
            const int64_t size = sizes[k];
            lasFile->Header()->SetNumberOfPointRecords(static_cast<uint32_t>(size));
            records.assign(static_cast<std::size_t>(size) * r, 0);
            const PointView pts{records.data(), r, static_cast<std::size_t>(size), format};
            std::unique_ptr<chunkdecoder::ParallelChunk> following;
            std::vector<std::function<void()>> tasks;
            if (current) {
                in.Skip(current->Size());
                following = prepare(k + 1);
                current->RestoreTasks(tasks, pts, checkStop, rowDone);
                if (following) following->EntropyTasks(tasks, checkStop);
                pool.Run(tasks);
                ++parallelChunks;
            } else {
                ChunkColumns cols;
                for (const RowInfo& info : kRows) {
                    if (!RowApplies(info.row, format)) continue;
                    CheckStop(*this);
                    DecodeRow(info.row, in, pts, cols);
                    ++streamsDone;
                }
                following = prepare(k + 1);
                if (following) {
                    following->EntropyTasks(tasks, checkStop);
                    pool.Run(tasks);
                }
            }
            settle(following);
            current = std::move(following);
            for (const RowInfo& info : kRows) {
                if (RowApplies(info.row, format)) s.uncompressedBits += uint64_t{info.bitsPerPoint} * pts.count;
            }
            ratio = static_cast<double>((in.Position() - s.startPosition) * 8) /
                    static_cast<double>(s.uncompressedBits);
            if (writing.valid()) writing.get();
            std::swap(records, written);
            writing = std::async(std::launch::async, write, static_cast<std::size_t>(size));
        }
        writing.get();
    }
    in.SyncFile();
    ratio = 0;
    streamsDone = 0;
}
