#pragma once

#include <cstdint>
#include <vector>

#include "archive/VMRAFile.h"

// Sizes of the archive layout shared by the archive operations.
namespace archlayout {
inline constexpr int64_t kMagicBytes = 4;
inline constexpr int64_t kCountBytes = 4;
inline constexpr int64_t kRecordBytes = static_cast<int64_t>(EntryRecord::kSize);
// The name buffer holds the terminator too.
inline constexpr std::size_t kMaxNameBytes = 254;

// The directory as it lies in the file: the records in order, then the count.
std::vector<uint8_t> DirectoryBytes(const std::vector<EntryRecord>& records);
}  // namespace archlayout
