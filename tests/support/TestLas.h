#pragma once

#include <cstdint>
#include <vector>

namespace testsupport {

// A small LAS file built byte by byte, for the cases real files rarely show.
struct LasBuild {
    int versionMajor = 1;
    int versionMinor = 2;
    int format = 0;
    uint16_t headerSize = 227;
    uint32_t declaredVlrs = 0;
    std::vector<uint8_t> gap;          // bytes between header and points
    uint32_t points = 0;               // records actually written
    int64_t declaredPoints = -1;       // header's count; -1: same as points
    int recordLength = -1;             // -1: the format's standard length
    std::vector<uint8_t> trailing;     // bytes after the last record
    uint32_t seed = 1;
};

std::vector<uint8_t> BuildLas(const LasBuild& b);

// A LAS 1.3 file of `points` format-1 records that are shorter than the
// format's: no entry kind can take it, so it is refused before anything is
// written.
LasBuild UnstorableLas(uint32_t points);

// One VLR: 54-byte header (record length after header at byte 20) + payload.
std::vector<uint8_t> MakeVlr(uint16_t recordId, std::size_t payloadBytes, uint8_t fill);

}  // namespace testsupport
