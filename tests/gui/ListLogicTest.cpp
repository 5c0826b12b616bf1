#include <gtest/gtest.h>

#include <QStringList>

#include <cstdlib>
#include <ctime>

#include "listview/ListLogic.h"

using namespace listview;

namespace {
QString S(const char* s) { return QString::fromUtf8(s); }
}  // namespace

TEST(FormatTest, ByteCountsGroupedInThrees) {
    EXPECT_EQ(FormatByteCount(0), S("0 B"));
    EXPECT_EQ(FormatByteCount(12), S("12 B"));
    EXPECT_EQ(FormatByteCount(999), S("999 B"));
    EXPECT_EQ(FormatByteCount(1000), S("1.000 B"));
    EXPECT_EQ(FormatByteCount(1000000), S("1.000.000 B"));
    EXPECT_EQ(FormatByteCount(12345), S("12.345 B"));
    // 2 GiB and more: no 32-bit wrap into a negative number.
    EXPECT_EQ(FormatByteCount(2147483648LL), S("2.147.483.648 B"));
    EXPECT_EQ(FormatByteCount(5000000000LL), S("5.000.000.000 B"));
    EXPECT_EQ(FormatByteCount(INT64_MAX), S("9.223.372.036.854.775.807 B"));
}

TEST(FormatTest, FileTimeInLocalTime) {
    const char* old = std::getenv("TZ");
    const std::string saved = old ? old : "";
    setenv("TZ", "UTC", 1);
    tzset();
    EXPECT_EQ(FormatFileTime(0), S("01.01.1970 00:00"));
    EXPECT_EQ(FormatFileTime(1796615160), S("07.12.2026 03:46"));
    setenv("TZ", "CET-1", 1);
    tzset();
    EXPECT_EQ(FormatFileTime(0), S("01.01.1970 01:00"));
    if (old)
        setenv("TZ", saved.c_str(), 1);
    else
        unsetenv("TZ");
    tzset();
}

TEST(RatioTest, RatioAndTheEntryOfSizeZero) {
    const ArchiveItemRecord r = MakeArchiveRecord(S("A.las"), 1000, 250);
    EXPECT_EQ(r.name, S("a.las"));
    EXPECT_TRUE(r.hasRatio);
    EXPECT_DOUBLE_EQ(r.ratio, 25.0);
    EXPECT_EQ(FormatRatio(r), S("25.00%"));
    const ArchiveItemRecord z = MakeArchiveRecord(S("z.las"), 0, 40);
    EXPECT_FALSE(z.hasRatio);
    EXPECT_EQ(FormatRatio(z), S("-"));
    // No ratio sorts like the smallest ratio: last on the first click.
    EXPECT_GT(CompareArchiveItems(z, r, 3, 1), 0);
    EXPECT_LT(CompareArchiveItems(z, r, 3, -1), 0);
    EXPECT_EQ(CompareArchiveItems(z, z, 3, 1), 0);
}

TEST(CompareTest, DirectionsOfEachColumn) {
    const FolderItemRecord a{S("a.las"), 10, 100}, b{S("b.las"), 5000000000LL, 50};
    EXPECT_LT(CompareFolderItems(a, b, 0, 1), 0);  // A to Z
    EXPECT_GT(CompareFolderItems(a, b, 0, -1), 0);
    EXPECT_GT(CompareFolderItems(a, b, 1, 1), 0);  // largest first, beyond 32 bits
    EXPECT_LT(CompareFolderItems(a, b, 1, -1), 0);
    EXPECT_LT(CompareFolderItems(a, b, 2, 1), 0);  // newest first
    EXPECT_EQ(CompareFolderItems(a, b, 3, 1), 0);
    EXPECT_EQ(CompareFolderItems(a, a, 1, 1), 0);

    const ArchiveItemRecord x = MakeArchiveRecord(S("x.las"), 3000000000LL, 100);
    const ArchiveItemRecord y = MakeArchiveRecord(S("y.las"), 1000, 900);
    EXPECT_LT(CompareArchiveItems(x, y, 1, 1), 0);
    EXPECT_GT(CompareArchiveItems(x, y, 2, 1), 0);
    EXPECT_GT(CompareArchiveItems(x, y, 3, 1), 0);  // y has the larger ratio
    EXPECT_EQ(CompareArchiveItems(x, y, kArchiveColumnCount, 1), 0);
    // Ordinal order of the lower-cased keys: '_' (0x5F) before 'b' (0x62).
    EXPECT_LT(CompareFolderItems({S("_x.las"), 0, 0}, {S("b.las"), 0, 0}, 0, 1), 0);
}

