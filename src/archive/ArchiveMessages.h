#pragma once

#include "las/LasMessages.h"

// Every text the archive layer shows a user, in one place.
namespace archmsg {
inline constexpr const char* kErrorOpeningArchive = "Error opening archive!";
inline constexpr const char* kWrongFormat = "Wrong file format!";
inline constexpr const char* kCannotReadHeaders = "Cannot read VMRAFile file headers";
inline constexpr const char* kErrorOpeningLas = "Error opening LAS file!";
inline constexpr const char* kCannotCheck = "VMRA cannot be checked!";
inline constexpr const char* kNotFound = "LAS file not found in archive!";
inline constexpr const char* kLastFileCannotBeDeleted =
    "The last file cannot be deleted from archive!";
// The two refusals of one input file come from the LAS admission check.
inline constexpr const char* kVersion = lasmsg::kVersion;
inline constexpr const char* kZeroPoints = lasmsg::kZeroPoints;

// Refusals the archive needs beyond the ones above.
inline constexpr const char* kNameTooLong =
    "LAS file name is too long - an archive entry name has at most 254 bytes.";
inline constexpr const char* kNameHasBackslash =
    "LAS file name contains a backslash - it could not be extracted safely, so it is not added.";
inline constexpr const char* kNameNotStorable =
    "LAS file name could not be given back safely - an entry's name must end in \".las\", not "
    "begin with a dot and hold no control characters, so the file is not added.";
inline constexpr const char* kLasTooLarge =
    "LAS file is too large for an archive entry - at most 4,294,967,295 bytes.";
inline constexpr const char* kArchiveTooLarge =
    "The archive would grow past 2,147,483,647 bytes - the LAS file was not added "
    "and the archive is as it was.";
// An entry is written to disk only under a plain name of a LAS file; each
// of these refuses one entry, by name, and the others still come out.
inline constexpr const char* kUnsafeEntryName =
    "The entry's name is not a plain file name - it could lead out of the folder, so it is not "
    "extracted.";
inline constexpr const char* kNameNotLas =
    "The entry's name does not end in \".las\" - only LAS files are extracted, so it is not.";
inline constexpr const char* kNameHidden =
    "The entry's name begins with a dot - it would be a hidden file, so it is not extracted.";
inline constexpr const char* kNameHasControl =
    "The entry's name holds control characters - it is not extracted.";
inline constexpr const char* kDuplicateEntry =
    "An earlier entry of the archive has the same name - extracting this one would overwrite "
    "that file, so it is not extracted.";
inline constexpr const char* kDamagedEntry =
    "The entry's data in the archive is damaged - nothing was extracted.";
inline constexpr const char* kWriteArchive = "Error writing archive!";
inline constexpr const char* kChecksumMismatch =
    "the extracted data does not match the checksum stored in the archive - nothing was "
    "extracted.";
inline constexpr const char* kChecksumRecordDamaged =
    "The entry's checksum record in the archive is damaged - nothing was extracted.";
inline constexpr const char* kLengthMismatch =
    "the extracted data does not have the length stored in the archive - nothing was extracted.";
inline constexpr const char* kOutputIsArchive =
    "The entry has the name of the archive it is read from - extracting it here would overwrite "
    "the archive, so it is not extracted.";
inline constexpr const char* kChangedWhileRead =
    "The LAS file changed while it was being compressed - it was not added.";
inline constexpr const char* kNotRegularArchive =
    "Not a regular file - a folder, pipe or device cannot be an archive.";
inline constexpr const char* kNotRegularLas =
    "Not a regular file - a folder, pipe or device cannot be compressed.";
inline constexpr const char* kArchiveBusy = "The archive is being changed by another program.";
inline constexpr const char* kJournalWrite =
    "Cannot write the archive's journal - the archive was not changed.";
inline constexpr const char* kJournalForeign =
    "The journal beside the archive (its name followed by \"-journal\") was not made for this "
    "archive file - it is left as it is; move the journal away to use the archive.";
inline constexpr const char* kJournalStale =
    "The archive was replaced or changed after a change of it was interrupted - the journal of "
    "that change (its name followed by \"-journal\") is left as it is; move the journal away to "
    "use the archive.";
inline constexpr const char* kJournalOtherWriter =
    "The journal beside the archive (its name followed by \"-journal\") belongs to a user who "
    "may not change the archive - it is left as it is; move the journal away to use the archive.";
inline constexpr const char* kJournalNotAFile =
    "Something that is not a journal (a link, folder, pipe or device) has the name of the "
    "archive's journal (its name followed by \"-journal\") - move it away to use the archive.";
inline constexpr const char* kJournalDamaged =
    "The file named like the archive's journal (its name followed by \"-journal\") is not a "
    "whole journal of this version of Velmora - it is left as it is; move it away to use the "
    "archive.";
inline constexpr const char* kJournalUnreadable =
    "The archive has the journal of an interrupted change that cannot be read here - it is left "
    "as it is; open the archive as a user who may read the journal to undo the change.";
inline constexpr const char* kJournalNeedsWriter =
    "An interrupted change of the archive must be undone before it can be read, and that needs "
    "permission to change the archive - open it as a user who may change it.";
inline constexpr const char* kCannotRecover =
    "An interrupted change of the archive could not be undone yet - its journal stays, and the "
    "next program to open the archive tries again.";
inline constexpr const char* kEmptyArchiveOfOther =
    "The archive is an empty file that belongs to another user - nothing was added to it.";
inline constexpr const char* kNotDurable =
    "The archive was changed, but the system could not confirm that the change is safely on "
    "the disk.";
inline constexpr const char* kRollbackFailed =
    "Error writing archive! It could not be put back as it was yet; it will be put back the "
    "next time it is opened.";

// Notices: not failures, but worth a line to the user.
inline constexpr const char* kWaitingForOther =
    "waiting for another program that is using this archive...";
inline constexpr const char* kNoLocking =
    "this file system does not lock files - do not let two programs change this archive at once.";
inline constexpr const char* kRecovered =
    "an interrupted change of this archive was undone - it holds what it held before that change.";
inline constexpr const char* kArchiveDamaged =
    "Error writing archive! It could not be put back as it was and may be damaged.";

// Failures that are about the archive file rather than the LAS file or the
// entry in hand, so a report can name the right file.
inline bool ConcernsArchive(const char* message) {
    return lasmsg::IsOneOf(message, {kErrorOpeningArchive, kWrongFormat, kCannotReadHeaders,
                                     kCannotCheck, kArchiveTooLarge, kWriteArchive, kArchiveDamaged,
                                     kNotRegularArchive, kArchiveBusy, kJournalWrite,
                                     kJournalForeign, kCannotRecover, kRollbackFailed, kNotDurable,
                                     kJournalStale, kJournalOtherWriter, kJournalNotAFile,
                                     kJournalDamaged, kJournalUnreadable, kJournalNeedsWriter,
                                     kEmptyArchiveOfOther});
}
}  // namespace archmsg
