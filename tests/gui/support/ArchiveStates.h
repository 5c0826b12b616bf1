#pragma once

#include <QString>

// Archives in the states the window must cope with: in use by another
// program, left with an interrupted change, damaged.
namespace guitest {

// An exclusive lock on an archive, as another program changing it holds one,
// until Release() or the end of the object.
class CHeldArchiveLock {
public:
    explicit CHeldArchiveLock(const QString& archivePath);
    ~CHeldArchiveLock();
    CHeldArchiveLock(const CHeldArchiveLock&) = delete;
    CHeldArchiveLock& operator=(const CHeldArchiveLock&) = delete;
    bool Held() const { return fd >= 0; }
    void Release();

private:
    int fd = -1;
};

// Adds lasPath to the archive with the disk failing for good part of the way
// through, so that the change can be undone neither at once nor at all until
// the archive is opened again: the archive keeps its old bytes and a journal
// lies beside it. False when no such step was found.
bool LeaveInterruptedChange(const QString& archivePath, const QString& lasPath);

// Changes bytes in the middle of the stored data of the entry, so that it
// no longer decodes into the file it was made from.
bool DamageEntry(const QString& archivePath, const QString& entryName);

// Cuts the last record of a LAS file short: no entry kind takes a file whose
// points run past its end. False when the file cannot be shortened.
bool CutShort(const QString& lasPath);

}  // namespace guitest
