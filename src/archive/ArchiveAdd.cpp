#include <cstdio>

#include "archive/ArchiveLayout.h"
#include "archive/ArchiveMessages.h"
#include "archive/VMRAFile.h"
#include "las/ByteOrder.h"
#include "las/FileIo.h"
#include "las/LasAdmission.h"
#include "las/LasException.h"
#include "las/LasHeader.h"

using archlayout::kCountBytes;
using archlayout::kMagicBytes;
using archlayout::kRecordBytes;

namespace {

// Opens an archive for update, creating it when there is no file at the path.
// Never truncates: an existing file that cannot be opened is an error, not
// something to replace. Returns whether this call created the file.
bool OpenOrCreate(CFile& archive, const std::string& path) {
    bool created = false;
    if (!archive.Open(path, "r+b")) {
        if (FileExists(path) || !CreateNewFile(path)) {
            throw CLasException(archmsg::kErrorOpeningArchive);
        }
        created = true;
        if (!archive.Open(path, "r+b")) {
            std::remove(path.c_str());
            throw CLasException(archmsg::kErrorOpeningArchive);
        }
    }
    // Only a regular file can be an archive (a folder or a device cannot).
    if (FileSizeOf(path) < 0) throw CLasException(archmsg::kErrorOpeningArchive);
    return created;
}

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
    CFile archive;
    if (OpenOrCreate(archive, archivePath)) {
        createdEmpty = archivePath;
        return false;
    }
    try {
        ReadDirectory(archive);
        foundIndex = IndexOf(FileNamePart(lasPath));
    } catch (...) {
        DropDirectory();
        throw;
    }
    DropDirectory();
    return foundIndex >= 0;
}

void VMRAFile::AddLasFile(const std::string& lasPath, const std::string& archivePath) {
    currentName = FileNamePart(lasPath);
    try {
        AddEntry(lasPath, archivePath);
    } catch (...) {
        currentName.clear();
        lasFile.Clear();
        DropDirectory();
        throw;
    }
    currentName.clear();
    lasFile.Clear();
    DropDirectory();
}

