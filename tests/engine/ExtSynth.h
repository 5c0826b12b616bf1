#pragma once

#include <cstdint>
#include <vector>

// Small LAS files of any version and point format, made in memory from the
// one description of the formats, for the extended entry's tests and golden
// fixtures. The bytes depend only on the options: the fixtures rely on that,
// so nothing here may change what it makes.
namespace extsynth {

struct Options {
    uint8_t versionMinor = 4;
    uint8_t format = 6;
    uint32_t points = 1500;
    uint32_t extraBytes = 0;      // bytes after the standard fields of a record
    bool describeExtra = false;   // with an Extra Bytes VLR (a float, a 16-bit integer, the rest bytes)
    uint32_t tailBytes = 0;       // bytes after the points
    uint32_t headerExtra = 0;     // bytes after the version's standard header
    uint64_t seed = 1;
};

std::vector<uint8_t> MakeLas(const Options& options);

}  // namespace extsynth
