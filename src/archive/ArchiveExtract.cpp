#include <set>

#include "archive/ArchiveLayout.h"
#include "engine/EngineMessages.h"
#include "engine/ExtEntry.h"
#include "engine/EntryMarkers.h"
#include "archive/ArchiveMessages.h"
#include "archive/ArchiveSession.h"
#include "archive/EntryNames.h"
#include "archive/ExtractTarget.h"
#include "archive/VMRAFile.h"
#include "engine/EntryCheck.h"
#include "las/FileIo.h"
#include "las/LasDigest.h"
#include "las/LasException.h"
#include "las/LasHeader.h"
#include "las/LasMessages.h"

// What the engine will be asked to rebuild must fit the entry's extent, so a
// damaged header cannot make it write a file of billions of points; the
// engine judges that, the archive only what the directory must account for.
void VMRAFile::CheckEntryData(CFile& file, std::size_t k) {
    auto damaged = [] { throw CDamagedEntry(archmsg::kDamagedEntry); };
    if (directory[k].ChecksumStatus() == EntryRecord::ChecksumState::Damaged) {
        throw CDamagedEntry(archmsg::kChecksumRecordDamaged);
    }
    const int64_t extent = EntryExtent(k);
    if (IsExtendedEntry(file, k)) {
        // The extended kind checks itself as it is decoded; the directory
        // must still account for it exactly.
        if (directory[k].storedSize != extent) damaged();
        return;
    }
    if (extent < static_cast<int64_t>(LasHeader::kImageSize)) damaged();
    LasHeader h;
    if (!file.Seek(directory[k].dataOffset) || !file.ReadExact(h.bytes.data(), h.bytes.size())) {
        damaged();
    }
    try {
        CheckEntry(h, extent);
    } catch (const CLasException&) {
        damaged();
    }
    // The record's size must tell the entry's true length, or, for points
    // kept uncompressed by older writers, the length of the points alone.
    // Anything else means data the directory does not account for.
    const int64_t vlrBytes = h.NumberOfVlrs() != 0 ? h.Gap() : 0;
    const int64_t pointBytes = extent - static_cast<int64_t>(LasHeader::kImageSize) - vlrBytes;
    const int64_t rawBytes = static_cast<int64_t>(h.NumberOfPointRecords()) * h.PointDataRecordLength();
    const int64_t stored = directory[k].storedSize;
    const bool shortRawSize =
        h.Marker() == entrymarker::kRaw && stored == rawBytes && pointBytes == rawBytes;
    if (stored != extent && !shortRawSize) damaged();
}

bool VMRAFile::IsExtendedEntry(CFile& archive, std::size_t k) {
    uint8_t marker = 0;
    const int64_t here = archive.Tell();
    const bool read = EntryExtent(k) > 0 && archive.Seek(directory[k].dataOffset) && archive.ReadExact(&marker, 1);
    archive.Seek(here);
    return read && marker == extentry::kMarker;
}

extentry::Progress VMRAFile::ExtendedProgress() {
    extentry::Progress progress;
    progress.checkPoint = [this] { engine.CheckPoint(); };
    // Shown as the engine's streams are, in hundredths of the points.
    progress.points = [this](uint64_t done, uint64_t total) {
        engine.streamsTotal.store(100);
        engine.streamsDone.store(static_cast<int32_t>(done * 100 / std::max<uint64_t>(1, total)));
    };
    return progress;
}

void VMRAFile::DecodeExtended(CFile& archive, std::size_t k, const std::string& path, bool discard,
                              CLasDigest& digest) {
    CFile out;
    if (!discard && !out.Open(path, "wb")) throw CLasException(lasmsg::kWriteOpen, false, out.LastError());
    if (!archive.Seek(directory[k].dataOffset)) throw CDamagedEntry(archmsg::kDamagedEntry);
    extentry::Decompress(archive, EntryExtent(k),
                         [&](const uint8_t* data, std::size_t n) {
                             digest.TakeNext(data, n);
                             if (!discard && !out.Write(data, n)) {
                                 throw CLasException(lasmsg::kWritePoint, false, out.LastError());
                             }
                         },
                         ExtendedProgress(), engine.ThreadCount(),
                         static_cast<int64_t>(directory[k].uncompressedSize));
    if (!discard && !out.Close()) throw CLasException(lasmsg::kWritePoint, false, out.LastError());
    engine.streamsDone.store(0);
}

void VMRAFile::ThrowDecodeFailure(const CLasException& e) {
    // Not damage: this version cannot read what a later one wrote.
    if (e.Kind() == FailureKind::Newer) throw CLasException(e.What(), true);
    // Writing and memory failures are the machine's; every other failure
    // of the decoder means the stored data is not what was written.
    if (e.Kind() == FailureKind::Output) throw e;
    throw CDamagedEntry(e.What());
}

