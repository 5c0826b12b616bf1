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

// --help: the usage text, then the switches it does not name, the options
// and the exit statuses. The switch and option lines are built from the
// parser's tables, each from a name column and one of these descriptions.
inline constexpr const char* kUsageList = "- Listing: ";
inline constexpr const char* kUsageListTail = " -l [-v] <*.vmra archive | *.las file>\n";
inline constexpr const char* kUsageTest = "- Test: ";
inline constexpr const char* kUsageTestTail =
    " -t <*.vmra archive> <*.las entries to test, all when none>\n";
// One line per entry tested: its name, then one of these.
inline constexpr const char* kTestOk = ": ok";
inline constexpr const char* kTestNoChecksum = ": ok (no checksum)";
inline constexpr const char* kTestDamaged = ": damaged: ";
inline constexpr const char* kTestFailed = ": failed: ";
inline constexpr const char* kHelpOptionsHead = "\nOptions, placed before the switch:\n";
inline constexpr const char* kHelpOutput =
    "extract into DIR instead of the current folder, created when missing (-d)";
inline constexpr const char* kHelpThreads =
    "engine threads, 1 to 64 (default: one per core, at most 4, fewer for very large chunks) (-c, -d, -t)";
inline constexpr const char* kHelpYes = "answer yes to every question about replacing an entry (-c)";
inline constexpr const char* kHelpQuiet = "no progress line on the terminal (-c, -d, -t)";
inline constexpr const char* kHelpExtended =
    "store every file in the extended entry kind, also those the classic kind could carry: a smaller "
    "archive that readers of the classic kind alone cannot read (-c)";
inline constexpr const char* kHelpJson = "the listing as one JSON document (-l)";
inline constexpr const char* kHelpVerbose =
    "with -l: what each entry's stored header and VLRs say (bounds, scale and offset, points by return, "
    "dates, software, coordinate system, VLRs and EVLRs), nothing decoded; -l of a LAS file describes "
    "the file so (-l)";
inline constexpr const char* kHelpHelp = "this text";
inline constexpr const char* kHelpVersion = "the program's name and version";
inline constexpr const char* kHelpTail =
    "\nA progress line per file is shown while standard error is a terminal.\n"
    "Exit status: 0 when the job ran to its end, 255 otherwise.\n";

// --version: program name, a blank, the version.
inline constexpr const char* kProgramName = "velmora";

// A job ended by a signal.
inline constexpr const char* kStopped = "The operation was stopped.";

// -o DIR: the folder + this text + the system's reason.
inline constexpr const char* kCannotMakeFolder = ": the output folder cannot be created";

// -l: the column headings, then one word for each yes/no and unknown value.
inline constexpr const char* kColLasSize = "LAS size";
inline constexpr const char* kColStored = "Stored";
inline constexpr const char* kColRatio = "Ratio";
inline constexpr const char* kColVersion = "Version";
inline constexpr const char* kColFormat = "Format";
inline constexpr const char* kColPoints = "Points";
inline constexpr const char* kColChecksum = "Checksum";
inline constexpr const char* kColKind = "Kind";
// The entry kinds, as -l names them.
inline constexpr const char* kKindClassic = "classic";
inline constexpr const char* kKindExtended = "extended";
inline constexpr const char* kColName = "Name";
inline constexpr const char* kYes = "yes";
inline constexpr const char* kNo = "no";
// The checksum column of an entry whose checksum record no longer holds; the
// JSON listing gives the same word as the value of "checksum".
inline constexpr const char* kChecksumDamaged = "damaged";
// A figure the entry's stored header could not give (a damaged entry), or a
// ratio of an empty file.
inline constexpr const char* kUnknown = "?";
inline constexpr const char* kNoRatio = "-";
// The totals line names the number of entries: "3 entries", "1 entry".
inline constexpr const char* kEntry = "entry";
inline constexpr const char* kEntries = "entries";

// -l -v: the facts of a stored header, one "label  value" line each.
inline constexpr const char* kFactKind = "kind";
inline constexpr const char* kFactVersion = "LAS version";
inline constexpr const char* kFactFormat = "point format";
inline constexpr const char* kFactRecord = "record length";
inline constexpr const char* kFactPoints = "points";
inline constexpr const char* kFactByReturn = "points by return";
inline constexpr const char* kFactMin = "minimum x y z";
inline constexpr const char* kFactMax = "maximum x y z";
inline constexpr const char* kFactScale = "scale x y z";
inline constexpr const char* kFactOffset = "offset x y z";
inline constexpr const char* kFactCreated = "created (day, year)";
inline constexpr const char* kFactSystem = "system identifier";
inline constexpr const char* kFactSoftware = "generating software";
inline constexpr const char* kFactSourceId = "file source ID";
inline constexpr const char* kFactCrs = "coordinate system";
inline constexpr const char* kFactNoCrs = "none given";
inline constexpr const char* kFactVlrs = "VLRs";
inline constexpr const char* kFactEvlr = "EVLR";
inline constexpr const char* kFactVlr = "VLR";
inline constexpr const char* kFactBytes = " bytes";
inline constexpr const char* kFactCutShort = "(the VLRs are cut short)";
inline constexpr const char* kFactUnreadable = "its stored header cannot be read: ";

// The progress line: "[2/24] a.las  45%  38.1 MB/s  ratio 12.4%  0:03 elapsed  0:04 left".
inline constexpr const char* kMegabytesPerSecond = " MB/s";
inline constexpr const char* kRatioWord = "ratio ";
inline constexpr const char* kElapsed = " elapsed";
inline constexpr const char* kLeft = " left";
inline constexpr const char* kUnknownFigure = "--";
inline constexpr const char* kUnknownTime = "--:--";
// Replaces the middle of a name too long for the terminal's width.
inline constexpr const char* kCut = "...";
}  // namespace climsg
