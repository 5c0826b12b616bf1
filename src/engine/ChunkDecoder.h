#pragma once

#include <atomic>
#include <cstddef>
#include <functional>
#include <memory>
#include <vector>

#include "engine/PointView.h"

class InputWindow;

// Decodes one chunk with several threads. Stream lengths are not stored, so
// where each stream begins is only known once the one before it has been
// decoded; this decoder first finds the boundaries by looking for end
// markers that are followed by a well-formed next item, then decodes all
// streams side by side, and accepts the result only if every stream ends
// exactly where the next was assumed to begin and every value block has the
// planes its header announces. Decoding a stream depends only on where it
// starts, so an accepted result is the one a decoder reading stream after
// stream would produce.
namespace chunkdecoder {

class ParallelChunk {
public:
    ParallelChunk();
    ~ParallelChunk();
    ParallelChunk(const ParallelChunk&) = delete;
    ParallelChunk& operator=(const ParallelChunk&) = delete;

    // Finds the boundaries of the chunk of `count` points that begins at the
    // window's position (which does not move). False when they cannot be
    // found: the chunk must then be decoded stream after stream.
    bool Scan(InputWindow& in, std::size_t count, int format, bool moreChunks);
    // Bytes the chunk takes in the file, after a successful Scan.
    std::size_t Size() const;
    // Tasks that decode every stream. They read the window's buffer, which
    // must not change until they have run.
    void EntropyTasks(std::vector<std::function<void()>>& tasks, const std::function<void()>& checkStop);
    // After the entropy tasks: whether the boundaries held. When they did
    // not, nothing of this chunk may be used.
    bool Verify() const;
    // Tasks that restore the attributes into pts. They need nothing of the
    // window any more, so the next chunk may be read meanwhile.
    void RestoreTasks(std::vector<std::function<void()>>& tasks, const PointView& pts,
                      const std::function<void()>& checkStop, const std::function<void()>& rowDone);

private:
    struct State;
    std::unique_ptr<State> s_;
};

}  // namespace chunkdecoder
