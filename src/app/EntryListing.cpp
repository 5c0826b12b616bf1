#include "app/EntryListing.h"

#include <algorithm>
#include <array>
#include <charconv>
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

Totals Sum(const std::vector<velmora::EntryInfo>& entries) {
    Totals t;
    for (const velmora::EntryInfo& e : entries) {
        t.lasBytes += e.lasSize;
        t.storedBytes += e.storedSize;
        if (e.headerRead) t.points += e.pointCount;
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

std::string VersionText(const velmora::EntryInfo& e) {
    return std::to_string(e.versionMajor) + "." + std::to_string(e.versionMinor);
}

constexpr std::size_t kColumns = 9;
using Row = std::array<std::string, kColumns>;
// Figures are right-aligned; the words and the name left-aligned.
constexpr bool kLeftAligned[kColumns] = {false, false, false, false, false, false, true, true, true};

// The kind is told by the entry's first byte, read with the directory.
const char* KindText(const velmora::EntryInfo& e) { return e.extended ? climsg::kKindExtended : climsg::kKindClassic; }

// A damaged checksum record is known from the directory alone; whether an
// entry has one at all is told only beside a header that could be read.
std::string ChecksumText(const velmora::EntryInfo& e) {
    if (e.checksumDamaged) return climsg::kChecksumDamaged;
    if (!e.headerRead) return climsg::kUnknown;
    return e.hasChecksum ? climsg::kYes : climsg::kNo;
}

Row EntryRow(const velmora::EntryInfo& e) {
    const std::string unknown = climsg::kUnknown;
    return {GroupDigits(e.lasSize),
            GroupDigits(e.storedSize),
            RatioText(RatioPercent(e.storedSize, e.lasSize)),
            e.headerRead ? VersionText(e) : unknown,
            e.headerRead ? std::to_string(e.pointFormat) : unknown,
            e.headerRead ? GroupDigits(e.pointCount) : unknown,
            ChecksumText(e),
            KindText(e),
            TerminalSafe(e.name)};
}

Row TotalsRow(const std::vector<velmora::EntryInfo>& entries) {
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

std::string FormatEntryListing(const std::vector<velmora::EntryInfo>& entries) {
    std::vector<Row> rows;
    rows.push_back({climsg::kColLasSize, climsg::kColStored, climsg::kColRatio, climsg::kColVersion,
                    climsg::kColFormat, climsg::kColPoints, climsg::kColChecksum, climsg::kColKind, climsg::kColName});
    for (const velmora::EntryInfo& e : entries) rows.push_back(EntryRow(e));
    rows.push_back(TotalsRow(entries));
    return Layout(rows);
}

namespace {

using json = nlohmann::ordered_json;

json RatioJson(uint64_t stored, uint64_t las) {
    const double r = RatioPercent(stored, las);
    return r < 0 ? json(nullptr) : json(r);
}

json EntryJson(const velmora::EntryInfo& e) {
    const uint64_t stored = e.storedSize;
    json item = {{"name", e.name},
                 {"las_size", e.lasSize},
                 {"stored_size", stored},
                 {"ratio_percent", RatioJson(stored, e.lasSize)},
                 {"las_version", nullptr},
                 {"point_format", nullptr},
                 {"points", nullptr},
                 {"checksum", nullptr},
                 {"kind", KindText(e)}};
    if (e.headerRead) {
        item["las_version"] = VersionText(e);
        item["point_format"] = e.pointFormat;
        item["points"] = e.pointCount;
        item["checksum"] = e.hasChecksum;
    }
    if (e.checksumDamaged) item["checksum"] = climsg::kChecksumDamaged;
    return item;
}

json ListingJson(const std::string& archivePath, const std::vector<velmora::EntryInfo>& entries, json list) {
    const Totals t = Sum(entries);
    return {{"archive", archivePath},
            {"entries", std::move(list)},
            {"totals",
             {{"entries", entries.size()},
              {"las_size", t.lasBytes},
              {"stored_size", t.storedBytes},
              {"ratio_percent", RatioJson(t.storedBytes, t.lasBytes)},
              {"points", t.points}}}};
}

// Entry names and the header's texts are bytes from files: a name that is
// not UTF-8 must not make the whole listing fail, and one with C1 controls
// or bidirectional overrides (which JSON may carry as they are) must not
// steer the terminal the document is printed on. Every character past ASCII
// is written as a \u escape; a reader gets the same text.
std::string Dump(const json& doc) { return doc.dump(2, ' ', true, json::error_handler_t::replace) + "\n"; }

// The shortest text that reads back as the same double.
std::string Real(double v) {
    char buf[64];
    const auto r = std::to_chars(buf, buf + sizeof buf, v);
    return std::string(buf, r.ptr);
}

std::string Triple(const double (&v)[3]) { return Real(v[0]) + " " + Real(v[1]) + " " + Real(v[2]); }

// Coordinates to the decimals their scale gives them (0.01: two), which is
// all the precision the points have.
std::string Coordinates(const double (&v)[3], const double (&scale)[3]) {
    std::string text;
    for (int a = 0; a < 3; ++a) {
        int decimals = 0;
        for (double s = scale[a]; s > 0 && s < 0.99999 && decimals < 12; s *= 10) ++decimals;
        char buf[64];
        std::snprintf(buf, sizeof buf, "%.*f", decimals, v[a]);
        text += (a ? " " : "") + std::string(buf);
    }
    return text;
}

json TripleJson(const double (&v)[3]) { return {{"x", v[0]}, {"y", v[1]}, {"z", v[2]}}; }

std::string CrsText(const velmora::HeaderFacts& f) {
    if (f.epsg == 0 && f.crsName.empty()) return climsg::kFactNoCrs;
    std::string text = f.epsg != 0 ? "EPSG:" + std::to_string(f.epsg) : "";
    if (!f.crsName.empty()) text += (text.empty() ? "" : " ") + std::string("\"") + TerminalSafe(f.crsName) + "\"";
    return text;
}

std::string FactsText(const std::string& title, const velmora::HeaderFacts& f, const char* kind) {
    std::string byReturn;
    for (std::size_t r = 0; r < f.pointsByReturn.size(); ++r) {
        if (f.pointsByReturn[r] == 0 && r >= 5) continue;
        byReturn += (byReturn.empty() ? "" : "  ") + std::to_string(r + 1) + ": " + GroupDigits(f.pointsByReturn[r]);
    }
        std::vector<std::pair<const char*, std::string>> lines;
    if (kind) lines.emplace_back(climsg::kFactKind, kind);
    lines.emplace_back(climsg::kFactVersion, std::to_string(f.versionMajor) + "." + std::to_string(f.versionMinor));
    lines.emplace_back(climsg::kFactFormat, std::to_string(f.pointFormat));
    lines.emplace_back(climsg::kFactRecord, std::to_string(f.recordLength));
    lines.emplace_back(climsg::kFactPoints, GroupDigits(f.pointCount));
    lines.emplace_back(climsg::kFactByReturn, byReturn);
    lines.emplace_back(climsg::kFactMin, Coordinates(f.minimum, f.scale));
    lines.emplace_back(climsg::kFactMax, Coordinates(f.maximum, f.scale));
    lines.emplace_back(climsg::kFactScale, Triple(f.scale));
    lines.emplace_back(climsg::kFactOffset, Triple(f.offset));
    lines.emplace_back(climsg::kFactCreated, std::to_string(f.creationDay) + ", " + std::to_string(f.creationYear));
    lines.emplace_back(climsg::kFactSystem, TerminalSafe(f.systemIdentifier));
    lines.emplace_back(climsg::kFactSoftware, TerminalSafe(f.generatingSoftware));
    lines.emplace_back(climsg::kFactSourceId, std::to_string(f.fileSourceId));
    lines.emplace_back(climsg::kFactCrs, CrsText(f));
    lines.emplace_back(climsg::kFactVlrs, std::to_string(f.vlrs.size()) + (f.vlrsComplete ? "" : std::string(" ") + climsg::kFactCutShort));
    std::size_t width = 0;
    for (const auto& line : lines) width = std::max(width, std::string(line.first).size());
    std::string text = title + "\n";
    for (const auto& [label, value] : lines) {
        text += "  " + std::string(label) + std::string(width - std::string(label).size() + 2, ' ') + value + "\n";
    }
    for (const velmora::VlrInfo& v : f.vlrs) {
        text += "    " + std::string(v.extended ? climsg::kFactEvlr : climsg::kFactVlr) + "  " + TerminalSafe(v.userId) +
                "  " + std::to_string(v.recordId) + "  \"" + TerminalSafe(v.description) + "\"  " + GroupDigits(v.length) +
                climsg::kFactBytes + "\n";
    }
    return text;
}

json FactsJson(const velmora::HeaderFacts& f) {
        json vlrs = json::array();
    for (const velmora::VlrInfo& v : f.vlrs) {
        vlrs.push_back({{"user_id", v.userId},
                        {"record_id", v.recordId},
                        {"description", v.description},
                        {"length", v.length},
                        {"extended", v.extended}});
    }
    return {{"las_version", std::to_string(f.versionMajor) + "." + std::to_string(f.versionMinor)},
            {"point_format", f.pointFormat},
            {"record_length", f.recordLength},
            {"points", f.pointCount},
            {"points_by_return", f.pointsByReturn},
            {"minimum", TripleJson(f.minimum)},
            {"maximum", TripleJson(f.maximum)},
            {"scale", TripleJson(f.scale)},
            {"offset", TripleJson(f.offset)},
            {"creation_day", f.creationDay},
            {"creation_year", f.creationYear},
            {"system_identifier", f.systemIdentifier},
            {"generating_software", f.generatingSoftware},
            {"file_source_id", f.fileSourceId},
            {"global_encoding", f.globalEncoding},
            {"coordinate_system",
             {{"epsg", f.epsg != 0 ? json(f.epsg) : json(nullptr)},
              {"name", f.crsName.empty() ? json(nullptr) : json(f.crsName)}}},
            {"vlrs", std::move(vlrs)},
            {"vlrs_complete", f.vlrsComplete}};
}

}  // namespace

std::string EntryListingJson(const std::string& archivePath, const std::vector<velmora::EntryInfo>& entries) {
    json list = json::array();
    for (const velmora::EntryInfo& e : entries) list.push_back(EntryJson(e));
    return Dump(ListingJson(archivePath, entries, std::move(list)));
}

std::string FormatEntryFacts(const std::vector<velmora::EntryInfo>& entries, const std::vector<velmora::EntryHeader>& facts) {
    std::string text = FormatEntryListing(entries);
    for (std::size_t i = 0; i < entries.size() && i < facts.size(); ++i) {
        const std::string title = TerminalSafe(entries[i].name);
        text += "\n";
        if (facts[i].read) {
            text += FactsText(title, facts[i].facts, KindText(entries[i]));
        } else {
            text += title + "\n  " + climsg::kFactUnreadable + facts[i].why + "\n";
        }
    }
    return text;
}

std::string EntryFactsJson(const std::string& archivePath, const std::vector<velmora::EntryInfo>& entries,
                           const std::vector<velmora::EntryHeader>& facts) {
    json list = json::array();
    for (std::size_t i = 0; i < entries.size(); ++i) {
        json item = EntryJson(entries[i]);
        const bool known = i < facts.size() && facts[i].read;
        item["header"] = known ? FactsJson(facts[i].facts) : json(nullptr);
        if (!known && i < facts.size()) item["header_error"] = facts[i].why;
        list.push_back(std::move(item));
    }
    return Dump(ListingJson(archivePath, entries, std::move(list)));
}

std::string FormatLasFileFacts(const std::string& path, const velmora::HeaderFacts& facts) {
    return FactsText(TerminalSafe(path), facts, nullptr);
}

std::string LasFileFactsJson(const std::string& path, const velmora::HeaderFacts& facts) {
    return Dump({{"file", path}, {"las_size", facts.fileSize}, {"header", FactsJson(facts)}});
}
