#pragma once

#include <atomic>
#include <cstddef>
#include <functional>

#include "engine/PointView.h"

class InputWindow;
class TaskPool;

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

struct Context {
    TaskPool& pool;
    // Throws CStopRequested when a stop was requested.
    std::function<void()> checkStop;
    // Called once per row restored.
    std::function<void()> rowDone;
    // More chunks follow this one in the entry.
    bool moreChunks;
};

// Returns false, with the window back at the chunk's start and the points
// untouched by any accepted result, when the boundaries could not be found
// or did not hold; the caller then decodes the chunk stream after stream.
// On success the window is left at the first byte after the chunk.
bool DecodeInParallel(InputWindow& in, const PointView& pts, const Context& ctx);

}  // namespace chunkdecoder
