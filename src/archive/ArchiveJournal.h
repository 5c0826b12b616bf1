#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <sys/stat.h>
#include <vector>

#include "las/FileIo.h"

// The rollback record that lives beside an archive while it is being changed
// ("survey.vmra-journal"; its layout is doc/journal.md). It holds the
// archive's bytes from the first one the change will touch to the end, and
// the length the archive had; putting them back and cutting the file there
// gives the archive exactly as it was. It is written under no name, made
// durable and only then given its name, so a file of that name is always a
// whole journal; it is removed once the change is durable. After an
// interruption the next program to open the archive finds either no journal
// (the change is complete, or never began) or a whole one to undo it with.
//
// Archives lie in shared folders, so a journal is a stranger's file until it
// proves otherwise: it names the archive it was made for (device, inode,
// owner, a hash over the bytes before the change), and it is applied only
// when that archive is the one beside it, its owner may change the archive,
// and the archive is in a state the change itself could have left.
struct JournalRecord {
    int64_t restorePosition = 0;  // where the saved bytes go back
    int64_t originalLength = 0;   // the archive's length before the change
    // The change made the archive file itself: undoing it removes the file.
    bool created = false;
    // The archive the journal was made for.
    uint64_t device = 0;
    uint64_t inode = 0;
    uint32_t owner = 0;
    // Of the bytes before the restore position, which the change never
    // touches (archjournal::IdentityHash).
    uint64_t identityHash = 0;
    // Written once the change has written its data, just before it writes
    // the archive's new directory: what the archive is when the change is
    // complete, so that a complete change is told from a file put there by
    // someone else.
    bool completed = false;
    int64_t newLength = 0;
    int64_t newDirectoryStart = 0;
    uint64_t newDirectoryHash = 0;
};

namespace archjournal {

// The journal's path for an archive's real path (links resolved). Names too
// long for the "-journal" suffix get a shortened one, unique to the name.
std::string PathFor(const std::string& archiveRealPath);

// XXH3 over the bytes of the archive before restorePosition: all of them up
// to 4 MiB; beyond that the first and last MiB and 64 blocks of 4 KiB spread
// evenly between. False when they cannot be read.
bool IdentityHash(CFile& archive, int64_t restorePosition, uint64_t& hash);

// The journal of one change, from before its first write to its end.
class CJournalWriter {
public:
    // Saves the archive's bytes from restorePosition to its end with the
    // rest of the record, with the archive's mode and owner, makes it
    // durable, gives it its name (never replacing anything there) and makes
    // that durable too; only then returns. Throws CLasException (the archive
    // is untouched) when it cannot.
    CJournalWriter(const std::string& journalPath, CFile& archive, int64_t restorePosition,
                   bool created, IFaultHook* faults);
    CJournalWriter(const CJournalWriter&) = delete;
    CJournalWriter& operator=(const CJournalWriter&) = delete;

    // Records that the change has written its data and is about to write
    // `directory` at directoryStart as the archive's end, durably. False
    // (errno set) when it cannot.
    bool Complete(int64_t directoryStart, const std::vector<uint8_t>& directory);
    // The open journal, for reading it back.
    int Descriptor() const;

private:
    CFile file;
    std::string path;
};

// A journal found beside an archive, open for reading only.
class CJournalReader {
public:
    enum class State {
        Absent,      // nothing of that name
        NotAFile,    // a link, folder, FIFO or device: never opened
        Unreadable,  // no permission to read it
        Damaged,     // not a whole journal of this version
        Valid,
    };
    // Never follows a link and never waits on a FIFO.
    State Open(const std::string& journalPath);
    // Reads a journal this process has open (a copy of its descriptor).
    State Adopt(int descriptor);

    const JournalRecord& Record() const { return record; }
    // The journal file's owner.
    uid_t Owner() const { return owner; }
    // Whether length archive bytes from archiveOffset equal the saved bytes
    // from savedOffset (an offset into the saved bytes). False also when
    // either cannot be read.
    bool SavedEquals(CFile& archive, int64_t savedOffset, int64_t archiveOffset, int64_t length);
    // The saved bytes from savedOffset; false when they cannot be read.
    bool ReadSaved(int64_t savedOffset, uint8_t* bytes, std::size_t n);
    // Puts the saved bytes back, cuts the archive at its old length and
    // makes that durable. False (errno set) when a step fails; it may be
    // tried again.
    bool PutBack(CFile& archive);

private:
    State Parse();

    CFile file;
    JournalRecord record;
    uid_t owner = 0;
};

// What a valid journal means for the archive beside it.
enum class Verdict {
    Untouched,    // the archive is as it was before the change: drop the journal
    Undo,         // the change was interrupted: put the saved bytes back
    Foreign,      // made for another file, or for other bytes
    OtherWriter,  // its owner may not change the archive
    Stale,        // the archive was replaced or changed after the interruption
};
// Judges the journal against the archive open in `archive`, reading only.
// isCompleteArchive tells whether a file is a whole archive whose directory
// accounts for all of it.
Verdict Judge(CJournalReader& journal, CFile& archive,
              const std::function<bool(CFile&)>& isCompleteArchive);

// Removes the journal: from then on the change stands. False (errno set) when
// it is still there.
bool Remove(const std::string& journalPath, IFaultHook* faults);
// Makes the removal durable.
bool SyncRemoval(const std::string& journalPath, IFaultHook* faults);

}  // namespace archjournal
