#include "engine/ChunkEncoder.h"

#include <algorithm>
#include <iterator>

#include "engine/TaskPool.h"

using namespace chunkrows;

namespace {

// Longest first, so the groups coded last are short and the threads end a
// chunk close together (the next chunk is read in the time left). The rows
// still go out in stream order; a long group done early waits, coded, in
// memory.
constexpr Group kEncodeOrder[] = {Group::GpsTime, Group::Z,     Group::Bytes,     Group::Y,
                                  Group::X,       Group::ReturnBits, Group::Intensity, Group::Red,
                                  Group::Green,   Group::Blue};

constexpr bool EveryGroupOnce() {
    for (Group g : kGroups) {
        int seen = 0;
        for (Group h : kEncodeOrder) seen += h == g;
        if (seen != 1) return false;
    }
    return std::size(kEncodeOrder) == std::size(kGroups);
}
static_assert(EveryGroupOnce());

}  // namespace

CChunkEncoder::CChunkEncoder(TaskPool& taskPool, const coords::Kernels& k, Hooks h)
    : pool(taskPool), kernels(k), hooks(std::move(h)), scratch(std::make_unique<chunkrows::Scratch[]>(static_cast<std::size_t>(taskPool.Threads()))) {}

void CChunkEncoder::Encode(const ChunkColumns& c, const std::function<void(int worker)>& next) {
    order.clear();
    for (const RowInfo& info : kRows) {
        if (RowApplies(info.row, c.format)) order.push_back(info.row);
    }
    written = 0;
    std::fill(std::begin(done), std::end(done), false);
    std::vector<TaskPool::Task> tasks;
    for (Group g : kEncodeOrder) {
        if (!GroupApplies(g, c.format)) continue;
        tasks.emplace_back([this, g, &c](int worker) { RunGroup(g, scratch[worker], c); });
    }
    reading = tasks.size();
    points = c.count;
    groupFailed = false;
    // Last, so every group it waits for has started.
    if (next) {
        tasks.emplace_back([this, &next](int worker) {
            {
                std::unique_lock<std::mutex> lock(mutex);
                columnsFree.wait(lock, [&] { return reading == 0; });
                if (groupFailed) return;
            }
            next(worker);
        });
    }
    pool.Run(tasks);
}

void CChunkEncoder::ColumnsRead(bool failed) {
    {
        std::lock_guard<std::mutex> lock(mutex);
        --reading;
        groupFailed = groupFailed || failed;
    }
    columnsFree.notify_all();
}

void CChunkEncoder::RunGroup(Group g, Scratch& s, const ChunkColumns& c) {
    // The columns count as read however the group ends, so `next` never
    // waits for ever; after a failure it does not run.
    struct Reader {
        CChunkEncoder& e;
        bool read = false;
        ~Reader() {
            if (!read) e.ColumnsRead(true);
        }
    } reader{*this};
    hooks.checkPoint();
    PrepareGroup(g, c, kernels, s, outs);
    reader.read = true;
    ColumnsRead(false);
    CodeGroup(s);
    LayOutGroup(g, s, outs);
    std::lock_guard<std::mutex> lock(mutex);
    for (Row row : RowsOf(g)) {
        done[Index(row)] = true;
        hooks.rowCoded(row, outs[Index(row)].Size(), points);
    }
    // Whatever is ready goes out in stream order, one thread at a time, and
    // its memory is given back: only rows done out of order wait.
    while (written < order.size() && done[Index(order[written])]) {
        CByteBuffer& out = outs[Index(order[written++])];
        hooks.write(out);
        out.Release();
    }
}
