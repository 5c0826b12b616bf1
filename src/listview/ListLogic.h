#pragma once

#include <QFileInfoList>
#include <QString>

#include <cstdint>

#include "listview/ArchiveListing.h"

// What the file list decides without a window: texts of the size, date and
// ratio columns, the item records and their sort comparisons, and which
// commands the selection allows.
namespace listview {

// The list types, numbered as the stored "Style" value holds them in its low
// two bits.
enum ListType { kLargeIcons = 0, kDetails = 1, kSmallIcons = 2, kList = 3 };
// The style word the list writes to the settings: its visible-child bits and
// the list type.
inline constexpr int32_t kListStyleBase = 0x50000040;

// "0 B", "12 B", "1.000 B", "1.000.000 B": digits grouped in threes with ".".
QString FormatByteCount(int64_t value);
// A count the same way, without the unit: "1.000.000".
QString FormatCount(uint64_t value);
// A size as a status line gives it: three figures and a decimal unit
// ("1.31 GB", "241 MB", "12.5 kB", "900 B").
QString FormatShortSize(uint64_t bytes);
// Local time as "07.12.2026 03:46"; empty when the time cannot be converted.
QString FormatFileTime(int64_t secondsSinceEpoch);

// Sizes are kept in 64 bits, so files of 2 GiB and more show and sort right.
struct FolderItemRecord {
    QString name;  // lower-cased: the sort key
    int64_t size = 0;
    int64_t lastWrite = 0;
};

struct ArchiveItemRecord {
    QString name;  // lower-cased
    int64_t size = 0;
    int64_t packed = 0;
    // An entry of uncompressed size 0 has no ratio; it sorts below every
    // entry that has one, as if it had the smallest ratio.
    bool hasRatio = false;
    double ratio = 0.0;  // percent
    // An entry whose header could not be read sorts below all others in
    // the columns of its header's figures.
    HeaderFigures figures;
};

// The archive list's columns, in their order.
enum ArchiveColumn {
    kColumnName,
    kColumnSize,
    kColumnPacked,
    kColumnRatio,
    kColumnVersion,
    kColumnFormat,
    kColumnPoints,
    kColumnChecksum,
    kArchiveColumnCount
};

// packed / size * 100, or no ratio when size is 0.
ArchiveItemRecord MakeArchiveRecord(const QString& name, int64_t size, int64_t packed,
                                    const HeaderFigures& figures = {});
// "25.00%", or the no-ratio text.
QString FormatRatio(const ArchiveItemRecord& r);
// The texts of the header's figures: "1.2", "3", "1.000.000", "yes"; the
// unknown figure for a header that could not be read.
QString FormatVersion(const HeaderFigures& f);
QString FormatPointFormat(const HeaderFigures& f);
QString FormatPoints(const HeaderFigures& f);
QString FormatChecksum(ChecksumShown c);

// Negative when a goes first with direction +1: names A to Z, numbers and
// dates largest or newest first. Direction -1 negates. Any other column: 0.
int CompareFolderItems(const FolderItemRecord& a, const FolderItemRecord& b, int column,
                       int direction);
int CompareArchiveItems(const ArchiveItemRecord& a, const ArchiveItemRecord& b, int column,
                        int direction);

// Which way the sorted column's values run down the list, for the arrow in
// its heading: names A to Z and numbers largest first with direction +1.
Qt::SortOrder ShownSortOrder(int column, int direction);

// True when the path names an archive: ".vmra" occurs first at its end, not
// at its start.
bool IsArchivePath(const QString& path);

// The files a folder listing shows: its LAS files, then its archives, each
// group in name order; never a folder.
QFileInfoList ListedFiles(const QString& folder);

// What a listing of path comes from: the names, sizes and times of the files
// a folder listing shows, or the size and time of an archive. While it stays
// the same, listing path again would give the same items.
QString ListingStamp(const QString& path);

// What the list shows and what of it is selected, for the status bar.
struct ListTotals {
    bool archive = false;
    int items = 0;
    int64_t size = 0;    // of the files, or of the entries' LAS files
    int64_t packed = 0;  // what the entries take in the archive
    int selected = 0;
    int64_t selectedSize = 0;  // as size, of the selected items
};
// "12 entries, 1.000 B in 250 B (25.0 %) — 3 selected, 300 B" for an
// archive; "7 files, 420 B — 2 selected, 60 B" for a folder. The ratio is
// left out where there is nothing to compare with, the selection where
// nothing is selected.
QString StatusText(const ListTotals& t);

// Availability of the list commands for a selection.
struct CommandFlags {
    bool canAdd = false;
    bool canExtract = false;
    bool canDelete = false;
    bool canExtractHere = false;
    bool canTest = false;  // entries of the open archive, tested in place
    bool operator==(const CommandFlags&) const = default;
};

// selectedNames excludes "..".
CommandFlags ComputeCommandFlags(const QStringList& selectedNames, bool archiveMode);

// The names a question is about, one a line: at most `most` of them, then a
// line that says how many more there are.
QString ListedNames(const QStringList& names, int most = 10);

// How the deletion of entries stands: entry `index` of `count` is `percent`
// done. The bar moves on with every entry, not only within the last.
int OverallPercent(std::size_t index, std::size_t count, int percent);

}  // namespace listview
