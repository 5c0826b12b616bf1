#pragma once

#include <cstdint>
#include <limits>
#include <string>

#include "las/FileIo.h"
#include "las/LasHeader.h"

// Writes synthetic but realistic airborne LAS files: a scanner sweeping
// across the flight direction, several returns per pulse, GPS times that grow
// with every pulse, and scan direction flips at the end of every line. The
// output depends only on the options, so tests can rely on it.
struct LasGenOptions {
    uint64_t points = 100000;
    int format = 3;          // point data format 0..3
    uint64_t seed = 1;
    int versionMinor = 2;    // LAS 1.versionMinor
    int vlrCount = 3;        // VLRs written before the points
    // Bytes between the header (and VLRs) and the points that belong to no
    // VLR; with vlrCount 0 this makes the gap a reader must keep as it is.
    int extraGapBytes = 0;
};

// Returns false (and leaves a partial file) when the file cannot be written.
bool GenerateLasFile(const std::string& path, const LasGenOptions& options);

// Writes a LAS file block by block: the header, VLRs and gap of the layout
// (its point count is ignored), then the records as they come, in the
// layout's format; the point count, bounds and return counts of the header
// are filled in by Finish.
class LasFileWriter {
public:
    bool Begin(const std::string& path, const LasGenOptions& layout);
    bool Add(const uint8_t* records, std::size_t count);
    bool Finish();

private:
    CFile file;
    LasHeader header;
    int format = 0;
    uint64_t points = 0;
    int32_t minX = std::numeric_limits<int32_t>::max(), maxX = std::numeric_limits<int32_t>::min();
    int32_t minY = minX, maxY = maxX, minZ = minX, maxZ = maxX;
    uint32_t byReturn[5] = {0, 0, 0, 0, 0};
};
