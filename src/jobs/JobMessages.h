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
// After the item's line: the user kept the entry or file that was there.
inline constexpr const char* kKept = ": kept";

inline constexpr const char* kLasExists = "\n\nLAS file already exists in archive!\nOverwrite?";
inline constexpr const char* kFileExists = "\n\nFile already exists.\nOverwrite?";
inline constexpr const char* kQuitCompression = "Do you really want to quit compression?";
inline constexpr const char* kQuitCompressionCaption = "Cancle compression";
inline constexpr const char* kQuitDecompression = "Do you really want to quit decompression?";
inline constexpr const char* kQuitDecompressionCaption = "Cancle decompression";
// The extension the archive chooser proposes in place of the LAS file's.
inline constexpr const char* kArchiveExtension = ".VMRA";

// The test of an archive's entries: one line per entry says what was found.
inline constexpr const char* kTestCaption = "Test";
inline constexpr const char* kTestingFiles = "Testing files...";
inline constexpr const char* kTestingFile = "Testing file ";
inline constexpr const char* kTestOk = ": ok";
inline constexpr const char* kTestNoChecksum = ": ok (no checksum)";
inline constexpr const char* kTestDamaged = ": damaged: ";
// What the user can act on; the finding's technical reason goes to the
// line's tool tip.
inline constexpr const char* kDamagedData = "its compressed data is damaged";
inline constexpr const char* kTestFailed = ": failed: ";
inline constexpr const char* kQuitTest = "Do you really want to stop the test?";
inline constexpr const char* kQuitTestCaption = "Cancel test";

// The end of a job that had failures: the summary line and a button to close.
inline constexpr const char* kClose = "Close";
}  // namespace jobmsg
