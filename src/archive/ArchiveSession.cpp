#include "archive/ArchiveSession.h"

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

#include "archive/ArchiveFaults.h"
#include "archive/ArchiveMessages.h"
#include "las/LasException.h"

namespace {

// How often a waiting session looks whether the other program is done.
constexpr auto kLockPoll = std::chrono::milliseconds(50);

[[noreturn]] void ThrowOpen(const Failure& message, int cause) { throw CLasException(message, false, cause); }

std::string RealPathOf(const std::string& path) {
    char resolved[PATH_MAX];
    // The journal lives beside the real file, so every path that leads to
    // the archive (a link, another spelling) finds the same journal.
    return ::realpath(path.c_str(), resolved) ? std::string(resolved) : path;
}

void Notify(const ArchiveHooks& hooks, const std::string& path, const char* text) {
    if (hooks.notice) hooks.notice(path, text);
}

}  // namespace

CArchiveSession::CArchiveSession(const std::string& path, Mode mode, const ArchiveHooks& hooks)
    : path(path), mode(mode), hooks(hooks) {
    if (mode != Mode::Read) faults = CFaultPlan::FromEnvironment();
    while (!TryOpen()) {
        file.Close();
        created = false;
    }
}

CArchiveSession::~CArchiveSession() { file.Close(); }

IFaultHook* CArchiveSession::Faults() { return faults.get(); }

int CArchiveSession::OpenDescriptor() {
    const int access = mode == Mode::Read ? O_RDONLY : O_RDWR;
    // Not blocking: opening a FIFO for reading would wait for a writer.
    int fd = ::open(path.c_str(), access | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0 && errno == ENOENT && mode == Mode::Create) {
        fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NONBLOCK, 0666);
        if (fd >= 0) {
            created = true;
        } else if (errno == EEXIST) {
            return -1;  // made by someone else meanwhile: open it again
        }
    }
    if (fd < 0) ThrowOpen(archmsg::kErrorOpeningArchive, errno);
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        ThrowOpen(archmsg::kNotRegularArchive, 0);
    }
    // An empty file someone else made beforehand holds no archive of theirs
    // to add to: it may be waiting to catch what is added, for its owner.
    if (mode == Mode::Create && !created && st.st_size == 0 && st.st_uid != geteuid()) {
        ::close(fd);
        ThrowOpen(archmsg::kEmptyArchiveOfOther, 0);
    }
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return fd;
}

bool CArchiveSession::TryOpen() {
    const int fd = OpenDescriptor();
    if (fd < 0) return false;
    if (!file.OpenDescriptor(fd, mode == Mode::Read ? "rb" : "r+b")) {
        ThrowOpen(archmsg::kErrorOpeningArchive, file.LastError());
    }
    Lock(mode == Mode::Read ? LOCK_SH : LOCK_EX);
    // The program we waited for may have removed or replaced the file.
    if (!file.IsFileAt(path)) return false;
    journalPath = archjournal::PathFor(RealPathOf(path));
    struct stat st {};
    // Whatever has the journal's name, a link included, is looked at.
    if (::lstat(journalPath.c_str(), &st) != 0 && errno == ENOENT) {
        file.SetFaultHook(faults.get(), "archive");
        return true;
    }
    if (mode == Mode::Read) {
        // Putting the archive right needs it opened for a change and locked
        // for that alone; then it is opened again to be read. A journal that
        // is back each time is someone's doing, not an interruption.
        if (++repairs > 3) ThrowOpen(archmsg::kCannotRecover, 0);
        file.Close();
        Repair();
        return false;
    }
    file.SetFaultHook(faults.get(), "archive");
    return Recover();
}

void CArchiveSession::Repair() {
    try {
        CArchiveSession repair(path, Mode::Update, hooks);
    } catch (const CLasException& e) {
        // A reader may not change the archive, and must not pretend to.
        if (e.Is(archmsg::kErrorOpeningArchive) &&
            (e.cause == EACCES || e.cause == EPERM || e.cause == EROFS)) {
            ThrowOpen(archmsg::kJournalNeedsWriter, e.cause);
        }
        throw;
    }
}

void CArchiveSession::Lock(int operation) {
    const int fd = fileno(file.Handle());
    for (;;) {
        if (flock(fd, operation | LOCK_NB) == 0) return;
        if (errno == EINTR) continue;
        if (errno == EWOULDBLOCK) {
            if (!hooks.waitForLock) ThrowOpen(archmsg::kArchiveBusy, 0);
            if (!waitNoticed) Notify(hooks, path, archmsg::kWaitingForOther);
            waitNoticed = true;
            if (hooks.checkPoint) hooks.checkPoint();
            std::this_thread::sleep_for(kLockPoll);
            continue;
        }
        if (errno == ENOLCK || errno == EOPNOTSUPP || errno == ENOSYS || errno == EINVAL) {
            // Some network file systems lock nothing: the journal still
            // protects against interruptions, not against a second writer.
            Notify(hooks, path, archmsg::kNoLocking);
            return;
        }
        ThrowOpen(archmsg::kErrorOpeningArchive, errno);
    }
}

