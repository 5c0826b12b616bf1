#include "archive/ArchiveJournal.h"

#include <xxhash.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <unistd.h>
#include <vector>

#include "archive/ArchiveFaults.h"
#include "archive/ArchiveMessages.h"
#include "las/ByteOrder.h"
#include "las/FileIo.h"
#include "las/LasException.h"

namespace {

constexpr std::array<uint8_t, 8> kHeadMagic = {'V', 'M', 'R', 'A', '-', 'J', 'N', 'L'};
constexpr std::array<uint8_t, 8> kEndMagic = {'V', 'M', 'R', 'A', '-', 'E', 'N', 'D'};
constexpr uint32_t kVersion = 1;
constexpr uint32_t kFlagCreated = 1;
constexpr std::size_t kHeadBytes = 64;
constexpr std::size_t kTailBytes = 16;
// How many bytes before the restore position identify the archive.
constexpr int64_t kPrefixBytes = 4096;
constexpr std::size_t kBlockBytes = 1 << 20;

struct Head {
    JournalRecord record;
    int64_t byteCount = 0;
};

std::array<uint8_t, kHeadBytes> EncodeHead(const Head& h) {
    std::array<uint8_t, kHeadBytes> b{};
    std::copy(kHeadMagic.begin(), kHeadMagic.end(), b.begin());
    le::StoreU32(b.data() + 8, kVersion);
    le::StoreU32(b.data() + 12, h.record.created ? kFlagCreated : 0);
    le::StoreU64(b.data() + 16, static_cast<uint64_t>(h.record.restorePosition));
    le::StoreU64(b.data() + 24, static_cast<uint64_t>(h.record.originalLength));
    le::StoreU64(b.data() + 32, static_cast<uint64_t>(h.record.prefixLength));
    le::StoreU64(b.data() + 40, h.record.prefixHash);
    le::StoreU64(b.data() + 48, static_cast<uint64_t>(h.byteCount));
    le::StoreU64(b.data() + 56, XXH64(b.data(), 56, 0));
    return b;
}

bool DecodeHead(const uint8_t* b, Head& h) {
    if (!std::equal(kHeadMagic.begin(), kHeadMagic.end(), b)) return false;
    if (le::LoadU64(b + 56) != XXH64(b, 56, 0)) return false;
    if (le::LoadU32(b + 8) != kVersion) return false;
    h.record.created = (le::LoadU32(b + 12) & kFlagCreated) != 0;
    h.record.restorePosition = static_cast<int64_t>(le::LoadU64(b + 16));
    h.record.originalLength = static_cast<int64_t>(le::LoadU64(b + 24));
    h.record.prefixLength = static_cast<int64_t>(le::LoadU64(b + 32));
    h.record.prefixHash = le::LoadU64(b + 40);
    h.byteCount = static_cast<int64_t>(le::LoadU64(b + 48));
    const JournalRecord& r = h.record;
    return r.restorePosition >= 0 && r.prefixLength >= 0 && r.prefixLength <= kPrefixBytes &&
           r.prefixLength <= r.restorePosition && h.byteCount >= 0 &&
           r.originalLength == r.restorePosition + h.byteCount;
}

// The hash of length bytes of file from offset; false when they cannot be read.
bool HashRange(CFile& file, int64_t offset, int64_t length, uint64_t& hash) {
    std::vector<uint8_t> bytes(static_cast<std::size_t>(length));
    if (!file.Seek(offset) || !file.ReadExact(bytes.data(), bytes.size())) return false;
    hash = XXH64(bytes.data(), bytes.size(), 0);
    return true;
}

[[noreturn]] void ThrowJournal(int cause) {
    throw CLasException(archmsg::kJournalWrite, false, cause != 0 ? cause : EIO);
}

// Reads length bytes from one file's current position, hashing them, and
// writes them to the other's when there is one; false when a read or write
// fails. The hash is of what was read.
bool CopyHashed(CFile& from, CFile* to, int64_t length, uint64_t& hash) {
    std::vector<uint8_t> buffer(static_cast<std::size_t>(std::min<int64_t>(kBlockBytes, std::max<int64_t>(length, 1))));
    XXH64_state_t* state = XXH64_createState();
    XXH64_reset(state, 0);
    bool ok = true;
    for (int64_t done = 0; ok && done < length;) {
        const auto n = static_cast<std::size_t>(std::min<int64_t>(static_cast<int64_t>(buffer.size()), length - done));
        ok = from.ReadExact(buffer.data(), n) && (!to || to->Write(buffer.data(), n));
        XXH64_update(state, buffer.data(), n);
        done += static_cast<int64_t>(n);
    }
    hash = XXH64_digest(state);
    XXH64_freeState(state);
    return ok;
}

}  // namespace

