#include "archive/ArchiveJournal.h"

#include <xxhash.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <random>
#include <unistd.h>

#include "archive/ArchiveFaults.h"
#include "archive/ArchiveLayout.h"
#include "archive/ArchiveMessages.h"
#include "las/ByteOrder.h"
#include "las/LasException.h"

namespace {

constexpr std::array<uint8_t, 8> kHeadMagic = {'V', 'M', 'R', 'A', '-', 'J', 'N', 'L'};
constexpr std::array<uint8_t, 8> kEndMagic = {'V', 'M', 'R', 'A', '-', 'E', 'N', 'D'};
constexpr std::array<uint8_t, 8> kDoneMagic = {'V', 'M', 'R', 'A', '-', 'D', 'O', 'N'};
constexpr uint32_t kVersion = 2;
constexpr uint32_t kFlagCreated = 1;
constexpr int64_t kHeadBytes = 128;
constexpr int64_t kTailBytes = 16;
constexpr int64_t kDoneBytes = 40;
constexpr std::size_t kBlockBytes = 1 << 20;
// The journal's name is the archive's with this after it.
const std::string kSuffix = "-journal";
constexpr std::size_t kMaxNameBytes = NAME_MAX;

// Identity sample: everything up to kWholePrefix bytes, beyond that the
// first and last kEdgeBytes and kSpreadBlocks blocks spread between.
constexpr int64_t kWholePrefix = 4 << 20;
constexpr int64_t kEdgeBytes = 1 << 20;
constexpr int64_t kSpreadBlocks = 64;
constexpr int64_t kSpreadBlockBytes = 4096;

uint64_t Hash(const uint8_t* data, std::size_t n) { return XXH3_64bits(data, n); }

std::array<uint8_t, kHeadBytes> EncodeHead(const JournalRecord& r) {
    std::array<uint8_t, kHeadBytes> b{};
    std::copy(kHeadMagic.begin(), kHeadMagic.end(), b.begin());
    le::StoreU32(b.data() + 8, kVersion);
    le::StoreU32(b.data() + 12, r.created ? kFlagCreated : 0);
    le::StoreU64(b.data() + 16, r.device);
    le::StoreU64(b.data() + 24, r.inode);
    le::StoreU32(b.data() + 32, r.owner);
    le::StoreU64(b.data() + 40, static_cast<uint64_t>(r.restorePosition));
    le::StoreU64(b.data() + 48, static_cast<uint64_t>(r.originalLength));
    le::StoreU64(b.data() + 56, r.identityHash);
    le::StoreU64(b.data() + kHeadBytes - 8, Hash(b.data(), kHeadBytes - 8));
    return b;
}

bool DecodeHead(const uint8_t* b, JournalRecord& r) {
    if (!std::equal(kHeadMagic.begin(), kHeadMagic.end(), b)) return false;
    if (le::LoadU64(b + kHeadBytes - 8) != Hash(b, kHeadBytes - 8)) return false;
    if (le::LoadU32(b + 8) != kVersion) return false;
    const uint32_t flags = le::LoadU32(b + 12);
    if ((flags & ~kFlagCreated) != 0) return false;
    r.created = (flags & kFlagCreated) != 0;
    r.device = le::LoadU64(b + 16);
    r.inode = le::LoadU64(b + 24);
    r.owner = le::LoadU32(b + 32);
    const uint64_t restore = le::LoadU64(b + 40);
    const uint64_t length = le::LoadU64(b + 48);
    r.identityHash = le::LoadU64(b + 56);
    if (restore > static_cast<uint64_t>(INT64_MAX) || length > static_cast<uint64_t>(INT64_MAX) ||
        restore > length) {
        return false;
    }
    r.restorePosition = static_cast<int64_t>(restore);
    r.originalLength = static_cast<int64_t>(length);
    // A change that made the archive began from no bytes at all.
    return !r.created || length == 0;
}

std::array<uint8_t, kDoneBytes> EncodeDone(int64_t newLength, int64_t directoryStart, uint64_t hash) {
    std::array<uint8_t, kDoneBytes> b{};
    std::copy(kDoneMagic.begin(), kDoneMagic.end(), b.begin());
    le::StoreU64(b.data() + 8, static_cast<uint64_t>(newLength));
    le::StoreU64(b.data() + 16, static_cast<uint64_t>(directoryStart));
    le::StoreU64(b.data() + 24, hash);
    le::StoreU64(b.data() + 32, Hash(b.data(), 32));
    return b;
}

bool DecodeDone(const uint8_t* b, JournalRecord& r) {
    if (!std::equal(kDoneMagic.begin(), kDoneMagic.end(), b) || le::LoadU64(b + 32) != Hash(b, 32)) {
        return false;
    }
    const uint64_t length = le::LoadU64(b + 8);
    const uint64_t start = le::LoadU64(b + 16);
    if (length > static_cast<uint64_t>(INT64_MAX) || start > length) return false;
    r.completed = true;
    r.newLength = static_cast<int64_t>(length);
    r.newDirectoryStart = static_cast<int64_t>(start);
    r.newDirectoryHash = le::LoadU64(b + 24);
    return true;
}

// Streams length bytes of `from` (from its position) through the hash and,
// when there is one, into `to`; false when a read or write fails.
bool CopyHashed(CFile& from, CFile* to, int64_t length, XXH3_state_t* state) {
    std::vector<uint8_t> buffer(static_cast<std::size_t>(std::min<int64_t>(kBlockBytes, std::max<int64_t>(length, 1))));
    for (int64_t done = 0; done < length;) {
        const auto n = static_cast<std::size_t>(std::min<int64_t>(static_cast<int64_t>(buffer.size()), length - done));
        if (!from.ReadExact(buffer.data(), n) || (to && !to->Write(buffer.data(), n))) return false;
        if (state) XXH3_64bits_update(state, buffer.data(), n);
        done += static_cast<int64_t>(n);
    }
    return true;
}

struct HashState {
    HashState() : state(XXH3_createState()) { XXH3_64bits_reset(state); }
    ~HashState() { XXH3_freeState(state); }
    HashState(const HashState&) = delete;
    HashState& operator=(const HashState&) = delete;
    uint64_t Digest() const { return XXH3_64bits_digest(state); }
    XXH3_state_t* state;
};

bool HashRange(CFile& file, int64_t offset, int64_t length, uint64_t& hash) {
    HashState h;
    if (!file.Seek(offset) || !CopyHashed(file, nullptr, length, h.state)) return false;
    hash = h.Digest();
    return true;
}

std::string FolderOf(const std::string& path) {
    const auto slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

[[noreturn]] void ThrowJournal(int cause) {
    throw CLasException(archmsg::kJournalWrite, false, cause != 0 ? cause : EIO);
}

// Whether the user may write files of the group: they belong to it.
bool InGroup(uid_t uid, gid_t gid) {
    std::vector<char> buffer(16384);
    passwd entry {};
    passwd* found = nullptr;
    if (getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found) != 0 || !found) return false;
    if (found->pw_gid == gid) return true;
    int count = 64;
    std::vector<gid_t> groups(static_cast<std::size_t>(count));
    if (getgrouplist(found->pw_name, found->pw_gid, groups.data(), &count) < 0) {
        groups.resize(static_cast<std::size_t>(count));
        if (getgrouplist(found->pw_name, found->pw_gid, groups.data(), &count) < 0) return false;
    }
    groups.resize(static_cast<std::size_t>(count));
    return std::find(groups.begin(), groups.end(), gid) != groups.end();
}

// Whether a user may change the archive, judged by its owner and mode.
bool MayChange(uid_t uid, const struct stat& archive) {
    if (uid == archive.st_uid || uid == 0 || (archive.st_mode & S_IWOTH)) return true;
    return (archive.st_mode & S_IWGRP) && InGroup(uid, archive.st_gid);
}

// A new file in folder that has no name yet, so that nobody ever meets it
// half written: its name is given only once it is whole. Where the file
// system cannot make one, a file of a fresh hidden name is made instead
// (tempPath); it is never made through a link or over another file.
int CreateNameless(const std::string& folder, std::string& tempPath) {
    tempPath.clear();
    if (::access("/proc/self/fd", X_OK) == 0) {
        const int fd = ::open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
        if (fd >= 0) return fd;
        if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) return -1;
    }
    std::random_device random;
    for (int attempt = 0; attempt < 100; ++attempt) {
        char name[32];
        std::snprintf(name, sizeof name, "/.vmra-jnl-%08x", static_cast<unsigned>(random()));
        tempPath = folder + name;
        const int fd = ::open(tempPath.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd >= 0 || errno != EEXIST) return fd;
    }
    errno = EEXIST;
    return -1;
}

