#pragma once

#include <condition_variable>
#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "engine/ChunkRows.h"

class TaskPool;

// Codes an entry's chunks from columns. The groups of rows are coded by the
// pool's threads, two groups a task (their streams side by side; see
// GroupsPerTask), into buffers kept between chunks, and every row is handed
// on as soon as it and all rows before it are done, so only rows done out
// of order wait in memory.
class CChunkEncoder {
public:
    struct Hooks {
        std::function<void()> checkPoint;                      // may throw to stop
        // As rows finish: a row, its coded size and the chunk's points (the
        // columns may hold the next chunk by then).
        std::function<void(chunkrows::Row, std::size_t, std::size_t)> rowCoded;
        std::function<void(const CByteBuffer&)> write;          // the rows, in stream order
    };

    // code: the versions of the hot loops this encoder runs.
    CChunkEncoder(TaskPool& pool, const ProcessorCode& code, Hooks hooks);
    // Codes the chunk in c. `next`, when given, runs in the same batch, on
    // the thread worker, as soon as every group has read what it needs of c
    // (the rest of their work is coding): it may refill c with the next
    // chunk while the last groups are still coding. After a failure it may
    // not run. nextCount: the points of the chunk coded after this one (0
    // for none), which tells whether the rows' memory is worth keeping.
    void Encode(const ChunkColumns& c, const std::function<void(int worker)>& next = {}, std::size_t nextCount = 0);

private:
    // Codes n groups, their streams side by side, each in its own s[j].
    void RunGroups(const chunkrows::Group* groups, std::size_t n, chunkrows::Scratch* s, const ChunkColumns& c);
    // n groups are done with the columns (failed: without making their
    // streams).
    void ColumnsRead(std::size_t n, bool failed);

    std::condition_variable columnsFree;
    std::size_t reading = 0;  // groups that may still read the columns
    std::size_t points = 0;   // of the chunk being coded
    bool keepRows = false;    // rows written keep their memory for the next chunk
    bool groupFailed = false;

    TaskPool& pool;
    const ProcessorCode code;
    Hooks hooks;
    std::unique_ptr<chunkrows::Scratch[]> scratch;  // kMostGroupsPerTask per thread
    CByteBuffer outs[chunkrows::kRowCount];
    std::mutex mutex;
    std::vector<chunkrows::Row> order;  // the format's rows
    std::size_t written = 0;            // rows of `order` handed on
    bool done[chunkrows::kRowCount] = {};
};
