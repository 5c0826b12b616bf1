#include <cerrno>
#include <cstdio>
#include <memory>
#include <sys/stat.h>

#include "archive/ArchiveLayout.h"
#include "archive/EntryNames.h"
#include "engine/ExtEntry.h"
#include "las/LasLayout.h"
#include "archive/ArchiveMessages.h"
#include "archive/ArchiveSession.h"
#include "archive/VMRAFile.h"
#include "las/ByteOrder.h"
#include "las/FileIo.h"
#include "las/LasDigest.h"
#include "las/LasAdmission.h"
#include "las/LasException.h"
#include "las/LasHeader.h"

using archlayout::kCountBytes;
using archlayout::kMagicBytes;
using archlayout::kRecordBytes;

namespace {

// Adds one to a string of decimal digits, however long.
std::string IncrementDecimal(std::string digits) {
    const auto first = digits.find_first_not_of('0');
    digits = first == std::string::npos ? std::string() : digits.substr(first);
    if (digits.empty()) return "1";
    for (auto it = digits.rbegin(); it != digits.rend(); ++it) {
        if (*it != '9') {
            ++*it;
            return digits;
        }
        *it = '0';
    }
    return "1" + digits;
}

}  // namespace

std::string VMRAFile::NextPartName(const std::string& archivePath) {
    // Only the file name is looked at: a "_part" or a dot in a folder name
    // must not send the part file into another folder.
    const auto slash = archivePath.find_last_of('/');
    const std::size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
    const auto dot = archivePath.find_last_of('.');
    std::string base = (dot != std::string::npos && dot >= nameStart) ? archivePath.substr(0, dot)
                                                                        : archivePath;
    static const std::string kPart = "_part";
    const auto part = base.find(kPart, nameStart);
    if (part == std::string::npos || part == nameStart) return base + kPart + "1.VMRA";
    const std::size_t digitsStart = part + kPart.size();
    std::size_t digitsEnd = digitsStart;
    while (digitsEnd < base.size() && base[digitsEnd] >= '0' && base[digitsEnd] <= '9') ++digitsEnd;
    return base.substr(0, digitsStart) +
           IncrementDecimal(base.substr(digitsStart, digitsEnd - digitsStart)) + ".VMRA";
}

bool VMRAFile::ContainsEntry(const std::string& archivePath, const std::string& lasPath) {
    foundIndex = -1;
    OperationScope scope(*this);
    for (;;) {
        if (!FileExists(archivePath)) {
            if (CreateNewFile(archivePath)) {
                createdEmpty = archivePath;
                return false;
            }
            if (!FileExists(archivePath)) throw CLasException(archmsg::kErrorOpeningArchive, false, errno);
        }
        try {
            CArchiveSession session(archivePath, CArchiveSession::Mode::Read, Hooks());
            ReadDirectory(session.File());
            foundIndex = IndexOf(FileNamePart(lasPath));
            return foundIndex >= 0;
        } catch (const CLasException& e) {
            // Gone while we waited for the program that had it (its first
            // add failed): the archive is missing again, as if never made.
            if (e.cause != ENOENT || FileExists(archivePath)) throw;
        }
    }
}

void VMRAFile::AddLasFile(const std::string& lasPath, const std::string& archivePath) {
    AddLasFile(lasPath, archivePath, nullptr);
}

VMRAFile::AddOutcome VMRAFile::AddLasFile(const std::string& lasPath, const std::string& archivePath,
                                          const std::function<bool()>& confirmReplace) {
    OperationScope scope(*this);
    currentName = FileNamePart(lasPath);
    return AddEntry(lasPath, archivePath, confirmReplace);
}

// A full archive passes the entry on to its next part file, which is checked
// by the same rule.
std::unique_ptr<CArchiveSession> VMRAFile::OpenForAdd(const std::string& archivePath) {
    std::string path = archivePath;
    for (;;) {
        auto session = std::make_unique<CArchiveSession>(path, CArchiveSession::Mode::Create, Hooks());
        const int64_t size = session->File().Size();
        if (size < 0) throw CLasException(archmsg::kErrorOpeningArchive);
        if (size <= kPartLimit) return session;
        path = NextPartName(path);
    }
}

namespace {

bool StateOf(const std::string& path, uint64_t& device, uint64_t& inode, int64_t& size, int64_t& modified) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return false;
    device = static_cast<uint64_t>(st.st_dev);
    inode = static_cast<uint64_t>(st.st_ino);
    size = static_cast<int64_t>(st.st_size);
    modified = static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    return true;
}

}  // namespace