// Nothing of a journal is written, and no journal is removed, until it has
// proved to be this archive's, made by someone who may change it, for a
// change the archive shows: anything else is left for the user to look at.
bool CArchiveSession::Recover() {
    archjournal::CJournalReader journal;
    switch (journal.Open(journalPath)) {
        case archjournal::CJournalReader::State::Absent:
            return true;
        case archjournal::CJournalReader::State::NotAFile:
            ThrowOpen(archmsg::kJournalNotAFile, 0);
        case archjournal::CJournalReader::State::Unreadable:
            ThrowOpen(archmsg::kJournalUnreadable, errno);
        case archjournal::CJournalReader::State::Damaged:
            ThrowOpen(archmsg::kJournalDamaged, 0);
        case archjournal::CJournalReader::State::Valid:
            break;
    }
    const archjournal::Verdict verdict = archjournal::Judge(journal, file, hooks.isCompleteArchive);
    switch (verdict) {
        case archjournal::Verdict::Foreign:
            ThrowOpen(archmsg::kJournalForeign, 0);
        case archjournal::Verdict::OtherWriter:
            ThrowOpen(archmsg::kJournalOtherWriter, 0);
        case archjournal::Verdict::Stale:
            ThrowOpen(archmsg::kJournalStale, 0);
        case archjournal::Verdict::Untouched:
        case archjournal::Verdict::Undo:
            break;
    }
    const bool created = journal.Record().created;
    if (verdict == archjournal::Verdict::Undo && !journal.PutBack(file)) {
        ThrowOpen(archmsg::kCannotRecover, errno);
    }
    if (!DropJournal()) ThrowOpen(archmsg::kCannotRecover, errno);
    // Emptied first and only then removed: should the removal be lost, an
    // empty archive holds nothing, as there was nothing before.
    if (created) RemoveFile();
    Notify(hooks, path, archmsg::kRecovered);
    return !created;
}

bool CArchiveSession::DropJournal() {
    return archjournal::Remove(journalPath, faults.get()) &&
           archjournal::SyncRemoval(journalPath, faults.get());
}

bool CArchiveSession::RemoveFile() {
    if (!FaultAllows(faults.get(), "remove", "archive")) return false;
    if (::unlink(path.c_str()) != 0 && errno != ENOENT) return false;
    return FaultAllows(faults.get(), "sync", "folder") && SyncFolderOf(path);
}

CArchiveTransaction::CArchiveTransaction(CArchiveSession& session, int64_t restorePosition,
                                         bool createdByChange)
    : session(session),
      journal(std::make_unique<archjournal::CJournalWriter>(session.JournalPath(), session.File(),
                                                            restorePosition, createdByChange,
                                                            session.Faults())) {}

CArchiveTransaction::~CArchiveTransaction() {
    if (!open) return;
    try {
        RollBack();
    } catch (const CLasException&) {
        // The journal stays; the next session on the archive puts it right.
    }
}

void CArchiveTransaction::AboutToWriteDirectory(int64_t directoryStart, const std::vector<uint8_t>& directory) {
    if (!journal->Complete(directoryStart, directory)) {
        throw CLasException(archmsg::kWriteArchive, false, errno);
    }
}

void CArchiveTransaction::Commit() {
    CFile& file = session.File();
    if (!file.Sync()) throw CLasException(archmsg::kWriteArchive, false, file.LastError());
    if (!archjournal::Remove(session.JournalPath(), session.Faults())) {
        throw CLasException(archmsg::kWriteArchive, false, errno);
    }
    // Without its journal the change stands, whatever follows.
    open = false;
    if (!archjournal::SyncRemoval(session.JournalPath(), session.Faults())) {
        throw CLasException(archmsg::kNotDurable, false, errno);
    }
}

void CArchiveTransaction::RollBack(bool removeCreated) {
    if (!open) return;
    auto fail = [](int cause) { throw CLasException(archmsg::kRollbackFailed, false, cause); };
    archjournal::CJournalReader saved;
    // What was saved is read back as it lies on disk: the same bytes and
    // checks a later session would use.
    if (saved.Adopt(::dup(journal->Descriptor())) != archjournal::CJournalReader::State::Valid) fail(EIO);
    if (!saved.PutBack(session.File())) fail(errno);
    if (!archjournal::Remove(session.JournalPath(), session.Faults())) fail(errno);
    open = false;
    // The archive is as it was; should the removal of its journal be lost,
    // the next open would only find the archive as the journal saved it.
    archjournal::SyncRemoval(session.JournalPath(), session.Faults());
    if (saved.Record().created && removeCreated) session.RemoveFile();
}
