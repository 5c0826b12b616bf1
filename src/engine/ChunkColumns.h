#pragma once

#include <cstdint>
#include <vector>

// Per-chunk working arrays shared by the codec rows: coordinates, their
// steps (d?[i] = ?[i] - ?[i-1], wrapping; d?[0] is 0) and the scan
// direction flags. The encoder fills them from the points before coding;
// the decoder fills them row by row as it restores the attributes.
struct ChunkColumns {
    std::vector<int32_t> x, y, z;
    std::vector<int32_t> dx, dy, dz;
    std::vector<uint8_t> flags;
};