// Refusals of one input file, decided before the archive is touched: a batch
// may go on with the next file.
int64_t VMRAFile::ReadLasForAdd(const std::string& lasPath, CLasDigest& digest) {
    if (currentName.size() > archlayout::kMaxNameBytes) {
        throw CLasException(archmsg::kNameTooLong, true);
    }
    if (currentName.find('\\') != std::string::npos) {
        throw CLasException(archmsg::kNameHasBackslash, true);
    }
    // What is stored must come back under its name: an entry extraction
    // would refuse is not made.
    if (!IsExtractableName(currentName)) throw CLasException(archmsg::kNameNotStorable, true);
    if (IsSpecialFile(lasPath)) throw CLasException(archmsg::kNotRegularLas, true);
    lasState = LasFileState{};
    // A file that cannot even be looked at says why, as one that cannot be
    // opened does: a caller tells "no such file" from the rest by it.
    const int statCause = StateOf(lasPath, lasState.device, lasState.inode, lasState.size, lasState.modified) ? 0 : errno;
    const int64_t lasSize = lasState.size;
    CFile las;
    if (lasSize < 0) throw CLasException(archmsg::kErrorOpeningLas, false, statCause);
    if (!las.Open(lasPath, "rb")) throw CLasException(archmsg::kErrorOpeningLas, false, las.LastError());
    // Where the file's parts lie; a file whose parts cannot be told (not
    // LAS, cut short, records shorter than their format's) is refused.
    std::vector<uint8_t> head(static_cast<std::size_t>(std::min<int64_t>(lasSize, kLasLayoutBytes)));
    if (!las.ReadExact(head.data(), head.size())) {
        throw CLasException(archmsg::kErrorOpeningLas, false, las.LastError());
    }
    las.Close();
    lasLayout = ReadLasLayout(head.data(), head.size(), lasSize);
    if (lasSize > 0xFFFFFFFFLL) throw CLasException(archmsg::kLasTooLarge, true);
    lasFile.Clear();
    lasFile.SetFileName(lasPath);
    // A file the classic kind gives back byte for byte is stored classic, as
    // it always was, so readers of that kind alone still read it; any other
    // goes into the extended kind.
    extendedEntry = extendedForAll;
    if (!extendedEntry) {
        // The file's checksum is taken as compression reads it.
        lasFile.SetDigest(&digest);
        lasFile.ReadHeader();
        try {
            CheckLasAdmission(*lasFile.Header(), lasSize);
            lasFile.ReadVlrs();
        } catch (const CLasException& e) {
            if (!e.canContinue) throw;
            extendedEntry = true;
            lasFile.Clear();
            lasFile.SetFileName(lasPath);
        }
    }
    return lasSize;
}

void VMRAFile::CompressExtended(CFile& archive, CLasDigest& digest, int64_t dataOffset) {
    CFile* input = nullptr;
    try {
        input = &lasFile.Input();
    } catch (const CLasException&) {
        throw CLasException(archmsg::kErrorOpeningLas, false, errno);
    }
    CFile& las = *input;
    extentry::Progress progress = ExtendedProgress();
    progress.read = [&digest](int64_t offset, const uint8_t* data, std::size_t n) { digest.Take(offset, data, n); };
    const int64_t lasBytes = std::max<int64_t>(1, lasLayout.fileSize);
    progress.points = [&, lasBytes, shown = progress.points](uint64_t done, uint64_t total) {
        shown(done, total);
        engine.ratio.store(static_cast<double>(archive.Tell() - dataOffset) / static_cast<double>(lasBytes));
    };
    extentry::Compress(las, lasLayout, archive, progress, engine.ThreadCount());
    engine.streamsDone.store(0);
    engine.ratio.store(0);
}

void VMRAFile::CheckLasUnchanged(const std::string& lasPath) const {
    LasFileState now;
    // Bytes appended while the file was read would be missing from the entry;
    // a file rewritten in place, or replaced, may mix two versions.
    if (!StateOf(lasPath, now.device, now.inode, now.size, now.modified) || !(now == lasState)) {
        throw CLasException(archmsg::kChangedWhileRead, true);
    }
}

