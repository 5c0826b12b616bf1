#pragma once

// Every text of the job dialogs, in one place.
namespace jobmsg {
inline constexpr const char* kCompressCaption = "Compress";
inline constexpr const char* kDecompressCaption = "Decompress";
inline constexpr const char* kFileLabel = "File:";
inline constexpr const char* kRatioLabel = "Compression ratio:";
inline constexpr const char* kAbort = "Abort";
inline constexpr const char* kFilesFormat = "File(s):\n%1/%2";

inline constexpr const char* kCompressingFiles = "Compressing files...";
inline constexpr const char* kCompressingFile = "Compressing file ";
inline constexpr const char* kDecompressingFiles = "Decompressing files...";
inline constexpr const char* kDecompressingFile = "Decompressing file ";
inline constexpr const char* kEllipsis = "...";
inline constexpr const char* kFailed = ": FAILED ";
inline constexpr const char* kFailure = ": FAILURE ";
inline constexpr const char* kStopping = "Stopping...";

inline constexpr const char* kLasExists = "\n\nLAS file already exists in archive!\nOverwrite?";
inline constexpr const char* kFileExists = "\n\nFile already exists.\nOverwrite?";
inline constexpr const char* kQuitCompression = "Do you really want to quit compression?";
inline constexpr const char* kQuitCompressionCaption = "Cancle compression";
inline constexpr const char* kQuitDecompression = "Do you really want to quit decompression?";
inline constexpr const char* kQuitDecompressionCaption = "Cancle decompression";
inline constexpr const char* kArchiveExtension = ".VMRA";

// The end of a job that had failures: a summary line and a button to close.
inline constexpr const char* kClose = "Close";
inline constexpr const char* kSummaryFile = "file";
inline constexpr const char* kSummaryFiles = "files";
inline constexpr const char* kSummaryAdded = "added";
inline constexpr const char* kSummaryExtracted = "extracted";
inline constexpr const char* kSummaryRefused = "refused";
inline constexpr const char* kSummaryFailed = "failed";
inline constexpr const char* kSummarySkipped = "skipped";
}  // namespace jobmsg
