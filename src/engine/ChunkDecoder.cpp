#include "engine/ChunkDecoder.h"

#include <algorithm>
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
    bool decoded = false;  // already decoded while the boundaries were sought
};

struct Block {
    std::size_t firstAt = 0;
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

// Finds every stream of a value block of `count` values starting at `at`.
std::optional<std::size_t> ScanBlock(Scanner& sc, std::size_t at, std::size_t count, Follow follow, Block& b) {
    const std::size_t n = count - 1;
    b.firstAt = at;
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
        if (next) {
            // Both readings fit: four bytes and a count table could be this
            // block's next plane or the next block's first value and header
            // stream. Decoding k bytes there settles it: only a plane of k
            // bytes ends exactly at the end marker found. (A wrong choice
            // would still be caught by the checks after decoding.)
            s.bytes.resize(k);
            try {
                s.decodedNext = bytestream::DecodeByteStreamAt(sc.Data(), sc.Size(), s.table, s.bytes.data(), k);
            } catch (const CLasException&) {
                s.decodedNext = 0;
            }
            if (s.decodedNext != *pe) {
                s.bytes.clear();
                break;
            }
            s.decoded = true;
        }
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

std::vector<int32_t> Values(const Block& b, std::size_t count, const uint8_t* data) {
    valueblock::PlaneBytes planes[4];
    for (int p = 0; p < b.planes; ++p) planes[p] = {b.plane[p].bytes.data(), b.plane[p].bytes.size()};
    std::vector<int32_t> v(count);
    valueblock::AssembleValueBlock(le::LoadI32(data + b.firstAt), b.header.bytes.data(), count, planes, b.planes,
                                   v.data());
    return v;
}

}  // namespace

bool DecodeInParallel(InputWindow& in, const PointView& pts, const Context& ctx) {
    const std::size_t n = pts.count;
    if (n < 2) return false;
    // An upper bound on the chunk's coded size keeps memory bounded even for
    // data that hardly compresses; beyond it the caller's reader takes over.
    const std::size_t limit = n * 48 + (std::size_t{16} << 20);
    Scanner sc(in, limit);
    std::vector<RowSlots> slots;
    std::size_t chunkEnd = 0;
    if (!Scan(sc, n, pts.format, ctx.moreChunks, slots, chunkEnd)) return false;
    const uint8_t* data = sc.Data();
    const std::size_t size = sc.Size();

    // Entropy decoding: every stream on its own, longest first.
    std::vector<Stream*> streams;
    for (RowSlots& s : slots) {
        if (s.blocks == 0) streams.push_back(&s.bytes);
        for (int b = 0; b < s.blocks; ++b) {
            streams.push_back(&s.block[b].header);
            for (int p = 0; p < s.block[b].planes; ++p) streams.push_back(&s.block[b].plane[p]);
        }
    }
    std::stable_sort(streams.begin(), streams.end(),
                     [](const Stream* a, const Stream* b) { return a->next - a->table > b->next - b->table; });
    // Streams go in pairs of similar length: two decoders in one loop keep
    // the processor busy while each waits on its own divisions and loads.
    std::vector<Stream*> todo;
    for (Stream* st : streams) {
        if (!st->decoded) todo.push_back(st);
    }
    std::vector<std::function<void()>> tasks;
    for (std::size_t i = 0; i < todo.size(); i += 2) {
        Stream* a = todo[i];
        Stream* b = i + 1 < todo.size() ? todo[i + 1] : nullptr;
        tasks.emplace_back([&, a, b] {
            ctx.checkStop();
            a->bytes.resize(a->length);
            if (!b) {
                a->decodedNext = bytestream::DecodeByteStreamAt(data, size, a->table, a->bytes.data(), a->length);
                return;
            }
            b->bytes.resize(b->length);
            bytestream::StreamRequest ra{a->table, a->bytes.data(), a->length, 0};
            bytestream::StreamRequest rb{b->table, b->bytes.data(), b->length, 0};
            bytestream::DecodeTwoByteStreamsAt(data, size, ra, rb);
            a->decodedNext = ra.next;
            b->decodedNext = rb.next;
        });
    }
    try {
        ctx.pool.Run(tasks);
    } catch (const CStopRequested&) {
        throw;
    } catch (const CLasException&) {
        return false;  // a stream that does not decode where it was assumed
    }
    // The boundaries hold only if each stream ended where the next was
    // assumed to begin and each block has as many planes as its header says.
    for (const Stream* st : streams) {
        if (st->decodedNext != st->next) return false;
    }
    for (const RowSlots& s : slots) {
        for (int b = 0; b < s.blocks; ++b) {
            const Block& blk = s.block[b];
            if (valueblock::PlaneCount(blk.header.bytes.data(), blk.header.length) != blk.planes) return false;
        }
    }

    // Restoring the attributes: the coordinate chain, the return bits with
    // the GPS time that needs their scan direction, and the independent rest.
    ChunkColumns cols;
    auto find = [&](Row row) -> RowSlots* {
        for (RowSlots& s : slots) {
            if (s.row == row) return &s;
        }
        return nullptr;
    };
    auto restoreBytes = [&](Row row) {
        RowSlots* s = find(row);
        attrs::RestoreByteAttr(ByteAttrOf(row), s->bytes.bytes.data(), pts, cols);
        ctx.rowDone();
    };
    tasks.clear();
    tasks.emplace_back([&] {
        ctx.checkStop();
        coords::RestoreX(cols, Values(find(Row::X)->block[0], n, data));
        ctx.rowDone();
        coords::RestoreY(cols, Values(find(Row::Y)->block[0], n, data));
        ctx.rowDone();
        ctx.checkStop();
        coords::RestoreZ(cols, Values(find(Row::Z)->block[0], n, data));
        ctx.rowDone();
        for (std::size_t i = 0; i < n; ++i) {
            pts.SetX(i, cols.x[i]);
            pts.SetY(i, cols.y[i]);
            pts.SetZ(i, cols.z[i]);
        }
        const std::vector<int32_t> r = Values(find(Row::Intensity)->block[0], n, data);
        attrs::RestoreIntensity(r.data(), pts, cols);
        ctx.rowDone();
    });
    tasks.emplace_back([&] {
        ctx.checkStop();
        // These four share one byte of the record: one task, one writer.
        for (Row row : {Row::ScanDirection, Row::ReturnNumber, Row::NumberOfReturns, Row::Edge}) restoreBytes(row);
        if (RowSlots* gps = find(Row::GpsTime)) {
            const std::vector<int32_t> high = Values(gps->block[0], n, data);
            const std::vector<int32_t> low = Values(gps->block[1], n, data);
            gpstime::Restore(high.data(), low.data(), pts, cols.flags);
            ctx.rowDone();
        }
    });
    tasks.emplace_back([&] {
        ctx.checkStop();
        for (Row row : {Row::UserData, Row::ScanAngle, Row::Classification}) restoreBytes(row);
        const std::vector<int32_t> psid = Values(find(Row::PointSource)->block[0], n, data);
        attrs::RestorePointSource(psid.data(), pts);
        ctx.rowDone();
        int channel = 0;
        for (Row row : {Row::Red, Row::Green, Row::Blue}) {
            if (RowSlots* c = find(row)) {
                const std::vector<int32_t> v = Values(c->block[0], n, data);
                color::Restore(v.data(), pts, channel);
                ctx.rowDone();
            }
            ++channel;
        }
    });
    ctx.pool.Run(tasks);
    in.Skip(chunkEnd);
    return true;
}

}  // namespace chunkdecoder
