#include "listview/ArchiveListing.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <exception>

#include "platform/Paths.h"
#include "velmora/velmora.hpp"

namespace listview {

namespace {
// A damaged checksum record is known from the directory alone; whether an
// entry has one at all is told only beside a header that could be read.
ChecksumShown ChecksumOf(const velmora::EntryInfo& e) {
    if (e.checksumDamaged) return ChecksumShown::Damaged;
    if (!e.headerRead) return ChecksumShown::Unknown;
    return e.hasChecksum ? ChecksumShown::Yes : ChecksumShown::No;
}

HeaderFigures FiguresOf(const velmora::EntryInfo& e) {
    HeaderFigures f;
    f.checksum = ChecksumOf(e);
    if (!e.headerRead) return f;
    f.read = true;
    f.versionMajor = e.versionMajor;
    f.versionMinor = e.versionMinor;
    f.pointFormat = e.pointFormat;
    f.points = e.pointCount;
    return f;
}

// The system's reason when the file cannot be opened for reading at all;
// 0 when it can. Without blocking: a FIFO in the archive's place must not
// hang the window (the library then refuses it as no archive).
int WhyUnreadable(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return errno != 0 ? errno : EIO;
    ::close(fd);
    return 0;
}
}  // namespace

ArchiveListing ReadArchiveListing(const QString& archivePath) {
    ArchiveListing out;
    const std::string path = platform::ToCore(archivePath);
    if (const int why = WhyUnreadable(path)) {
        out.outcome = ArchiveListing::CannotOpen;
        out.cause = why;
        return out;
    }
    try {
        auto notice = [&out](const std::string& line) { out.notices << platform::FromCore(line); };
        int64_t index = 0;
        for (const velmora::EntryInfo& e : velmora::Archive::At(path, notice, false).Entries())
            out.entries.push_back({platform::FromCore(e.name), platform::FromCore(velmora::EscapeName(e.name)),
                                   static_cast<int64_t>(e.lasSize), static_cast<int64_t>(e.storedSize), index++,
                                   FiguresOf(e)});
    } catch (const velmora::Error& e) {
        out.outcome = ArchiveListing::Failed;
        out.error = platform::FromCore(e.reason());
        out.cause = e.systemError();
        out.entries.clear();
    } catch (const std::exception& e) {
        out.outcome = ArchiveListing::Failed;
        out.error = platform::FromCore(e.what());
        out.entries.clear();
    }
    return out;
}

}  // namespace listview
