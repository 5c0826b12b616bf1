#include "engine/ExtEntry.h"

#include <zstd.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <optional>
#include <thread>

#include "engine/EngineMessages.h"
#include "engine/ExtPointModel.h"
#include "engine/ExtSymbols.h"
#include "engine/InOrderWork.h"
#include "engine/LargePages.h"
#include "las/ByteOrder.h"
#include "las/FileIo.h"
#include "las/LasException.h"
#include "las/PointFormat.h"

namespace extentry {

namespace {

// How the entry keeps the file: in parts (head, coded points, tail), or, when
// that would not be smaller, as one general-purpose compressed block.
constexpr uint8_t kParts = 1;
constexpr uint8_t kWhole = 2;
// Codecs of a piece of a block.
constexpr uint8_t kStored = 0;
constexpr uint8_t kZstd = 1;
// How a chunk keeps its records (from version 2 on; before, every chunk is
// symbols): coded by the point models, as they are, or as a zstd frame.
// Noise would take more coded than as it is, and records that repeat one
// another whole a general-purpose coder finds better than the models do.
constexpr uint8_t kChunkSymbols = 0;
constexpr uint8_t kChunkStored = 1;
constexpr uint8_t kChunkZstd = 2;
// Only chunks whose symbols take more than a third of their records are
// tried with zstd (level 3): a survey's take a quarter or less, and trying
// would cost about what coding them does. A first megabyte is tried before
// the whole chunk.
constexpr std::size_t kTryZstdAbove = 3;
constexpr int kChunkZstdLevel = 3;
constexpr std::size_t kZstdSample = 1u << 20;
// Records the models shrink by less than a tenth (noise, say) are better
// kept as they are or as zstd keeps them, and modelling them takes many
// times what zstd does. Where the file's first points were so, each chunk's
// first eighth is modelled before the whole chunk is.
constexpr std::size_t kModelSample = 8;
bool ModelHopeless(double coded, double raw) { return coded * 10 >= raw * 9; }
// Blocks are cut into pieces of at most this many bytes, so memory stays
// bounded whatever follows the points.
constexpr std::size_t kPieceBytes = 16u << 20;
// Points per chunk: chunks are coded on their own, and one chunk's records
// and symbols are what a coder holds at a time, so both are bounded. A
// decoder takes any chunk size up to this bound.
constexpr uint64_t kChunkPoints = 1u << 18;
constexpr uint64_t kChunkRecordBytes = 32u << 20;
uint64_t MaxChunkPoints(uint64_t recordLength) {
    return std::max<uint64_t>(1, std::min<uint64_t>(kChunkPoints, kChunkRecordBytes / recordLength));
}
// The symbols of extra fields a chunk may hold (4 bytes each while they are
// counted): a record's standard fields take a few dozen symbols at most,
// but extra fields coded byte by byte take one a byte, and long records of
// them would otherwise fill a chunk with hundreds of megabytes of symbols.
// No record without extra fields, nor one with a few of them, gets fewer
// points a chunk for it.
constexpr uint64_t kChunkExtraSymbols = 1u << 22;
// The points a chunk of these records gets.
uint64_t ChunkPointsFor(const PointLayout& layout) {
    const uint64_t extra = CExtPointModel::SymbolsAtMost(layout).extra;
    const uint64_t bySymbols = std::max<uint64_t>(1, kChunkExtraSymbols / std::max<uint64_t>(1, extra));
    return std::min(MaxChunkPoints(layout.recordLength), bySymbols);
}
// The symbols a chunk's points may take while they are coded, by what the
// file's first points take: noise in every field of a long record takes four
// times a survey's.
constexpr uint64_t kChunkSymbolBytes = 40u << 20;
// Contexts are split finely only where a chunk has points enough to fill
// them: for a small file the tables would cost more than they save.
constexpr uint64_t kRichPoints = 1u << 14;
// Fields a record may be described with.
constexpr uint64_t kMaxFields = 512;
// Files up to this size are also tried as one compressed block, and the
// smaller form is kept.
constexpr int64_t kTryWholeBelow = 4 << 20;
// Where the header block keeps the X scale (the same in every version).
constexpr std::size_t kScaleX = 131;

[[noreturn]] void Damaged() { throw CLasException(enginemsg::kExtDamaged); }

void Read(CFile& las, int64_t offset, uint8_t* to, std::size_t n, const Progress& progress) {
    if (n > 0 && (!las.Seek(offset) || !las.ReadExact(to, n))) {
        throw CLasException(lasmsg::kReadPoints, false, las.LastError());
    }
    if (progress.read) progress.read(offset, to, n);
}

void PutPiece(std::vector<uint8_t>& out, const uint8_t* data, std::size_t n) {
    std::vector<uint8_t> packed(ZSTD_compressBound(n));
    const int level = n <= (1u << 20) ? 19 : 3;
    const std::size_t size = ZSTD_compress(packed.data(), packed.size(), data, n, level);
    const bool shrinks = !ZSTD_isError(size) && size < n;
    out.push_back(shrinks ? kZstd : kStored);
    PutVarint(out, shrinks ? size : n);
    out.insert(out.end(), shrinks ? packed.data() : data, (shrinks ? packed.data() : data) + (shrinks ? size : n));
}

// A block of bytes that are not point records: its length, then pieces.
void PutBlock(std::vector<uint8_t>& out, CFile& las, int64_t offset, uint64_t length, const Progress& progress) {
    PutVarint(out, length);
    std::vector<uint8_t> piece;
    for (uint64_t done = 0; done < length;) {
        const std::size_t n = static_cast<std::size_t>(std::min<uint64_t>(kPieceBytes, length - done));
        piece.resize(n);
        Read(las, offset + static_cast<int64_t>(done), piece.data(), n, progress);
        PutPiece(out, piece.data(), n);
        done += n;
    }
}

// Reads the entry from a file, a bounded part at a time.
class Input {
public:
    Input(CFile& in, int64_t extent) : in(in), left(extent) {}
    const uint8_t* Take(std::size_t n) {
        TakeInto(buffer, n);
        return buffer.data();
    }
    // Reads n bytes into to (resized), for a chunk a worker decodes.
    void TakeInto(std::vector<uint8_t>& to, std::size_t n) {
        if (static_cast<int64_t>(n) > left) Damaged();
        to.resize(n);
        if (n > 0 && !in.ReadExact(to.data(), n)) Damaged();
        left -= static_cast<int64_t>(n);
    }
    uint8_t Byte() { return *Take(1); }
    void Skip(uint64_t n) {
        if (n > static_cast<uint64_t>(left) || !in.Seek(in.Tell() + static_cast<int64_t>(n))) Damaged();
        left -= static_cast<int64_t>(n);
    }
    uint64_t Varint() {
        uint64_t v = 0;
        for (unsigned shift = 0; shift < 64; shift += 7) {
            const uint8_t b = Byte();
            v |= uint64_t(b & 0x7F) << shift;
            if (!(b & 0x80)) return v;
        }
        Damaged();
    }
    int64_t Left() const { return left; }

private:
    CFile& in;
    int64_t left;
    std::vector<uint8_t> buffer;
};

void GetBlock(Input& in, uint64_t length, std::vector<uint8_t>& scratch,
              const std::function<void(const uint8_t*, std::size_t)>& sink) {
    for (uint64_t done = 0; done < length;) {
        const std::size_t n = static_cast<std::size_t>(std::min<uint64_t>(kPieceBytes, length - done));
        const uint8_t codec = in.Byte();
        const uint64_t stored = in.Varint();
        if (stored > static_cast<uint64_t>(in.Left())) Damaged();
        const uint8_t* data = in.Take(static_cast<std::size_t>(stored));
        if (codec == kStored) {
            if (stored != n) Damaged();
            sink(data, n);
        } else if (codec == kZstd) {
            scratch.resize(n);
            const std::size_t got = ZSTD_decompress(scratch.data(), n, data, stored);
            if (ZSTD_isError(got) || got != n) Damaged();
            sink(scratch.data(), n);
        } else {
            Damaged();
        }
        done += n;
    }
}

// The grid cell of the point models: about a metre (or a foot) in the
// file's own units, from the X scale; any scale that says nothing sensible
// gets a fixed one.
int64_t CellSizeOf(const std::vector<uint8_t>& head) {
    if (head.size() < kScaleX + 8) return 100;
    const double scale = le::LoadF64(head.data() + kScaleX);
    if (!(scale > 1e-9 && scale <= 1.0)) return 100;
    return std::max<int64_t>(1, static_cast<int64_t>(std::llround(1.0 / scale)));
}

void PutFields(std::vector<uint8_t>& out, const PointLayout& layout) {
    PutVarint(out, layout.recordLength);
    PutVarint(out, layout.fields.size());
    for (const PointField& f : layout.fields) {
        out.push_back(static_cast<uint8_t>(f.role));
        out.push_back(static_cast<uint8_t>(f.type));
        PutVarint(out, f.offset);
        PutVarint(out, f.size);
    }
}

// Reads a field list and checks that it tiles the records, with the sizes
// its types have: the models rely on both.
PointLayout GetFields(Input& in) {
    PointLayout layout;
    layout.recordLength = static_cast<std::size_t>(in.Varint());
    const uint64_t count = in.Varint();
    // More fields than a LAS file can describe (its standard ones and an
    // Extra Bytes VLR's at most 341, and the bytes after them) would only
    // make the models' tables grow.
    if (layout.recordLength == 0 || layout.recordLength > 0xFFFF || count == 0 || count > layout.recordLength ||
        count > kMaxFields) {
        Damaged();
    }
    std::size_t next = 0;
    for (uint64_t k = 0; k < count; ++k) {
        PointField f;
        const uint8_t role = in.Byte(), type = in.Byte();
        if (role > static_cast<uint8_t>(FieldRole::Extra) || type > static_cast<uint8_t>(FieldType::Bytes)) Damaged();
        f.role = static_cast<FieldRole>(role);
        f.type = static_cast<FieldType>(type);
        f.offset = static_cast<std::size_t>(in.Varint());
        f.size = static_cast<std::size_t>(in.Varint());
        const std::size_t typed = SizeOf(f.type);
        if (f.offset != next || f.size == 0 || f.size > layout.recordLength - next ||
            (typed != 0 && typed != f.size)) {
            Damaged();
        }
        // A field the models read as a number has the type its role has in
        // every format (coordinates, say, are signed 32-bit numbers, as the
        // grid keeps them).
        if (f.role != FieldRole::Extra && f.type != TypeOfRole(f.role)) Damaged();
        next += f.size;
        layout.fields.push_back(f);
    }
    if (next != layout.recordLength) Damaged();
    layout.standardLength = layout.recordLength;
    return layout;
}

// What one thread codes chunks with; kept from chunk to chunk, as every
// chunk starts the model afresh.
struct CompressWorker {
    CExtPointModel model;
    CSymbolSink sink;
    std::unique_ptr<ZSTD_CCtx, decltype(&ZSTD_freeCCtx)> zstd{ZSTD_createCCtx(), &ZSTD_freeCCtx};
    std::vector<uint8_t> packed;
    CompressWorker(const PointLayout& layout, int64_t cell, bool rich, std::size_t symbols)
        : model(layout, cell, rich), sink(model.TableCount()) {
        sink.Reserve(symbols);
    }
};

// A chunk on its way: its records read, then its coded bytes, and how they
// keep the records (the records themselves, when stored).
struct CompressChunk {
    // Large pages: the models look back at records all over the chunk.
    largepages::Vector<uint8_t> records;
    std::vector<uint8_t> coded;
    uint8_t form = kChunkSymbols;
    std::size_t points = 0;
    const uint8_t* Payload() const { return form == kChunkStored ? records.data() : coded.data(); }
    std::size_t PayloadBytes() const { return form == kChunkStored ? records.size() : coded.size(); }
};

// Codes a chunk, and keeps its records in the form that takes fewest bytes.
// doubtful: the file's first points did not shrink.
void CodeChunk(CompressChunk& c, CompressWorker& w, bool doubtful) {
    const std::size_t raw = c.records.size();
    bool modelled = true;
    if (doubtful) {
        const std::size_t n = std::max<std::size_t>(1, c.points / kModelSample);
        w.model.Code(w.sink, c.records.data(), n);
        const std::size_t estimate = w.sink.EstimateAndForget();
        modelled = !ModelHopeless(static_cast<double>(estimate), static_cast<double>(n * raw / c.points));
    }
    c.coded.clear();
    if (modelled) {
        w.model.Code(w.sink, c.records.data(), c.points);
        w.sink.Finish(c.coded);
    }
    c.form = kChunkSymbols;
    if ((!modelled || c.coded.size() > raw / kTryZstdAbove) && w.zstd) {
        // A frame is of use only in less room than the symbols or the
        // records take, so it gets no more. The first megabyte tells noise,
        // which nothing shrinks, without the room for the whole chunk.
        const std::size_t limit = (modelled ? std::min(c.coded.size(), raw) : raw) - 1;
        auto frame = [&](std::size_t n, std::size_t room) -> std::size_t {
            w.packed.resize(room);
            const std::size_t size =
                ZSTD_compressCCtx(w.zstd.get(), w.packed.data(), room, c.records.data(), n, kChunkZstdLevel);
            return ZSTD_isError(size) ? 0 : size;
        };
        const std::size_t sample = std::min(raw, kZstdSample);
        const bool promising = sample == raw || frame(sample, limit * sample / raw) > 0;
        if (const std::size_t size = promising ? frame(raw, limit) : 0; size > 0) {
            w.packed.resize(size);
            c.coded.swap(w.packed);
            c.form = kChunkZstd;
        }
    }
    if ((!modelled && c.form == kChunkSymbols) || c.coded.size() >= raw) {
        c.coded.clear();
        c.form = kChunkStored;
    }
}

struct DecompressWorker {
    CExtPointModel model;
    CSymbolSource source;
    std::unique_ptr<ZSTD_DCtx, decltype(&ZSTD_freeDCtx)> zstd{ZSTD_createDCtx(), &ZSTD_freeDCtx};
    DecompressWorker(const PointLayout& layout, int64_t cell, bool rich) : model(layout, cell, rich) {}
};

// A chunk on its way back: its coded bytes read, then its records.
struct DecompressChunk {
    std::vector<uint8_t> coded;
    largepages::Vector<uint8_t> records;
    std::size_t points = 0;
    bool sound = false;
};

// Gives back a chunk's records from its bytes as the entry keeps them;
// false when they are damaged.
bool DecodeChunk(DecompressChunk& c, DecompressWorker& w, std::size_t recordLength, bool withForm) {
    const uint8_t* p = c.coded.data();
    const uint8_t* const end = p + c.coded.size();
    uint8_t form = kChunkSymbols;
    if (withForm) {
        if (p == end) return false;
        form = *p++;
    }
    const std::size_t raw = c.points * recordLength;
    c.records.resize(raw);
    switch (form) {
        case kChunkSymbols:
            if (!w.source.Start(p, end, w.model.TableCount())) return false;
            w.model.Code(w.source, c.records.data(), c.points);
            return w.source.Ended();
        case kChunkStored:
            if (static_cast<std::size_t>(end - p) != raw) return false;
            std::copy(p, end, c.records.begin());
            return true;
        case kChunkZstd: {
            if (!w.zstd) throw std::bad_alloc();
            const std::size_t got =
                ZSTD_decompressDCtx(w.zstd.get(), c.records.data(), raw, p, static_cast<std::size_t>(end - p));
            return !ZSTD_isError(got) && got == raw;
        }
        default:
            return false;
    }
}

// What the points of a file take a point while they are coded, in bytes:
// symbols waiting to be coded (compressing), and coded bytes. Measured on
// the file's first points, as they differ far from file to file (about 60
// bytes of symbols and 4 coded for a survey, 250 and 70 for noise); before
// that, or decoding, they are estimated.
struct Density {
    double symbols = 100, coded = 40;
    // And the tables, a thread's own: their counts and codes, up to 5 KB
    // each; several thousand where records are long.
    uint64_t tableBytes = 0;
};

// Memory of the job besides its chunks: a thread's model (its grid is 4
// MB) and tables, and compressing, a chunk's symbols and their coded words,
// with room for points that take more than the first did, and where the
// symbols take more than a third of the records, the room of a zstd try.
uint64_t PerWorkerBytes(uint64_t points, std::size_t recordLength, const Density& d, bool compressing) {
    const double tried = d.coded > static_cast<double>(recordLength) / kTryZstdAbove ? d.coded : 0;
    return (5u << 20) + d.tableBytes +
           (compressing ? static_cast<uint64_t>(static_cast<double>(points) * 1.1 * (d.symbols + d.coded + tried)) : 0);
}
// A chunk on its way: its records and its coded bytes.
uint64_t PerChunkBytes(uint64_t points, std::size_t recordLength, const Density& d) {
    return static_cast<uint64_t>(static_cast<double>(points) * (static_cast<double>(recordLength) + 1.1 * d.coded));
}
// What the default threads may hold by these estimates; the chunk read
// ahead may take that to kMemoryCeiling. With the program's own memory,
// that keeps a job within about 128 MB.
constexpr uint64_t kMemoryBudget = 104u << 20;
constexpr uint64_t kMemoryCeiling = 112u << 20;

// The threads that code chunks (none: the caller codes them) and the chunks
// on their way at once: one more than the threads, so that a thread that
// finishes its chunk finds the next one read, where memory allows.
struct Plan {
    std::size_t threads = 0, chunks = 1;
    // Models and their working memory: one per thread, or the caller's.
    std::size_t Workers() const { return std::max<std::size_t>(1, threads); }
};
// For chunks of `points` records (the last may have fewer). By default one
// thread per core, at most four, and fewer where their chunks' memory would
// take the job past the budget.
Plan PlanFor(int asked, uint64_t chunks, uint64_t points, std::size_t recordLength, const Density& d,
             bool compressing) {
    const uint64_t perChunk = PerChunkBytes(points, recordLength, d);
    const uint64_t perWorker = PerWorkerBytes(points, recordLength, d, compressing) + perChunk;
    const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
    const uint64_t byMemory = std::max<uint64_t>(1, kMemoryBudget / perWorker);
    const uint64_t threads = asked > 0 ? static_cast<uint64_t>(asked) : std::min<uint64_t>({cores, 4, byMemory});
    const auto workers = static_cast<std::size_t>(std::min<uint64_t>(chunks, threads));
    if (workers <= 1) return {};
    const bool another = workers * perWorker + perChunk <= kMemoryCeiling;
    return {workers, workers + (another ? 1 : 0)};
}

// Codes the file's first points (read past the progress callback: they are
// read again with their chunk) to see what its points take.
Density Measure(CFile& las, const LasFileLayout& l, uint64_t chunkPoints, CompressWorker& w) {
    const std::size_t n = static_cast<std::size_t>(std::min<uint64_t>({l.pointCount, chunkPoints, 8192}));
    largepages::Vector<uint8_t> records(n * l.recordLength);
    Read(las, l.offsetToPoints, records.data(), records.size(), {});
    w.model.Code(w.sink, records.data(), n);
    const double symbols = static_cast<double>(w.sink.Pending()) * sizeof(uint32_t);
    // A whole chunk may use more of the tables than its first points do.
    const uint64_t tables = 2 * w.sink.TablesUsed() * (5u << 10);
    std::vector<uint8_t> coded;
    w.sink.Finish(coded);
    return {symbols / static_cast<double>(n), static_cast<double>(coded.size()) / static_cast<double>(n), tables};
}

std::vector<uint8_t> Whole(CFile& las, int64_t size, const Progress& progress) {
    std::vector<uint8_t> out = {kMarker, kVersion, kWhole};
    PutVarint(out, static_cast<uint64_t>(size));
    PutBlock(out, las, 0, static_cast<uint64_t>(size), progress);
    return out;
}

}  // namespace

int64_t Compress(CFile& las, const LasFileLayout& l, CFile& out, const Progress& progress, int threads) {
    const int64_t start = out.Tell();
    std::vector<uint8_t> bytes = {kMarker, kVersion, kParts};
    PutVarint(bytes, static_cast<uint64_t>(l.fileSize));
    // What the records are and the grid's cell are read from the header
    // block and the VLRs after it; a VLR area larger than a piece is not
    // held whole for that (an Extra Bytes VLR beyond it goes unread, and the
    // extra bytes are coded as bytes).
    std::vector<uint8_t> head(std::min<std::size_t>(l.offsetToPoints, kPieceBytes));
    Read(las, 0, head.data(), head.size(), progress);
    PutBlock(bytes, las, 0, l.offsetToPoints, progress);
    const bool small = l.fileSize < kTryWholeBelow;
    auto flush = [&] {
        if (small) return;
        if (!out.Write(bytes.data(), bytes.size())) throw CLasException(enginemsg::kWriteEntry, false, out.LastError());
        bytes.clear();
    };
    PutVarint(bytes, l.pointCount);
    if (l.pointCount > 0) {
        const PointLayout layout = DescribeFileRecords(l, head, kMaxFields);
        PutFields(bytes, layout);
        const int64_t cell = CellSizeOf(head);
        PutVarint(bytes, static_cast<uint64_t>(cell));
        uint64_t chunkPoints = ChunkPointsFor(layout);
        const bool rich = l.pointCount >= kRichPoints;
        // Room for as many symbols as a chunk's points can take, so the
        // buffer is never moved while it grows (room not used is never
        // touched).
        const std::size_t symbolsAtMost = CExtPointModel::SymbolsAtMost(layout).Total();
        auto symbolRoom = [&] { return static_cast<std::size_t>(std::min(chunkPoints, l.pointCount)) * symbolsAtMost; };
        std::vector<std::unique_ptr<CompressWorker>> workers;
        workers.push_back(std::make_unique<CompressWorker>(layout, cell, rich, 0));
        // The file's first points, coded once where something needs what
        // they take.
        std::optional<Density> density;
        auto measured = [&]() -> const Density& {
            if (!density) density = Measure(las, l, chunkPoints, *workers[0]);
            return *density;
        };
        // Where a chunk's symbols could pass their bound, what the points
        // really take decides.
        if (symbolRoom() * sizeof(uint32_t) > kChunkSymbolBytes) {
            const auto bySymbols = static_cast<uint64_t>(static_cast<double>(kChunkSymbolBytes) / measured().symbols);
            chunkPoints = std::max<uint64_t>(1, std::min(chunkPoints, bySymbols));
        }
        const std::size_t symbols = symbolRoom();
        workers[0]->sink.Reserve(symbols);
        PutVarint(bytes, chunkPoints);
        bytes.push_back(rich ? 1 : 0);
        // Chunks are read in turn, coded side by side, and written in order.
        const uint64_t chunks = (l.pointCount + chunkPoints - 1) / chunkPoints;
        // Whatever the threads, so that the entry is the same.
        const bool doubtful = chunks > 1 && ModelHopeless(measured().coded, static_cast<double>(l.recordLength));
        const Plan plan =
            chunks > 1 && threads != 1 ? PlanFor(threads, chunks, chunkPoints, l.recordLength, measured(), true) : Plan{};
        while (workers.size() < plan.Workers()) {
            workers.push_back(std::make_unique<CompressWorker>(layout, cell, rich, symbols));
        }
        CInOrderWork<CompressChunk> work(plan.threads, plan.chunks,
                                         [&](CompressChunk& c, std::size_t worker) { CodeChunk(c, *workers[worker], doubtful); });
        uint64_t written = 0;
        for (uint64_t first = 0; written < l.pointCount;) {
            for (; work.Room() && first < l.pointCount; work.Put()) {
                if (progress.checkPoint) progress.checkPoint();
                CompressChunk& c = work.Next();
                c.points = static_cast<std::size_t>(std::min(chunkPoints, l.pointCount - first));
                c.records.resize(c.points * l.recordLength);
                Read(las, l.offsetToPoints + static_cast<int64_t>(first * l.recordLength), c.records.data(),
                     c.records.size(), progress);
                first += c.points;
            }
            const CompressChunk& c = work.Oldest();
            PutVarint(bytes, 1 + c.PayloadBytes());
            bytes.push_back(c.form);
            if (small) {
                bytes.insert(bytes.end(), c.Payload(), c.Payload() + c.PayloadBytes());
            } else {
                // Written from where it lies: a copy would hold it twice.
                flush();
                if (!out.Write(c.Payload(), c.PayloadBytes())) {
                    throw CLasException(enginemsg::kWriteEntry, false, out.LastError());
                }
            }
            written += c.points;
            work.Release();
            flush();
            if (progress.points) progress.points(written, l.pointCount);
        }
    }
    PutBlock(bytes, las, l.PointsEnd(), static_cast<uint64_t>(l.TailBytes()), progress);
    if (small) {
        // A small or odd file may do better as one block.
        std::vector<uint8_t> whole = Whole(las, l.fileSize, progress);
        if (whole.size() < bytes.size()) bytes.swap(whole);
    }
    if (!out.Write(bytes.data(), bytes.size())) throw CLasException(enginemsg::kWriteEntry, false, out.LastError());
    return out.Tell() - start;
}

struct Reader::Impl {
    Impl(CFile& file, int64_t extent, const Progress& progress, int threads, int64_t expectedLength)
        : in(file, extent), progress(progress), threads(threads), expectedLength(expectedLength) {}
    Input in;
    Progress progress;
    int threads;
    int64_t expectedLength;
    enum class Stage { Start, Points, Tail, Done } stage = Stage::Start;
    uint64_t fileLength = 0, given = 0;
    // Points whose chunks were read, and handed out.
    uint64_t headLength = 0, points = 0, first = 0, handed = 0, chunkPoints = 0;
    PointLayout layout;
    std::vector<std::unique_ptr<DecompressWorker>> workers;
    // Declared after the workers it uses, so it ends (and waits for its
    // threads) before they do.
    std::unique_ptr<CInOrderWork<DecompressChunk>> work;
    std::vector<uint8_t> scratch;
    bool skipPoints = false;
    uint8_t version = 0;