// The columns of the stored headers' figures run as numbers, largest
// first: 10.000 points before 900 (their texts would run the other way).
// An entry whose header could not be read comes after all others.
TEST(CompareTest, HeaderFiguresAsNumbersAndUnreadHeadersLast) {
    const HeaderFigures v12{true, 1, 2, 3, 900, ChecksumShown::Yes};
    const HeaderFigures v14{true, 1, 4, 6, 10000, ChecksumShown::No};
    const HeaderFigures v10{true, 1, 10, 1, 5, ChecksumShown::Damaged};
    HeaderFigures unread;
    const ArchiveItemRecord a = MakeArchiveRecord(S("a.las"), 10, 5, v12);
    const ArchiveItemRecord b = MakeArchiveRecord(S("b.las"), 10, 5, v14);
    const ArchiveItemRecord c = MakeArchiveRecord(S("c.las"), 10, 5, v10);
    const ArchiveItemRecord u = MakeArchiveRecord(S("u.las"), 10, 5, unread);
    EXPECT_LT(CompareArchiveItems(b, a, kColumnPoints, 1), 0);
    EXPECT_GT(CompareArchiveItems(b, a, kColumnPoints, -1), 0);
    EXPECT_LT(CompareArchiveItems(b, a, kColumnVersion, 1), 0);  // 1.4 before 1.2
    EXPECT_LT(CompareArchiveItems(c, b, kColumnVersion, 1), 0);  // 1.10 before 1.4: not as text
    EXPECT_LT(CompareArchiveItems(b, a, kColumnFormat, 1), 0);
    EXPECT_EQ(CompareArchiveItems(a, a, kColumnFormat, 1), 0);
    // Damaged, then with a checksum, then without, then not known.
    EXPECT_LT(CompareArchiveItems(c, a, kColumnChecksum, 1), 0);
    EXPECT_LT(CompareArchiveItems(a, b, kColumnChecksum, 1), 0);
    EXPECT_LT(CompareArchiveItems(b, u, kColumnChecksum, 1), 0);
    for (int column : {kColumnVersion, kColumnFormat, kColumnPoints}) {
        EXPECT_GT(CompareArchiveItems(u, c, column, 1), 0) << column;
        EXPECT_LT(CompareArchiveItems(u, c, column, -1), 0) << column;
        EXPECT_EQ(CompareArchiveItems(u, u, column, 1), 0) << column;
    }
}

TEST(FormatTest, HeaderFigures) {
    const HeaderFigures f{true, 1, 4, 7, 3300000, ChecksumShown::Yes};
    EXPECT_EQ(FormatVersion(f), S("1.4"));
    EXPECT_EQ(FormatPointFormat(f), S("7"));
    EXPECT_EQ(FormatPoints(f), S("3.300.000"));
    EXPECT_EQ(FormatPoints({true, 1, 2, 0, 0, ChecksumShown::No}), S("0"));
    const HeaderFigures unread;
    EXPECT_EQ(FormatVersion(unread), S("?"));
    EXPECT_EQ(FormatPointFormat(unread), S("?"));
    EXPECT_EQ(FormatPoints(unread), S("?"));
    EXPECT_EQ(FormatChecksum(ChecksumShown::Yes), S("yes"));
    EXPECT_EQ(FormatChecksum(ChecksumShown::No), S("no"));
    EXPECT_EQ(FormatChecksum(ChecksumShown::Damaged), S("damaged"));
    EXPECT_EQ(FormatChecksum(ChecksumShown::Unknown), S("?"));
    EXPECT_EQ(FormatCount(0), S("0"));
    EXPECT_EQ(FormatCount(18446744073709551615ull), S("18.446.744.073.709.551.615"));
}

TEST(StatusTextTest, WhatAnArchiveHoldsAndWhatIsSelected) {
    ListTotals t;
    t.archive = true;
    EXPECT_EQ(StatusText(t), S("0 entries, 0 B"));
    t.items = 1;
    t.size = 1000;
    t.packed = 250;
    EXPECT_EQ(StatusText(t), S("1 entry, 1.00 kB in 250 B (25.0 %)"));
    t.items = 12;
    t.size = 1310000000;
    t.packed = 241000000;
    t.selected = 3;
    t.selectedSize = 310000000;
    EXPECT_EQ(StatusText(t), S("12 entries, 1.31 GB in 241 MB (18.4 %) \u2014 3 selected, 310 MB"));
    t.selected = 1;
    t.selectedSize = 0;
    EXPECT_EQ(StatusText(t), S("12 entries, 1.31 GB in 241 MB (18.4 %) \u2014 1 selected, 0 B"));
    // Entries of empty files only: nothing to compare the stored size with.
    t = {};
    t.archive = true;
    t.items = 2;
    t.packed = 100;
    EXPECT_EQ(StatusText(t), S("2 entries, 0 B"));
}

