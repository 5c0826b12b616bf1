#include <atomic>
#include <cerrno>
#include <unistd.h>
#include <cstdio>
#include <random>

#include "archive/ArchiveLayout.h"
#include "archive/ArchiveMessages.h"
#include "archive/ArchiveSession.h"
#include "archive/VMRAFile.h"
#include "las/FileIo.h"
#include "las/LasException.h"
#include "las/LasHeader.h"
#include "las/LasMessages.h"

namespace {

// The smallest coded chunk: at least twelve codec runs, each at least one
// byte stream of 512 count bytes and its 3-byte end marker.
constexpr int64_t kMinChunkBytes = 12 * (512 + 3);
constexpr uint32_t kChunkPoints = 1000000;

int64_t ChunkCount(uint32_t points) {
    if (points <= 2 * kChunkPoints) return 1;
    return (static_cast<int64_t>(points) + kChunkPoints - 1) / kChunkPoints - 1;
}

// A fresh, hidden file in folder to decompress into; it becomes the result
// only when the entry is complete, so neither a failure nor a stop can leave
// a damaged file under the entry's name, or destroy the file it replaces.
std::string CreatePartialFile(const std::string& folder) {
    static std::atomic<unsigned> counter{0};
    std::random_device random;
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string path = folder + ".velmora-" + std::to_string(random()) + "-" +
                                 std::to_string(counter++) + ".partial";
        if (CreateNewFile(path)) return path;
        if (!FileExists(path)) break;  // the folder refuses, not a name clash
    }
    throw CLasException(lasmsg::kWriteOpen);
}

// The extracted file's bytes are on the disk before it takes the entry's
// name: a success is never reported for data a power cut could still lose.
void MakeDurable(const std::string& path) {
    CFile written;
    if (!written.Open(path, "rb") || fsync(fileno(written.Handle())) != 0) {
        throw CLasException(lasmsg::kWritePoint, false, errno);
    }
}

}  // namespace

// What the engine will be asked to rebuild must fit the entry's extent, so a
// damaged header cannot make it write a file of billions of points.
void VMRAFile::CheckEntryData(CFile& file, std::size_t k) {
    auto damaged = [] { throw CLasException(archmsg::kDamagedEntry); };
    const int64_t extent = EntryExtent(k);
    if (extent < static_cast<int64_t>(LasHeader::kImageSize)) damaged();
    LasHeader h;
    if (!file.Seek(directory[k].dataOffset) || !file.ReadExact(h.bytes.data(), h.bytes.size())) {
        damaged();
    }
    const uint8_t marker = h.Marker();
    if (marker != LasHeader::kMarkerLas && marker != LasHeader::kMarkerGap &&
        marker != LasHeader::kMarkerRaw) {
        damaged();
    }
    const uint8_t format = h.PointDataFormat();
    const uint16_t recordLength = h.PointDataRecordLength();
    if (format > 3 || recordLength != StandardRecordLength(format)) damaged();
    const int64_t vlrBytes = h.NumberOfVlrs() != 0 ? h.Gap() : 0;
    if (vlrBytes < 0) damaged();
    const int64_t pointBytes = extent - static_cast<int64_t>(LasHeader::kImageSize) - vlrBytes;
    if (pointBytes < 0) damaged();
    const uint32_t points = h.NumberOfPointRecords();
    if (marker == LasHeader::kMarkerRaw) {
        if (static_cast<int64_t>(points) * recordLength > pointBytes) damaged();
    } else if (ChunkCount(points) * kMinChunkBytes > pointBytes) {
        damaged();
    }
}

void VMRAFile::ExtractEntry(const std::string& archivePath, const std::string& entryName,
                            const std::string& outputFolder) {
    CArchiveSession session(archivePath, CArchiveSession::Mode::Read, Hooks());
    CFile& archive = session.File();
    if (archive.Size() == 0) throw CLasException(archmsg::kCannotCheck);
    try {
        CheckMagic(archive);
        ReadDirectory(archive);
        const int k = IndexOf(entryName);
        if (k < 0) throw CLasException(archmsg::kNotFound);
        const std::string name = directory[static_cast<std::size_t>(k)].Name();
        // The name came from the file: it must not lead out of the folder.
        if (!IsSafeEntryName(name)) throw CLasException(archmsg::kUnsafeEntryName);
        CheckEntryData(archive, static_cast<std::size_t>(k));
        ThrowIfStopped();

        std::string folder = outputFolder;
        if (!folder.empty() && folder.back() != '/') folder += '/';
        outputPath = folder + name;
        const std::string partial = CreatePartialFile(folder);
        try {
            if (!archive.Seek(directory[static_cast<std::size_t>(k)].dataOffset)) {
                throw CLasException(archmsg::kDamagedEntry);
            }
            lasFile.Clear();
            lasFile.SetFileName(partial);
            extractProgress = 0;
            engine.Decompress(&archive, &lasFile, &extractProgress);
            engine.ReleaseBuffers();
            lasFile.Clear();
            MakeDurable(partial);
            // Replaces a file of that name (the caller has asked) in one step.
            if (std::rename(partial.c_str(), outputPath.c_str()) != 0) {
                throw CLasException(lasmsg::kWriteOpen, false, errno);
            }
            SyncFolderOf(outputPath);
        } catch (...) {
            std::remove(partial.c_str());
            engine.ReleaseBuffers();
            lasFile.Clear();
            throw;
        }
    } catch (...) {
        DropDirectory();
        outputPath.clear();
        throw;
    }
    DropDirectory();
    outputPath.clear();
}

void VMRAFile::ExtractAll(const std::string& archivePath) {
    std::vector<std::string> names;
    for (const EntryRecord& r : ReadDirectoryOf(archivePath)) names.push_back(r.Name());
    // An archive with a name that could leave the folder is not trusted with
    // any of its entries: nothing is written.
    for (const std::string& name : names) {
        if (!IsSafeEntryName(name)) throw CLasException(archmsg::kUnsafeEntryName);
    }
    for (const std::string& name : names) ExtractEntry(archivePath, name, "");
}
