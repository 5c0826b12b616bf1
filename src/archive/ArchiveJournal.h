#pragma once

#include <cstdint>
#include <string>

class CFile;
class IFaultHook;

// The rollback record that lives beside an archive while it is being changed
// ("survey.vmra-journal"). It holds the archive's bytes from the first one the
// change will touch to the end, and the length the archive had; putting them
// back and cutting the file there gives the archive exactly as it was. It is
// written and made durable before the archive is touched and removed once the
// change is durable, so after an interruption at any moment the next program
// to open the archive finds either no record (the change is complete, or never
// began) or a complete one to undo it with. A record cut short by the
// interruption fails its checksums: the archive had not been touched yet.
struct JournalRecord {
    int64_t restorePosition = 0;  // where the saved bytes go back
    int64_t originalLength = 0;   // the archive's length before the change
    // The change made the archive file itself: undoing it removes the file.
    bool created = false;
    // The bytes just before the restore position, which the change never
    // touches: a record is applied only to the archive they still match.
    int64_t prefixLength = 0;
    uint64_t prefixHash = 0;
};

namespace archjournal {

// The record's path for an archive (its real path, links resolved).
std::string PathFor(const std::string& archivePath);

// Saves the archive's bytes from the restore position to its end, with the
// rest of the record, makes it durable with its folder entry, and only then
// returns. Throws CLasException (the archive is untouched) when it cannot.
void Write(const std::string& journalPath, CFile& archive, JournalRecord record,
           IFaultHook* faults);

enum class State { Absent, Incomplete, Complete };
// Reads a record and checks it whole; fills record when it is complete.
State Read(const std::string& journalPath, JournalRecord& record);

// True when the record was made for this archive.
bool Matches(CFile& archive, const JournalRecord& record);

// Puts the saved bytes back, cuts the archive at its old length and makes
// that durable. False (errno set) when a step fails; it may be tried again.
bool Apply(const std::string& journalPath, const JournalRecord& record, CFile& archive);

// Removes the record: from then on the change stands. False (errno set) when
// the record is still there.
bool Remove(const std::string& journalPath, IFaultHook* faults);
// Makes the removal durable.
bool SyncRemoval(const std::string& journalPath, IFaultHook* faults);

}  // namespace archjournal