// Three figures, the unit moving up where rounding would reach 1000.
TEST(StatusTextTest, SizesAreShortAndRounded) {
    EXPECT_EQ(FormatShortSize(0), S("0 B"));
    EXPECT_EQ(FormatShortSize(999), S("999 B"));
    EXPECT_EQ(FormatShortSize(1000), S("1.00 kB"));
    EXPECT_EQ(FormatShortSize(12'345), S("12.3 kB"));
    EXPECT_EQ(FormatShortSize(999'499), S("999 kB"));
    EXPECT_EQ(FormatShortSize(999'500), S("1.00 MB"));
    EXPECT_EQ(FormatShortSize(1'310'000'000), S("1.31 GB"));
    EXPECT_EQ(FormatShortSize(UINT64_MAX), S("18.4 EB"));
}

TEST(StatusTextTest, WhatAFolderHoldsAndWhatIsSelected) {
    ListTotals t;
    EXPECT_EQ(StatusText(t), S("0 files, 0 B"));
    t.items = 1;
    t.size = 10;
    EXPECT_EQ(StatusText(t), S("1 file, 10 B"));
    t.items = 7;
    t.size = 420000000;
    t.selected = 2;
    t.selectedSize = 60000000;
    EXPECT_EQ(StatusText(t), S("7 files, 420 MB \u2014 2 selected, 60.0 MB"));
}

TEST(CommandFlagsTest, WhatTheSelectionAllows) {
    EXPECT_EQ(ComputeCommandFlags({}, false), CommandFlags{});
    CommandFlags las = ComputeCommandFlags({S("a.LAS")}, false);
    EXPECT_TRUE(las.canAdd && las.canDelete);
    EXPECT_FALSE(las.canExtract || las.canExtractHere || las.canTest);
    CommandFlags arc = ComputeCommandFlags({S("x.VMRA")}, false);
    EXPECT_TRUE(arc.canExtract && arc.canExtractHere && arc.canDelete);
    EXPECT_FALSE(arc.canAdd || arc.canTest);
    CommandFlags both = ComputeCommandFlags({S("a.las"), S("x.vmra")}, false);
    EXPECT_TRUE(both.canDelete);
    EXPECT_FALSE(both.canAdd || both.canExtract || both.canExtractHere);
    CommandFlags entry = ComputeCommandFlags({S("a.las"), S("b.las")}, true);
    EXPECT_TRUE(entry.canExtract && entry.canExtractHere && entry.canDelete && entry.canTest);
    EXPECT_FALSE(entry.canAdd);
    // Only entries can be tested: nothing else is listed in an archive.
    EXPECT_FALSE(ComputeCommandFlags({S("a.las"), S("x.vmra")}, true).canTest);
}

TEST(ArchivePathTest, FirstOccurrenceMustEndThePath) {
    EXPECT_TRUE(IsArchivePath(S("/data/x.vmra")));
    EXPECT_TRUE(IsArchivePath(S("/data/X.VMRA")));
    EXPECT_FALSE(IsArchivePath(S("/a.vmra.d/b.vmra")));
    EXPECT_FALSE(IsArchivePath(S(".vmra")));
    EXPECT_FALSE(IsArchivePath(S("/data/")));
    EXPECT_FALSE(IsArchivePath(S("/data/x.vmra/")));
}

TEST(QuestionTest, NamesUpToALimitThenHowManyMore) {
    EXPECT_EQ(ListedNames({}), QString());
    EXPECT_EQ(ListedNames({S("a.las")}), S("a.las"));
    EXPECT_EQ(ListedNames({S("a.las"), S("b.las"), S("c.las")}, 3), S("a.las\nb.las\nc.las"));
    EXPECT_EQ(ListedNames({S("a.las"), S("b.las"), S("c.las"), S("d.las")}, 2), S("a.las\nb.las\nand 2 more"));
}

TEST(QuestionTest, TheDeletionBarMovesOnWithEachEntry) {
    EXPECT_EQ(OverallPercent(0, 4, 0), 0);
    EXPECT_EQ(OverallPercent(0, 4, 100), 25);
    EXPECT_EQ(OverallPercent(1, 4, 50), 37);
    EXPECT_EQ(OverallPercent(4, 4, 0), 100);
    EXPECT_EQ(OverallPercent(9, 4, 100), 100);  // never past the end
    EXPECT_EQ(OverallPercent(0, 1, 130), 100);
    EXPECT_EQ(OverallPercent(0, 0, 50), 0);
}

// The arrow tells which way the values run: A to Z is up, largest first down.
TEST(SortArrowTest, FollowsTheWayTheColumnRuns) {
    EXPECT_EQ(ShownSortOrder(0, 1), Qt::AscendingOrder);
    EXPECT_EQ(ShownSortOrder(0, -1), Qt::DescendingOrder);
    for (int column : {1, 2, 3}) {
        EXPECT_EQ(ShownSortOrder(column, 1), Qt::DescendingOrder) << column;
        EXPECT_EQ(ShownSortOrder(column, -1), Qt::AscendingOrder) << column;
    }
}
