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

[[noreturn]] void ThrowOpen(const char* message, int cause) { throw CLasException(message, false, cause); }

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
    if (::access(journalPath.c_str(), F_OK) != 0) {
        file.SetFaultHook(faults.get());
        return true;
    }
    if (mode == Mode::Read) {
        // Putting the archive right needs it opened for a change and locked
        // for that alone; then it is opened again to be read.
        file.Close();
        CArchiveSession repair(path, Mode::Update, hooks);
        return false;
    }
    file.SetFaultHook(faults.get());
    return Recover();
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

bool CArchiveSession::Recover() {
    JournalRecord record;
    const archjournal::State state = archjournal::Read(journalPath, record);
    if (state == archjournal::State::Absent) return true;
    if (state == archjournal::State::Incomplete) {
        // Written only part of the way: the archive had not been touched.
        if (!DropJournal()) ThrowOpen(archmsg::kCannotRecover, errno);
        Notify(hooks, path, archmsg::kJournalDiscarded);
        return true;
    }
    if (!archjournal::Matches(file, record)) ThrowOpen(archmsg::kJournalForeign, 0);
    if (!Undo(record, record.created) || !DropJournal()) ThrowOpen(archmsg::kCannotRecover, errno);
    Notify(hooks, path, archmsg::kRecovered);
    return !record.created;
}

bool CArchiveSession::Undo(const JournalRecord& record, bool removeArchive) {
    return archjournal::Apply(journalPath, record, file) && (!removeArchive || RemoveFile());
}

bool CArchiveSession::DropJournal() {
    return archjournal::Remove(journalPath, faults.get()) &&
           archjournal::SyncRemoval(journalPath, faults.get());
}

bool CArchiveSession::RemoveFile() {
    if (!FaultAllows(faults.get())) return false;
    if (::unlink(path.c_str()) != 0 && errno != ENOENT) return false;
    return SyncFolderOf(path);
}

CArchiveTransaction::CArchiveTransaction(CArchiveSession& session, int64_t restorePosition,
                                         bool createdByChange)
    : session(session) {
    record.restorePosition = restorePosition;
    record.created = createdByChange;
    archjournal::Write(session.JournalPath(), session.File(), record, session.Faults());
}

CArchiveTransaction::~CArchiveTransaction() {
    if (!open) return;
    try {
        RollBack();
    } catch (const CLasException&) {
        // The journal stays; the next session on the archive puts it right.
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
    JournalRecord saved;
    // What was saved is read back as it lies on disk: the same bytes and
    // checks a later session would use.
    if (archjournal::Read(session.JournalPath(), saved) != archjournal::State::Complete) fail(EIO);
    if (!session.Undo(saved, saved.created && removeCreated)) fail(errno);
    if (!archjournal::Remove(session.JournalPath(), session.Faults())) fail(errno);
    open = false;
    // The archive is as it was; should the removal of its journal be lost,
    // the next open would only put back the same bytes again.
    archjournal::SyncRemoval(session.JournalPath(), session.Faults());
}
