#pragma once

#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "las/FileIo.h"
#include "las/LasHeader.h"
#include "las/PointFormat.h"

// Writes synthetic but realistic airborne LAS files: a scanner sweeping
// across the flight direction, several returns per pulse, GPS times that grow
// with every pulse, and scan direction flips at the end of every line. The
// output depends only on the options, so tests can rely on it.
//
// The defaults and the first six options are what the generator has always
// had, and they still give the very same bytes (golden entries were made from
// them); everything after them is off by default.
struct LasGenOptions {
    uint64_t points = 100000;
    int format = 3;          // point data format 0..10
    uint64_t seed = 1;
    int versionMinor = 2;    // LAS 1.versionMinor
    int vlrCount = 3;        // VLRs written before the points
    // Bytes between the header (and VLRs) and the points that belong to no
    // VLR; with vlrCount 0 this makes the gap a reader must keep as it is.
    int extraGapBytes = 0;

    // The header the version has: 227 bytes for 1.0-1.2, 235 for 1.3 (with
    // where the waveform data starts), 375 for 1.4 (EVLRs and 64-bit counts).
    // Off, formats 0-3 get the 227 bytes of 1.0-1.2 whatever the version
    // says, as they always did: tests make a file refused for its version
    // alone that way. Formats 4-10 always get their version's header.
    bool versionHeader = false;
    // Bytes after the header's own fields, counted in its size: a reader
    // that does not know them must still keep them.
    int headerExtraBytes = 0;
    // Formats 6-10: scanner channels (1-4), each sweeping its own lines, their
    // pulses taking turns.
    int channels = 1;
    // Bytes after each record's standard fields. Described by an Extra Bytes
    // VLR as a height (float), an echo width (16 bits) and a scaled amplitude
    // (32 bits), as many of them as fit, and the rest as plain bytes; or, with
    // describeExtraBytes off, the same bytes and no VLR saying what they are.
    int extraBytes = 0;
    bool describeExtraBytes = true;
    // LAS 1.4: extended VLRs after the points.
    int evlrCount = 0;
    // Formats 4, 5, 9, 10: the waveform packets in the file, after the points,
    // rather than in a file of their own.
    bool internalWaveform = false;
    // Bytes after everything else, which belong to nothing.
    int tailBytes = 0;
};

// Why the options cannot be written (a format the version does not have,
// EVLRs before LAS 1.4, ...), or null when they can.
const char* LasGenProblem(const LasGenOptions& options);

// Returns false (and leaves a partial file) when the file cannot be written,
// or the options have a problem.
bool GenerateLasFile(const std::string& path, const LasGenOptions& options);

// Writes a LAS file block by block: the header, VLRs and gap of the layout
// (its point count is ignored), then the records as they come, in the
// layout's format and record length; Finish writes what follows the points
// (waveform data, EVLRs, tail bytes) and fills in the header's point counts,
// bounds and counts by return.
class LasFileWriter {
public:
    bool Begin(const std::string& path, const LasGenOptions& layout);
    bool Add(const uint8_t* records, std::size_t count);
    // The payload of the waveform data record, when the layout keeps it in
    // the file: samples after samples, at the offsets the records give.
    void AddWaveform(const uint8_t* samples, std::size_t n);
    bool Finish();

    // How the records are laid out, their extra bytes as the Extra Bytes
    // VLR describes them (whether or not it is written).
    const PointLayout& Records() const { return records; }

private:
    bool WriteHeader();

    CFile file;
    LasGenOptions options;
    LasHeader header;                // the first 227 bytes
    std::vector<uint8_t> headerMore;  // the header's bytes after them
    PointLayout records;
    std::size_t returnAt = 0;
    uint8_t returnMask = 0;
    std::vector<uint8_t> waveform;
    uint64_t points = 0;
    int32_t minX = std::numeric_limits<int32_t>::max(), maxX = std::numeric_limits<int32_t>::min();
    int32_t minY = minX, maxY = maxX, minZ = minX, maxZ = maxX;
    uint64_t byReturn[15] = {};
};

// The waveform packets' shapes, one Wave Packet Descriptor VLR each: index
// k+1 of a record names kWavePackets[k].
struct WavePacketShape {
    uint8_t bitsPerSample;
    uint32_t samples;
    uint32_t spacingPs;  // picoseconds between samples
    uint32_t Bytes() const { return samples * bitsPerSample / 8; }
};
inline constexpr WavePacketShape kWavePackets[] = {{8, 80, 1000}, {16, 120, 500}};
// Where a record's waveform offsets start: past the waveform data record's
// header.
inline constexpr uint64_t kWaveformHeaderBytes = 60;
