#include "engine/ChunkEncoder.h"

#include <algorithm>
#include <iterator>

#include "engine/TaskPool.h"

using namespace chunkrows;

namespace {

// Groups go two a task, their streams coded side by side, and vector
// lanes pay only from three streams at once: Z and the return bits each
// often have just two streams that are not of one value (a constant scan
// direction and edge, a plane of Z that few points need), so they share a
// task. Otherwise longest first, so the groups coded last are short and the
// threads end a chunk close together (the next chunk is read in the time
// left). The rows still go out in stream order; a long group done early
// waits, coded, in memory.
constexpr Group kEncodeOrder[] = {Group::Z,         Group::ReturnBits, Group::Bytes, Group::Y,
                                  Group::X,         Group::Intensity,  Group::GpsTime, Group::Red,
                                  Group::Green,     Group::Blue};

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

CChunkEncoder::CChunkEncoder(TaskPool& taskPool, const ProcessorCode& processorCode, Hooks h)
    : pool(taskPool),
      code(processorCode),
      hooks(std::move(h)),
      scratch(MakeSlots(taskPool.Threads())) {}

void CChunkEncoder::Encode(const ChunkColumns& c, const std::function<void(int worker)>& next, std::size_t nextCount) {
    order.clear();
    for (const RowInfo& info : kRows) {
        if (RowApplies(info.row, c.format)) order.push_back(info.row);
    }
    written = 0;
    std::fill(std::begin(done), std::end(done), false);
    const std::vector<Group> groups = ApplicableGroups(kEncodeOrder, c.format);
    ReleaseUnusedSlots(scratch.get(), pool.Threads(), c.count);
    std::vector<TaskPool::Task> tasks;
    ForEachGroupTask(groups, c.count, [&](const Group* g, std::size_t n) {
        tasks.emplace_back([this, g, n, &c](int worker) { RunGroups(g, n, SlotsOf(scratch.get(), worker), c); });
    });
    reading = groups.size();
    points = c.count;
    // The next chunk's rows need about as much memory as this one's, and
    // fresh memory costs more to touch the first time than to fill again.
    // Where the next chunk is coded a group a task (a large last chunk),
    // this chunk's threads hold a second group's working memory while the
    // rows wait, so they give theirs back: the job would otherwise take
    // more than the large chunk needs.
    keepRows = nextCount > 0 && GroupsPerTask(nextCount) == GroupsPerTask(c.count);
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

void CChunkEncoder::ColumnsRead(std::size_t n, bool failed) {
    {
        std::lock_guard<std::mutex> lock(mutex);
        reading -= n;
        groupFailed = groupFailed || failed;
    }
    columnsFree.notify_all();
}

void CChunkEncoder::RunGroups(const Group* groups, std::size_t n, Scratch* s, const ChunkColumns& c) {
    // The columns count as read however the groups end, so `next` never
    // waits for ever; after a failure it does not run.
    struct Reader {
        CChunkEncoder& e;
        std::size_t n;
        bool read = false;
        ~Reader() {
            if (!read) e.ColumnsRead(n, true);
        }
    } reader{*this, n};
    for (std::size_t j = 0; j < n; ++j) {
        hooks.checkPoint();
        PrepareGroup(groups[j], c, code.coords, s[j], outs);
    }
    reader.read = true;
    ColumnsRead(n, false);
    CodeGroups(s, n, code.encoder);
    for (std::size_t j = 0; j < n; ++j) LayOutGroup(groups[j], s[j], outs);
    std::lock_guard<std::mutex> lock(mutex);
    for (std::size_t j = 0; j < n; ++j) {
        for (Row row : RowsOf(groups[j])) {
            done[Index(row)] = true;
            hooks.rowCoded(row, outs[Index(row)].Size(), points);
        }
    }
    // Whatever is ready goes out in stream order, one thread at a time: only
    // rows done out of order wait.
    while (written < order.size() && done[Index(order[written])]) {
        CByteBuffer& out = outs[Index(order[written++])];
        hooks.write(out);
        // A kept row is emptied where the next chunk prepares it.
        if (!keepRows) out.Release();
    }
}
