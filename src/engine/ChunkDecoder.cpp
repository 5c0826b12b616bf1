#include "engine/ChunkDecoder.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <optional>
#include <vector>

#include "engine/AttributeCodec.h"
#include "engine/ByteStreamCoder.h"
#include "engine/ChunkColumns.h"
#include "engine/ChunkRows.h"
#include "engine/CoordinateCodec.h"
#include "engine/GpsTimeCodec.h"
#include "engine/InputWindow.h"
#include "engine/TaskPool.h"
#include "engine/ValueBlockCoder.h"
#include "las/ByteOrder.h"
#include "las/LasException.h"

namespace chunkdecoder {

using namespace chunkrows;

namespace {

constexpr std::size_t kTable = bytestream::kCountBytes;

struct Stream {
    std::size_t table = 0;   // offset of its count table, from the chunk start
    std::size_t length = 0;  // bytes it decodes to
    std::size_t next = 0;    // where the scan found the next item
    std::vector<uint8_t> bytes;
    std::size_t decodedNext = 0;
};

struct Block {
    std::size_t firstAt = 0;
    int32_t first = 0;
    Stream header;
    int planes = 0;
    Stream plane[4];
};

struct RowSlots {
    Row row;
    Stream bytes;  // byte-stream rows
    Block block[2];
    int blocks = 0;
};

// What may follow an item: the next row's first item, or the end of the
// chunk (where the next chunk's first byte stream begins, if any).
enum class Follow { ByteStream, ValueBlock, ChunkEnd, EntryEnd };

class Scanner {
public:
    Scanner(InputWindow& in, std::size_t limit) : in_(in), limit_(limit) {}

    // Makes [0, end) of the chunk addressable; false past the limit or the file.
    bool Have(std::size_t end) {
        if (end <= have_) return true;
        if (end > limit_) return false;
        const std::size_t want = std::min(limit_, std::max(end, have_ + (have_ >> 1) + (1u << 20)));
        have_ = in_.Ensure(want);
        data_ = in_.Data();
        return end <= have_;
    }
    const uint8_t* Data() const { return data_; }
    std::size_t Size() const { return have_; }

