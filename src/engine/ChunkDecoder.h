#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "engine/ChunkRows.h"
#include "engine/ChunkScanner.h"
#include "engine/RestorePace.h"

class InputWindow;
class TaskPool;

// Decodes an entry's chunks into columns. The places of a chunk's streams
// are found first (chunkscan), so the streams of the groups of rows are
// decoded side by side, two groups a task (see GroupsPerTask), and the
// groups restored by the pool's threads; a stream is used only if it ends
// exactly where the next was assumed to begin, which makes the result the
// one stream-after-stream decoding gives.
// From the first row whose streams did not hold (damage, or a false end
// marker inside a stream), the chunk is decoded stream after stream.
class CChunkDecoder {
public:
    struct Hooks {
        std::function<void()> checkPoint;  // may throw to stop
        std::function<void()> rowDone;     // once per row, as rows are restored
    };

    // code: the versions of the hot loops this decoder runs.
    CChunkDecoder(TaskPool& pool, const ProcessorCode& code, Hooks hooks);

    // Decodes the chunk of `count` points (count >= 2) at the window's
    // position into c and leaves the window right after it. True when every
    // row was decoded side by side.
    //
    // `drain`, when given, is work that still reads c as the previous chunk
    // left it (writing its records out). It runs alongside this chunk's
    // streams, on the pool's thread `worker` (0, the caller's, when it
    // runs alone), and no row is restored into c before it has finished; it
    // has always run when Decode returns, unless Decode throws.
    //
    // c's arrays are sized after the drain, beside the streams too, with
    // room for `room` points (the entry's largest chunk, so they grow once):
    // fresh memory costs the system more to touch the first time than to
    // fill.
    bool Decode(InputWindow& in, std::size_t count, int format, bool moreChunks, ChunkColumns& c,
                const std::function<void(int worker)>& drain = {}, std::size_t room = 0);

    // Restores only these groups (a bit per Group) and those they wait
    // for; the other groups' columns are left as they are. Every group by
    // default. A chunk whose streams must be decoded one after the other
    // (damage, a false end marker) is decoded whole from that row on.
    void Want(uint32_t groupMask);
    static constexpr uint32_t kAllGroups = (1u << chunkrows::kGroupCount) - 1;

private:
    // Restoring: every row of the group will be restored, and followers
    // may start behind it.
    enum class State { Pending, Restoring, Restored, Failed };

    // `prepare` (the drain, then the sizing of c) is the batch's first task;
    // no row is restored before it has run.
    std::size_t DecodeSideBySide(const chunkscan::ChunkSpots& spots, ChunkColumns& c,
                                 const std::function<void(int)>& prepare);
    void Drain(const std::function<void(int)>& prepare, int worker);
    void AwaitDrained();
    // Decodes the streams of n groups side by side (each in its own s[j])
    // and restores the groups in order.
    void RunGroups(const chunkrows::Group* groups, std::size_t n, const chunkscan::ChunkSpots& spots,
                   chunkrows::Scratch* s, ChunkColumns& c);
    void Settle(chunkrows::Group g, State state);
    // Whether the group was restored, once it is restored or has failed.
    bool Await(chunkrows::Group g);
    // Whether the group is being or was restored, once that is known.
    bool AwaitStarted(chunkrows::Group g);
    void Count(chunkrows::Row row);

    TaskPool& pool;
    const ProcessorCode code;
    Hooks hooks;
    std::unique_ptr<chunkrows::Scratch[]> scratch;  // kMostGroupsPerTask per thread
    std::mutex mutex;
    std::condition_variable settled;
    State groupState[chunkrows::kGroupCount] = {};
    CRestorePace pace[chunkrows::kGroupCount];
    bool drained = true;
    bool restored[chunkrows::kRowCount] = {};
    bool counted[chunkrows::kRowCount] = {};
    uint32_t wanted = kAllGroups;
    unsigned wantedParts = ~0u;  // the columns the wanted groups restore (ChunkColumns::Part)
};
