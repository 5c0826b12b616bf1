#pragma once

// Every text the file list shows a user, in one place.
namespace listmsg {
inline constexpr const char* kUp = "..";
inline constexpr const char* kColName = "Name";
inline constexpr const char* kColSize = "Size";
inline constexpr const char* kColLastModified = "Last modified";
inline constexpr const char* kColPacked = "Packed";
inline constexpr const char* kColRatio = "Ratio";
// What an entry's stored header says, in columns of their own.
inline constexpr const char* kColVersion = "Version";
inline constexpr const char* kColFormat = "Format";
inline constexpr const char* kColPoints = "Points";
inline constexpr const char* kColChecksum = "Checksum";
inline constexpr const char* kChecksumYes = "yes";
inline constexpr const char* kChecksumNo = "no";
inline constexpr const char* kChecksumDamaged = "damaged";
// A figure of an entry whose stored header could not be read.
inline constexpr const char* kUnknownFigure = "?";

inline constexpr const char* kErrorOpeningFile = "Error opening file!";
// Shown in the Ratio column of an entry whose uncompressed size is 0.
inline constexpr const char* kNoRatio = "-";

// List commands.
inline constexpr const char* kDeleteOne = "Delete selected file?";
inline constexpr const char* kDeleteMany = "Delete selected files?";
inline constexpr const char* kCouldNotDelete = "File could not be deleted!";
inline constexpr const char* kMessageCaption = "Message";
inline constexpr const char* kAddFilesToArchive = "Add files to archive?";
inline constexpr const char* kNoArchiveOpened = "No archive opened.";
inline constexpr const char* kWrongFileFormat = "Wrong file format!";

// The view styles, in the View menu and the list's own pop-up menu.
inline constexpr const char* kLargeIcons = "Lar&ge icons";
inline constexpr const char* kSmallIcons = "S&mall icons";
inline constexpr const char* kList = "&List";
inline constexpr const char* kDetails = "&Details";

// Context menu 129.
inline constexpr const char* kCtxAdd = "&Add to ...";
inline constexpr const char* kCtxDelete = "&Delete file(s)\tDelete";
inline constexpr const char* kCtxExtractTo = "&Extract to ...";
inline constexpr const char* kCtxExtractHere = "Extract &here";
inline constexpr const char* kCtxTest = "&Test";
inline constexpr const char* kCtxSelectAll = "&Select all\tCtrl+A";
inline constexpr const char* kCtxDeselectAll = "Deselect a&ll\tCtrl+D";
inline constexpr const char* kCtxInvert = "&Inverse selection\tCtrl+I";

// Find, delete and new-archive dialogs.
inline constexpr const char* kFindCaption = "Find";
inline constexpr const char* kFindWhat = "Find what:";
inline constexpr const char* kMatchCase = "Match case";
inline constexpr const char* kExtensionsToSelect = "File extensions to select:";
inline constexpr const char* kFindLas = "LAS";
inline constexpr const char* kFindVmra = "VMRA";
inline constexpr const char* kDeletingCaption = "Deleting in progress";
inline constexpr const char* kNewCaption = "New";
inline constexpr const char* kNewFileName = "New file name:";
inline constexpr const char* kNewDefaultName = "New.vmra";
inline constexpr const char* kNoFolderSelected = "No folder selected!";
inline constexpr const char* kFileExists = "File exists!";
inline constexpr const char* kNewNotCreated = "New file could not be created!";
// Entries dragged out of an archive are extracted into a folder of their own.
inline constexpr const char* kDragFolderNotCreated = "Folder for the dragged files could not be created!";

// A question about many files names the first few, then how many more.
inline constexpr const char* kAndMore = "and %1 more";
// The deletion dialog, over its bar: the entry it deletes now.
inline constexpr const char* kDeletingEntry = "Deleting file %1...";

// The status bar: what the list holds, and what of it is selected (UTF-8).
inline constexpr const char* kOneEntry = "1 entry";
inline constexpr const char* kEntries = "%1 entries";
inline constexpr const char* kOneFile = "1 file";
inline constexpr const char* kFiles = "%1 files";
// Items, LAS size, stored size, stored size in percent of the LAS size.
inline constexpr const char* kArchiveHolds = "%1, %2 in %3 (%4 %)";
// Items and their size: an archive whose entries are all empty, a folder.
inline constexpr const char* kHolds = "%1, %2";
inline constexpr const char* kSelectedPart = "%1 \u2014 %2 selected, %3";

// What the details pane says of a LAS file or an entry: its facts, the
// scale bar's length in the file's units, and why its points have no
// picture.
inline constexpr const char* kFactVersion = "LAS version";
inline constexpr const char* kFactFormat = "Point format";
inline constexpr const char* kFactRecord = "Record length";
inline constexpr const char* kFactPoints = "Points";
inline constexpr const char* kFactByReturn = "Points by return";
inline constexpr const char* kFactX = "X";
inline constexpr const char* kFactY = "Y";
inline constexpr const char* kFactZ = "Z";
// A coordinate's bounds: lowest, highest.
inline constexpr const char* kFactBounds = "%1 to %2";
inline constexpr const char* kFactScale = "Scale x y z";
inline constexpr const char* kFactOffset = "Offset x y z";
inline constexpr const char* kFactCreated = "Created";
// Day of the year, year.
inline constexpr const char* kFactCreatedOn = "day %1 of %2";
inline constexpr const char* kFactSystem = "System identifier";
inline constexpr const char* kFactSoftware = "Generating software";
inline constexpr const char* kFactSourceId = "File source ID";
inline constexpr const char* kFactCrs = "Coordinate system";
inline constexpr const char* kFactEpsg = "EPSG:%1";
inline constexpr const char* kFactNotGiven = "not given";
inline constexpr const char* kFactVlrs = "VLRs";
inline constexpr const char* kFactEvlrs = "EVLRs";
inline constexpr const char* kFactCutShort = "%1 (the VLRs are cut short)";
// A VLR: its user ID and record ID; its description and length.
inline constexpr const char* kFactVlrName = "%1 %2";
inline constexpr const char* kFactVlrAbout = "%1 (%2)";
inline constexpr const char* kScaleBar = "%1 %2";
// The scale bar's unit: the coordinate system's, or none named.
inline constexpr const char* kUnits = "units";
inline constexpr const char* kUnitMetre = "m";
inline constexpr const char* kUnitFoot = "ft";
inline constexpr const char* kUnitUsFoot = "ft (US)";
inline constexpr const char* kUnitDegree = "\u00b0";
inline constexpr const char* kPreviewUnknownFormat = "The records are of a point format not known here.";

// The details pane itself: what it shows before, while and instead of a
// picture, the headings of its facts, and the legend under the picture.
inline constexpr const char* kPaneHint = "Select a LAS file or an archive entry to see what it holds.";
inline constexpr const char* kFactsFailed = "The file's header cannot be read: %1";
inline constexpr const char* kPreviewFailed = "The points cannot be shown: %1";
// The finding's technical words follow the text.
inline constexpr const char* kPreviewDamaged = "The entry's compressed data is damaged; its points cannot be shown.\n(%1)";
inline constexpr const char* kPreviewReading = "Reading the points: %1 %";
inline constexpr const char* kPreviewNoPoints = "The file holds no points.";
inline constexpr const char* kPreviewMemory = "There is not enough memory to read the points.";
inline constexpr const char* kFactLabel = "Property";
inline constexpr const char* kFactValue = "Value";
inline constexpr const char* kRampCaption = "Elevation";
inline constexpr const char* kOwnColours = "The points' own colours";
}  // namespace listmsg
