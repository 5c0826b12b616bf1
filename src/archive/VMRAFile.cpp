#include "archive/VMRAFile.h"
#include "engine/EntryMarkers.h"
#include "engine/ExtEntry.h"

#include <algorithm>
#include <cstring>

#include "archive/ArchiveLayout.h"
#include "archive/ArchiveMessages.h"
#include "archive/ArchiveSession.h"
#include "las/ByteOrder.h"
#include "las/FileIo.h"
#include "las/LasDigest.h"
#include "las/LasHeader.h"
#include "las/LasException.h"

using archlayout::kCountBytes;
using archlayout::kMagicBytes;
using archlayout::kRecordBytes;

namespace {

[[noreturn]] void ThrowHeaders() { throw CLasException(archmsg::kCannotReadHeaders); }

}  // namespace

std::string EntryRecord::Name() const {
    const auto* end = std::find(name, name + kNameBytes, uint8_t{0});
    return std::string(reinterpret_cast<const char*>(name), static_cast<std::size_t>(end - name));
}

void EntryRecord::SetName(const std::string& n) {
    std::memset(name, 0, kNameBytes);
    std::memcpy(name, n.data(), std::min(n.size(), kNameBytes - 1));
}

namespace {

constexpr uint8_t kChecksumTag[4] = {'V', 'M', 'c', 'k'};
constexpr uint8_t kChecksumVersion = 1;
constexpr uint8_t kChecksumXxh3 = 1;
// Tag, version, kind and checksum; the check that follows covers them and
// the name with its terminator.
constexpr std::size_t kCheckedBytes = 14;

uint32_t RecordCheck(const uint8_t* name, std::size_t nameLength, const uint8_t* record) {
    std::vector<uint8_t> bytes(name, name + nameLength + 1);
    bytes.insert(bytes.end(), record, record + kCheckedBytes);
    return static_cast<uint32_t>(CLasDigest::Of(bytes.data(), bytes.size()));
}

}  // namespace

bool EntryRecord::SetChecksum(uint64_t checksum) {
    const std::size_t length = Name().size();
    if (length > kMaxNameWithChecksum) return false;
    uint8_t* record = name + length + 1;
    std::copy(std::begin(kChecksumTag), std::end(kChecksumTag), record);
    record[4] = kChecksumVersion;
    record[5] = kChecksumXxh3;
    le::StoreU64(record + 6, checksum);
    le::StoreU32(record + kCheckedBytes, RecordCheck(name, length, record));
    return true;
}

EntryRecord::ChecksumState EntryRecord::ChecksumStatus() const {
    const std::size_t length = Name().size();
    if (length > kMaxNameWithChecksum) return ChecksumState::None;
    const uint8_t* record = name + length + 1;
    // Bytes after a name mean nothing to the format and may hold anything a
    // writer left there; without the tag they are no record. With it, a
    // check that fails means changed bytes: were they taken for "no
    // checksum", damaged data would be handed out unchecked.
    if (!std::equal(std::begin(kChecksumTag), std::end(kChecksumTag), record)) return ChecksumState::None;
    if (le::LoadU32(record + kCheckedBytes) != RecordCheck(name, length, record)) {
        return ChecksumState::Damaged;
    }
    if (record[4] != kChecksumVersion || record[5] != kChecksumXxh3) return ChecksumState::None;
    return ChecksumState::Present;
}

std::optional<uint64_t> EntryRecord::Checksum() const {
    if (ChecksumStatus() != ChecksumState::Present) return std::nullopt;
    return le::LoadU64(name + Name().size() + 1 + 6);
}

void EntryRecord::Load(const uint8_t* bytes) {
    dataOffset = le::LoadU32(bytes);
    storedSize = le::LoadU32(bytes + 4);
    uncompressedSize = le::LoadU32(bytes + 8);
    std::memcpy(name, bytes + 12, kNameBytes);
}

void EntryRecord::Store(uint8_t* bytes) const {
    le::StoreU32(bytes, dataOffset);
    le::StoreU32(bytes + 4, storedSize);
    le::StoreU32(bytes + 8, uncompressedSize);
    std::memcpy(bytes + 12, name, kNameBytes);
}