// Whatever fails, the archive is left as it was when the call began: either
// nothing has been written yet, or the new data went where the directory
// began and restoring means writing the saved directory back and cutting the
// file there. A replaced entry is removed only once the new one is safely in
// the archive, so a failed replacement loses nothing.
void VMRAFile::AddEntry(const std::string& lasPath, const std::string& archivePath) {
    // Refusals of one input file: a batch may go on with the next.
    if (currentName.size() > archlayout::kMaxNameBytes) {
        throw CLasException(archmsg::kNameTooLong, true);
    }
    if (currentName.find('\\') != std::string::npos) {
        throw CLasException(archmsg::kNameHasBackslash, true);
    }
    DropDirectory();

    CFile archive;
    std::string path = archivePath;
    bool created = false;
    int64_t size = 0;
    for (;;) {
        created = OpenOrCreate(archive, path);
        size = archive.Size();
        if (size < 0) throw CLasException(archmsg::kErrorOpeningArchive);
        if (size <= kPartLimit) break;
        // A full archive passes the entry on to its next part file, which
        // is checked by the same rule.
        archive.Close();
        path = NextPartName(path);
    }
    const bool removeOnFailure = created || (size == 0 && path == createdEmpty);
    auto abandon = [&] {
        archive.Close();
        if (removeOnFailure) {
            std::remove(path.c_str());
            if (path == createdEmpty) createdEmpty.clear();
        }
    };

    // The directory and count exactly as they lie in the file, so restoring
    // puts back every byte, also those after a name's terminator.
    std::vector<uint8_t> savedTail;
    int64_t restorePosition = 0;
    int64_t lasSize = 0;
    try {
        ThrowIfStopped();
        if (size > 0) {
            CheckMagic(archive);
            ReadDirectory(archive);
            restorePosition = directoryStart;
            savedTail.resize(static_cast<std::size_t>(size - directoryStart));
            if (!archive.Seek(directoryStart) ||
                !archive.ReadExact(savedTail.data(), savedTail.size())) {
                throw CLasException(archmsg::kCannotReadHeaders);
            }
        }
        foundIndex = IndexOf(currentName);

        lasSize = FileSizeOf(lasPath);
        CFile las;
        if (lasSize < 0 || !las.Open(lasPath, "rb")) throw CLasException(archmsg::kErrorOpeningLas);
        las.Close();
        lasFile.Clear();
        lasFile.SetFileName(lasPath);
        lasFile.ReadHeader();
        // Refused files never reach the archive: nothing has been written.
        CheckLasAdmission(*lasFile.Header(), lasSize);
        if (lasSize > 0xFFFFFFFFLL) throw CLasException(archmsg::kLasTooLarge, true);
        lasFile.ReadVlrs();
        ThrowIfStopped();
    } catch (...) {
        abandon();
        throw;
    }

    const int64_t dataOffset = size > 0 ? directoryStart : kMagicBytes;
    const int64_t oldCount = entryCount;
    EntryRecord record;
    int64_t end = 0;
    auto restore = [&] {
        engine.ReleaseBuffers();
        if (removeOnFailure) {
            abandon();
            return;
        }
        const bool restored = archive.Seek(restorePosition) &&
                              archive.Write(savedTail.data(), savedTail.size()) &&
                              archive.TruncateHere() && archive.Close();
        archive.Close();
        if (!restored) throw CLasException(archmsg::kArchiveDamaged);
    };
    try {
        if (size == 0) {
            uint8_t magic[kMagicBytes];
            le::StoreU32(magic, kMagic);
            if (!archive.Seek(0) || !archive.Write(magic, sizeof magic)) {
                throw CLasException(archmsg::kWriteArchive);
            }
        }
        if (!archive.Seek(dataOffset)) throw CLasException(archmsg::kWriteArchive);
        engine.ReleaseBuffers();
        engine.Compress(&archive, &lasFile);
        end = archive.Tell();
        if (end < dataOffset) throw CLasException(archmsg::kWriteArchive);
        // Checked in 64 bits before the directory is written: every offset
        // and size of the format must stay a positive 32-bit value.
        if (end + kRecordBytes * (oldCount + 1) + kCountBytes > maxArchiveBytes) {
            throw CLasException(archmsg::kArchiveTooLarge, true);
        }
        ThrowIfStopped();

        record.dataOffset = static_cast<uint32_t>(dataOffset);
        // The true length of the data, raw entries included.
        record.storedSize = static_cast<uint32_t>(end - dataOffset);
        record.uncompressedSize = static_cast<uint32_t>(lasSize);
        record.SetName(currentName);
        std::vector<uint8_t> tail(savedTail.begin(), savedTail.end() - (size > 0 ? kCountBytes : 0));
        tail.resize(tail.size() + EntryRecord::kSize + kCountBytes);
        record.Store(tail.data() + oldCount * EntryRecord::kSize);
        le::StoreI32(tail.data() + (oldCount + 1) * EntryRecord::kSize,
                     static_cast<int32_t>(oldCount + 1));
        if (!archive.Write(tail.data(), tail.size()) || !archive.Flush()) {
            throw CLasException(archmsg::kWriteArchive);
        }
    } catch (...) {
        restore();
        throw;
    }
    engine.ReleaseBuffers();

    // The archive now holds the new entry last; the entry it replaces can go.
    // Until that move has written anything, a failure still restores.
    if (foundIndex >= 0) {
        directory.push_back(record);
        entryCount = static_cast<int32_t>(directory.size());
        directoryStart = end;
        try {
            RemoveEntryInPlace(archive, static_cast<std::size_t>(foundIndex));
        } catch (...) {
            if (!moveStarted) restore();
            throw;
        }
    }
    if (!archive.Close()) throw CLasException(archmsg::kWriteArchive);
    if (path == createdEmpty) createdEmpty.clear();
    lastArchivePath = path;
    lastStoredBytes = record.storedSize;
}
