#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "engine/LargePages.h"

// The points of one chunk, one array per attribute: what the codec rows
// read and restore. Kept between chunks, so the arrays are allocated once
// for the largest chunk. The four small fields that share the return byte
// (return number, number of returns, scan direction, edge of flight line)
// stay in that byte.
struct ChunkColumns {
    int format = 0;
    std::size_t count = 0;
    largepages::Vector<int32_t> x, y, z;
    largepages::Vector<uint16_t> intensity, pointSource;
    largepages::Vector<uint8_t> returnBits, classification, scanAngle, userData;
    largepages::Vector<int64_t> gpsBits;   // formats 1 and 3: the double's bits
    largepages::Vector<uint16_t> rgb[3];   // formats 2 and 3

    // Sizes the arrays the format has for n points.
    void Resize(std::size_t n, int pointFormat);
    // Sizes the arrays alone (count and format as they are), with room for
    // `room` points, so that later sizes up to it leave them where they are;
    // with `parts` (a bit per Part, below) only those, the others emptied.
    void SizeArrays(std::size_t n, int pointFormat, std::size_t room, unsigned parts = ~0u);
    // Points [first, first + n) from / into n records of `stride` bytes.
    void Scatter(const uint8_t* records, std::size_t stride, std::size_t first, std::size_t n);
    void Gather(uint8_t* records, std::size_t stride, std::size_t first, std::size_t n) const;
    // The same for some of the attributes only (a bit per Part); the
    // records' other bytes are left as they are.
    enum Part : unsigned { kXPart = 1, kYPart = 2, kZPart = 4, kIntensityPart = 8, kReturnPart = 16,
                           kBytesPart = 32, kGpsPart = 64, kRgbPart = 128, kAllParts = 255 };
    void GatherParts(uint8_t* records, std::size_t stride, std::size_t first, std::size_t n, unsigned parts) const;

    uint8_t ScanDirection(std::size_t i) const { return (returnBits[i] >> 6) & 1; }
};
