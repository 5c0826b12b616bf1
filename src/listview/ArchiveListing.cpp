#include "listview/ArchiveListing.h"

#include <exception>

#include "archive/VMRAFile.h"
#include "las/FileIo.h"
#include "las/LasException.h"
#include "platform/Paths.h"

namespace listview {

ArchiveListing ReadArchiveListing(const QString& archivePath) {
    ArchiveListing out;
    CFile file;
    if (!file.Open(platform::ToCore(archivePath), "rb")) {
        out.outcome = ArchiveListing::CannotOpen;
        return out;
    }
    // A new archive is an empty file: nothing to list, nothing to report.
    if (file.Size() == 0) return out;
    try {
        VMRAFile archive;
        if (archive.ReadEntryCount(file) < 1) return out;
        archive.ReadDirectory(file);
        for (const EntryRecord& r : archive.Directory())
            out.entries.push_back({platform::FromCore(r.Name()), r.uncompressedSize, r.storedSize});
    } catch (const CLasException& e) {
        out.outcome = ArchiveListing::Failed;
        out.error = platform::FromCore(e.Message());
        out.entries.clear();
    } catch (const std::exception& e) {
        out.outcome = ArchiveListing::Failed;
        out.error = platform::FromCore(e.what());
        out.entries.clear();
    }
    return out;
}

}  // namespace listview
