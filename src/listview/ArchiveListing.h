#pragma once

#include <QString>
#include <QStringList>

#include <cstdint>
#include <vector>

namespace listview {

// Whether an entry carries its LAS file's checksum, in the order the list
// sorts them: a damaged record first, an entry whose header could not be
// read (so nobody can tell) last.
enum class ChecksumShown { Unknown, No, Yes, Damaged };

// What an entry's stored header says of its LAS file; nothing decoded.
struct HeaderFigures {
    bool read = false;  // the stored header could be read; the figures are 0 if not
    int versionMajor = 0;
    int versionMinor = 0;
    int pointFormat = 0;
    uint64_t points = 0;
    ChecksumShown checksum = ChecksumShown::Unknown;
};

struct ArchiveEntryInfo {
    QString name;   // as the archive holds it: what commands on the entry name
    QString shown;  // as the list shows it, with whatever could mislead escaped
    int64_t size = 0;    // uncompressed LAS file size
    int64_t packed = 0;  // stored size in the archive
    int64_t index = 0;   // place in the directory: tells entries of one name apart
    HeaderFigures figures;
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
