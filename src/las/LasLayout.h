#pragma once

#include <cstddef>
#include <cstdint>

// Where the parts of a LAS file of any version (1.0 to 1.4) lie, read from
// its public header block: the header, the VLRs and whatever else comes
// before the point data, the point records, and whatever follows them
// (waveform data, extended VLRs, other bytes). Nothing here is judged but
// what is needed to cut the file into these parts.
struct LasFileLayout {
    uint8_t versionMajor = 0;
    uint8_t versionMinor = 0;
    uint16_t headerSize = 0;
    uint32_t offsetToPoints = 0;
    uint32_t vlrCount = 0;
    uint8_t pointFormatByte = 0;  // as stored: the format in the low 6 bits
    uint16_t recordLength = 0;
    // The 64-bit count of LAS 1.4 headers, the 32-bit one of older ones.
    uint64_t pointCount = 0;
    uint64_t legacyPointCount = 0;
    uint64_t waveformStart = 0;  // LAS 1.3 and later; 0 when absent
    uint64_t evlrStart = 0;      // LAS 1.4; 0 when absent
    uint32_t evlrCount = 0;
    int64_t fileSize = 0;

    uint8_t PointFormat() const { return pointFormatByte & 0x3F; }
    // One past the last byte of the point records.
    int64_t PointsEnd() const;
    // Bytes after the point records.
    int64_t TailBytes() const { return fileSize - PointsEnd(); }
};

// The bytes of a file's header block that ReadLasLayout looks at: enough for
// every version's fields.
inline constexpr std::size_t kLasLayoutBytes = 375;

// Reads the layout from the file's first bytes (head: min(fileSize,
// kLasLayoutBytes) of them). Throws CLasException with canContinue true, and
// a message that says why, for a file whose parts cannot be told: not a LAS
// file, a header or point records that the file is too short for, records
// shorter than their format's.
LasFileLayout ReadLasLayout(const uint8_t* head, std::size_t headBytes, int64_t fileSize);
