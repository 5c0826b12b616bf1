#include <algorithm>

#include "archive/ArchiveLayout.h"
#include "archive/ArchiveMessages.h"
#include "archive/ArchiveSession.h"
#include "archive/VMRAFile.h"
#include "las/FileIo.h"
#include "las/LasException.h"

namespace {

// Progress counts blocks of this size, so a display shows the same steps
// whatever size the data is actually moved in.
constexpr int64_t kProgressBlock = 1024;
// Data is moved in runs of this many bytes: one read and one write per run.
constexpr int64_t kRunBytes = 256 * kProgressBlock;

}  // namespace

void VMRAFile::DeleteEntry(const std::string& archivePath, const std::string& entryName) {
    // A progress display shared by several deletions must not start from
    // the figure the previous one ended with.
    DeleteProgress.store(0);
    OperationScope scope(*this);
    CArchiveSession session(archivePath, CArchiveSession::Mode::Update, Hooks());
    CFile& file = session.File();
    ReadDirectory(file);
    foundIndex = IndexOf(entryName);
    if (foundIndex < 0) throw CLasException(archmsg::kNotFound);
    if (entryCount == 1) {
        // The only entry: the archive becomes the empty file a new archive
        // is, in one step that cannot be half done.
        if (!file.Truncate(0) || !file.Sync()) {
            throw CLasException(archmsg::kLastFileCannotBeDeleted, false, file.LastError());
        }
        SetDeleteProgress(100);
        return;
    }
    CArchiveTransaction change(session, directory[static_cast<std::size_t>(foundIndex)].dataOffset,
                               false);
    try {
        RemoveEntryInPlace(file, static_cast<std::size_t>(foundIndex), change);
        change.Commit();
    } catch (...) {
        change.RollBack();
        throw;
    }
}

// Moves the data behind entry k down over it, writes the directory without
// it and cuts the file. The entry's length is taken from where the next
// entry (or the directory) begins, never from its stored size, which older
// archives record too short for raw entries. The loaded directory is updated
// to match the file. The caller's transaction undoes a move cut short.
void VMRAFile::RemoveEntryInPlace(CFile& file, std::size_t k, CArchiveTransaction& change) {
    const int64_t offset = directory[k].dataOffset;
    const int64_t extent = EntryExtent(k);
    const int64_t from = offset + extent;
    const int64_t moveBytes = directoryStart - from;
    const int64_t blocks = moveBytes / kProgressBlock;

    std::vector<uint8_t> buffer(
        static_cast<std::size_t>(std::min(kRunBytes, std::max<int64_t>(moveBytes, 1))));
    auto fail = [&] { throw CLasException(archmsg::kWriteArchive, false, file.LastError()); };
    int64_t moved = 0;
    int64_t block = 0;
    while (moved < moveBytes) {
        const auto n = static_cast<std::size_t>(std::min(kRunBytes, moveBytes - moved));
        if (!file.Seek(from + moved) || !file.ReadExact(buffer.data(), n)) fail();
        if (!file.Seek(offset + moved) || !file.Write(buffer.data(), n)) fail();
        moved += static_cast<int64_t>(n);
        for (; block < blocks && (block + 1) * kProgressBlock <= moved; ++block) {
            SetDeleteProgress(static_cast<int>(block * 100 / blocks));
        }
    }

    std::vector<EntryRecord> kept;
    kept.reserve(directory.size() - 1);
    for (std::size_t i = 0; i < directory.size(); ++i) {
        if (i == k) continue;
        EntryRecord r = directory[i];
        if (i > k) r.dataOffset -= static_cast<uint32_t>(extent);
        kept.push_back(r);
    }
    const auto bytes = archlayout::DirectoryBytes(kept);
    change.AboutToWriteDirectory(offset + moveBytes, bytes);
    if (!file.Seek(offset + moveBytes) || !file.Write(bytes.data(), bytes.size()) ||
        !file.TruncateHere()) {
        fail();
    }
    SetDeleteProgress(100);

    directory = std::move(kept);
    entryCount = static_cast<int32_t>(directory.size());
    directoryStart = offset + moveBytes;
}
