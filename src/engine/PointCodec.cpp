#include "engine/PointCodec.h"
#include "engine/EntryMarkers.h"

#include <algorithm>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "engine/ChunkColumns.h"
#include "engine/ChunkDecoder.h"
#include "engine/ChunkEncoder.h"
#include "engine/ChunkPlan.h"
#include "engine/EngineMessages.h"
#include "engine/EntryCheck.h"
#include "engine/InputWindow.h"
#include "engine/ProcessorCode.h"
#include "engine/TaskPool.h"
#include "las/FileIo.h"
#include "las/LasException.h"
#include "las/LasFile.h"
#include "las/LasHeader.h"
#include "las/LasMessages.h"

namespace {

using chunkplan::ChunkCount;
using chunkplan::ChunkSizes;
using chunkplan::RowsPerChunk;

constexpr uint32_t kRawLimit = 1000;
constexpr uint64_t kHeaderBits = LasHeader::kImageSize * 8;
// Records read or written at a time: a few megabytes whatever the chunk.
constexpr std::size_t kPiecePoints = 1 << 16;

void WriteAll(CFile& out, const void* data, std::size_t n) {
    if (!out.Write(data, n)) throw CLasException(enginemsg::kWriteEntry);
}

// Works through `points` points a piece at a time, on the pool's threads,
// or without a pool on the thread `worker` alone. Each piece has its own
// part, done on the thread that took it side by side with the other
// pieces' (before its turn when ownFirst, after it otherwise), and its
// turn, taken one piece at a time in piece order. Both get the piece's
// first point, its number of points and the thread. A piece that fails
// releases those waiting for their turn.
template <class Own, class Turn>
void PiecesInTurn(TaskPool* pool, int worker, std::size_t points, bool ownFirst, const Own& own, const Turn& turn) {
    const std::size_t count = (points + kPiecePoints - 1) / kPiecePoints;
    std::mutex mutex;
    std::condition_variable next;
    std::size_t claimed = 0, taken = 0;  // pieces handed out, and whose turn is over
    bool failed = false;
    auto work = [&](int w) {
        for (;;) {
            std::size_t p;
            {
                std::lock_guard<std::mutex> lock(mutex);
                if (failed || claimed == count) return;
                p = claimed++;
            }
            const std::size_t done = p * kPiecePoints;
            const std::size_t k = std::min(kPiecePoints, points - done);
            try {
                if (ownFirst) own(done, k, w);
                {
                    std::unique_lock<std::mutex> lock(mutex);
                    next.wait(lock, [&] { return failed || taken == p; });
                    if (failed) return;
                }
                turn(done, k, w);
            } catch (...) {
                std::lock_guard<std::mutex> lock(mutex);
                failed = true;
                next.notify_all();
                throw;
            }
            {
                std::lock_guard<std::mutex> lock(mutex);
                taken = p + 1;
            }
            next.notify_all();
            if (!ownFirst) own(done, k, w);
        }
    };
    if (!pool) return work(worker);
    std::vector<TaskPool::Task> tasks(static_cast<std::size_t>(pool->Threads()), work);
    pool->Run(tasks);
}

// The chunk of `size` points from record `first` on, into the columns. The
// pieces are read in file order (the input's digest takes them in that
// order) while other threads scatter the pieces already read. pieces holds
// one buffer per thread.
void ReadChunk(TaskPool* pool, int worker, CLasFile& las, int64_t first, int64_t size, ChunkColumns& cols,
               std::vector<CByteBuffer>& pieces) {
    const std::size_t r = las.Header()->PointDataRecordLength();
    cols.Resize(static_cast<std::size_t>(size), las.Header()->PointDataFormat());
    auto read = [&](std::size_t done, std::size_t k, int w) {
        CByteBuffer& piece = pieces[static_cast<std::size_t>(w)];
        piece.Clear();
        las.ReadRecordsInto(static_cast<uint32_t>(k), static_cast<uint32_t>(first + static_cast<int64_t>(done)),
                            piece.Grow(k * r));
    };
    auto scatter = [&](std::size_t done, std::size_t k, int w) {
        cols.Scatter(pieces[static_cast<std::size_t>(w)].Data(), r, done, k);
    };
    PiecesInTurn(pool, worker, static_cast<std::size_t>(size), false, scatter, read);
}

// Appends the chunk's `count` records to the LAS file, which counts the
// progress: the pieces are gathered side by side and appended in order.
void WriteChunk(TaskPool* pool, int worker, CLasFile& las, const ChunkColumns& cols, std::size_t count,
                int* progressCounter, std::vector<CByteBuffer>& pieces) {
    const std::size_t r = las.Header()->PointDataRecordLength();
    CRecordAppender out(las, r, count, progressCounter);
    auto gather = [&](std::size_t done, std::size_t k, int w) {
        CByteBuffer& piece = pieces[static_cast<std::size_t>(w)];
        piece.Clear();
        cols.Gather(piece.Grow(k * r), r, done, k);
    };
    auto append = [&](std::size_t, std::size_t k, int w) { out.Append(pieces[static_cast<std::size_t>(w)].Data(), k); };
    PiecesInTurn(pool, worker, count, true, gather, append);
    out.Finish();
}

std::size_t LargestChunk(const std::vector<int64_t>& sizes) {
    return static_cast<std::size_t>(*std::max_element(sizes.begin(), sizes.end()));
}

// The columns take their memory once, for the largest chunk (the last),
// before the first: growing them for the last chunk would take fresh memory
// and fill it again, after the smaller chunks had done the same.
void SizeForLargest(ChunkColumns& cols, const std::vector<int64_t>& sizes, int format) {
    cols.Resize(LargestChunk(sizes), format);
}

uint64_t ChunkBits(int format, std::size_t count) {
    uint64_t bits = 0;
    for (const chunkrows::RowInfo& info : chunkrows::kRows) {
        if (chunkrows::RowApplies(info.row, format)) bits += uint64_t{info.bitsPerPoint} * count;
    }
    return bits;
}

}  // namespace

