#pragma once

#include <cstdint>
#include <vector>

// How an entry's points are cut into chunks: 1,000,000 points each in file
// order, the last taking the rest (up to 2,000,000), so there is never a
// small tail chunk.
namespace chunkplan {

inline constexpr int64_t kChunk = 1000000;
inline constexpr int64_t kLastChunkMax = 2000000;

inline int32_t ChunkCount(int64_t n) {
    if (n <= kLastChunkMax) return 1;
    return static_cast<int32_t>((n + kChunk - 1) / kChunk - 1);
}

// Size of the next chunk when `remaining` points are left.
inline int64_t NextChunkSize(int64_t remaining) { return remaining > kLastChunkMax ? kChunk : remaining; }

inline std::vector<int64_t> ChunkSizes(int64_t n) {
    std::vector<int64_t> sizes;
    int64_t remaining = n;
    do {
        sizes.push_back(NextChunkSize(remaining));
        remaining -= kChunk;
    } while (remaining > kChunk);
    return sizes;
}

// Codec runs (and progress units) per chunk: 12 rows every format has, GPS
// time for formats 1 and 3, three colour channels for formats 2 and 3.
inline int32_t UnitsPerChunk(int format) {
    switch (format) {
        case 1: return 13;
        case 2: return 15;
        case 3: return 16;
        default: return 12;
    }
}

}  // namespace chunkplan