namespace archjournal {

std::string PathFor(const std::string& archivePath) { return archivePath + "-journal"; }

void Write(const std::string& journalPath, CFile& archive, JournalRecord record,
           IFaultHook* faults) {
    const int64_t length = archive.Size();
    if (length < record.restorePosition) ThrowJournal(EIO);
    record.originalLength = length;
    record.prefixLength = std::min(kPrefixBytes, record.restorePosition);
    if (!HashRange(archive, record.restorePosition - record.prefixLength, record.prefixLength,
                   record.prefixHash)) {
        ThrowJournal(archive.LastError());
    }
    Head head;
    head.record = record;
    head.byteCount = length - record.restorePosition;

    CFile journal;
    if (!journal.Open(journalPath, "wb")) ThrowJournal(journal.LastError());
    journal.SetFaultHook(faults);
    const auto encoded = EncodeHead(head);
    uint64_t hash = 0;
    const bool copied = journal.Write(encoded.data(), encoded.size()) &&
                        archive.Seek(record.restorePosition) &&
                        CopyHashed(archive, &journal, head.byteCount, hash);
    uint8_t tail[kTailBytes];
    le::StoreU64(tail, hash);
    std::copy(kEndMagic.begin(), kEndMagic.end(), tail + 8);
    const bool written = copied && journal.Write(tail, sizeof tail) && journal.Sync();
    const bool closed = journal.Close();
    const int cause = journal.LastError() != 0 ? journal.LastError() : archive.LastError();
    if (!written || !closed) {
        // A record that is not whole must not stay to be mistaken for one.
        ::unlink(journalPath.c_str());
        ThrowJournal(cause);
    }
    if (!FaultAllows(faults) || !SyncFolderOf(journalPath)) {
        const int cause = errno;
        ::unlink(journalPath.c_str());
        ThrowJournal(cause);
    }
}

State Read(const std::string& journalPath, JournalRecord& record) {
    CFile journal;
    if (!journal.Open(journalPath, "rb")) {
        return journal.LastError() == ENOENT ? State::Absent : State::Incomplete;
    }
    const int64_t size = journal.Size();
    uint8_t headBytes[kHeadBytes];
    Head head;
    if (size < static_cast<int64_t>(kHeadBytes + kTailBytes) ||
        !journal.ReadExact(headBytes, sizeof headBytes) || !DecodeHead(headBytes, head) ||
        size != static_cast<int64_t>(kHeadBytes + kTailBytes) + head.byteCount) {
        return State::Incomplete;
    }
    uint64_t hash = 0;
    const bool ok = CopyHashed(journal, nullptr, head.byteCount, hash);
    uint8_t tail[kTailBytes];
    if (!ok || !journal.ReadExact(tail, sizeof tail) || le::LoadU64(tail) != hash ||
        !std::equal(kEndMagic.begin(), kEndMagic.end(), tail + 8)) {
        return State::Incomplete;
    }
    record = head.record;
    return State::Complete;
}

bool Matches(CFile& archive, const JournalRecord& record) {
    const int64_t length = archive.Size();
    if (length < record.restorePosition) return false;
    uint64_t hash = 0;
    return HashRange(archive, record.restorePosition - record.prefixLength, record.prefixLength,
                     hash) &&
           hash == record.prefixHash;
}

bool Apply(const std::string& journalPath, const JournalRecord& record, CFile& archive) {
    CFile journal;
    if (!journal.Open(journalPath, "rb") || !journal.Seek(static_cast<int64_t>(kHeadBytes))) {
        errno = journal.LastError() != 0 ? journal.LastError() : EIO;
        return false;
    }
    uint64_t hash = 0;
    const bool ok = archive.Seek(record.restorePosition) &&
                    CopyHashed(journal, &archive, record.originalLength - record.restorePosition, hash) &&
                    archive.Truncate(record.originalLength) && archive.Sync();
    if (!ok) errno = archive.LastError() != 0 ? archive.LastError() : EIO;
    return ok;
}

bool Remove(const std::string& journalPath, IFaultHook* faults) {
    return FaultAllows(faults) && (::unlink(journalPath.c_str()) == 0 || errno == ENOENT);
}

bool SyncRemoval(const std::string& journalPath, IFaultHook* faults) {
    return FaultAllows(faults) && SyncFolderOf(journalPath);
}

}  // namespace archjournal
