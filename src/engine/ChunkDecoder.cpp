#include "engine/ChunkDecoder.h"

#include <algorithm>
#include <iterator>

#include "engine/InputWindow.h"
#include "engine/TaskPool.h"

using namespace chunkrows;

namespace {

// The most of a chunk held to find its streams: chunks of real surveys
// take a few bytes a point; one that needs more (data that hardly
// compresses, in a large chunk) is decoded stream after stream, in little
// memory.
std::size_t ScanLimit(std::size_t count) {
    return std::min<std::size_t>(count * 24 + (std::size_t{1} << 20), std::size_t{24} << 20);
}

int GroupIndex(Group g) { return static_cast<int>(g); }

// Groups that restore a block behind the group they read, rather than
// after it: the coordinates and the intensity, whose predictors read the
// column before them point by point. The GPS time reads the scan direction,
// which is restored in a moment; it waits for the whole group.
bool Follows(Group g) { return g == Group::Y || g == Group::Z || g == Group::Intensity; }

// The order the groups are handed to the threads. A group that waits for
// another blocks its thread, so each comes a few groups after the one it
// waits for (X before Y before Z, the return bits before the GPS time), and
// the intensity, which waits for the long restoring of Z, comes last.
constexpr Group kDecodeOrder[] = {Group::X,       Group::ReturnBits, Group::Y,     Group::Bytes,
                                  Group::Z,       Group::GpsTime,    Group::Red,   Group::Green,
                                  Group::Blue,    Group::Intensity};
static_assert(std::size(kDecodeOrder) == kGroupCount);

// Whether every group is there once and comes after the one it waits for.
constexpr bool WaitsOnlyForEarlier() {
    for (int i = 0; i < kGroupCount; ++i) {
        for (int j = 0; j < i; ++j) {
            if (kDecodeOrder[j] == kDecodeOrder[i]) return false;
        }
        Group on = Group::X;
        if (!DependsOn(kDecodeOrder[i], on)) continue;
        bool earlier = false;
        for (int j = 0; j < i; ++j) earlier = earlier || kDecodeOrder[j] == on;
        if (!earlier) return false;
    }
    return true;
}
static_assert(WaitsOnlyForEarlier());

std::vector<Row> RowsOfFormat(int format) {
    std::vector<Row> rows;
    for (const RowInfo& info : kRows) {
        if (RowApplies(info.row, format)) rows.push_back(info.row);
    }
    return rows;
}

// Room for the decoded bytes of the group's streams, and the requests that
// fill it, in the order the checks below walk them.
void Request(const std::vector<Row>& rows, const chunkscan::ChunkSpots& spots, std::size_t count, Scratch& s) {
    s.decodeRequests.clear();
    for (std::size_t r = 0; r < rows.size(); ++r) {
        const chunkscan::RowSpot& spot = *spots.Find(rows[r]);
        if (spot.blocks == 0) {
            s.decodedBytes[r].Clear();
            s.decodeRequests.push_back({spot.bytes.table, s.decodedBytes[r].Grow(count), count});
            continue;
        }
        for (int b = 0; b < spot.blocks; ++b) {
            const chunkscan::BlockSpot& block = spot.block[b];
            s.decodeRequests.push_back({block.header.table, s.blocks[b].PrepareHeader(block.first, count), count - 1});
            for (int j = 0; j < block.planes; ++j) {
                const std::size_t k = block.plane[j].length;
                s.decodeRequests.push_back({block.plane[j].table, s.blocks[b].PreparePlane(j, k), k});
            }
        }
    }
}

bool Held(const bytestream::DecodeRequest& r, const chunkscan::StreamSpot& spot) {
    return !r.failed && r.next == spot.next;
}

// Whether each row's streams held: every stream ended where the next item
// was found, and every block has the planes its header calls for.
void Check(const std::vector<Row>& rows, const chunkscan::ChunkSpots& spots, Scratch& s, bool* ok) {
    const bytestream::DecodeRequest* r = s.decodeRequests.data();
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const chunkscan::RowSpot& spot = *spots.Find(rows[i]);
        if (spot.blocks == 0) {
            ok[i] = Held(*r++, spot.bytes);
            continue;
        }
        ok[i] = true;
        for (int b = 0; b < spot.blocks; ++b) {
            const chunkscan::BlockSpot& block = spot.block[b];
            ok[i] = Held(*r++, block.header) && ok[i];
            for (int j = 0; j < block.planes; ++j) ok[i] = Held(*r++, block.plane[j]) && ok[i];
            ok[i] = ok[i] && s.blocks[b].PlanesCalledFor() == block.planes;
        }
        for (int b = 0; b < spot.blocks && ok[i]; ++b) s.blocks[b].Settle();
    }
}

}  // namespace

