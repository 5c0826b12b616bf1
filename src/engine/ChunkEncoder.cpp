#include "engine/ChunkEncoder.h"

#include <algorithm>

#include "engine/TaskPool.h"

using namespace chunkrows;

CChunkEncoder::CChunkEncoder(TaskPool& taskPool, const coords::Kernels& k, Hooks h)
    : pool(taskPool), kernels(k), hooks(std::move(h)), scratch(std::make_unique<chunkrows::Scratch[]>(static_cast<std::size_t>(taskPool.Threads()))) {}

void CChunkEncoder::Encode(const ChunkColumns& c) {
    order.clear();
    for (const RowInfo& info : kRows) {
        if (RowApplies(info.row, c.format)) order.push_back(info.row);
    }
    written = 0;
    std::fill(std::begin(done), std::end(done), false);
    std::vector<TaskPool::Task> tasks;
    for (Group g : kGroups) {
        if (!GroupApplies(g, c.format)) continue;
        tasks.emplace_back([this, g, &c](int worker) { RunGroup(g, scratch[worker], c); });
    }
    pool.Run(tasks);
}

void CChunkEncoder::RunGroup(Group g, Scratch& s, const ChunkColumns& c) {
    hooks.checkPoint();
    EncodeGroup(g, c, kernels, s, outs);
    std::lock_guard<std::mutex> lock(mutex);
    for (Row row : RowsOf(g)) {
        done[Index(row)] = true;
        hooks.rowCoded(row, outs[Index(row)].Size());
    }
    // Whatever is ready goes out in stream order, one thread at a time, and
    // its memory is given back: only rows done out of order wait.
    while (written < order.size() && done[Index(order[written])]) {
        CByteBuffer& out = outs[Index(order[written++])];
        hooks.write(out);
        out.Release();
    }
}
