#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engine/ExtEntry.h"
#include "engine/PointCodec.h"
#include "las/LasLayout.h"
#include "las/LasException.h"
#include "las/LasFile.h"

class CFile;
class CArchiveSession;
class CArchiveTransaction;
struct ArchiveHooks;

// One directory record of an archive: 268 bytes in the file, all integers
// little-endian, the name NUL-terminated within its 256 bytes.
struct EntryRecord {
    static constexpr std::size_t kSize = 268;
    static constexpr std::size_t kNameBytes = 256;

    uint32_t dataOffset = 0;
    uint32_t storedSize = 0;
    uint32_t uncompressedSize = 0;
    uint8_t name[kNameBytes] = {};

    // The name up to its terminator (or all 256 bytes when there is none).
    std::string Name() const;
    // Sets the name; the rest of the field becomes zeros (no checksum).
    void SetName(const std::string& n);

    // The checksum of the entry's LAS file lives in the name field after the
    // name's terminator, in bytes other readers ignore: a tag, a version, the
    // file's 64-bit XXH3 and a check binding it to the name. Names longer
    // than kMaxNameWithChecksum leave no room and carry none.
    static constexpr std::size_t kChecksumBytes = 18;
    static constexpr std::size_t kMaxNameWithChecksum = kNameBytes - 1 - kChecksumBytes;
    // False (and nothing written) when the name leaves no room.
    bool SetChecksum(uint64_t checksum);
    // None: no record follows the name (other writers, older archives, names
    // without room), or a sound one of a version or kind not known here.
    // Present: a record whose check holds. Damaged: the tag is there but the
    // check fails, so the record, or the name it is bound to, was changed.
    enum class ChecksumState { None, Present, Damaged };
    ChecksumState ChecksumStatus() const;
    // The stored checksum when the status is Present.
    std::optional<uint64_t> Checksum() const;
    void Load(const uint8_t* bytes);
    void Store(uint8_t* bytes) const;
};

// An entry whose stored data cannot be given back as it went in; the message
// says what was found.
class CDamagedEntry : public CLasException {
public:
    explicit CDamagedEntry(const Failure& failure) noexcept : CLasException(failure) {}
};

// What a listing shows of one entry, read from its directory record and its
// stored header alone; nothing is decoded.
struct EntryInfo {
    EntryRecord record;
    std::string name;
    int64_t extent = 0;       // true length of the entry's data
    bool headerRead = false;  // the stored header could be read
    bool stored = false;      // points kept uncompressed (fewer than 1000)
    uint8_t versionMajor = 0;
    uint8_t versionMinor = 0;
    uint8_t pointFormat = 0;
    uint64_t points = 0;
    EntryRecord::ChecksumState checksum = EntryRecord::ChecksumState::None;
    // Kept in the extended entry kind, which carries any LAS file.
    bool extended = false;
    // The first bytes of the LAS file's header block as it will be given
    // back (up to kLasLayoutBytes; empty when the header could not be read).
    std::vector<uint8_t> lasHead;
};

// The ".VMRA" archive: magic number, the entries' data back to back, the
// directory of EntryRecords and the entry count at the end. Every operation
// opens the archive by path, works and closes it again.
class VMRAFile {
public:
    static constexpr uint32_t kMagic = 0x4A3B2C1D;
    // An archive longer than this takes no more entries; they go to its
    // next part file.
    static constexpr int64_t kPartLimit = 1000LL * 1048576;
    // Offsets and sizes are stored in 32 bits and read as signed.
    static constexpr int64_t kMaxArchiveBytes = 2147483647;

    VMRAFile();
    ~VMRAFile();
    VMRAFile(const VMRAFile&) = delete;
    VMRAFile& operator=(const VMRAFile&) = delete;

    // Directory operations on an archive file open for reading.
    bool CheckMagic(CFile& file);
    int32_t ReadEntryCount(CFile& file);
    void ReadDirectory(CFile& file);
    bool FindEntry(CFile& file, const std::string& name);
    const std::vector<EntryRecord>& Directory() const { return directory; }
    int32_t EntryCount() const { return entryCount; }
    int FoundIndex() const { return foundIndex; }
    // Where the loaded directory begins; an entry's data runs up to the next
    // entry's data or, for the last one, up to here.
    int64_t DirectoryStart() const { return directoryStart; }
    // True length of entry i's data in the loaded directory, whatever its
    // record's stored size says.
    int64_t EntryExtent(std::size_t i) const;