CChunkDecoder::CChunkDecoder(TaskPool& taskPool, const ProcessorCode& processorCode, Hooks h)
    : pool(taskPool),
      code(processorCode),
      hooks(std::move(h)),
      scratch(MakeSlots(taskPool.Threads())) {}

void CChunkDecoder::Want(uint32_t groupMask) {
    // A group is restored only after the one it waits for.
    for (int pass = 0; pass < kGroupCount; ++pass) {
        for (Group g : kGroups) {
            Group on = Group::X;
            if ((groupMask >> GroupIndex(g) & 1) && DependsOn(g, on)) groupMask |= 1u << GroupIndex(on);
        }
    }
    wanted = groupMask & kAllGroups;
    wantedParts = 0;
    const auto part = [&](Group g, unsigned p) {
        if (wanted >> GroupIndex(g) & 1) wantedParts |= p;
    };
    part(Group::X, ChunkColumns::kXPart);
    part(Group::Y, ChunkColumns::kYPart);
    part(Group::Z, ChunkColumns::kZPart);
    part(Group::Intensity, ChunkColumns::kIntensityPart);
    part(Group::ReturnBits, ChunkColumns::kReturnPart);
    part(Group::Bytes, ChunkColumns::kBytesPart);
    part(Group::GpsTime, ChunkColumns::kGpsPart);
    for (Group g : {Group::Red, Group::Green, Group::Blue}) part(g, ChunkColumns::kRgbPart);
    if (wanted == kAllGroups) wantedParts = ~0u;
}

bool CChunkDecoder::Decode(InputWindow& in, std::size_t count, int format, bool moreChunks, ChunkColumns& c,
                           const std::function<void(int)>& drain, std::size_t room) {
    // The drain reads the format too, which stays the same within an entry.
    if (c.format != format) c.format = format;
    c.count = count;
    // The drain, then the sizing of the arrays, beside the streams: sizing
    // may move the arrays the drain reads, and no row is restored into them
    // before both are done.
    const std::function<void(int)> prepare = [&](int worker) {
        if (drain) drain(worker);
        c.SizeArrays(count, format, room, wantedParts);
    };
    std::fill(std::begin(counted), std::end(counted), false);
    const std::vector<Row> rows = RowsOfFormat(format);
    std::size_t from = 0;  // the first row to decode stream after stream
    chunkscan::ChunkSpots spots;
    bool prepared = false;
    if (chunkscan::Scan(in, count, format, moreChunks, ScanLimit(count), code.decoder, spots)) {
        from = DecodeSideBySide(spots, c, prepare);
        prepared = true;
        if (from == rows.size()) {
            in.Skip(spots.end);
            return true;
        }
        // Every row before it held, so this is where the row begins.
        in.Skip(spots.rows[from].start);
    }
    if (!prepared) prepare(0);
    // Stream after stream, every row is decoded, wanted or not: they all
    // need their columns.
    if (wantedParts != ~0u && from < rows.size()) c.SizeArrays(count, format, room);
    for (std::size_t r = from; r < rows.size(); ++r) {
        hooks.checkPoint();
        DecodeRow(rows[r], in, code, scratch[0], c);
        Count(rows[r]);
    }
    return false;
}

std::size_t CChunkDecoder::DecodeSideBySide(const chunkscan::ChunkSpots& spots, ChunkColumns& c,
                                            const std::function<void(int)>& prepare) {
    std::fill(std::begin(groupState), std::end(groupState), State::Pending);
    for (CRestorePace& p : pace) p.Reset();
    std::fill(std::begin(restored), std::end(restored), false);
    std::vector<TaskPool::Task> tasks;
    // First, so the groups that wait for it wait for a task already started.
    drained = false;
    tasks.emplace_back([this, &prepare](int worker) { Drain(prepare, worker); });
    // Each group comes after the one it waits for, in an earlier task or
    // earlier in its own.
    std::vector<Group> groups = ApplicableGroups(kDecodeOrder, c.format);
    std::erase_if(groups, [this](Group g) { return !(wanted >> GroupIndex(g) & 1); });
    for (Group g : kGroups) {
        if (wanted >> GroupIndex(g) & 1) continue;
        for (Row row : RowsOf(g)) restored[Index(row)] = true;  // not asked for: nothing to restore
    }
    ReleaseUnusedSlots(scratch.get(), pool.Threads(), c.count);
    ForEachGroupTask(groups, c.count, [&](const Group* g, std::size_t n) {
        tasks.emplace_back([this, g, n, &spots, &c](int worker) {
            RunGroups(g, n, spots, SlotsOf(scratch.get(), worker), c);
        });
    });
    pool.Run(tasks);
    std::size_t r = 0;
    while (r < spots.rows.size() && restored[Index(spots.rows[r].row)]) ++r;
    return r;
}