std::vector<uint8_t> archlayout::DirectoryBytes(const std::vector<EntryRecord>& records) {
    std::vector<uint8_t> bytes(records.size() * EntryRecord::kSize + kCountBytes);
    for (std::size_t i = 0; i < records.size(); ++i) {
        records[i].Store(bytes.data() + i * EntryRecord::kSize);
    }
    le::StoreI32(bytes.data() + records.size() * EntryRecord::kSize,
                 static_cast<int32_t>(records.size()));
    return bytes;
}

VMRAFile::VMRAFile() = default;

VMRAFile::~VMRAFile() { engine.ReleaseBuffers(); }

bool VMRAFile::CheckMagic(CFile& file) {
    uint8_t bytes[kMagicBytes];
    if (!file.Seek(0) || !file.ReadExact(bytes, sizeof bytes) || le::LoadU32(bytes) != kMagic) {
        throw CLasException(archmsg::kWrongFormat);
    }
    return true;
}

int32_t VMRAFile::ReadEntryCount(CFile& file) {
    const int64_t size = file.Size();
    if (size < 0) throw CLasException(archmsg::kErrorOpeningArchive);
    if (size == 0) return 0;
    CheckMagic(file);
    uint8_t bytes[kCountBytes];
    if (size < kMagicBytes + kCountBytes || !file.Seek(size - kCountBytes) ||
        !file.ReadExact(bytes, sizeof bytes)) {
        ThrowHeaders();
    }
    const int32_t n = le::LoadI32(bytes);
    // The count is checked against the room the file has for records before
    // anything is sized by it.
    if (n < 0 || kRecordBytes * n > size - kMagicBytes - kCountBytes) ThrowHeaders();
    return n;
}

void VMRAFile::ReadDirectory(CFile& file) {
    DropDirectory();
    const int64_t size = file.Size();
    if (size < 0) throw CLasException(archmsg::kErrorOpeningArchive);
    if (size == 0) return;

    const int32_t n = ReadEntryCount(file);
    const int64_t start = size - kCountBytes - kRecordBytes * n;
    // The directory must account for every byte of the file: with no entry
    // there is nothing between the magic number and the count, and the
    // first entry starts right after the magic number. A count lowered or a
    // file cut short or grown would otherwise leave data unlisted.
    if (n == 0 && start != kMagicBytes) ThrowHeaders();
    if (!file.Seek(start)) ThrowHeaders();

    // A count that the file's length allows is no promise that the records
    // are there (a sparse file has room for millions): they are read and
    // checked a block at a time, so a bad directory fails at its first bad
    // record, and memory grows only with records that were found good.
    constexpr std::size_t kBlockRecords = 65536 / EntryRecord::kSize;
    std::vector<uint8_t> block;
    std::vector<EntryRecord> records;
    int64_t previousEnd = kMagicBytes;
    for (std::size_t i = 0; i < static_cast<std::size_t>(n);) {
        const std::size_t count = std::min(kBlockRecords, static_cast<std::size_t>(n) - i);
        block.resize(count * EntryRecord::kSize);
        if (!file.ReadExact(block.data(), block.size())) ThrowHeaders();
        for (std::size_t j = 0; j < count; ++j, ++i) {
            EntryRecord r;
            r.Load(block.data() + j * EntryRecord::kSize);
            // Entries lie back to back between the magic number and the
            // directory, in directory order. Deletion and extraction rely on
            // that, so a record that breaks it makes the whole directory
            // unusable rather than letting one operation cut into another entry.
            const int64_t offset = r.dataOffset;
            const int64_t end = offset + r.storedSize;
            if (offset < previousEnd || offset >= start || end > start || offset > kMaxArchiveBytes ||
                (i == 0 && offset != kMagicBytes)) {
                ThrowHeaders();
            }
            // The next entry may not begin before this one's stored size says
            // it ends; raw entries of older archives record a size shorter than
            // their data, so only the offsets bound an entry's true extent.
            previousEnd = std::max(offset + 1, end);
            records.push_back(r);
        }
    }
    directory = std::move(records);
    entryCount = n;
    directoryStart = start;
}

void VMRAFile::EndOperation() {
    DropDirectory();
    lasFile.Clear();
    engine.ReleaseBuffers();
    currentName.clear();
    outputPath.clear();
}

