#pragma once

#include "las/Failure.h"

// Every text the LAS layer shows a user, in one place.
namespace lasmsg {
inline constexpr Failure kReadOpen = failures::Of(101, FailureKind::Unreadable, "ReadError::File could not be open.");
inline constexpr Failure kReadHeader = failures::Of(102, FailureKind::Unreadable, "ReadError::LAS Header");
inline constexpr Failure kReadVlr = failures::Of(103, FailureKind::Unreadable, "ReadError::LAS VRL");
inline constexpr Failure kReadPoints = failures::Of(104, FailureKind::Unreadable, "ReadError::LAS Points");
inline constexpr Failure kWriteOpen = failures::Of(105, FailureKind::Output, "WriteError::File could not be open.");
inline constexpr Failure kWriteHeader = failures::Of(106, FailureKind::Output, "WriteError::LAS Header");
inline constexpr Failure kWriteVlr = failures::Of(107, FailureKind::Output, "WriteError::LAS VRL");
inline constexpr Failure kWriteSignature = failures::Of(108, FailureKind::Output, "WriteError::LAS Signature");
inline constexpr Failure kWritePoint = failures::Of(109, FailureKind::Output, "WriteError::LAS Point");
inline constexpr Failure kCreatePointsMemory = failures::Of(110, FailureKind::Output,
    "CLasFile::CreatePoints - can not create points - memory problem?");
inline constexpr Failure kReadPointsMemory = failures::Of(111, FailureKind::Output,
    "CLasFile::ReadPoints - can not create points - memory problem?");

// Admission: files that could not come back byte for byte are refused
// before anything is written.
inline constexpr Failure kVersion = failures::Of(112, FailureKind::Refused,
    "This version of Velmora can only compress LAS files version 1.0, 1.1, and 1.2.\n"
    "For more informations on Velmora please contact us!");
inline constexpr Failure kSignature = failures::Of(113, FailureKind::Refused,
    "Input LAS file is not supported - it does not start with the signature \"LASF\".");
inline constexpr Failure kZeroPoints = failures::Of(114, FailureKind::Refused,
    "Input LAS file is corrupted - number of points is zero.");
inline constexpr Failure kPointFormat = failures::Of(115, FailureKind::Refused,
    "Input LAS file is not supported - point data format must be 0, 1, 2 or 3.");
inline constexpr Failure kHeaderSize = failures::Of(116, FailureKind::Refused,
    "Input LAS file is not supported - header size must be 227 bytes.");
inline constexpr Failure kRecordLength = failures::Of(117, FailureKind::Refused,
    "Input LAS file is not supported - point data record length must be 20, 28, 26 or 34 bytes.");
inline constexpr Failure kPointOffset = failures::Of(118, FailureKind::Refused,
    "Input LAS file is corrupted - offset to point data lies outside the file.");
inline constexpr Failure kTruncated = failures::Of(119, FailureKind::Refused,
    "Input LAS file is corrupted - the file is shorter than its points need.");
inline constexpr Failure kTrailingBytes = failures::Of(120, FailureKind::Refused,
    "Input LAS file is not supported - there are bytes after the last point record.");
inline constexpr Failure kSinglePointGap = failures::Of(121, FailureKind::Refused,
    "Input LAS file is not supported - a single point after a gap without VLRs cannot be stored.");

inline constexpr Failure kShortHeader = failures::Of(122, FailureKind::Refused,
    "Input LAS file is corrupted - the file is shorter than a LAS header, or its header size is "
    "less than 227 bytes.");
inline constexpr Failure kShortRecords = failures::Of(123, FailureKind::Refused,
    "Input LAS file is corrupted - its point data record length is shorter than its point "
    "format's records.");

inline constexpr Failure kStopped = failures::Of(124, FailureKind::Stopped, "The operation was stopped.");

// The table: every failure of this layer, for the checks that keep codes
// unique.
inline constexpr const Failure* kFailures[] = {
    &kReadOpen, &kReadHeader, &kReadVlr, &kReadPoints, &kWriteOpen, &kWriteHeader, &kWriteVlr,
    &kWriteSignature, &kWritePoint, &kCreatePointsMemory, &kReadPointsMemory, &kVersion,
    &kSignature, &kZeroPoints, &kPointFormat, &kHeaderSize, &kRecordLength, &kPointOffset,
    &kTruncated, &kTrailingBytes, &kSinglePointGap, &kShortHeader, &kShortRecords, &kStopped};
}  // namespace lasmsg
