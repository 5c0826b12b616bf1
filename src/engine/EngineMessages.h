#pragma once

#include "las/LasMessages.h"

// Every text the engine shows a user, in one place.
namespace enginemsg {
// Two texts on purpose: the full stop is how a user has always told a
// missing output of Compress from a missing input of Decompress.
inline constexpr Failure kNoOutputFile = failures::Of(201, FailureKind::Output, "File could not open");
inline constexpr Failure kNoInputFile = failures::Of(202, FailureKind::Unreadable, "File could not open.");
// The LAS layer's own texts, for the same failures met in the engine.
inline constexpr Failure kWritePoint = lasmsg::kWritePoint;
inline constexpr Failure kReadPoints = lasmsg::kReadPoints;
inline constexpr Failure kStreamNotFound = failures::Of(203, FailureKind::Damaged, "Unable to find stream");
inline constexpr Failure kWriteEntry = failures::Of(204, FailureKind::Output, "WriteError::Archive entry could not be written.");
inline constexpr Failure kEntryHeader = failures::Of(205, FailureKind::Damaged, "ReadError::Archive entry header is damaged.");
inline constexpr Failure kEntryRecordLength = failures::Of(206, FailureKind::Damaged,
    "The archive entry has a point data record length that cannot be decoded.");
inline constexpr Failure kEntryFormat = failures::Of(207, FailureKind::Damaged,
    "The archive entry has a point data format that cannot be decoded.");
inline constexpr Failure kExtDamaged = failures::Of(208, FailureKind::Damaged, "The archive entry's data is damaged.");
inline constexpr Failure kExtNewer = failures::Of(209, FailureKind::Newer,
    "The archive entry was made by a newer version of Velmora - update Velmora to read it.");

inline constexpr const Failure* kFailures[] = {&kNoOutputFile, &kNoInputFile, &kStreamNotFound,
                                               &kWriteEntry, &kEntryHeader, &kEntryRecordLength,
                                               &kEntryFormat, &kExtDamaged, &kExtNewer};
}  // namespace enginemsg
