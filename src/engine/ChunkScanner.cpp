#include "engine/ChunkScanner.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <optional>

#include "engine/ByteStreamCoder.h"
#include "engine/InputWindow.h"
#include "las/ByteOrder.h"
#include "las/LasException.h"

namespace chunkscan {

using namespace chunkrows;

namespace {

constexpr std::size_t kTable = bytestream::kCountBytes;

// What may follow an item: the next row's first item, or the end of the
// chunk (where the next chunk's first byte stream begins, if any).
enum class Follow { ByteStream, ValueBlock, ChunkEnd, EntryEnd };

class Scanner {
public:
    Scanner(InputWindow& window, std::size_t maxBytes, const bytestream::DecoderLoops& decoderLoops)
        : in(window), limit(maxBytes), loops(decoderLoops) {}

    // Makes [0, end) of the chunk addressable; false past the limit or the file.
    bool Have(std::size_t end) {
        if (end <= have) return true;
        if (end > limit) return false;
        const std::size_t want = std::min(limit, std::max(end, have + (have >> 1) + (1u << 20)));
        have = in.Ensure(want);
        data = in.Data();
        return end <= have;
    }
    const uint8_t* Data() const { return data; }
    std::size_t Size() const { return have; }
    // For decoding a stream on trial.
    const bytestream::DecoderLoops& Loops() const { return loops; }

    bool ValidTable(std::size_t at) { return Have(at + kTable) && bytestream::ValidCountTable(data + at); }
    // Coded bits to expect for `length` symbols of the model in the (valid)
    // count table at `at`: the model is the stream's own histogram scaled to
    // 10,000, so each value occurs about f * length / 10,000 times (at least
    // once when it has a frequency) and costs log2(10,000 / f) bits; the
    // flush and the padding add a few more.
    double ExpectedBits(std::size_t at, std::size_t length) const {
        double bits = 5.0;
        uint32_t prev = 0;
        for (std::size_t k = 0; k < 256; ++k) {
            const uint32_t high = le::LoadU16(data + at + 2 * k);
            if (high > prev) {
                const double f = static_cast<double>(high - prev);
                const double count = std::max(1.0, f * static_cast<double>(length) / bytestream::kTotal);
                bits += count * std::log2(bytestream::kTotal / f);
            }
            prev = high;
        }
        return bits;
    }
    bool PlaneAt(std::size_t at, std::size_t maxLength) {
        return Have(at + 4) && valueblock::PlausiblePlaneLength(le::LoadI32(data + at), maxLength) &&
               ValidTable(at + 4);
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
                if (!Have(std::min(limit, have + 1))) return std::nullopt;
                continue;
            }
            const uint8_t* p = data + from;
            const uint8_t* end = data + have - 2;
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
                from = have - 2;
                if (!Have(have + 1)) return std::nullopt;
                continue;
            }
            const std::size_t next = static_cast<std::size_t>(hit - data) + 3;
            if (ok(next)) return next;
            from = static_cast<std::size_t>(hit - data) + 1;
        }
    }

private:
    InputWindow& in;
    std::size_t limit;
    const bytestream::DecoderLoops& loops;
    std::size_t have = 0;
    const uint8_t* data = nullptr;
};

// Four bytes and a count table after a block's stream could be the block's
// next plane (k bytes) or the next block's first value and header stream (n
// bytes). A stream is coded in very nearly the size its own model predicts
// for its length, so the coded size of the stream found there tells the two
// apart; where it cannot, a plane that is as long as the header would be is
// the likely reading, and a short one is cheap to decode on trial. A wrong
// choice is still caught by the checks after decoding.
bool LooksLikePlane(Scanner& sc, const StreamSpot& plane, std::size_t end, std::size_t n) {
    const std::size_t k = plane.length;
    const double bits = 8.0 * static_cast<double>(end - plane.table - kTable - 3);
    const double offPlane = std::abs(bits - sc.ExpectedBits(plane.table, k));
    const double offHeader = std::abs(bits - sc.ExpectedBits(plane.table, n));
    if (std::abs(offPlane - offHeader) > std::max(48.0, 0.02 * bits)) return offPlane < offHeader;
    if (2 * k >= n) return true;
    std::vector<uint8_t> trial(k);
    try {
        return bytestream::DecodeByteStreamAt(sc.Data(), sc.Size(), plane.table, trial.data(), k, sc.Loops()) == end;
    } catch (const CLasException&) {
        return false;
    }
}

// Finds every stream of a value block of `count` values starting at `at`.
std::optional<std::size_t> ScanBlock(Scanner& sc, std::size_t at, std::size_t count, Follow follow, BlockSpot& b) {
    const std::size_t n = count - 1;
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
        StreamSpot& s = b.plane[b.planes];
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

bool ScanRows(Scanner& sc, std::size_t count, int format, bool moreChunks, std::vector<RowSpot>& slots,
              std::size_t& chunkEnd) {
    std::vector<Row> rows;
    for (const RowInfo& info : kRows) {
        if (RowApplies(info.row, format)) rows.push_back(info.row);
    }
    std::size_t at = 0;
    slots.clear();
    for (std::size_t r = 0; r < rows.size(); ++r) {
        RowSpot s;
        s.row = rows[r];
        s.start = at;
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

}  // namespace

const RowSpot* ChunkSpots::Find(Row row) const {
    for (const RowSpot& r : rows) {
        if (r.row == row) return &r;
    }
    return nullptr;
}

bool Scan(InputWindow& in, std::size_t count, int format, bool moreChunks, std::size_t limit,
          const bytestream::DecoderLoops& loops, ChunkSpots& out) {
    if (count < 2) return false;
    Scanner sc(in, limit, loops);
    if (!ScanRows(sc, count, format, moreChunks, out.rows, out.end)) return false;
    out.data = sc.Data();
    out.size = sc.Size();
    return true;
}

}  // namespace chunkscan
