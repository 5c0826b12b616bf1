#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "engine/ChunkRows.h"

class TaskPool;

// Codes an entry's chunks from columns. The groups of rows are coded by the
// pool's threads (the streams of each group side by side) into buffers kept
// between chunks, and every row is handed on as soon as it and all rows
// before it are done, so only rows done out of order wait in memory.
class CChunkEncoder {
public:
    struct Hooks {
        std::function<void()> checkPoint;                      // may throw to stop
        std::function<void(chunkrows::Row, std::size_t)> rowCoded;  // a row's coded size, as rows finish
        std::function<void(const CByteBuffer&)> write;          // the rows, in stream order
    };

    CChunkEncoder(TaskPool& pool, const coords::Kernels& kernels, Hooks hooks);
    void Encode(const ChunkColumns& c);

private:
    void RunGroup(chunkrows::Group g, chunkrows::Scratch& s, const ChunkColumns& c);

    TaskPool& pool;
    const coords::Kernels& kernels;
    Hooks hooks;
    std::unique_ptr<chunkrows::Scratch[]> scratch;  // one per thread
    CByteBuffer outs[chunkrows::kRowCount];
    std::mutex mutex;
    std::vector<chunkrows::Row> order;  // the format's rows
    std::size_t written = 0;            // rows of `order` handed on
    bool done[chunkrows::kRowCount] = {};
};
