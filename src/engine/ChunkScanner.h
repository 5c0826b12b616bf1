#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "engine/ChunkRows.h"
#include "engine/ValueBlockCoder.h"

class InputWindow;

// Stream lengths are not stored, so where a stream begins is only known for
// sure once the one before it has been decoded. The scanner finds where
// every stream of a chunk probably begins, by looking for end markers that
// are followed by a well-formed next item, so the streams can be decoded
// side by side. Where it was wrong shows when they are decoded: a stream
// that does not end where the next was assumed to begin, a block whose
// header calls for another number of planes.
namespace chunkscan {

struct StreamSpot {
    std::size_t table = 0;   // offset of its count table, from the chunk's start
    std::size_t length = 0;  // bytes it decodes to
    std::size_t next = 0;    // where the scan found the next item
};

struct BlockSpot {
    int32_t first = 0;
    StreamSpot header;
    int planes = 0;
    StreamSpot plane[valueblock::kPlanes];
};

struct RowSpot {
    chunkrows::Row row = chunkrows::Row::UserData;
    std::size_t start = 0;  // the row's first byte
    StreamSpot bytes;       // byte rows
    int blocks = 0;         // value rows: their blocks
    BlockSpot block[2];
};

struct ChunkSpots {
    std::vector<RowSpot> rows;  // the rows of the format, in stream order
    std::size_t end = 0;        // the chunk's size in the file
    const uint8_t* data = nullptr;  // the chunk's bytes, from the window
    std::size_t size = 0;

    const RowSpot* Find(chunkrows::Row row) const;
};

// Finds the streams of the chunk of `count` points (count >= 2) at the
// window's position, looking at no more than `limit` bytes (the window does
// not move, but holds them afterwards). False when they cannot be found.
// A stream whose place is in doubt is decoded on trial with `loops`.
bool Scan(InputWindow& in, std::size_t count, int format, bool moreChunks, std::size_t limit,
          const bytestream::DecoderLoops& loops, ChunkSpots& out);

}  // namespace chunkscan
