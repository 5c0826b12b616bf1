#pragma once

#include <QString>
#include <QStringList>

#include <cstdint>
#include <vector>

namespace listview {

struct ArchiveEntryInfo {
    QString name;   // as the archive holds it: what commands on the entry name
    QString shown;  // as the list shows it, with whatever could mislead escaped
    int64_t size = 0;    // uncompressed LAS file size
    int64_t packed = 0;  // stored size in the archive
};

// The entries of an archive, read from its directory by the archive layer,
// which locks the archive for reading and first puts right a change of it
// that was interrupted. Nothing is decompressed, and the archive is closed
// again before this returns. An archive another program is changing is not
// waited for: the window must not freeze.
struct ArchiveListing {
    enum Outcome {
        Listed,      // entries holds the directory (empty for an empty archive)
        CannotOpen,  // the file could not be opened for reading
        Failed       // the archive layer refused it; error holds its message
    };
    Outcome outcome = Listed;
    std::vector<ArchiveEntryInfo> entries;
    QString error;
    int cause = 0;  // the system's reason behind the failure, 0 for none
    // What the archive layer said besides, one line each ("PATH: text").
    QStringList notices;
};

ArchiveListing ReadArchiveListing(const QString& archivePath);

}  // namespace listview