// Everything that can be decided without changing the archive is decided
// first; then the change runs as one transaction. A replaced entry is removed
// only once the new one is in, and the journal holds everything from the
// replaced entry on, so an interruption anywhere gives back the archive as it
// was before the call.
VMRAFile::AddOutcome VMRAFile::AddEntry(const std::string& lasPath, const std::string& archivePath,
                                        const std::function<bool()>& confirmReplace) {
    const std::unique_ptr<CArchiveSession> session = OpenForAdd(archivePath);
    const std::string& path = session->Path();
    CFile& archive = session->File();
    const int64_t size = archive.Size();
    const bool created = session->Created() || (size == 0 && path == createdEmpty);
    CLasDigest digest(lasPath);
    int64_t lasSize = 0;
    try {
        if (size > 0) {
            CheckMagic(archive);
            ReadDirectory(archive);
        }
        foundIndex = IndexOf(currentName);
        // Asked with the archive locked: the answer holds for the entry as
        // it is now, not as it was when someone last looked.
        if (foundIndex >= 0 && confirmReplace && !confirmReplace()) return AddOutcome::Declined;
        lasSize = ReadLasForAdd(lasPath, digest);
        ThrowIfStopped();
    } catch (const CStopRequested&) {
        // Nothing was written. Stopped, the archive stays as this call found
        // it; only a file the call itself made goes again.
        if (session->Created()) session->RemoveFile();
        throw;
    } catch (...) {
        // Nothing was written; an archive made only for this file goes again.
        if (created) session->RemoveFile();
        if (path == createdEmpty) createdEmpty.clear();
        throw;
    }
    const bool replacing = foundIndex >= 0;
    const int64_t restoreAt = replacing ? directory[static_cast<std::size_t>(foundIndex)].dataOffset
                              : size > 0 ? directoryStart
                                         : 0;
    CArchiveTransaction change(*session, restoreAt, created);
    try {
        const EntryRecord record = WriteNewEntry(archive, size, lasSize, digest, change, !replacing);
        if (replacing) RemoveEntryInPlace(archive, static_cast<std::size_t>(foundIndex), change);
        change.Commit();
        lastArchivePath = path;
        lastStoredBytes = record.storedSize;
    } catch (const CStopRequested&) {
        // Stopped by the user: an archive that was there when the call
        // began, even an empty new one, stays as it was; nothing of the file
        // is left in it.
        change.RollBack(session->Created());
        throw;
    } catch (...) {
        if (path == createdEmpty) createdEmpty.clear();
        // A rollback that cannot finish says so instead; its journal stays
        // for the next program that opens the archive.
        change.RollBack();
        throw;
    }
    if (path == createdEmpty) createdEmpty.clear();
    return replacing ? AddOutcome::Replaced : AddOutcome::Added;
}

// Writes the new entry's data where the directory began (after the magic
// number in a new archive), then the directory with the new record last.
// The loaded directory then matches the file.
EntryRecord VMRAFile::WriteNewEntry(CFile& archive, int64_t size, int64_t lasSize,
                                    CLasDigest& digest, CArchiveTransaction& change,
                                    bool writeDirectory) {
    const int64_t dataOffset = size > 0 ? directoryStart : kMagicBytes;
    if (size == 0) {
        uint8_t magic[kMagicBytes];
        le::StoreU32(magic, kMagic);
        if (!archive.Seek(0) || !archive.Write(magic, sizeof magic)) {
            throw CLasException(archmsg::kWriteArchive, false, archive.LastError());
        }
    }
    if (!archive.Seek(dataOffset)) throw CLasException(archmsg::kWriteArchive, false, archive.LastError());
    engine.ReleaseBuffers();
    try {
        if (extendedEntry) {
            CompressExtended(archive, digest, dataOffset);
        } else {
            engine.Compress(&archive, &lasFile);
        }
    } catch (const CStopRequested&) {
        throw;
    } catch (const CLasException& e) {
        // The engine's message stays; the system's reason is added to it.
        if (e.cause == 0 && archive.LastError() != 0) {
            throw CLasException(e.What(), e.canContinue, archive.LastError());
        }
        throw;
    }
    const int64_t end = archive.Tell();
    if (end < dataOffset) throw CLasException(archmsg::kWriteArchive, false, archive.LastError());
    // Checked in 64 bits before the directory is written: every offset and
    // size of the format must stay a positive 32-bit value.
    const int64_t count = static_cast<int64_t>(directory.size()) + 1;
    if (end + kRecordBytes * count + kCountBytes > maxArchiveBytes) {
        throw CLasException(archmsg::kArchiveTooLarge, true);
    }
    ThrowIfStopped();
    uint64_t checksum = 0;
    if (!digest.Finish(lasSize, checksum)) throw CLasException(archmsg::kChangedWhileRead, true);
    CheckLasUnchanged(lasFile.FileName());

    EntryRecord record;
    record.dataOffset = static_cast<uint32_t>(dataOffset);
    // The true length of the data, raw entries included.
    record.storedSize = static_cast<uint32_t>(end - dataOffset);
    record.uncompressedSize = static_cast<uint32_t>(lasSize);
    record.SetName(currentName);
    record.SetChecksum(checksum);
    directory.push_back(record);
    entryCount = static_cast<int32_t>(directory.size());
    directoryStart = end;
    // A replacement writes no directory in between: the archive shows only
    // the one it had or the one it ends with.
    if (!writeDirectory) return record;
    const auto bytes = archlayout::DirectoryBytes(directory);
    change.AboutToWriteDirectory(end, bytes);
    if (!archive.Seek(end) || !archive.Write(bytes.data(), bytes.size()) || !archive.TruncateHere()) {
        throw CLasException(archmsg::kWriteArchive, false, archive.LastError());
    }
    return record;
}
