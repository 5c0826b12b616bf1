#pragma once

#include <cstdint>
#include <string>

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
