#pragma once

#include <cstring>
#include <initializer_list>

// Every text the LAS layer shows a user, in one place.
namespace lasmsg {
inline constexpr const char* kReadOpen = "ReadError::File could not be open.";
inline constexpr const char* kReadHeader = "ReadError::LAS Header";
inline constexpr const char* kReadVlr = "ReadError::LAS VRL";
inline constexpr const char* kReadPoints = "ReadError::LAS Points";
inline constexpr const char* kWriteOpen = "WriteError::File could not be open.";
inline constexpr const char* kWriteHeader = "WriteError::LAS Header";
inline constexpr const char* kWriteVlr = "WriteError::LAS VRL";
inline constexpr const char* kWriteSignature = "WriteError::LAS Signature";
inline constexpr const char* kWritePoint = "WriteError::LAS Point";
inline constexpr const char* kCreatePointsMemory =
    "CLasFile::CreatePoints - can not create points - memory problem?";
inline constexpr const char* kReadPointsMemory =
    "CLasFile::ReadPoints - can not create points - memory problem?";

// Admission: files that could not come back byte for byte are refused
// before anything is written.
inline constexpr const char* kVersion =
    "This version of Velmora can only compress LAS files version 1.0, 1.1, and 1.2.\n"
    "For more informations on Velmora please contact us!";
inline constexpr const char* kSignature =
    "Input LAS file is not supported - it does not start with the signature \"LASF\".";
inline constexpr const char* kZeroPoints =
    "Input LAS file is corrupted - number of points is zero.";
inline constexpr const char* kPointFormat =
    "Input LAS file is not supported - point data format must be 0, 1, 2 or 3.";
inline constexpr const char* kHeaderSize =
    "Input LAS file is not supported - header size must be 227 bytes.";
inline constexpr const char* kRecordLength =
    "Input LAS file is not supported - point data record length must be 20, 28, 26 or 34 bytes.";
inline constexpr const char* kPointOffset =
    "Input LAS file is corrupted - offset to point data lies outside the file.";
inline constexpr const char* kTruncated =
    "Input LAS file is corrupted - the file is shorter than its points need.";
inline constexpr const char* kTrailingBytes =
    "Input LAS file is not supported - there are bytes after the last point record.";
inline constexpr const char* kSinglePointGap =
    "Input LAS file is not supported - a single point after a gap without VLRs cannot be stored.";

inline constexpr const char* kShortHeader =
    "Input LAS file is corrupted - the file is shorter than a LAS header, or its header size is "
    "less than 227 bytes.";
inline constexpr const char* kShortRecords =
    "Input LAS file is corrupted - its point data record length is shorter than its point "
    "format's records.";

inline constexpr const char* kStopped = "The operation was stopped.";

// True when message is one of texts. Texts, not addresses, are compared: the
// same literal may lie at different addresses in different files.
inline bool IsOneOf(const char* message, std::initializer_list<const char*> texts) {
    for (const char* t : texts) {
        if (std::strcmp(message, t) == 0) return true;
    }
    return false;
}

// Failures of writing a file or of memory, as opposed to failures of the data.
inline bool IsOutputOrMemoryFailure(const char* message) {
    return IsOneOf(message, {kWriteOpen, kWriteHeader, kWriteVlr, kWriteSignature, kWritePoint,
                             kCreatePointsMemory, kReadPointsMemory});
}
}  // namespace lasmsg
