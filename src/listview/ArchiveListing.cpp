#include "listview/ArchiveListing.h"

#include <exception>

#include "archive/ArchiveMessages.h"
#include "archive/EntryNames.h"
#include "archive/VMRAFile.h"
#include "las/LasException.h"
#include "platform/Paths.h"

namespace listview {

namespace {
// A damaged checksum record is known from the directory alone; whether an
// entry has one at all is told only beside a header that could be read.
ChecksumShown ChecksumOf(const EntryInfo& e) {
    if (e.checksum == EntryRecord::ChecksumState::Damaged) return ChecksumShown::Damaged;
    if (!e.headerRead) return ChecksumShown::Unknown;
    return e.checksum == EntryRecord::ChecksumState::Present ? ChecksumShown::Yes : ChecksumShown::No;
}

HeaderFigures FiguresOf(const EntryInfo& e) {
    HeaderFigures f;
    f.checksum = ChecksumOf(e);
    if (!e.headerRead) return f;
    f.read = true;
    f.versionMajor = e.versionMajor;
    f.versionMinor = e.versionMinor;
    f.pointFormat = e.pointFormat;
    f.points = e.points;
    return f;
}
}  // namespace

ArchiveListing ReadArchiveListing(const QString& archivePath) {
    ArchiveListing out;
    VMRAFile archive;
    archive.waitForLock = false;
    archive.onNotice = [&out](const std::string& path, const char* text) {
        out.notices << platform::FromCore(path) + QStringLiteral(": ") + platform::FromCore(text);
    };
    try {
        int64_t index = 0;
        for (const EntryInfo& e : archive.ListEntries(platform::ToCore(archivePath)))
            out.entries.push_back({platform::FromCore(e.name), platform::FromCore(EscapeName(e.name)),
                                   e.record.uncompressedSize, e.record.storedSize, index++, FiguresOf(e)});
    } catch (const CLasException& e) {
        out.outcome = e.Is(archmsg::kErrorOpeningArchive) ? ArchiveListing::CannotOpen : ArchiveListing::Failed;
        out.error = platform::FromCore(e.Message());
        out.cause = e.cause;
        out.entries.clear();
    } catch (const std::exception& e) {
        out.outcome = ArchiveListing::Failed;
        out.error = platform::FromCore(e.what());
        out.entries.clear();
    }
    return out;
}

}  // namespace listview