bool VMRAFile::DecodeEntry(CFile& archive, std::size_t k, const std::string& path, bool discard) {
    const EntryRecord& record = directory[k];
    if (!archive.Seek(record.dataOffset)) throw CDamagedEntry(archmsg::kDamagedEntry);
    CLasDigest digest(path);
    lasFile.Clear();
    lasFile.SetFileName(path);
    lasFile.SetDigest(&digest);
    lasFile.SetOutputDiscarded(discard);
    extractProgress = 0;
    try {
        if (IsExtendedEntry(archive, k)) {
            DecodeExtended(archive, k, path, discard, digest);
        } else {
            engine.Decompress(&archive, &lasFile, &extractProgress);
        }
    } catch (const CStopRequested&) {
        throw;
    } catch (const CLasException& e) {
        ThrowDecodeFailure(e);
    }
    lasFile.Clear();
    // Wrong bytes are never handed out: the file given back must have the
    // length that went in and, where the entry carries one, its checksum.
    if (digest.BytesTaken() != static_cast<int64_t>(record.uncompressedSize)) {
        throw CDamagedEntry(archmsg::kLengthMismatch);
    }
    const std::optional<uint64_t> stored = record.Checksum();
    if (stored && *stored != digest.Value()) throw CDamagedEntry(archmsg::kChecksumMismatch);
    return stored.has_value();
}

std::size_t VMRAFile::OpenEntry(CFile& archive, const std::string& entryName, int64_t index,
                                bool toWrite) {
    if (archive.Size() == 0) throw CLasException(archmsg::kCannotCheck);
    CheckMagic(archive);
    ReadDirectory(archive);
    const int64_t found = index < 0 ? IndexOf(entryName) : index;
    // The entry must still be the one the caller listed.
    if (found < 0 || found >= static_cast<int64_t>(directory.size()) ||
        directory[static_cast<std::size_t>(found)].Name() != entryName) {
        throw CLasException(archmsg::kNotFound);
    }
    const auto k = static_cast<std::size_t>(found);
    // The name came from the file: only a plain LAS file name may be written.
    if (toWrite) {
        if (const Failure* why = WhyNotExtractable(directory[k].Name())) throw CLasException(*why, true);
    }
    CheckEntryData(archive, k);
    ThrowIfStopped();
    return k;
}

void VMRAFile::ExtractEntry(const std::string& archivePath, const std::string& entryName,
                            const std::string& outputFolder) {
    Extract(archivePath, entryName, -1, outputFolder);
}

void VMRAFile::ExtractEntryAt(const std::string& archivePath, std::size_t index,
                              const std::string& entryName, const std::string& outputFolder) {
    Extract(archivePath, entryName, static_cast<int64_t>(index), outputFolder);
}

void VMRAFile::Extract(const std::string& archivePath, const std::string& entryName, int64_t index,
                       const std::string& outputFolder) {
    OperationScope scope(*this);
    CArchiveSession session(archivePath, CArchiveSession::Mode::Read, Hooks());
    CFile& archive = session.File();
    const std::size_t k = OpenEntry(archive, entryName, index, true);
    const std::string folder = WithSeparator(outputFolder);
    outputPath = folder + directory[k].Name();
    // An entry named like the archive would replace the archive itself.
    if (archive.IsFileAt(outputPath)) throw CLasException(archmsg::kOutputIsArchive, true);
    // The file takes the entry's name only when it is complete and checked,
    // so neither a failure nor a stop can leave a damaged file under that
    // name, or destroy the file it replaces (the caller has asked).
    CExtractTarget target(outputPath);
    DecodeEntry(archive, k, target.WritePath(), false);
    target.Commit();
}

bool VMRAFile::TestEntry(const std::string& archivePath, const std::string& entryName) {
    return Test(archivePath, entryName, -1);
}

bool VMRAFile::TestEntryAt(const std::string& archivePath, std::size_t index, const std::string& entryName) {
    return Test(archivePath, entryName, static_cast<int64_t>(index));
}

bool VMRAFile::Test(const std::string& archivePath, const std::string& entryName, int64_t index) {
    OperationScope scope(*this);
    CArchiveSession session(archivePath, CArchiveSession::Mode::Read, Hooks());
    CFile& archive = session.File();
    return DecodeEntry(archive, OpenEntry(archive, entryName, index, false), "", true);
}

void VMRAFile::ExtractAll(const std::string& archivePath) {
    std::vector<std::string> names;
    for (const EntryRecord& r : ReadDirectoryOf(archivePath)) names.push_back(r.Name());
    const Failure* refused = nullptr;
    std::set<std::string> seen;
    for (std::size_t i = 0; i < names.size(); ++i) {
        const Failure* why = WhyNotExtractable(names[i]);
        // A later entry of a name already met would overwrite that file.
        if (!seen.insert(names[i]).second && !why) why = &archmsg::kDuplicateEntry;
        if (why) {
            if (!refused) refused = why;
            continue;
        }
        ExtractEntryAt(archivePath, i, names[i], "");
    }
    if (refused) throw CLasException(*refused, true);
}