    void AddLasFile(const std::string& lasPath, const std::string& archivePath);
    // The same, but an entry of the file's name is replaced only when
    // confirmReplace (if given) says so. It is asked while the archive is
    // locked, so no other program can add or remove that entry between the
    // question and the change.
    enum class AddOutcome { Added, Replaced, Declined };
    AddOutcome AddLasFile(const std::string& lasPath, const std::string& archivePath,
                          const std::function<bool()>& confirmReplace);
    bool ContainsEntry(const std::string& archivePath, const std::string& lasPath);
    static std::string NextPartName(const std::string& archivePath);

    // outputFolder is empty (current folder) or ends with a path separator.
    // An entry whose name may not be a file's (see EntryNames.h) is refused
    // with a CLasException that lets a batch go on.
    void ExtractEntry(const std::string& archivePath, const std::string& entryName,
                      const std::string& outputFolder);
    // Every entry into the current folder. Entries that may not become files,
    // and later entries of a name already extracted, are left out while the
    // others are extracted; then the first such refusal is thrown.
    void ExtractAll(const std::string& archivePath);
    // Decodes the entry in memory and checks it (structure, length, and the
    // checksum where it carries one) without writing anything. Returns
    // whether a checksum was there to check; throws CDamagedEntry when the
    // entry cannot be given back as it went in.
    bool TestEntry(const std::string& archivePath, const std::string& entryName);
    // The same for the entry at position index of the directory, which must
    // still bear entryName (else archmsg::kNotFound). A damaged or hostile
    // archive may hold entries of one name; only their places tell them apart.
    void ExtractEntryAt(const std::string& archivePath, std::size_t index,
                        const std::string& entryName, const std::string& outputFolder);
    bool TestEntryAt(const std::string& archivePath, std::size_t index, const std::string& entryName);

    void DeleteEntry(const std::string& archivePath, const std::string& entryName);

    // Stop requests from another thread: the running add or extraction
    // unwinds at the engine's next check and the archive is restored.
    // A request stays in force until ClearStopRequest(), so one that
    // arrives between two files of a batch still stops the next file. A
    // job that reuses this object for new work clears it before starting.
    void Abort();
    void ClearStopRequest() { engine.ClearStop(); }

    CPointCodec& Engine() { return engine; }
    const CPointCodec& Engine() const { return engine; }

    // The directory of the archive at path (empty for an archive of length 0).
    std::vector<EntryRecord> ReadDirectoryOf(const std::string& archivePath);
    // Every entry with the figures of its stored header, in directory order.
    std::vector<EntryInfo> ListEntries(const std::string& archivePath);
    // Where the last successful AddLasFile put its entry (the archive or one
    // of its part files) and how many bytes the entry takes there.
    const std::string& LastArchivePath() const { return lastArchivePath; }
    int64_t LastStoredBytes() const { return lastStoredBytes; }

    // Percent of the data moved by a running DeleteEntry: 0 when it starts,
    // 100 when it has finished.
    std::atomic<int> DeleteProgress{0};
    // Called on the deleting thread with every new DeleteProgress value.
    std::function<void(int)> onDeleteProgress;
    // Told things the user should know that are not failures: the archive
    // is busy and the operation waits, an interrupted change was undone.
    // Called on the operation's thread with the archive's path and a text.
    std::function<void(const std::string&, const char*)> onNotice;
    // False: an archive another program is changing is refused at once
    // ("The archive is being changed by another program.") instead of
    // waited for, for callers that must not block.
    bool waitForLock = true;
    // True: every file added goes into the extended entry kind, also one the
    // classic kind could carry (smaller, but not readable by readers of the
    // classic kind only).
    bool extendedForAll = false;

    // Lowers the size an archive may reach, so tests can meet the limit
    // without writing gigabytes.
    void SetMaxArchiveBytes(int64_t bytes) { maxArchiveBytes = bytes; }

