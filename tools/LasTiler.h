#pragma once

#include <cstdint>
#include <string>

#include "las/LasLayout.h"

// Lays copies of a LAS file side by side along X, each shifted by the file's
// X extent, and writes them as one file: the same header, VLRs and gap, the
// copies' records, then whatever followed the points in the original
// (waveform data, EVLRs, other bytes). Benchmark inputs are made this way
// from real surveys, so a classic file tiles to the bytes it always did.

enum class TileResult { Done, CountOutOfRange };

// Throws CLasException, saying why, when the input cannot be read as a LAS
// file or the output cannot be written. CountOutOfRange (nothing written):
// count below 1, or more points than the header can count.
TileResult TileLasFile(const std::string& inPath, long count, const std::string& outPath);

// Whether `count` copies of the file's points can be counted by its header:
// in 64 bits by LAS 1.4's, in 32 by older ones.
bool TileCountFits(const LasFileLayout& layout, long count);

// Rewrites a header (the file's first layout.headerSize bytes) for `copies`
// copies of its points, copy c shifted by c * shift along X, with what
// followed the points moved behind the last copy: every count multiplied
// (the 32-bit ones of LAS 1.4 zeroed when the total outgrows them), the
// largest X moved, the waveform data's and EVLRs' starts moved.
void TileHeader(uint8_t* header, const LasFileLayout& layout, uint64_t copies, int64_t shift);
