#include "listview/ListLogic.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QStringList>

#include <algorithm>
#include <ctime>
#include <iterator>

#include "listview/ListMessages.h"
#include "platform/Paths.h"

namespace listview {

QString FormatCount(uint64_t value) {
    const QString digits = QString::number(value);
    QString out;
    const qsizetype n = digits.size();
    for (qsizetype i = 0; i < n; ++i) {
        if (i > 0 && (n - i) % 3 == 0) out += QLatin1Char('.');
        out += digits[i];
    }
    return out;
}

QString FormatByteCount(int64_t value) {
    const bool negative = value < 0;
    // Through unsigned so the most negative value does not overflow.
    const uint64_t magnitude = negative ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
    return (negative ? QStringLiteral("-") : QString()) + FormatCount(magnitude) + QStringLiteral(" B");
}

QString FormatFileTime(int64_t secondsSinceEpoch) {
    const std::time_t t = static_cast<std::time_t>(secondsSinceEpoch);
    std::tm local{};
    if (!localtime_r(&t, &local)) return QString();
    char buf[128];
    const std::size_t n = std::strftime(buf, sizeof buf, "%d.%m.%Y %H:%M", &local);
    if (n == 0) return QString();
    return QString::fromLocal8Bit(buf, static_cast<qsizetype>(n));
}

ArchiveItemRecord MakeArchiveRecord(const QString& name, int64_t size, int64_t packed,
                                    const HeaderFigures& figures) {
    ArchiveItemRecord r;
    r.name = name.toLower();
    r.size = size;
    r.packed = packed;
    r.figures = figures;
    if (size != 0) {
        r.hasRatio = true;
        r.ratio = static_cast<double>(packed) / static_cast<double>(size) * 100.0;
    }
    return r;
}

QString FormatRatio(const ArchiveItemRecord& r) {
    if (!r.hasRatio) return QString::fromLatin1(listmsg::kNoRatio);
    return QString::asprintf("%.2f", r.ratio) + QLatin1Char('%');
}

QString FormatVersion(const HeaderFigures& f) {
    if (!f.read) return QString::fromLatin1(listmsg::kUnknownFigure);
    return QString::number(f.versionMajor) + QLatin1Char('.') + QString::number(f.versionMinor);
}

QString FormatPointFormat(const HeaderFigures& f) {
    return f.read ? QString::number(f.pointFormat) : QString::fromLatin1(listmsg::kUnknownFigure);
}

QString FormatPoints(const HeaderFigures& f) {
    return f.read ? FormatCount(f.points) : QString::fromLatin1(listmsg::kUnknownFigure);
}

QString FormatChecksum(ChecksumShown c) {
    switch (c) {
        case ChecksumShown::Yes: return QString::fromLatin1(listmsg::kChecksumYes);
        case ChecksumShown::No: return QString::fromLatin1(listmsg::kChecksumNo);
        case ChecksumShown::Damaged: return QString::fromLatin1(listmsg::kChecksumDamaged);
        case ChecksumShown::Unknown: break;
    }
    return QString::fromLatin1(listmsg::kUnknownFigure);
}

QString FormatShortSize(uint64_t bytes) {
    static const char* const kUnits[] = {" B", " kB", " MB", " GB", " TB", " PB", " EB"};
    if (bytes < 1000) return QString::number(bytes) + QString::fromLatin1(kUnits[0]);
    double value = static_cast<double>(bytes);
    int unit = 0;
    // The unit in which the rounded figure stays below 1000.
    while (unit + 1 < static_cast<int>(std::size(kUnits)) && value >= 999.5) {
        value /= 1000.0;
        ++unit;
    }
    const int decimals = value < 9.995 ? 2 : (value < 99.95 ? 1 : 0);
    return QString::number(value, 'f', decimals) + QString::fromLatin1(kUnits[unit]);
}

QString StatusText(const ListTotals& t) {
    QString items;
    if (t.archive)
        items = t.items == 1 ? QString::fromLatin1(listmsg::kOneEntry) : QString::fromLatin1(listmsg::kEntries).arg(t.items);
    else
        items = t.items == 1 ? QString::fromLatin1(listmsg::kOneFile) : QString::fromLatin1(listmsg::kFiles).arg(t.items);
    QString text;
    if (t.archive && t.size > 0) {
        const double percent = static_cast<double>(t.packed) / static_cast<double>(t.size) * 100.0;
        text = QString::fromLatin1(listmsg::kArchiveHolds)
                   .arg(items, FormatShortSize(t.size), FormatShortSize(t.packed), QString::number(percent, 'f', 1));
    } else {
        text = QString::fromLatin1(listmsg::kHolds).arg(items, FormatShortSize(t.size));
    }
    if (t.selected <= 0) return text;
    return QString::fromUtf8(listmsg::kSelectedPart)
        .arg(text, QString::number(t.selected), FormatShortSize(t.selectedSize));
}

namespace {
// +1 when a is smaller: the larger value goes first.
template <class T>
int LargestFirst(const T& a, const T& b) {
    if (a < b) return 1;
    if (b < a) return -1;
    return 0;
}

// A figure of the entries' headers, largest first; an entry whose header
// could not be read after every entry whose header could.
template <class Figure>
int Figures(const ArchiveItemRecord& a, const ArchiveItemRecord& b, Figure figure) {
    if (a.figures.read && b.figures.read) return LargestFirst(figure(a.figures), figure(b.figures));
    return LargestFirst(a.figures.read, b.figures.read);
}

int NameOrder(const QString& a, const QString& b) {
    const int c = QString::compare(a, b, Qt::CaseSensitive);
    return c < 0 ? -1 : (c > 0 ? 1 : 0);
}
}  // namespace

int CompareFolderItems(const FolderItemRecord& a, const FolderItemRecord& b, int column,
                       int direction) {
    int r = 0;
    switch (column) {
        case 0: r = NameOrder(a.name, b.name); break;
        case 1: r = LargestFirst(a.size, b.size); break;
        case 2: r = LargestFirst(a.lastWrite, b.lastWrite); break;
        default: r = 0;
    }
    return direction < 0 ? -r : r;
}

int CompareArchiveItems(const ArchiveItemRecord& a, const ArchiveItemRecord& b, int column,
                        int direction) {
    int r = 0;
    switch (column) {
        case kColumnName: r = NameOrder(a.name, b.name); break;
        case kColumnSize: r = LargestFirst(a.size, b.size); break;
        case kColumnPacked: r = LargestFirst(a.packed, b.packed); break;
        case kColumnRatio:
            if (a.hasRatio && b.hasRatio)
                r = LargestFirst(a.ratio, b.ratio);
            else
                r = LargestFirst(a.hasRatio, b.hasRatio);
            break;
        case kColumnVersion:
            r = Figures(a, b, [](const HeaderFigures& f) { return std::pair(f.versionMajor, f.versionMinor); });
            break;
        case kColumnFormat:
            r = Figures(a, b, [](const HeaderFigures& f) { return f.pointFormat; });
            break;
        case kColumnPoints:
            r = Figures(a, b, [](const HeaderFigures& f) { return f.points; });
            break;
        case kColumnChecksum:
            r = LargestFirst(static_cast<int>(a.figures.checksum), static_cast<int>(b.figures.checksum));
            break;
        default: r = 0;
    }
    return direction < 0 ? -r : r;
}

Qt::SortOrder ShownSortOrder(int column, int direction) {
    const bool byName = column == 0;
    return byName == (direction > 0) ? Qt::AscendingOrder : Qt::DescendingOrder;
}

bool IsArchivePath(const QString& path) {
    return platform::HasTrailingExtension(path, QStringLiteral(".vmra"), true);
}

QString ListingStamp(const QString& path) {
    QString stamp;
    auto add = [&stamp](const QFileInfo& fi) {
        stamp += fi.fileName() + QLatin1Char('/') + QString::number(fi.size()) + QLatin1Char('/') +
                 QString::number(fi.lastModified().toMSecsSinceEpoch()) + QLatin1Char('\n');
    };
    if (IsArchivePath(path)) {
        const QFileInfo archive(path);
        if (archive.exists()) add(archive);
        return stamp;
    }
    for (const QFileInfo& fi : ListedFiles(path)) add(fi);
    return stamp;
}

QFileInfoList ListedFiles(const QString& folder) {
    const QDir dir(folder);
    QFileInfoList files;
    for (const char* pattern : {"*.las", "*.vmra"})
        files += dir.entryInfoList({QString::fromLatin1(pattern)}, QDir::Files | QDir::Hidden | QDir::System,
                                   QDir::Name);
    return files;
}

CommandFlags ComputeCommandFlags(const QStringList& selectedNames, bool archiveMode) {
    CommandFlags f;
    if (selectedNames.isEmpty()) return f;
    f.canDelete = true;
    bool archives = false, lasFiles = false;
    for (const QString& n : selectedNames) {
        if (platform::HasSuffixNoCase(n, QStringLiteral(".vmra"))) archives = true;
        if (platform::HasSuffixNoCase(n, QStringLiteral(".las"))) lasFiles = true;
    }
    if (lasFiles && !archives) {
        f.canAdd = !archiveMode;
        f.canExtract = f.canExtractHere = f.canTest = archiveMode;
    } else if (archives && !lasFiles) {
        f.canExtract = f.canExtractHere = true;
    }
    return f;
}

QString ListedNames(const QStringList& names, int most) {
    const qsizetype shown = std::min<qsizetype>(names.size(), std::max(most, 0));
    QStringList lines = names.mid(0, shown);
    if (names.size() > shown) lines << QString::fromLatin1(listmsg::kAndMore).arg(names.size() - shown);
    return lines.join(QLatin1Char('\n'));
}

int OverallPercent(std::size_t index, std::size_t count, int percent) {
    if (count == 0) return 0;
    const std::size_t done = std::min(index, count) * 100 + static_cast<std::size_t>(std::clamp(percent, 0, 100));
    return static_cast<int>(std::min<std::size_t>(done / count, 100));
}

}  // namespace listview
