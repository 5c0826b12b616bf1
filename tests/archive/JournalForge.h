#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The journal's layout (doc/journal.md) written out a second time, apart from
// the archive code: it pins the layout the archive code writes, and makes
// the journals a hostile user could plant beside someone's archive.
namespace journalforge {

using Bytes = std::vector<uint8_t>;

struct Fields {
    bool created = false;
    uint64_t device = 0;
    uint64_t inode = 0;
    uint32_t owner = 0;
    uint64_t restorePosition = 0;
    uint64_t originalLength = 0;
    uint64_t identityHash = 0;
};

// Header, saved bytes and trailer.
Bytes Encode(const Fields& fields, const Bytes& saved);
// The completion record for a directory written at directoryStart.
Bytes EncodeCompletion(uint64_t directoryStart, const Bytes& directory);

// The identity hash of an archive's bytes before restorePosition.
uint64_t IdentityHash(const Bytes& archive, uint64_t restorePosition);

// The fields a journal for the archive at path carries (device, inode and
// owner from the file, the identity hash of its bytes before
// restorePosition).
Fields FieldsOf(const std::string& archivePath, uint64_t restorePosition, uint64_t originalLength);

// As perfect a forgery as a user who may read the archive can make: a
// journal claiming the change made the archive, with a completion record
// that matches the archive as it is, so that undoing it would remove it.
void PlantCreatedJournal(const std::string& archivePath, const std::string& journalPath);

// A journal that would turn the archive into another one from
// restorePosition on: the other archive's bytes as saved bytes, the
// archive's own identity, and a completion record matching the archive.
void PlantJournalOfOther(const std::string& otherArchive, const std::string& archivePath,
                         const std::string& journalPath, uint64_t restorePosition);

}  // namespace journalforge
