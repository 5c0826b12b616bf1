#pragma once

#include <string>
#include <vector>

#include "velmora/velmora.hpp"

// What "-l" prints of an archive's entries: figures of the directory and of
// each entry's stored header only, nothing decoded. The stored size is the
// entry's true extent in the archive (older archives record less than that
// for entries kept uncompressed); the ratio is stored size / LAS size in
// percent, as the window shows it.

// A heading, one line per entry and a totals line, in aligned columns with
// the name last (names may hold blanks).
std::string FormatEntryListing(const std::vector<velmora::EntryInfo>& entries);

// The same figures as one JSON document: {"archive", "entries": [...],
// "totals"}. Figures the stored header could not give are null; names that
// are not UTF-8 have their bad bytes replaced.
std::string EntryListingJson(const std::string& archivePath, const std::vector<velmora::EntryInfo>& entries);

// -l -v: what each entry's stored header says (headers[i] of entries[i]; an
// entry whose header could not be read says why).
std::string FormatEntryFacts(const std::vector<velmora::EntryInfo>& entries,
                             const std::vector<velmora::EntryHeader>& headers);
std::string EntryFactsJson(const std::string& archivePath, const std::vector<velmora::EntryInfo>& entries,
                           const std::vector<velmora::EntryHeader>& headers);
// -l of a LAS file: its own facts, as text or as JSON.
std::string FormatLasFileFacts(const std::string& path, const velmora::HeaderFacts& facts);
std::string LasFileFactsJson(const std::string& path, const velmora::HeaderFacts& facts);