struct CPointCodec::Impl {
    int64_t startPosition = 0;
    uint64_t uncompressedBits = 0;
    int64_t codedBytes = 0;  // of the entry, written or waiting to be
    int32_t chunkCount = 0;
    ProcessorCode code = ProcessorCode::Detected();
};

CPointCodec::CPointCodec() : impl(std::make_unique<Impl>()) {}
CPointCodec::~CPointCodec() = default;

void CPointCodec::ReleaseBuffers() { streamsTotal.store(0); }

int CPointCodec::ThreadsFor(const std::vector<int64_t>& chunkSizes, int format) const {
    if (threadCount > 0) return threadCount;
    return chunkplan::DefaultThreads(std::thread::hardware_concurrency(), static_cast<int64_t>(LargestChunk(chunkSizes)),
                                     rec::RecordSize(format));
}

void CPointCodec::UseProcessorCode(const ProcessorCode& code) { impl->code = code; }
const ProcessorCode& CPointCodec::Code() const { return impl->code; }

void CPointCodec::BeginEntry(int64_t startPosition) {
    ratio = 0;
    streamsDone = 0;
    impl->chunkCount = 0;
    impl->uncompressedBits = 0;
    impl->codedBytes = 0;
    impl->startPosition = startPosition;
    CheckPoint();
}

void CPointCodec::AddToRatio(uint64_t bits, int64_t bytes) {
    impl->uncompressedBits += bits;
    impl->codedBytes += bytes;
    ratio = static_cast<double>(impl->codedBytes * 8) / static_cast<double>(impl->uncompressedBits);
}

namespace {

// A file whose gap between header and points holds no VLRs, only bytes.
bool GapBlockOnly(const LasHeader& h, const CLasFile& las) {
    return h.NumberOfVlrs() == 0 && las.HasVlrBlock() && !las.VlrBlock().empty();
}

}  // namespace

int64_t CPointCodec::Compress(CFile* outputFile, CLasFile* lasFile) {
    if (!outputFile || !outputFile->IsOpen()) throw CLasException(enginemsg::kNoOutputFile);
    BeginEntry(outputFile->Tell());
    const LasHeader& h = *lasFile->Header();
    const uint32_t n = h.NumberOfPointRecords();
    // A gap held as a VLR block is marked in the header's first byte, the
    // byte raw storage would need for its own marker; such files are coded
    // even when small, so they come back declaring no VLRs, as they were.
    const bool gapMarked = GapBlockOnly(h, *lasFile);
    rawMode = n < kRawLimit && !(gapMarked && n >= 2);
    if (rawMode) {
        CompressRaw(*outputFile, *lasFile);
    } else {
        CompressChunks(*outputFile, *lasFile);
    }
    ratio = 0;
    streamsDone = 0;
    return outputFile->Tell() - impl->startPosition;
}