ArchiveHooks VMRAFile::Hooks() {
    ArchiveHooks hooks;
    hooks.checkPoint = [this] { engine.CheckPoint(); };
    hooks.notice = onNotice;
    hooks.waitForLock = waitForLock;
    hooks.isCompleteArchive = [](CFile& file) {
        VMRAFile probe;
        try {
            probe.ReadDirectory(file);
            return true;
        } catch (const CLasException&) {
            return false;
        }
    };
    return hooks;
}

std::vector<EntryRecord> VMRAFile::ReadDirectoryOf(const std::string& archivePath) {
    OperationScope scope(*this);
    CArchiveSession session(archivePath, CArchiveSession::Mode::Read, Hooks());
    ReadDirectory(session.File());
    return directory;
}

std::vector<EntryInfo> VMRAFile::ListEntries(const std::string& archivePath) {
    OperationScope scope(*this);
    CArchiveSession session(archivePath, CArchiveSession::Mode::Read, Hooks());
    CFile& archive = session.File();
    std::vector<EntryInfo> infos;
    ReadDirectory(archive);
    for (std::size_t i = 0; i < directory.size(); ++i) {
        EntryInfo info;
        info.record = directory[i];
        info.name = directory[i].Name();
        info.extent = EntryExtent(i);
        LasHeader h;
        uint64_t fileLength = 0;
        std::vector<uint8_t> head;
        if (IsExtendedEntry(archive, i)) {
            // Only the head is unpacked: the header block it starts with.
            info.extended = true;
            if (archive.Seek(directory[i].dataOffset) &&
                extentry::ReadHead(archive, info.extent, fileLength, head)) {
                try {
                    const LasFileLayout l = ReadLasLayout(head.data(), head.size(), static_cast<int64_t>(fileLength));
                    info.headerRead = true;
                    info.versionMajor = l.versionMajor;
                    info.versionMinor = l.versionMinor;
                    info.pointFormat = l.PointFormat();
                    info.points = l.pointCount;
                    info.lasHead = std::move(head);
                } catch (const CLasException&) {
                    // Listed with what its record says.
                }
            }
        } else if (info.extent >= static_cast<int64_t>(LasHeader::kImageSize) &&
            archive.Seek(directory[i].dataOffset) &&
            archive.ReadExact(h.bytes.data(), h.bytes.size())) {
            info.headerRead = true;
            info.stored = h.Marker() == entrymarker::kRaw;
            info.versionMajor = h.VersionMajor();
            info.versionMinor = h.VersionMinor();
            info.pointFormat = h.PointDataFormat();
            info.points = h.NumberOfPointRecords();
            info.lasHead.resize(LasHeader::kFileSize);
            LasHeaderOf(h).ToFileImage(info.lasHead.data());
        }
        info.checksum = directory[i].ChecksumStatus();
        infos.push_back(info);
    }
    return infos;
}

bool VMRAFile::FindEntry(CFile& file, const std::string& name) {
    ReadDirectory(file);
    foundIndex = IndexOf(name);
    DropDirectory();
    return foundIndex >= 0;
}

int64_t VMRAFile::EntryExtent(std::size_t i) const {
    if (i >= directory.size()) return 0;
    const int64_t next = i + 1 < directory.size() ? directory[i + 1].dataOffset : directoryStart;
    return next - directory[i].dataOffset;
}

void VMRAFile::DropDirectory() {
    directory.clear();
    directory.shrink_to_fit();
    entryCount = 0;
    directoryStart = 0;
}

int VMRAFile::IndexOf(const std::string& name) const {
    for (std::size_t i = 0; i < directory.size(); ++i) {
        if (directory[i].Name() == name) return static_cast<int>(i);
    }
    return -1;
}

void VMRAFile::ThrowIfStopped() { engine.CheckPoint(); }

// Stopping is only ever a request: the worker notices it at the engine's
// next check or at one of the archive code's own, unwinds, and restores
// the archive itself. Nothing here touches a file another thread has open.
void VMRAFile::Abort() { engine.RequestStop(); }

void VMRAFile::SetDeleteProgress(int percent) {
    DeleteProgress.store(percent);
    if (onDeleteProgress) onDeleteProgress(percent);
}