    bool ValidTable(std::size_t at) {
        if (!Have(at + kTable)) return false;
        uint32_t prev = 0;
        for (std::size_t k = 0; k < 256; ++k) {
            const uint32_t v = le::LoadU16(data_ + at + 2 * k);
            if (v < prev) return false;
            prev = v;
        }
        return prev == bytestream::kTotal;
    }
    // Coded bits to expect for `length` symbols of the model in the (valid)
    // count table at `at`: the model is the stream's own histogram scaled to
    // 10,000, so each value occurs about f * length / 10,000 times (at least
    // once when it has a frequency) and costs log2(10,000 / f) bits; the
    // flush and the padding add a few more.
    double ExpectedBits(std::size_t at, std::size_t length) const {
        double bits = 5.0;
        uint32_t prev = 0;
        for (std::size_t k = 0; k < 256; ++k) {
            const uint32_t high = le::LoadU16(data_ + at + 2 * k);
            if (high > prev) {
                const double f = static_cast<double>(high - prev);
                const double count = std::max(1.0, f * static_cast<double>(length) / bytestream::kTotal);
                bits += count * std::log2(bytestream::kTotal / f);
            }
            prev = high;
        }
        return bits;
    }
    bool PlaneAt(std::size_t at, std::size_t maxCount) {
        if (!Have(at + 4)) return false;
        const int32_t k = le::LoadI32(data_ + at);
        return k >= 1 && static_cast<std::size_t>(k) <= maxCount && ValidTable(at + 4);
    }
    bool FollowsAt(std::size_t at, Follow f) {
        switch (f) {
            case Follow::ByteStream: return ValidTable(at);
            case Follow::ValueBlock: return ValidTable(at + 4);
            case Follow::ChunkEnd: return ValidTable(at);
            case Follow::EntryEnd: return true;
        }
        return false;
    }
    // Offset after the first end marker behind the stream whose table is at
    // `table` that `ok` accepts as followed by a sound item.
    template <class Ok>
    std::optional<std::size_t> StreamEnd(std::size_t table, const Ok& ok) {
        std::size_t from = table + kTable + 1;  // at least one coded byte
        for (;;) {
            if (!Have(from + 3)) {
                if (!Have(std::min(limit_, have_ + 1))) return std::nullopt;
                continue;
            }
            const uint8_t* p = data_ + from;
            const uint8_t* end = data_ + have_ - 2;
            const uint8_t* hit = nullptr;
            while (p < end) {
                p = static_cast<const uint8_t*>(std::memchr(p, 0xFF, static_cast<std::size_t>(end - p)));
                if (!p) break;
                if (p[1] == 0xFF && p[2] == 0x00) {
                    hit = p;
                    break;
                }
                ++p;
            }
            if (!hit) {
                from = have_ - 2;
                if (!Have(have_ + 1)) return std::nullopt;
                continue;
            }
            const std::size_t next = static_cast<std::size_t>(hit - data_) + 3;
            if (ok(next)) return next;
            from = static_cast<std::size_t>(hit - data_) + 1;
        }
    }

private:
    InputWindow& in_;
    std::size_t limit_;
    std::size_t have_ = 0;
    const uint8_t* data_ = nullptr;
};

// Four bytes and a count table after a block's stream could be the block's
// next plane (k bytes) or the next block's first value and header stream (n
// bytes). A stream is coded in very nearly the size its own model predicts
// for its length, so the coded size of the stream found there tells the two
// apart; where it cannot, a plane that is as long as the header would be is
// the likely reading, and a short one is cheap to decode on trial. A wrong
// choice is still caught by the checks after decoding.
bool LooksLikePlane(Scanner& sc, Stream& plane, std::size_t end, std::size_t n) {
    const std::size_t k = plane.length;
    const double bits = 8.0 * static_cast<double>(end - plane.table - kTable - 3);
    const double offPlane = std::abs(bits - sc.ExpectedBits(plane.table, k));
    const double offHeader = std::abs(bits - sc.ExpectedBits(plane.table, n));
    if (std::abs(offPlane - offHeader) > std::max(48.0, 0.02 * bits)) return offPlane < offHeader;
    if (2 * k >= n) return true;
    plane.bytes.resize(k);
    try {
        return bytestream::DecodeByteStreamAt(sc.Data(), sc.Size(), plane.table, plane.bytes.data(), k) == end;
    } catch (const CLasException&) {
        return false;
    }
}

// Finds every stream of a value block of `count` values starting at `at`.
std::optional<std::size_t> ScanBlock(Scanner& sc, std::size_t at, std::size_t count, Follow follow, Block& b) {
    const std::size_t n = count - 1;
    b.firstAt = at;
    if (!sc.Have(at + 4)) return std::nullopt;
    b.first = le::LoadI32(sc.Data() + at);
    b.header.table = at + 4;
    b.header.length = n;
    b.planes = 0;
    if (!sc.ValidTable(b.header.table)) return std::nullopt;
    std::size_t kMax = n;
    auto sound = [&](std::size_t e) { return sc.PlaneAt(e, kMax) || sc.FollowsAt(e, follow); };
    std::optional<std::size_t> e = sc.StreamEnd(b.header.table, sound);
    if (!e) return std::nullopt;
    b.header.next = *e;
    while (b.planes < 4) {
        const bool plane = sc.PlaneAt(*e, kMax);
        const bool next = sc.FollowsAt(*e, follow);
        if (!plane && !next) return std::nullopt;
        if (!plane) break;
        const std::size_t k = static_cast<std::size_t>(le::LoadI32(sc.Data() + *e));
        Stream& s = b.plane[b.planes];
        s.table = *e + 4;
        s.length = k;
        kMax = k;  // each plane holds a subset of the values of the one before
        const std::optional<std::size_t> pe = sc.StreamEnd(s.table, sound);
        if (!pe) return std::nullopt;
        if (next && !LooksLikePlane(sc, s, *pe, n)) break;
        s.next = *pe;
        ++b.planes;
        e = pe;
    }
    return e;
}

Follow FollowOf(std::size_t rowIndex, const std::vector<Row>& rows, bool moreChunks) {
    if (rowIndex + 1 < rows.size()) {
        return BlocksOf(rows[rowIndex + 1]) ? Follow::ValueBlock : Follow::ByteStream;
    }
    return moreChunks ? Follow::ChunkEnd : Follow::EntryEnd;
}

bool Scan(Scanner& sc, std::size_t count, int format, bool moreChunks, std::vector<RowSlots>& slots,
          std::size_t& chunkEnd) {
    std::vector<Row> rows;
    for (const RowInfo& info : kRows) {
        if (RowApplies(info.row, format)) rows.push_back(info.row);
    }
    std::size_t at = 0;
    slots.clear();
    for (std::size_t r = 0; r < rows.size(); ++r) {
        RowSlots s;
        s.row = rows[r];
        const Follow after = FollowOf(r, rows, moreChunks);
        const int blocks = BlocksOf(s.row);
        if (blocks == 0) {
            if (!sc.ValidTable(at)) return false;
            s.bytes.table = at;
            s.bytes.length = count;
            const auto e = sc.StreamEnd(at, [&](std::size_t e) { return sc.FollowsAt(e, after); });
            if (!e) return false;
            s.bytes.next = *e;
            at = *e;
        } else {
            s.blocks = blocks;
            for (int b = 0; b < blocks; ++b) {
                const Follow f = b + 1 < blocks ? Follow::ValueBlock : after;
                const auto e = ScanBlock(sc, at, count, f, s.block[b]);
                if (!e) return false;
                at = *e;
            }
        }
        slots.push_back(std::move(s));
    }
    chunkEnd = at;
    // The end marker of the last stream may be judged by the bytes after it.
    sc.Have(at + 8);
    return true;
}

std::vector<int32_t> Values(const Block& b, std::size_t count) {
    valueblock::PlaneBytes planes[4];
    for (int p = 0; p < b.planes; ++p) planes[p] = {b.plane[p].bytes.data(), b.plane[p].bytes.size()};
    std::vector<int32_t> v(count);
    valueblock::AssembleValueBlock(b.first, b.header.bytes.data(), count, planes, b.planes, v.data());
    return v;
}

}  // namespace

struct ParallelChunk::State {
    std::size_t count = 0;
    std::vector<RowSlots> slots;
    std::vector<Stream*> streams;  // longest first
    std::size_t end = 0;
    const uint8_t* data = nullptr;
    std::size_t size = 0;
    std::atomic<bool> failed{false};
    ChunkColumns cols;