void CPointCodec::WriteEntryHead(CFile& out, CLasFile& las) {
    const LasHeader& h = *las.Header();
    // Gap bytes without VLRs go in as one block that the stored header
    // declares as one VLR, marked so it is given back declaring none.
    LasHeader image = h;
    if (h.Marker() != entrymarker::kRaw && GapBlockOnly(h, las)) {
        image.SetMarker(entrymarker::kGap);
        image.SetNumberOfVlrs(1);
    }
    WriteAll(out, image.bytes.data(), image.bytes.size());
    AddToRatio(kHeaderBits, static_cast<int64_t>(image.bytes.size()));
    if (image.NumberOfVlrs() == 0) return;
    const std::vector<uint8_t>& block = las.VlrBlock();
    // The decoder takes the block's length from the header, so what is
    // written must be exactly that long.
    if (h.Gap() < 0 || block.size() != static_cast<uint64_t>(h.Gap())) throw CLasException(lasmsg::kReadVlr);
    WriteAll(out, block.data(), block.size());
    AddToRatio(8 * block.size(), static_cast<int64_t>(block.size()));
}

void CPointCodec::CompressRaw(CFile& out, CLasFile& las) {
    LasHeader& h = *las.Header();
    // The records go in as they lie in the file.
    std::vector<uint8_t> records;
    las.ReadRecords(h.NumberOfPointRecords(), 0, records);
    h.SetMarker(entrymarker::kRaw);
    WriteEntryHead(out, las);
    if (!out.Write(records.data(), records.size())) throw CLasException(enginemsg::kWritePoint);
}

void CPointCodec::CompressChunks(CFile& out, CLasFile& las) {
    LasHeader& h = *las.Header();
    WriteEntryHead(out, las);
    const uint32_t n = h.NumberOfPointRecords();
    const int format = h.PointDataFormat();
    impl->chunkCount = ChunkCount(n);
    streamsTotal = impl->chunkCount * RowsPerChunk(format);
    // The codecs read the standard fields of each record.
    if (h.PointDataRecordLength() < rec::RecordSize(format) || format > 3) {
        throw CLasException(lasmsg::kRecordLength, true);
    }
    const std::vector<int64_t> sizes = ChunkSizes(n);
    TaskPool pool(ThreadsFor(sizes, format));
    ChunkColumns cols;
    SizeForLargest(cols, sizes, format);
    CChunkEncoder::Hooks hooks;
    hooks.checkPoint = [this] { CheckPoint(); };
    hooks.rowCoded = [this](chunkrows::Row row, std::size_t bytes, std::size_t points) {
        ++streamsDone;
        AddToRatio(uint64_t{chunkrows::kRows[chunkrows::Index(row)].bitsPerPoint} * points,
                   static_cast<int64_t>(bytes));
    };
    hooks.write = [&out](const CByteBuffer& b) { WriteAll(out, b.Data(), b.Size()); };
    CChunkEncoder encoder(pool, impl->code, hooks);
    std::vector<CByteBuffer> pieces(static_cast<std::size_t>(pool.Threads()));
    // Each chunk after the first is read while the last groups of the one
    // before are still coding (they no longer read the columns then).
    ReadChunk(&pool, 0, las, 0, sizes[0], cols, pieces);
    int64_t first = 0;
    for (std::size_t k = 0; k < sizes.size(); ++k) {
        CheckPoint();
        h.SetNumberOfPointRecords(static_cast<uint32_t>(sizes[k]));
        const int64_t nextFirst = first + sizes[k];
        std::function<void(int)> readNext;
        if (k + 1 < sizes.size()) {
            readNext = [&, nextFirst, k](int worker) {
                ReadChunk(nullptr, worker, las, nextFirst, sizes[k + 1], cols, pieces);
            };
        }
        encoder.Encode(cols, readNext, k + 1 < sizes.size() ? static_cast<std::size_t>(sizes[k + 1]) : 0);
        // The archive is made durable before the job ends; the disk can work
        // on this chunk while the next is coded.
        out.StartWriteback();
        first = nextFirst;
    }
}

void CPointCodec::Decompress(CFile* inputFile, CLasFile* lasFile, int* progressCounter) {
    if (!inputFile || !inputFile->IsOpen()) throw CLasException(enginemsg::kNoInputFile);
    BeginEntry(inputFile->Tell());
    parallelChunks = 0;
    InputWindow in(*inputFile);
    ReadEntryHead(in, *lasFile);
    if (lasFile->Header()->Marker() == entrymarker::kRaw) {
        DecompressRaw(in, *lasFile, progressCounter);
    } else {
        DecompressChunks(in, *lasFile, progressCounter);
    }
    in.SyncFile();
    ratio = 0;
    streamsDone = 0;
}

