#include "app/EntryListing.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <nlohmann/json.hpp>

#include "app/CommandLineMessages.h"
#include "app/TerminalText.h"

namespace {

// The sums of the totals line; points only of entries whose header was read.
struct Totals {
    uint64_t lasBytes = 0;
    uint64_t storedBytes = 0;
    uint64_t points = 0;
};

Totals Sum(const std::vector<EntryInfo>& entries) {
    Totals t;
    for (const EntryInfo& e : entries) {
        t.lasBytes += e.record.uncompressedSize;
        t.storedBytes += static_cast<uint64_t>(e.extent);
        if (e.headerRead) t.points += e.points;
    }
    return t;
}

// Stored size / LAS size in percent; negative when the LAS size is 0.
double RatioPercent(uint64_t stored, uint64_t las) {
    return las == 0 ? -1 : static_cast<double>(stored) / static_cast<double>(las) * 100.0;
}

std::string RatioText(double percent) {
    if (percent < 0) return climsg::kNoRatio;
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.2f%%", percent);
    return buf;
}

std::string VersionText(const EntryInfo& e) {
    return std::to_string(e.versionMajor) + "." + std::to_string(e.versionMinor);
}

constexpr std::size_t kColumns = 9;
using Row = std::array<std::string, kColumns>;
// Figures are right-aligned; the words and the name left-aligned.
constexpr bool kLeftAligned[kColumns] = {false, false, false, false, false, false, true, true, true};

// The kind is told by the entry's first byte, read with the directory.
const char* KindText(const EntryInfo& e) { return e.extended ? climsg::kKindExtended : climsg::kKindClassic; }

// A damaged checksum record is known from the directory alone; whether an
// entry has one at all is told only beside a header that could be read.
std::string ChecksumText(const EntryInfo& e) {
    if (e.checksum == EntryRecord::ChecksumState::Damaged) return climsg::kChecksumDamaged;
    if (!e.headerRead) return climsg::kUnknown;
    return e.checksum == EntryRecord::ChecksumState::Present ? climsg::kYes : climsg::kNo;
}

Row EntryRow(const EntryInfo& e) {
    const std::string unknown = climsg::kUnknown;
    return {GroupDigits(e.record.uncompressedSize),
            GroupDigits(static_cast<uint64_t>(e.extent)),
            RatioText(RatioPercent(static_cast<uint64_t>(e.extent), e.record.uncompressedSize)),
            e.headerRead ? VersionText(e) : unknown,
            e.headerRead ? std::to_string(e.pointFormat) : unknown,
            e.headerRead ? GroupDigits(e.points) : unknown,
            ChecksumText(e),
            KindText(e),
            TerminalSafe(e.name)};
}

Row TotalsRow(const std::vector<EntryInfo>& entries) {
    const Totals t = Sum(entries);
    const std::size_t n = entries.size();
    return {GroupDigits(t.lasBytes),
            GroupDigits(t.storedBytes),
            RatioText(RatioPercent(t.storedBytes, t.lasBytes)),
            "",
            "",
            GroupDigits(t.points),
            "",
            "",
            std::to_string(n) + " " + (n == 1 ? climsg::kEntry : climsg::kEntries)};
}

std::string Layout(const std::vector<Row>& rows) {
    std::array<std::size_t, kColumns> width{};
    for (const Row& row : rows) {
        for (std::size_t c = 0; c < kColumns; ++c) width[c] = std::max(width[c], ColumnsOf(row[c]));
    }
    std::string text;
    for (const Row& row : rows) {
        std::string line;
        for (std::size_t c = 0; c < kColumns; ++c) {
            const std::string pad(width[c] - ColumnsOf(row[c]), ' ');
            if (c > 0) line += "  ";
            // The last column is not padded: no blanks at the end of a line.
            line += kLeftAligned[c] ? row[c] + (c + 1 < kColumns ? pad : "") : pad + row[c];
        }
        text += line.substr(0, line.find_last_not_of(' ') + 1) + "\n";
    }
    return text;
}

}  // namespace

std::string FormatEntryListing(const std::vector<EntryInfo>& entries) {
    std::vector<Row> rows;
    rows.push_back({climsg::kColLasSize, climsg::kColStored, climsg::kColRatio, climsg::kColVersion,
                    climsg::kColFormat, climsg::kColPoints, climsg::kColChecksum, climsg::kColKind, climsg::kColName});
    for (const EntryInfo& e : entries) rows.push_back(EntryRow(e));
    rows.push_back(TotalsRow(entries));
    return Layout(rows);
}

std::string EntryListingJson(const std::string& archivePath, const std::vector<EntryInfo>& entries) {
    using json = nlohmann::ordered_json;
    const auto ratio = [](uint64_t stored, uint64_t las) {
        const double r = RatioPercent(stored, las);
        return r < 0 ? json(nullptr) : json(r);
    };
    json list = json::array();
    for (const EntryInfo& e : entries) {
        const uint64_t stored = static_cast<uint64_t>(e.extent);
        json item = {{"name", e.name},
                     {"las_size", e.record.uncompressedSize},
                     {"stored_size", stored},
                     {"ratio_percent", ratio(stored, e.record.uncompressedSize)},
                     {"las_version", nullptr},
                     {"point_format", nullptr},
                     {"points", nullptr},
                     {"checksum", nullptr},
                     {"kind", KindText(e)}};
        if (e.headerRead) {
            item["las_version"] = VersionText(e);
            item["point_format"] = e.pointFormat;
            item["points"] = e.points;
            item["checksum"] = e.checksum == EntryRecord::ChecksumState::Present;
        }
        if (e.checksum == EntryRecord::ChecksumState::Damaged) item["checksum"] = climsg::kChecksumDamaged;
        list.push_back(std::move(item));
    }
    const Totals t = Sum(entries);
    const json doc = {{"archive", archivePath},
                      {"entries", std::move(list)},
                      {"totals",
                       {{"entries", entries.size()},
                        {"las_size", t.lasBytes},
                        {"stored_size", t.storedBytes},
                        {"ratio_percent", ratio(t.storedBytes, t.lasBytes)},
                        {"points", t.points}}}};
    // Entry names are bytes from the archive: a name that is not UTF-8 must
    // not make the whole listing fail, and one with C1 controls or
    // bidirectional overrides (which JSON may carry as they are) must not
    // steer the terminal the document is printed on. Every character past
    // ASCII is written as a \u escape; a reader gets the same name.
    return doc.dump(2, ' ', true, json::error_handler_t::replace) + "\n";
}
