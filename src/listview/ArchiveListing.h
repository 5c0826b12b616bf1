#pragma once

#include <QString>

#include <cstdint>
#include <vector>

namespace listview {

struct ArchiveEntryInfo {
    QString name;
    int64_t size = 0;    // uncompressed LAS file size
    int64_t packed = 0;  // stored size in the archive
};

// The entries of an archive, read from its directory; nothing is
// decompressed, and the archive is closed again before this returns.
struct ArchiveListing {
    enum Outcome {
        Listed,      // entries holds the directory (empty for an empty archive)
        CannotOpen,  // the file could not be opened for reading
        Failed       // the archive layer refused it; error holds its message
    };
    Outcome outcome = Listed;
    std::vector<ArchiveEntryInfo> entries;
    QString error;
};

ArchiveListing ReadArchiveListing(const QString& archivePath);

}  // namespace listview