void ReadClassicEntryHead(InputWindow& in, int64_t available, CLasFile& las) {
    auto header = std::make_unique<LasHeader>();
    if (!in.ReadExact(header->bytes.data(), header->bytes.size())) throw CLasException(enginemsg::kEntryHeader);
    // Everything sized from the header below fits in what the entry holds.
    CheckEntry(*header, available);
    LasHeader& h = *header;
    las.SetHeader(std::move(header));
    if (h.NumberOfVlrs() == 0) return;
    std::vector<uint8_t> block(static_cast<std::size_t>(h.Gap()));
    if (!in.ReadExact(block.data(), block.size())) throw CLasException(enginemsg::kEntryHeader);
    if (h.Marker() == entrymarker::kGap) {
        // The block was gap bytes: the LAS file declares no VLRs.
        h.SetMarker(entrymarker::kLas);
        h.SetNumberOfVlrs(0);
    }
    las.SetVlrBlock(std::move(block));
}

LasHeader LasHeaderOf(const LasHeader& image) {
    LasHeader h = image;
    if (h.Marker() == entrymarker::kGap) h.SetNumberOfVlrs(0);
    h.SetMarker(entrymarker::kLas);
    return h;
}

void CPointCodec::ReadEntryHead(InputWindow& in, CLasFile& las) {
    ReadClassicEntryHead(in, in.FileSize() - impl->startPosition, las);
}

void CPointCodec::DecompressRaw(InputWindow& in, CLasFile& las, int* progressCounter) {
    LasHeader& h = *las.Header();
    const uint32_t n = h.NumberOfPointRecords();
    const std::size_t r = h.PointDataRecordLength();
    h.SetMarker(entrymarker::kLas);
    las.WriteHeader();
    las.WriteVlrs();
    // Records are copied as stored, in bounded blocks.
    CRecordAppender out(las, r, n, progressCounter);
    std::vector<uint8_t> buf;
    for (std::size_t done = 0; done < n;) {
        CheckPoint();
        const std::size_t k = std::min<std::size_t>(kPiecePoints, n - done);
        buf.resize(k * r);
        if (!in.ReadExact(buf.data(), buf.size())) throw CLasException(enginemsg::kReadPoints);
        out.Append(buf.data(), k);
        done += k;
    }
    out.Finish();
}

void CPointCodec::DecompressChunks(InputWindow& in, CLasFile& las, int* progressCounter) {
    LasHeader& h = *las.Header();
    las.WriteHeader();
    las.WriteVlrs();
    const uint32_t n = h.NumberOfPointRecords();
    const int format = h.PointDataFormat();
    impl->chunkCount = ChunkCount(n);
    streamsTotal = impl->chunkCount * RowsPerChunk(format);
    const std::vector<int64_t> sizes = ChunkSizes(n);
    TaskPool pool(ThreadsFor(sizes, format));
    CChunkDecoder::Hooks hooks;
    hooks.checkPoint = [this] { CheckPoint(); };
    hooks.rowDone = [this] { ++streamsDone; };
    CChunkDecoder decoder(pool, impl->code, hooks);
    // The running ratio counts the entry's head among the bytes but not
    // among the uncompressed bits.
    impl->codedBytes = in.Position() - impl->startPosition;
    // The columns take their memory once, for the largest chunk, as the
    // first chunk's streams are decoded.
    ChunkColumns cols;
    const std::size_t room = LargestChunk(sizes);
    std::vector<CByteBuffer> pieces(static_cast<std::size_t>(pool.Threads()));
    // Each chunk's records are written while the next chunk's streams are
    // decoded: the writing is no longer time the other threads wait out.
    std::size_t unwritten = 0;  // points of the previous chunk still in the columns
    const std::function<void(int)> writePrevious = [&](int worker) {
        WriteChunk(nullptr, worker, las, cols, unwritten, progressCounter, pieces);
    };
    for (std::size_t k = 0; k < sizes.size(); ++k) {
        CheckPoint();
        h.SetNumberOfPointRecords(static_cast<uint32_t>(sizes[k]));
        const int64_t before = in.Position();
        if (decoder.Decode(in, static_cast<std::size_t>(sizes[k]), format, k + 1 < sizes.size(), cols,
                           unwritten > 0 ? writePrevious : std::function<void(int)>(), room)) {
            ++parallelChunks;
        }
        unwritten = cols.count;
        AddToRatio(ChunkBits(format, cols.count), in.Position() - before);
    }
    // The last chunk has no next to be written beside: its pieces are
    // gathered side by side instead.
    WriteChunk(&pool, 0, las, cols, unwritten, progressCounter, pieces);
}
