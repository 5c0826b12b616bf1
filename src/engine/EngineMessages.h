#pragma once

#include "las/LasMessages.h"

// Every text the engine shows a user, in one place.
namespace enginemsg {
// Two texts on purpose: the full stop is how a user has always told a
// missing output of Compress from a missing input of Decompress.
inline constexpr const char* kNoOutputFile = "File could not open";
inline constexpr const char* kNoInputFile = "File could not open.";
// The LAS layer's own texts, for the same failures met in the engine.
inline constexpr const char* kWritePoint = lasmsg::kWritePoint;
inline constexpr const char* kReadPoints = lasmsg::kReadPoints;
inline constexpr const char* kStreamNotFound = "Unable to find stream";
inline constexpr const char* kWriteEntry = "WriteError::Archive entry could not be written.";
inline constexpr const char* kEntryHeader = "ReadError::Archive entry header is damaged.";
inline constexpr const char* kEntryRecordLength =
    "The archive entry has a point data record length that cannot be decoded.";
inline constexpr const char* kEntryFormat =
    "The archive entry has a point data format that cannot be decoded.";
inline constexpr const char* kExtDamaged = "The archive entry's data is damaged.";
inline constexpr const char* kExtNewer =
    "The archive entry was made by a newer version of Velmora - update Velmora to read it.";
}  // namespace enginemsg
