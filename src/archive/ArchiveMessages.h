#pragma once

#include "las/LasMessages.h"

// Every text the archive layer shows a user, in one place.
namespace archmsg {
inline constexpr Failure kErrorOpeningArchive = failures::OfArchive(301, FailureKind::Unreadable, "Error opening archive!");
inline constexpr Failure kWrongFormat = failures::OfArchive(302, FailureKind::NotAnArchive, "Wrong file format!");
inline constexpr Failure kCannotReadHeaders = failures::OfArchive(303, FailureKind::NotAnArchive, "Cannot read VMRAFile file headers");
inline constexpr Failure kErrorOpeningLas = failures::Of(304, FailureKind::Unreadable, "Error opening LAS file!");
inline constexpr Failure kCannotCheck = failures::OfArchive(305, FailureKind::Failed, "VMRA cannot be checked!");
inline constexpr Failure kNotFound = failures::Of(306, FailureKind::NotFound, "LAS file not found in archive!");
inline constexpr Failure kLastFileCannotBeDeleted = failures::Of(307, FailureKind::Refused,
    "The last file cannot be deleted from archive!");
// The two refusals of one input file come from the LAS admission check.
inline constexpr Failure kVersion = lasmsg::kVersion;
inline constexpr Failure kZeroPoints = lasmsg::kZeroPoints;

// Refusals the archive needs beyond the ones above.
inline constexpr Failure kNameTooLong = failures::Of(308, FailureKind::Refused,
    "LAS file name is too long - an archive entry name has at most 254 bytes.");
inline constexpr Failure kNameHasBackslash = failures::Of(309, FailureKind::Refused,
    "LAS file name contains a backslash - it could not be extracted safely, so it is not added.");
inline constexpr Failure kNameNotStorable = failures::Of(310, FailureKind::Refused,
    "LAS file name could not be given back safely - an entry's name must end in \".las\", not "
    "begin with a dot and hold no control characters, so the file is not added.");
inline constexpr Failure kLasTooLarge = failures::Of(311, FailureKind::Refused,
    "LAS file is too large for an archive entry - at most 4,294,967,295 bytes.");
inline constexpr Failure kArchiveTooLarge = failures::OfArchive(312, FailureKind::Refused,
    "The archive would grow past 2,147,483,647 bytes - the LAS file was not added "
    "and the archive is as it was.");
// An entry is written to disk only under a plain name of a LAS file; each
// of these refuses one entry, by name, and the others still come out.
inline constexpr Failure kUnsafeEntryName = failures::Of(313, FailureKind::Refused,
    "The entry's name is not a plain file name - it could lead out of the folder, so it is not "
    "extracted.");
inline constexpr Failure kNameNotLas = failures::Of(314, FailureKind::Refused,
    "The entry's name does not end in \".las\" - only LAS files are extracted, so it is not.");
inline constexpr Failure kNameHidden = failures::Of(315, FailureKind::Refused,
    "The entry's name begins with a dot - it would be a hidden file, so it is not extracted.");
inline constexpr Failure kNameHasControl = failures::Of(316, FailureKind::Refused,
    "The entry's name holds control characters - it is not extracted.");
inline constexpr Failure kDuplicateEntry = failures::Of(317, FailureKind::Refused,
    "An earlier entry of the archive has the same name - extracting this one would overwrite "
    "that file, so it is not extracted.");
inline constexpr Failure kDamagedEntry = failures::Of(318, FailureKind::Damaged,
    "The entry's data in the archive is damaged - nothing was extracted.");
inline constexpr Failure kWriteArchive = failures::OfArchive(319, FailureKind::Output, "Error writing archive!");
inline constexpr Failure kChecksumMismatch = failures::Of(320, FailureKind::Damaged,
    "the extracted data does not match the checksum stored in the archive - nothing was "
    "extracted.");
inline constexpr Failure kChecksumRecordDamaged = failures::Of(321, FailureKind::Damaged,
    "The entry's checksum record in the archive is damaged - nothing was extracted.");
inline constexpr Failure kLengthMismatch = failures::Of(322, FailureKind::Damaged,
    "the extracted data does not have the length stored in the archive - nothing was extracted.");
inline constexpr Failure kOutputIsArchive = failures::Of(323, FailureKind::Refused,
    "The entry has the name of the archive it is read from - extracting it here would overwrite "
    "the archive, so it is not extracted.");
inline constexpr Failure kChangedWhileRead = failures::Of(324, FailureKind::Refused,
    "The LAS file changed while it was being compressed - it was not added.");
inline constexpr Failure kNotRegularArchive = failures::OfArchive(325, FailureKind::NotAnArchive,
    "Not a regular file - a folder, pipe or device cannot be an archive.");
inline constexpr Failure kNotRegularLas = failures::Of(326, FailureKind::Refused,
    "Not a regular file - a folder, pipe or device cannot be compressed.");
inline constexpr Failure kArchiveBusy = failures::OfArchive(327, FailureKind::Busy, "The archive is being changed by another program.");
inline constexpr Failure kJournalWrite = failures::OfArchive(328, FailureKind::Output,
    "Cannot write the archive's journal - the archive was not changed.");
inline constexpr Failure kJournalForeign = failures::OfArchive(329, FailureKind::Failed,
    "The journal beside the archive (its name followed by \"-journal\") was not made for this "
    "archive file - it is left as it is; move the journal away to use the archive.");
inline constexpr Failure kJournalStale = failures::OfArchive(330, FailureKind::Failed,
    "The archive was replaced or changed after a change of it was interrupted - the journal of "
    "that change (its name followed by \"-journal\") is left as it is; move the journal away to "
    "use the archive.");
inline constexpr Failure kJournalOtherWriter = failures::OfArchive(331, FailureKind::Failed,
    "The journal beside the archive (its name followed by \"-journal\") belongs to a user who "
    "may not change the archive - it is left as it is; move the journal away to use the archive.");
inline constexpr Failure kJournalNotAFile = failures::OfArchive(332, FailureKind::Failed,
    "Something that is not a journal (a link, folder, pipe or device) has the name of the "
    "archive's journal (its name followed by \"-journal\") - move it away to use the archive.");
inline constexpr Failure kJournalDamaged = failures::OfArchive(333, FailureKind::Failed,
    "The file named like the archive's journal (its name followed by \"-journal\") is not a "
    "whole journal of this version of Velmora - it is left as it is; move it away to use the "
    "archive.");
inline constexpr Failure kJournalUnreadable = failures::OfArchive(334, FailureKind::Failed,
    "The archive has the journal of an interrupted change that cannot be read here - it is left "
    "as it is; open the archive as a user who may read the journal to undo the change.");
inline constexpr Failure kJournalNeedsWriter = failures::OfArchive(335, FailureKind::Failed,
    "An interrupted change of the archive must be undone before it can be read, and that needs "
    "permission to change the archive - open it as a user who may change it.");
inline constexpr Failure kCannotRecover = failures::OfArchive(336, FailureKind::Failed,
    "An interrupted change of the archive could not be undone yet - its journal stays, and the "
    "next program to open the archive tries again.");
inline constexpr Failure kEmptyArchiveOfOther = failures::OfArchive(337, FailureKind::Refused,
    "The archive is an empty file that belongs to another user - nothing was added to it.");
inline constexpr Failure kNotDurable = failures::OfArchive(338, FailureKind::Output,
    "The archive was changed, but the system could not confirm that the change is safely on "
    "the disk.");
inline constexpr Failure kRollbackFailed = failures::OfArchive(339, FailureKind::Output,
    "Error writing archive! It could not be put back as it was yet; it will be put back the "
    "next time it is opened.");

// Notices: not failures, but worth a line to the user.
inline constexpr const char* kWaitingForOther =
    "waiting for another program that is using this archive...";
inline constexpr const char* kNoLocking =
    "this file system does not lock files - do not let two programs change this archive at once.";
inline constexpr const char* kRecovered =
    "an interrupted change of this archive was undone - it holds what it held before that change.";
inline constexpr Failure kArchiveDamaged = failures::OfArchive(340, FailureKind::Output,
    "Error writing archive! It could not be put back as it was and may be damaged.");

inline constexpr const Failure* kFailures[] = {
    &kErrorOpeningArchive, &kWrongFormat, &kCannotReadHeaders, &kErrorOpeningLas, &kCannotCheck,
    &kNotFound, &kLastFileCannotBeDeleted, &kNameTooLong, &kNameHasBackslash, &kNameNotStorable,
    &kLasTooLarge, &kArchiveTooLarge, &kUnsafeEntryName, &kNameNotLas, &kNameHidden,
    &kNameHasControl, &kDuplicateEntry, &kDamagedEntry, &kWriteArchive, &kChecksumMismatch,
    &kChecksumRecordDamaged, &kLengthMismatch, &kOutputIsArchive, &kChangedWhileRead,
    &kNotRegularArchive, &kNotRegularLas, &kArchiveBusy, &kJournalWrite, &kJournalForeign,
    &kJournalStale, &kJournalOtherWriter, &kJournalNotAFile, &kJournalDamaged, &kJournalUnreadable,
    &kJournalNeedsWriter, &kCannotRecover, &kEmptyArchiveOfOther, &kNotDurable, &kRollbackFailed,
    &kArchiveDamaged};
}  // namespace archmsg