// The journal is as private as the archive, and belongs to its owner where
// the writer may arrange that, so that the owner's next open trusts it.
void TakeArchivesRights(int fd, const struct stat& archive) {
    if (geteuid() == 0) {
        (void)fchown(fd, archive.st_uid, archive.st_gid);
    } else {
        (void)fchown(fd, static_cast<uid_t>(-1), archive.st_gid);
    }
    struct stat st {};
    // Its owner must always be able to read it back to undo the change.
    mode_t mode = (archive.st_mode & 0666) | 0600;
    // Readers of another group must not read what this group may not.
    if (fstat(fd, &st) != 0 || st.st_gid != archive.st_gid) mode &= ~static_cast<mode_t>(0077);
    (void)fchmod(fd, mode);
}

}  // namespace

namespace archjournal {

std::string PathFor(const std::string& archiveRealPath) {
    const auto slash = archiveRealPath.find_last_of('/');
    const std::size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
    const std::string name = archiveRealPath.substr(nameStart);
    if (name.size() + kSuffix.size() <= kMaxNameBytes) return archiveRealPath + kSuffix;
    // Cut, and told apart from other cut names by the whole name's hash.
    char tag[24];
    std::snprintf(tag, sizeof tag, "~%016llx",
                  static_cast<unsigned long long>(Hash(reinterpret_cast<const uint8_t*>(name.data()), name.size())));
    const std::size_t keep = kMaxNameBytes - kSuffix.size() - std::string(tag).size();
    return archiveRealPath.substr(0, nameStart) + name.substr(0, keep) + tag + kSuffix;
}

bool IdentityHash(CFile& archive, int64_t restorePosition, uint64_t& hash) {
    if (restorePosition <= kWholePrefix) return HashRange(archive, 0, restorePosition, hash);
    HashState h;
    auto take = [&](int64_t offset, int64_t length) {
        return archive.Seek(offset) && CopyHashed(archive, nullptr, length, h.state);
    };
    const int64_t between = restorePosition - 2 * kEdgeBytes - kSpreadBlockBytes;
    bool ok = take(0, kEdgeBytes);
    for (int64_t i = 0; ok && i < kSpreadBlocks; ++i) {
        ok = take(kEdgeBytes + i * (between / (kSpreadBlocks - 1)), kSpreadBlockBytes);
    }
    ok = ok && take(restorePosition - kEdgeBytes, kEdgeBytes);
    if (ok) hash = h.Digest();
    return ok;
}

CJournalWriter::CJournalWriter(const std::string& journalPath, CFile& archive, int64_t restorePosition,
                               bool created, IFaultHook* faults)
    : path(journalPath) {
    struct stat st {};
    const int64_t length = archive.Size();
    if (fstat(fileno(archive.Handle()), &st) != 0 || length < restorePosition) ThrowJournal(errno);
    JournalRecord record;
    record.restorePosition = restorePosition;
    record.originalLength = length;
    record.created = created && length == 0;
    record.device = static_cast<uint64_t>(st.st_dev);
    record.inode = static_cast<uint64_t>(st.st_ino);
    record.owner = static_cast<uint32_t>(st.st_uid);
    if (!IdentityHash(archive, restorePosition, record.identityHash)) ThrowJournal(archive.LastError());

    std::string tempPath;
    const int fd = CreateNameless(FolderOf(journalPath), tempPath);
    if (fd < 0) ThrowJournal(errno);
    TakeArchivesRights(fd, st);
    if (!file.OpenDescriptor(fd, "w+b")) ThrowJournal(file.LastError());
    file.SetFaultHook(faults, "journal");
    auto fail = [&](int cause) {
        file.Close();
        if (!tempPath.empty()) ::unlink(tempPath.c_str());
        ThrowJournal(cause);
    };
    const auto head = EncodeHead(record);
    HashState h;
    const bool written = file.Write(head.data(), head.size()) && archive.Seek(restorePosition) &&
                         CopyHashed(archive, &file, length - restorePosition, h.state);
    uint8_t tail[kTailBytes];
    le::StoreU64(tail, h.Digest());
    std::copy(kEndMagic.begin(), kEndMagic.end(), tail + 8);
    if (!written || !file.Write(tail, sizeof tail) || !file.Sync()) {
        fail(file.LastError() != 0 ? file.LastError() : archive.LastError());
    }
    // Only a whole, durable journal gets the name; link() never replaces
    // what another program put there, and never follows a link there.
    bool linked = FaultAllows(faults, "link", "journal");
    if (linked && tempPath.empty()) {
        const std::string self = "/proc/self/fd/" + std::to_string(fileno(file.Handle()));
        linked = ::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, journalPath.c_str(), AT_SYMLINK_FOLLOW) == 0;
    } else if (linked) {
        linked = ::link(tempPath.c_str(), journalPath.c_str()) == 0;
    }
    if (!linked) fail(errno);
    if (!tempPath.empty()) ::unlink(tempPath.c_str());
    if (!FaultAllows(faults, "sync", "folder") || !SyncFolderOf(journalPath)) {
        const int cause = errno;
        file.Close();
        ::unlink(journalPath.c_str());
        ThrowJournal(cause);
    }
}

