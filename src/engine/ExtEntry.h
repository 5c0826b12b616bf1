#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "las/LasLayout.h"

class CFile;

// The extended entry kind: any LAS file, byte for byte (its layout is
// doc/extended-entry.md). The first byte marks the kind where a classic
// entry has its header image's marker, the second the layout's version.
namespace extentry {

inline constexpr uint8_t kMarker = 'X';
// The layout version written; versions from 1 up to it are read.
inline constexpr uint8_t kVersion = 2;

// What the coder reports and asks while it works.
struct Progress {
    // Called between chunks; may throw to stop (CStopRequested).
    std::function<void()> checkPoint;
    // Points done so far and in all (for a progress display).
    std::function<void(uint64_t done, uint64_t total)> points;
    // Compressing: every byte read from the LAS file, with its offset (for
    // its checksum).
    std::function<void(int64_t offset, const uint8_t* data, std::size_t n)> read;
};

// Writes the entry for the LAS file open in las (at any position; its
// layout as ReadLasLayout read it) at out's position. Returns the bytes
// written. Throws CLasException when reading or writing fails.
// threads: chunks coded side by side; 0 for one per core, as many as memory
// allows.
int64_t Compress(CFile& las, const LasFileLayout& layout, CFile& out, const Progress& progress, int threads = 0);

// Reads the entry of `extent` bytes at in's position and hands the LAS
// file's bytes, in order, to sink. Throws CDamaged... (a CLasException whose
// message says the entry is damaged) when the entry cannot be read whole,
// and a "made by a newer version" refusal for a version it does not know.
// expectedLength, where known (the archive's record of the entry): an entry
// that says it holds a file of another length is damaged before a byte is
// handed out.
using Sink = std::function<void(const uint8_t*, std::size_t)>;
void Decompress(CFile& in, int64_t extent, const Sink& sink, const Progress& progress, int threads = 0,
                int64_t expectedLength = -1);
// The same a step at a time, for a reader that takes the points as it goes:
// each Step hands the next bytes to sink (the head, a batch of chunks'
// records, or the tail) and returns false once the entry has been read
// whole and found sound. Throws as Decompress does.
class Reader {
public:
    Reader(CFile& in, int64_t extent, const Progress& progress, int threads = 0, int64_t expectedLength = -1);
    ~Reader();
    Reader(const Reader&) = delete;
    Reader& operator=(const Reader&) = delete;
    bool Step(const Sink& sink);
    // The LAS file's length, once the first Step has begun handing out bytes.
    uint64_t FileLength() const;
    // The steps that follow pass over the point records without decoding
    // them (nor handing them out): for a reader of what follows the points.
    void SkipPoints();

private:
    struct Impl;
    std::unique_ptr<Impl> impl;
};

// What a listing shows of an entry without decoding its points: the LAS
// file's length and the first bytes of its header block (up to
// kLasLayoutBytes). False when they cannot be read.
bool ReadHead(CFile& in, int64_t extent, uint64_t& fileLength, std::vector<uint8_t>& head);

}  // namespace extentry