    RowSlots* Find(Row row) {
        for (RowSlots& s : slots) {
            if (s.row == row) return &s;
        }
        return nullptr;
    }
};

ParallelChunk::ParallelChunk() : s_(std::make_unique<State>()) {}
ParallelChunk::~ParallelChunk() = default;

bool ParallelChunk::Scan(InputWindow& in, std::size_t count, int format, bool moreChunks) {
    if (count < 2) return false;
    // An upper bound on the chunk's coded size keeps memory bounded even for
    // data that hardly compresses; beyond it the caller's reader takes over.
    const std::size_t limit = count * 48 + (std::size_t{16} << 20);
    Scanner sc(in, limit);
    State& st = *s_;
    st.count = count;
    if (!chunkdecoder::Scan(sc, count, format, moreChunks, st.slots, st.end)) return false;
    st.data = sc.Data();
    st.size = sc.Size();
    for (RowSlots& r : st.slots) {
        if (r.blocks == 0) st.streams.push_back(&r.bytes);
        for (int b = 0; b < r.blocks; ++b) {
            st.streams.push_back(&r.block[b].header);
            for (int p = 0; p < r.block[b].planes; ++p) st.streams.push_back(&r.block[b].plane[p]);
        }
    }
    std::stable_sort(st.streams.begin(), st.streams.end(),
                     [](const Stream* a, const Stream* b) { return a->next - a->table > b->next - b->table; });
    return true;
}

std::size_t ParallelChunk::Size() const { return s_->end; }

void ParallelChunk::EntropyTasks(std::vector<std::function<void()>>& tasks, const std::function<void()>& checkStop) {
    State& st = *s_;
    // Streams go in pairs of similar length: two decoders in one loop keep
    // the processor busy while each waits on its own divisions and loads.
    for (std::size_t i = 0; i < st.streams.size(); i += 2) {
        Stream* a = st.streams[i];
        Stream* b = i + 1 < st.streams.size() ? st.streams[i + 1] : nullptr;
        tasks.emplace_back([&st, a, b, checkStop] {
            checkStop();
            try {
                a->bytes.resize(a->length);
                if (!b) {
                    a->decodedNext = bytestream::DecodeByteStreamAt(st.data, st.size, a->table, a->bytes.data(),
                                                                    a->length);
                    return;
                }
                b->bytes.resize(b->length);
                bytestream::StreamRequest ra{a->table, a->bytes.data(), a->length, 0};
                bytestream::StreamRequest rb{b->table, b->bytes.data(), b->length, 0};
                bytestream::DecodeTwoByteStreamsAt(st.data, st.size, ra, rb);
                a->decodedNext = ra.next;
                b->decodedNext = rb.next;
            } catch (const CStopRequested&) {
                throw;
            } catch (const CLasException&) {
                // Not where it was assumed (or damaged): the caller decodes
                // this chunk stream after stream, which tells which.
                st.failed = true;
            }
        });
    }
}

bool ParallelChunk::Verify() const {
    const State& st = *s_;
    if (st.failed) return false;
    // The boundaries hold only if each stream ended where the next was
    // assumed to begin and each block has as many planes as its header says.
    for (const Stream* stream : st.streams) {
        if (stream->decodedNext != stream->next) return false;
    }
    for (const RowSlots& r : st.slots) {
        for (int b = 0; b < r.blocks; ++b) {
            const Block& blk = r.block[b];
            if (valueblock::PlaneCount(blk.header.bytes.data(), blk.header.length) != blk.planes) return false;
        }
    }
    return true;
}

void ParallelChunk::RestoreTasks(std::vector<std::function<void()>>& tasks, const PointView& pts,
                                 const std::function<void()>& checkStop, const std::function<void()>& rowDone) {
    State& st = *s_;
    const std::size_t n = st.count;
    auto restoreBytes = [&st, pts, rowDone](Row row) {
        attrs::RestoreByteAttr(ByteAttrOf(row), st.Find(row)->bytes.bytes.data(), pts, st.cols);
        rowDone();
    };
    // The coordinate chain, the return bits with the GPS time that needs
    // their scan direction, and the independent rest.
    tasks.emplace_back([&st, pts, n, checkStop, rowDone] {
        checkStop();
        coords::RestoreX(st.cols, Values(st.Find(Row::X)->block[0], n));
        rowDone();
        coords::RestoreY(st.cols, Values(st.Find(Row::Y)->block[0], n));
        rowDone();
        checkStop();
        coords::RestoreZ(st.cols, Values(st.Find(Row::Z)->block[0], n));
        rowDone();
        for (std::size_t i = 0; i < n; ++i) {
            pts.SetX(i, st.cols.x[i]);
            pts.SetY(i, st.cols.y[i]);
            pts.SetZ(i, st.cols.z[i]);
        }
        const std::vector<int32_t> r = Values(st.Find(Row::Intensity)->block[0], n);
        attrs::RestoreIntensity(r.data(), pts, st.cols);
        rowDone();
    });
    tasks.emplace_back([&st, pts, n, checkStop, rowDone, restoreBytes] {
        checkStop();
        // These four share one byte of the record: one task, one writer.
        for (Row row : {Row::ScanDirection, Row::ReturnNumber, Row::NumberOfReturns, Row::Edge}) restoreBytes(row);
        if (RowSlots* gps = st.Find(Row::GpsTime)) {
            const std::vector<int32_t> high = Values(gps->block[0], n);
            const std::vector<int32_t> low = Values(gps->block[1], n);
            gpstime::Restore(high.data(), low.data(), pts, st.cols.flags);
            rowDone();
        }
    });
    tasks.emplace_back([&st, pts, n, checkStop, rowDone, restoreBytes] {
        checkStop();
        for (Row row : {Row::UserData, Row::ScanAngle, Row::Classification}) restoreBytes(row);
        const std::vector<int32_t> psid = Values(st.Find(Row::PointSource)->block[0], n);
        attrs::RestorePointSource(psid.data(), pts);
        rowDone();
        int channel = 0;
        for (Row row : {Row::Red, Row::Green, Row::Blue}) {
            if (RowSlots* c = st.Find(row)) {
                const std::vector<int32_t> v = Values(c->block[0], n);
                color::Restore(v.data(), pts, channel);
                rowDone();
            }
            ++channel;
        }
    });
}

}  // namespace chunkdecoder
