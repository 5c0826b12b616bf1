#include "ArchiveStates.h"

#include <QFile>

#include <cstdlib>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include "archive/VMRAFile.h"

namespace guitest {

CHeldArchiveLock::CHeldArchiveLock(const QString& archivePath) {
    fd = ::open(QFile::encodeName(archivePath).constData(), O_RDONLY | O_CLOEXEC);
    if (fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) != 0) Release();
}

CHeldArchiveLock::~CHeldArchiveLock() { Release(); }

void CHeldArchiveLock::Release() {
    if (fd >= 0) ::close(fd);
    fd = -1;
}

bool LeaveInterruptedChange(const QString& archivePath, const QString& lasPath) {
    const QString journal = archivePath + QStringLiteral("-journal");
    for (int step = 1; step < 400; ++step) {
        ::setenv("VELMORA_FAULT", ("failfrom@" + std::to_string(step)).c_str(), 1);
        bool failed = false;
        try {
            VMRAFile archive;
            archive.AddLasFile(QFile::encodeName(lasPath).toStdString(),
                               QFile::encodeName(archivePath).toStdString());
        } catch (const CLasException&) {
            failed = true;
        }
        ::unsetenv("VELMORA_FAULT");
        if (QFile::exists(journal)) return true;
        // Past the last step the add went through: there is nothing left
        // to interrupt.
        if (!failed) return false;
    }
    return false;
}

bool DamageEntry(const QString& archivePath, const QString& entryName) {
    VMRAFile archive;
    for (const EntryRecord& r : archive.ReadDirectoryOf(QFile::encodeName(archivePath).toStdString())) {
        if (r.Name() != entryName.toStdString()) continue;
        QFile file(archivePath);
        if (!file.open(QIODevice::ReadWrite) || r.storedSize < 512) return false;
        const qint64 at = static_cast<qint64>(r.dataOffset) + r.storedSize / 2;
        file.seek(at);
        QByteArray bytes = file.read(64);
        for (char& c : bytes) c = static_cast<char>(c ^ 0x5A);
        file.seek(at);
        return file.write(bytes) == bytes.size();
    }
    return false;
}

bool CutShort(const QString& lasPath) {
    QFile f(lasPath);
    return f.size() > 5 && f.resize(f.size() - 5);
}

}  // namespace guitest
