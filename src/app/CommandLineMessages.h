#pragma once

// Every text command-line mode shows, in one place.
namespace climsg {
// The usage text is joined from these pieces around the program path.
inline constexpr const char* kUsageHead = "Usage:\n";
inline constexpr const char* kUsageOpen = "- Open archive: ";
inline constexpr const char* kUsageOpenTail = " <*.vmra archive to open>\n";
inline constexpr const char* kUsageCompress = "- Compression: ";
inline constexpr const char* kUsageCompressTail =
    " -c <*.las files to compress separated by spaces> <*.vmra archive destination>\n";
inline constexpr const char* kUsageDecompress = "- Decompression: ";
inline constexpr const char* kUsageDecompressTail =
    " -d <*.las files to decompress separated by spaces> <*.vmra source archive>\n";

// "Error opening file " + path + " !"
inline constexpr const char* kErrorOpeningFile = "Error opening file ";
inline constexpr const char* kErrorOpeningFileTail = " !";

// Entry name + this text.
inline constexpr const char* kAlreadyInArchive = "\n\nLAS file already exists in archive!\nOverwrite?";

// How the question is answered on a terminal.
inline constexpr const char* kAnswerPrompt = "[y = OK, anything else = Cancel] ";
inline constexpr const char* kNotATerminal =
    "Standard input is not a terminal: answering Cancel, nothing is overwritten.";

inline constexpr const char* kNoWindow =
    "This build of Velmora has no window: use -c or -d (command-line mode).";
}  // namespace climsg
