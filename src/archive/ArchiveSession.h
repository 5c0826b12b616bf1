#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "archive/ArchiveJournal.h"
#include "las/FileIo.h"

class CFaultPlan;

// What an open archive needs from the operation that opens it.
struct ArchiveHooks {
    // Called while waiting for another program; may wait (pause) or throw
    // CStopRequested, so a job that waits can still be stopped.
    std::function<void()> checkPoint;
    // Things the user should know that are not failures (path, fixed text).
    std::function<void(const std::string&, const char*)> notice;
    // False: an archive another program is changing is refused at once
    // instead of waited for (a window must not freeze).
    bool waitForLock = true;
    // Whether a file is a whole archive whose directory accounts for all of
    // it: such a file beside an interrupted change's journal was put there
    // by someone else, unless the change itself completed it.
    std::function<bool(CFile&)> isCompleteArchive;
};

// One archive file opened for one operation: locked against other programs
// (shared to read, exclusive to change) and, before anything else is done
// with it, put right if an earlier change of it was interrupted. The lock
// goes with the object.
class CArchiveSession {
public:
    enum class Mode {
        Read,    // the archive must exist
        Update,  // the archive must exist
        Create,  // made as an empty file (an empty archive) when missing
    };

    CArchiveSession(const std::string& path, Mode mode, const ArchiveHooks& hooks);
    ~CArchiveSession();
    CArchiveSession(const CArchiveSession&) = delete;
    CArchiveSession& operator=(const CArchiveSession&) = delete;

    CFile& File() { return file; }
    const std::string& Path() const { return path; }
    const std::string& JournalPath() const { return journalPath; }
    // True when this session made the file.
    bool Created() const { return created; }
    // The faults a test planted for this change (null: none).
    IFaultHook* Faults();
    // Removes the archive file while it is still locked: a change that made
    // it is being undone.
    bool RemoveFile();

private:
    // Opens and locks; false when the file changed hands meanwhile and must
    // be opened again.
    bool TryOpen();
    int OpenDescriptor();
    void Lock(int operation);
    // Undoes an interrupted change recorded beside the archive; false when
    // that removed the archive file itself.
    bool Recover();
    // Opens the archive for a change, only to put it right.
    void Repair();
    // Removes the journal and makes the removal durable.
    bool DropJournal();

    std::string path;
    std::string journalPath;
    Mode mode;
    const ArchiveHooks& hooks;
    // Declared before the file, so it outlives it: closing the file is a
    // step the plan is asked about, also when the constructor gives up.
    std::unique_ptr<CFaultPlan> faults;
    CFile file;
    bool created = false;
    bool waitNoticed = false;
    int repairs = 0;
};

// A change of an archive as one step: either all of it lands or none of it.
// Begun before the first byte is changed, it saves in the journal what the
// change may overwrite; Commit makes the result durable and drops the
// journal; RollBack (or leaving without Commit) puts the archive back as it
// was. If the process dies in between, the next session on the archive does
// the same from the journal.
class CArchiveTransaction {
public:
    // The change will not touch the bytes before restorePosition.
    // createdByChange: the archive file is new to this change, so undoing the
    // change removes it.
    CArchiveTransaction(CArchiveSession& session, int64_t restorePosition, bool createdByChange);
    ~CArchiveTransaction();
    CArchiveTransaction(const CArchiveTransaction&) = delete;
    CArchiveTransaction& operator=(const CArchiveTransaction&) = delete;

    // Called once the change has written its data, just before it writes
    // `directory` at directoryStart as the archive's end: the journal then
    // knows the archive the change completes.
    void AboutToWriteDirectory(int64_t directoryStart, const std::vector<uint8_t>& directory);
    void Commit();
    // removeCreated: an archive this change made goes again (after a
    // failure); otherwise (after a stop) it stays as the empty archive it
    // was before the change wrote to it.
    void RollBack(bool removeCreated = true);

private:
    CArchiveSession& session;
    std::unique_ptr<archjournal::CJournalWriter> journal;
    bool open = true;
};