bool CJournalWriter::Complete(int64_t directoryStart, const std::vector<uint8_t>& directory) {
    const auto done = EncodeDone(directoryStart + static_cast<int64_t>(directory.size()), directoryStart,
                                 Hash(directory.data(), directory.size()));
    if (!file.Seek(0, SEEK_END) || !file.Write(done.data(), done.size()) || !file.Sync()) {
        errno = file.LastError() != 0 ? file.LastError() : EIO;
        return false;
    }
    return true;
}

int CJournalWriter::Descriptor() const { return file.IsOpen() ? fileno(file.Handle()) : -1; }

CJournalReader::State CJournalReader::Open(const std::string& journalPath) {
    struct stat st {};
    if (::lstat(journalPath.c_str(), &st) != 0) return errno == ENOENT ? State::Absent : State::Unreadable;
    if (!S_ISREG(st.st_mode)) return State::NotAFile;
    const int fd = ::open(journalPath.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT) return State::Absent;
        return errno == ELOOP ? State::NotAFile : State::Unreadable;
    }
    return Adopt(fd);
}

CJournalReader::State CJournalReader::Adopt(int descriptor) {
    struct stat st {};
    if (descriptor < 0) return State::Unreadable;
    // What was opened is judged, not what the name showed a moment before.
    if (fstat(descriptor, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(descriptor);
        return State::NotAFile;
    }
    owner = st.st_uid;
    if (!file.OpenDescriptor(descriptor, "rb")) return State::Unreadable;
    return Parse();
}

CJournalReader::State CJournalReader::Parse() {
    const int64_t size = file.Size();
    uint8_t head[kHeadBytes];
    record = JournalRecord{};
    if (size < kHeadBytes + kTailBytes || !file.Seek(0) || !file.ReadExact(head, sizeof head) ||
        !DecodeHead(head, record)) {
        return State::Damaged;
    }
    const int64_t saved = record.originalLength - record.restorePosition;
    const int64_t whole = size - kHeadBytes - kTailBytes;
    // Exactly the saved bytes, and after them at most a completion record.
    if (saved != whole && saved != whole - kDoneBytes) return State::Damaged;
    HashState h;
    uint8_t tail[kTailBytes];
    if (!CopyHashed(file, nullptr, saved, h.state) || !file.ReadExact(tail, sizeof tail) ||
        le::LoadU64(tail) != h.Digest() || !std::equal(kEndMagic.begin(), kEndMagic.end(), tail + 8)) {
        return State::Damaged;
    }
    uint8_t done[kDoneBytes];
    // A completion record that did not reach the disk whole counts as none:
    // the change had not written its directory yet.
    if (saved != whole && file.ReadExact(done, sizeof done)) DecodeDone(done, record);
    return State::Valid;
}

bool CJournalReader::ReadSaved(int64_t savedOffset, uint8_t* bytes, std::size_t n) {
    return file.Seek(kHeadBytes + savedOffset) && file.ReadExact(bytes, n);
}

bool CJournalReader::SavedEquals(CFile& archive, int64_t savedOffset, int64_t archiveOffset, int64_t length) {
    std::vector<uint8_t> mine(static_cast<std::size_t>(std::min<int64_t>(kBlockBytes, std::max<int64_t>(length, 1))));
    std::vector<uint8_t> theirs(mine.size());
    for (int64_t done = 0; done < length;) {
        const auto n = static_cast<std::size_t>(std::min<int64_t>(static_cast<int64_t>(mine.size()), length - done));
        if (!ReadSaved(savedOffset + done, mine.data(), n) || !archive.Seek(archiveOffset + done) ||
            !archive.ReadExact(theirs.data(), n) || !std::equal(mine.begin(), mine.begin() + static_cast<std::ptrdiff_t>(n), theirs.begin())) {
            return false;
        }
        done += static_cast<int64_t>(n);
    }
    return true;
}

bool CJournalReader::PutBack(CFile& archive) {
    const int64_t saved = record.originalLength - record.restorePosition;
    const bool ok = file.Seek(kHeadBytes) && archive.Seek(record.restorePosition) &&
                    CopyHashed(file, &archive, saved, nullptr) && archive.Truncate(record.originalLength) &&
                    archive.Sync();
    if (!ok) errno = archive.LastError() != 0 ? archive.LastError() : EIO;
    return ok;
}

Verdict Judge(CJournalReader& journal, CFile& archive, const std::function<bool(CFile&)>& isCompleteArchive) {
    const JournalRecord& r = journal.Record();
    struct stat st {};
    if (fstat(fileno(archive.Handle()), &st) != 0) return Verdict::Foreign;
    if (!MayChange(journal.Owner(), st)) return Verdict::OtherWriter;
    const int64_t size = archive.Size();
    uint64_t identity = 0;
    if (r.device != static_cast<uint64_t>(st.st_dev) || r.inode != static_cast<uint64_t>(st.st_ino) ||
        r.owner != static_cast<uint32_t>(st.st_uid) || size < r.restorePosition ||
        !IdentityHash(archive, r.restorePosition, identity) || identity != r.identityHash) {
        return Verdict::Foreign;
    }
    const int64_t saved = r.originalLength - r.restorePosition;
    if (size == r.originalLength && journal.SavedEquals(archive, 0, r.restorePosition, saved)) {
        return Verdict::Untouched;
    }
    // The old directory still at the end: the change had not come to
    // writing its own (a deletion moves data below it first).
    uint8_t count[4];
    if (saved >= 4 && size == r.originalLength && journal.ReadSaved(saved - 4, count, sizeof count)) {
        const int64_t n = le::LoadI32(count);
        const int64_t directory = n * archlayout::kRecordBytes + archlayout::kCountBytes;
        if (n >= 0 && directory <= saved &&
            journal.SavedEquals(archive, saved - directory, size - directory, directory)) {
            return Verdict::Undo;
        }
    }
    uint64_t hash = 0;
    if (r.completed && size == r.newLength && r.newDirectoryStart >= r.restorePosition &&
        HashRange(archive, r.newDirectoryStart, size - r.newDirectoryStart, hash) && hash == r.newDirectoryHash) {
        return Verdict::Undo;
    }
    // A whole archive the change did not leave: somebody put it there.
    if (!isCompleteArchive || isCompleteArchive(archive)) return Verdict::Stale;
    return Verdict::Undo;
}

bool Remove(const std::string& journalPath, IFaultHook* faults) {
    return FaultAllows(faults, "remove", "journal") &&
           (::unlink(journalPath.c_str()) == 0 || errno == ENOENT);
}

bool SyncRemoval(const std::string& journalPath, IFaultHook* faults) {
    return FaultAllows(faults, "sync", "folder") && SyncFolderOf(journalPath);
}

}  // namespace archjournal
