#pragma once

#include <cstdint>

// What the first byte of the header image stored at the head of an archive
// entry says (the byte the LAS signature's "L" takes in a LAS file). Only the
// entry format knows these; a LAS file is written back with its "L".
namespace entrymarker {
inline constexpr uint8_t kLas = 'L';  // coded points, VLRs as the header declares
inline constexpr uint8_t kGap = 'V';  // coded points; gap bytes without VLRs held as one block
inline constexpr uint8_t kRaw = 'O';  // points kept uncompressed (fewer than 1000)
}  // namespace entrymarker