    void Give(const Sink& sink, const uint8_t* data, std::size_t n) {
        given += n;
        if (given > fileLength) Damaged();
        sink(data, n);
    }
    void Start(const Sink& sink);
    void Batch(const Sink& sink);
    void Tail(const Sink& sink);
};

void Reader::Impl::Start(const Sink& sink) {
    if (in.Byte() != kMarker) Damaged();
    version = in.Byte();
    if (version > kVersion) throw CLasException(enginemsg::kExtNewer);
    if (version == 0) Damaged();
    const uint8_t storage = in.Byte();
    fileLength = in.Varint();
    if (expectedLength >= 0 && fileLength != static_cast<uint64_t>(expectedLength)) Damaged();
    const auto give = [&](const uint8_t* data, std::size_t n) { Give(sink, data, n); };
    if (storage == kWhole) {
        if (in.Varint() != fileLength) Damaged();
        GetBlock(in, fileLength, scratch, give);
        stage = Stage::Done;
        return;
    }
    if (storage != kParts) Damaged();
    headLength = in.Varint();
    if (headLength > fileLength) Damaged();
    // The field list says all the points need of the head: it is handed
    // on a piece at a time, never held whole.
    GetBlock(in, headLength, scratch, give);
    points = in.Varint();
    stage = Stage::Tail;
    if (points == 0) return;
    layout = GetFields(in);
    if (points > (fileLength - headLength) / layout.recordLength) Damaged();
    const int64_t cell = static_cast<int64_t>(in.Varint());
    chunkPoints = in.Varint();
    // Any chunk size an encoder chose, as long as a chunk's records
    // stay within the bound that keeps a decoder's memory small.
    if (cell <= 0 || chunkPoints == 0 || chunkPoints > MaxChunkPoints(layout.recordLength)) Damaged();
    const uint8_t contexts = in.Byte();
    if (contexts > 1) Damaged();
    // The coded bytes a point takes, from what is left of the entry.
    const Density density{0, static_cast<double>(in.Left()) / static_cast<double>(points)};
    const Plan plan = PlanFor(threads, (points + chunkPoints - 1) / chunkPoints, chunkPoints, layout.recordLength,
                              density, false);
    for (std::size_t j = 0; j < plan.Workers(); ++j) {
        workers.push_back(std::make_unique<DecompressWorker>(layout, cell, contexts == 1));
    }
    work = std::make_unique<CInOrderWork<DecompressChunk>>(
        plan.threads, plan.chunks, [this](DecompressChunk& c, std::size_t worker) {
            c.sound = DecodeChunk(c, *workers[worker], layout.recordLength, version >= 2);
        });
    stage = Stage::Points;
}

void Reader::Impl::Batch(const Sink& sink) {
    if (skipPoints) {
        // Chunks read ahead are dropped (their threads finish first), and
        // the rest passed by their lengths; the tail's check still holds,
        // as the points are counted as given.
        work.reset();
        workers.clear();
        for (; first < points; first += std::min(chunkPoints, points - first)) {
            if (progress.checkPoint) progress.checkPoint();
            in.Skip(in.Varint());
        }
        given += (points - handed) * layout.recordLength;
        if (given > fileLength) Damaged();
        stage = Stage::Tail;
        return;
    }
    // Chunks are read ahead as far as there is room, decoded side by side,
    // and handed out one a step, in order.
    for (; work->Room() && first < points; work->Put()) {
        if (progress.checkPoint) progress.checkPoint();
        DecompressChunk& c = work->Next();
        c.points = static_cast<std::size_t>(std::min(chunkPoints, points - first));
        const uint64_t size = in.Varint();
        if (size > static_cast<uint64_t>(in.Left())) Damaged();
        in.TakeInto(c.coded, static_cast<std::size_t>(size));
        first += c.points;
    }
    const DecompressChunk& c = work->Oldest();
    if (!c.sound) Damaged();
    Give(sink, c.records.data(), c.records.size());
    handed += c.points;
    work->Release();
    if (progress.points) progress.points(handed, points);
    if (handed == points) {
        work.reset();
        workers.clear();
        stage = Stage::Tail;
    }
}

void Reader::Impl::Tail(const Sink& sink) {
    const uint64_t tail = in.Varint();
    if (tail != fileLength - given) Damaged();
    GetBlock(in, tail, scratch, [&](const uint8_t* data, std::size_t n) { Give(sink, data, n); });
    stage = Stage::Done;
}

Reader::Reader(CFile& file, int64_t extent, const Progress& progress, int threads, int64_t expectedLength)
    : impl(std::make_unique<Impl>(file, extent, progress, threads, expectedLength)) {}

Reader::~Reader() = default;

bool Reader::Step(const Sink& sink) {
    using Stage = Impl::Stage;
    switch (impl->stage) {
        case Stage::Start: impl->Start(sink); break;
        case Stage::Points: impl->Batch(sink); break;
        case Stage::Tail: impl->Tail(sink); break;
        case Stage::Done: return false;
    }
    if (impl->stage == Stage::Done && (impl->given != impl->fileLength || impl->in.Left() != 0)) Damaged();
    return true;
}

uint64_t Reader::FileLength() const { return impl->fileLength; }

void Reader::SkipPoints() { impl->skipPoints = true; }

void Decompress(CFile& file, int64_t extent, const Sink& sink, const Progress& progress, int threads,
                int64_t expectedLength) {
    Reader reader(file, extent, progress, threads, expectedLength);
    while (reader.Step(sink)) {
    }
}

bool ReadHead(CFile& file, int64_t extent, uint64_t& fileLength, std::vector<uint8_t>& head) {
    try {
        Input in(file, extent);
        if (in.Byte() != kMarker) return false;
        const uint8_t version = in.Byte();
        if (version == 0 || version > kVersion) return false;
        in.Byte();
        fileLength = in.Varint();
        const uint64_t length = std::min<uint64_t>(in.Varint(), fileLength);
        std::vector<uint8_t> scratch;
        head.clear();
        // Only the first piece is needed, and it holds the header block.
        const uint64_t first = std::min<uint64_t>(length, kPieceBytes);
        GetBlock(in, first, scratch, [&](const uint8_t* data, std::size_t n) {
            head.insert(head.end(), data, data + std::min(n, kLasLayoutBytes));
        });
        return true;
    } catch (const CLasException&) {
        return false;
    }
}

}  // namespace extentry
