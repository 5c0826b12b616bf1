#pragma once

#include <algorithm>
#include <cstddef>
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

// What the memory of a coding job is made of: the largest chunk held once,
// as its columns (as many bytes a point as the record has), working memory
// for every running thread, up to kThreadBytesPerPoint a point for the
// largest group of rows (GPS time, two value blocks), and a few megabytes
// besides. Measured on 2,000,000-point chunks of format 3: 98 MB with one
// thread, 121 MB with two.
inline constexpr int64_t kMemoryBudget = int64_t{128} << 20;
inline constexpr int64_t kFixedBytes = int64_t{8} << 20;
inline constexpr int64_t kThreadBytesPerPoint = 12;

// Threads an entry is coded with unless the caller asks for a number: one
// per core, up to four (a chunk has few groups of rows that can run at
// once), and no more than keep the job within kMemoryBudget for its
// largest chunk. At least one.
inline int DefaultThreads(unsigned cores, int64_t largestChunk, std::size_t recordSize) {
    const int64_t perThread = std::max<int64_t>(1, largestChunk * kThreadBytesPerPoint);
    const int64_t room = kMemoryBudget - kFixedBytes - largestChunk * static_cast<int64_t>(recordSize);
    const int64_t fit = std::max<int64_t>(1, room / perThread);
    return static_cast<int>(std::clamp<int64_t>(std::min<int64_t>(cores, fit), 1, 4));
}

// Rows (codec runs, and the units of progress) per chunk: 12 every format has, GPS
// time for formats 1 and 3, three colour channels for formats 2 and 3.
inline int32_t RowsPerChunk(int format) {
    switch (format) {
        case 1: return 13;
        case 2: return 15;
        case 3: return 16;
        default: return 12;
    }
}

}  // namespace chunkplan