void CChunkDecoder::RunGroups(const Group* groups, std::size_t n, const chunkscan::ChunkSpots& spots, Scratch* s,
                              ChunkColumns& c) {
    // Whatever happens (a stop, too), every group is settled, so no group
    // waiting for one waits for ever.
    struct Guard {
        CChunkDecoder& d;
        const Group* groups;
        std::size_t n;
        std::size_t settledGroups = 0;  // groups[0 .. settledGroups) are settled
        ~Guard() {
            for (std::size_t j = settledGroups; j < n; ++j) d.Settle(groups[j], State::Failed);
        }
    } guard{*this, groups, n};
    hooks.checkPoint();
    std::vector<Row> rows[kMostGroupsPerTask];
    for (std::size_t j = 0; j < n; ++j) {
        rows[j] = RowsOf(groups[j]);
        Request(rows[j], spots, c.count, s[j]);
    }
    DecodeGroups(spots.data, spots.size, s, n, code.decoder);
    for (std::size_t j = 0; j < n; ++j) {
        bool ok[4] = {};
        Check(rows[j], spots, s[j], ok);
        Group dependency = groups[j];
        const bool depends = DependsOn(groups[j], dependency);
        const bool follows = depends && Follows(groups[j]);
        const bool ready = !depends || (follows ? AwaitStarted(dependency) : Await(dependency));
        AwaitDrained();
        // Once every row of the group is sure to be restored, the groups
        // that read it may start behind it.
        bool all = ready && std::all_of(ok, ok + rows[j].size(), [](bool b) { return b; });
        if (all) Settle(groups[j], State::Restoring);
        const RestorePacing pacing{follows ? &pace[GroupIndex(dependency)] : nullptr, &pace[GroupIndex(groups[j])]};
        for (std::size_t r = 0; r < rows[j].size(); ++r) {
            if (!ready || !ok[r]) continue;
            try {
                RestoreRow(rows[j][r], code.coords, s[j], static_cast<int>(r), c, pacing);
            } catch (const CRestorePace::Broken&) {
                // What it follows failed: decoded again, stream after stream.
                all = false;
                continue;
            }
            restored[Index(rows[j][r])] = true;
            Count(rows[j][r]);
        }
        Settle(groups[j], all ? State::Restored : State::Failed);
        guard.settledGroups = j + 1;
    }
}

void CChunkDecoder::Drain(const std::function<void(int)>& prepare, int worker) {
    // Settled whatever happens: a drain that fails fails the batch, and the
    // groups waiting for it must not wait for ever.
    struct Guard {
        CChunkDecoder& d;
        ~Guard() {
            {
                std::lock_guard<std::mutex> lock(d.mutex);
                d.drained = true;
            }
            d.settled.notify_all();
        }
    } guard{*this};
    prepare(worker);
}

void CChunkDecoder::AwaitDrained() {
    std::unique_lock<std::mutex> lock(mutex);
    settled.wait(lock, [&] { return drained; });
}

void CChunkDecoder::Settle(Group g, State state) {
    {
        std::lock_guard<std::mutex> lock(mutex);
        groupState[GroupIndex(g)] = state;
    }
    settled.notify_all();
    // The followers learn the end from the pace, whatever stage they are at.
    if (state == State::Restored) pace[GroupIndex(g)].Finished();
    if (state == State::Failed) pace[GroupIndex(g)].Fail();
}

bool CChunkDecoder::Await(Group g) {
    std::unique_lock<std::mutex> lock(mutex);
    settled.wait(lock, [&] {
        const State s = groupState[GroupIndex(g)];
        return s == State::Restored || s == State::Failed;
    });
    return groupState[GroupIndex(g)] == State::Restored;
}

bool CChunkDecoder::AwaitStarted(Group g) {
    std::unique_lock<std::mutex> lock(mutex);
    settled.wait(lock, [&] { return groupState[GroupIndex(g)] != State::Pending; });
    return groupState[GroupIndex(g)] != State::Failed;
}

void CChunkDecoder::Count(Row row) {
    if (counted[Index(row)]) return;
    counted[Index(row)] = true;
    hooks.rowDone();
}