    // Rethrows a failure of the decoder as what it means for the entry: a
    // refusal for an entry of a newer version, the machine's failure for
    // writing and memory, damage for everything else.
    [[noreturn]] static void ThrowDecodeFailure(const CLasException& e);

private:
    friend class CArchivePoints;
    void DropDirectory();
    int IndexOf(const std::string& name) const;
    void ThrowIfStopped();
    void SetDeleteProgress(int percent);
    // Lets go, when an operation ends however it ends, of what it loaded:
    // the directory, the LAS file, the engine's buffers, the names in hand.
    class OperationScope {
    public:
        explicit OperationScope(VMRAFile& archive) : archive(archive) {}
        ~OperationScope() { archive.EndOperation(); }
        OperationScope(const OperationScope&) = delete;
        OperationScope& operator=(const OperationScope&) = delete;

    private:
        VMRAFile& archive;
    };
    void EndOperation();
    ArchiveHooks Hooks();
    AddOutcome AddEntry(const std::string& lasPath, const std::string& archivePath,
                        const std::function<bool()>& confirmReplace);
    std::unique_ptr<CArchiveSession> OpenForAdd(const std::string& archivePath);
    int64_t ReadLasForAdd(const std::string& lasPath, CLasDigest& digest);
    // Writes the new entry's data and adds its record to the loaded
    // directory; the directory is written too unless an entry is still to
    // be removed (which writes it then).
    EntryRecord WriteNewEntry(CFile& archive, int64_t size, int64_t lasSize, CLasDigest& digest,
                              CArchiveTransaction& change, bool writeDirectory);
    void RemoveEntryInPlace(CFile& file, std::size_t k, CArchiveTransaction& change);
    // True when entry k of the loaded directory is of the extended kind.
    bool IsExtendedEntry(CFile& archive, std::size_t k);
    // What the extended coder reports, passed on as the engine's progress;
    // it stops where the engine would.
    extentry::Progress ExtendedProgress();
    // Writes the extended entry of the LAS file being added.
    void CompressExtended(CFile& archive, CLasDigest& digest, int64_t dataOffset);
    // Decodes an extended entry into path (into nothing when discard).
    void DecodeExtended(CFile& archive, std::size_t k, const std::string& path, bool discard, CLasDigest& digest);
    // Refuses a LAS file that changed (grew, was rewritten or replaced)
    // since ReadLasForAdd looked at it.
    void CheckLasUnchanged(const std::string& lasPath) const;
    void CheckEntryData(CFile& file, std::size_t k);
    // Loads the directory of the open archive and finds the entry (the first
    // of that name, or the one at index when index >= 0), checked to be
    // decodable (and, toWrite, to have a name that may be a file's).
    std::size_t OpenEntry(CFile& archive, const std::string& entryName, int64_t index, bool toWrite);
    void Extract(const std::string& archivePath, const std::string& entryName, int64_t index,
                 const std::string& outputFolder);
    bool Test(const std::string& archivePath, const std::string& entryName, int64_t index);
    // Decodes entry k into path (into nothing when discard) and checks the
    // result against the record; returns whether a checksum was checked.
    bool DecodeEntry(CFile& archive, std::size_t k, const std::string& path, bool discard);

    std::vector<EntryRecord> directory;
    int32_t entryCount = 0;
    int64_t directoryStart = 0;
    int foundIndex = -1;
    std::string currentName;
    std::string outputPath;
    // An archive that ContainsEntry had to create: a failed add into it, while
    // it is still empty, removes it again, as if the job had never started.
    std::string createdEmpty;
    int64_t maxArchiveBytes = kMaxArchiveBytes;
    std::string lastArchivePath;
    int64_t lastStoredBytes = 0;
    int extractProgress = 0;
    // What the LAS file being added looked like when its header was read.
    struct LasFileState {
        uint64_t device = 0, inode = 0;
        int64_t size = -1, modified = 0;
        bool operator==(const LasFileState&) const = default;
    } lasState;
    // How the file being added is stored: classic or extended, and where its
    // parts lie.
    bool extendedEntry = false;
    LasFileLayout lasLayout;
    CPointCodec engine;
    CLasFile lasFile;
};
