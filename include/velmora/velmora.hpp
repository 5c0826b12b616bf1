#pragma once

// libvelmora: LAS point clouds in ".vmra" archives, byte for byte.
//
// The C++ face of the library. Everything here is in namespace velmora and
// reaches the archive, the engine and the LAS code only through a private
// implementation, so programs built against one release keep working with
// the next of the same SONAME. Failures are thrown as velmora::Error, which
// carries a code; nothing else escapes from these functions except
// std::bad_alloc.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#if defined(VELMORA_BUILDING_LIBRARY)
#define VELMORA_API __attribute__((visibility("default")))
#else
#define VELMORA_API
#endif

namespace velmora {

// The library's version, "MAJOR.MINOR.PATCH".
VELMORA_API std::string Version();

// What kind of failure an Error is; a caller decides by the code, never by
// the message's words.
enum class ErrorCode : int {
    Ok = 0,
    InvalidArgument = 1,  // the call itself is wrong: an unknown field, an empty name
    NotFound = 2,         // no such archive, LAS file or entry
    NotAnArchive = 3,     // the file is not a Velmora archive
    Damaged = 4,          // stored data cannot be given back as it went in
    Refused = 5,          // an input that cannot be stored or given back as it is
    Newer = 6,            // made by a newer version of Velmora
    Output = 7,           // reading or writing failed on the machine's side (disk full, no rights)
    Stopped = 8,          // the caller cancelled
    Busy = 9,             // another program is changing the archive
    Failed = 10,          // anything else
};

// A failure: a code, and the message the command line prints for it
// ("NAME: text (system reason)").
class VELMORA_API Error : public std::runtime_error {
public:
    Error(ErrorCode code, const std::string& message) : std::runtime_error(message), errorCode(code), why(message) {}
    Error(ErrorCode code, const std::string& message, const std::string& reason, int systemError)
        : std::runtime_error(message), errorCode(code), why(reason), errorNumber(systemError) {}
    ErrorCode code() const noexcept { return errorCode; }
    // The text alone, without the name it is about or the system's reason.
    const std::string& reason() const noexcept { return why; }
    // The system's error number behind the failure (errno); 0 for none.
    int systemError() const noexcept { return errorNumber; }

private:
    ErrorCode errorCode;
    std::string why;
    int errorNumber = 0;
};

// The system's description of an error number ("Permission denied"); ""
// for 0.
VELMORA_API std::string SystemErrorText(int systemError);

// How a column's values are stored: little-endian numbers of the type's
// width, or for Bytes, `size` bytes a point.
enum class FieldType : int { U8, I8, U16, I16, U32, I32, U64, I64, F32, F64, Bytes };

// One field a reader can give: a LAS dimension by its usual name ("X",
// "intensity", "return_number", "gps_time", ...), the scaled coordinates
// "x", "y", "z" (F64), or an extra-byte field by the name its Extra Bytes
// VLR gives it ("extra_bytes" when the VLR does not describe them).
struct FieldInfo {
    std::string name;
    FieldType type = FieldType::U8;
    std::size_t size = 1;  // bytes per point
};

// What the archive and the entry's stored header say about an entry;
// nothing is decoded to learn it.
struct EntryInfo {
    std::string name;
    uint64_t lasSize = 0;      // bytes of the LAS file it gives back
    uint64_t storedSize = 0;   // bytes it takes in the archive
    bool headerRead = false;   // false: the stored header is unreadable, the fields below are zero
    int versionMajor = 0;
    int versionMinor = 0;
    int pointFormat = 0;
    uint32_t recordLength = 0;
    uint64_t pointCount = 0;
    double minimum[3] = {0, 0, 0};  // x, y, z in real units
    double maximum[3] = {0, 0, 0};
    double scale[3] = {0, 0, 0};
    double offset[3] = {0, 0, 0};
    bool hasChecksum = false;
    // The directory's checksum record of the entry is itself damaged (told
    // whether or not the header could be read).
    bool checksumDamaged = false;
    bool extended = false;     // kept in the extended entry kind
};

// One VLR (before the points) or EVLR (after them) as its record header
// describes it.
struct VlrInfo {
    std::string userId;
    uint16_t recordId = 0;
    std::string description;
    uint64_t length = 0;    // bytes after the record's header
    bool extended = false;  // an EVLR
};

// What a LAS file says about itself in its header block, its VLRs and its
// EVLRs' headers; no point is decoded to learn it.
struct HeaderFacts {
    int versionMajor = 0;
    int versionMinor = 0;
    int pointFormat = 0;
    uint32_t recordLength = 0;
    uint64_t pointCount = 0;  // LAS 1.4's 64-bit count, the 32-bit one before it
    uint64_t fileSize = 0;    // bytes of the whole LAS file
    uint16_t fileSourceId = 0;
    uint16_t globalEncoding = 0;
    std::string systemIdentifier;
    std::string generatingSoftware;
    uint16_t creationDay = 0;  // day of the year, 1-366 (0: not given)
    uint16_t creationYear = 0;
    std::vector<uint64_t> pointsByReturn;  // 5 counts, or LAS 1.4's 15
    double scale[3] = {0, 0, 0};
    double offset[3] = {0, 0, 0};
    double minimum[3] = {0, 0, 0};
    double maximum[3] = {0, 0, 0};
    std::vector<VlrInfo> vlrs;  // the VLRs in file order, then the EVLRs
    int epsg = 0;               // 0 when the file names no EPSG code
    std::string crsName;        // the coordinate system's name, when a WKT gives one
    std::string linearUnit;     // "metre", "foot", ...; empty when not said
    bool vlrsComplete = true;   // false: the VLR area was cut short or damaged
};

// The header facts of an entry, as its stored header gives them; when
// read is false, why says what kept them from being read.
struct EntryHeader {
    bool read = false;
    HeaderFacts facts;
    std::string why;
};

// The header facts of the LAS file at path. Fails with NotFound when there
// is no such file and Refused when it is not a LAS file.
VELMORA_API HeaderFacts ReadLasHeader(const std::string& path);

// A name from a file or a command line as it is safe to show on a terminal:
// control characters, bytes that are not UTF-8 and bidirectional overrides
// written as escapes, a backslash doubled. Every message the library gives
// shows names this way.
VELMORA_API std::string EscapeName(const std::string& name);

// A path chosen for a new archive, with ".VMRA" appended unless it already
// ends in ".vmra" (any case).
VELMORA_API std::string WithArchiveSuffix(const std::string& path);

// Makes a new, empty archive (a file of length 0) named name in folder.
// name must be a plain file name (no folder, not "." or ".."); a file that
// is already there is never touched.
enum class NewArchive { Created, Exists, NotCreated };
VELMORA_API NewArchive CreateNewArchive(const std::string& folder, const std::string& name);

// Whether an entry of this name may be written to disk under its name: a
// plain file name ending in ".las" (any case), not beginning with a dot,
// without a folder or a control character in it.
VELMORA_API bool IsExtractableName(const std::string& entryName);

// The values of one field for the points of a chunk.
struct Column {
    FieldInfo field;
    std::vector<uint8_t> data;  // count * field.size bytes
};

// Consecutive points of an entry, one column per chosen field.
struct PointChunk {
    uint64_t first = 0;       // the first point's number in the entry
    std::size_t count = 0;
    std::vector<Column> columns;  // in the order the fields were chosen
};

class PointReader;
namespace detail {
struct JobControlAccess;
struct PointReaderAccess;
}

// A job's item as its work begins.
struct ItemStart {
    std::string name;         // the LAS path as given, or the entry name
    std::string displayName;  // the file name alone
    std::size_t index = 0;    // from 0
    std::size_t count = 0;    // items in the job
    uint64_t lasBytes = 0;    // length of the LAS file; 0 while unknown
};

// The figures of the item in hand, for a progress display.
struct JobStatus {
    bool active = false;  // an item is being worked on
    std::size_t index = 0;
    std::size_t count = 0;
    std::string displayName;
    uint64_t lasBytes = 0;
    double fraction = 0;  // of the item done, 0..1
    double ratio = 0;     // stored bytes per LAS byte so far; 0 while unknown
};

enum class Outcome { Added, Replaced, Extracted, Passed, Unverified, Deleted, Declined, Refused, Damaged, Failed, Stopped };

struct ItemReport {
    std::string name;     // the LAS path or the entry name
    std::size_t index = 0;  // of the item in the job, from 0
    std::size_t count = 0;  // items in the job
    Outcome outcome = Outcome::Failed;
    ErrorCode code = ErrorCode::Ok;
    std::string message;  // as the command line prints it; empty when it went well
    std::string reason;   // the message alone, without the name it is about
    // What the message is about: the item's name, or another path (the
    // archive, an output file), as it is, not escaped.
    std::string subject;
    // The failure is the archive file's (it could not be read or written),
    // not the item's: message names the archive.
    bool aboutArchive = false;
    int systemError = 0;  // errno behind the failure; 0 for none
    uint64_t lasBytes = 0;     // length of the item's LAS file; 0 when unknown
    uint64_t storedBytes = 0;  // what an added entry takes in the archive
    // The archive file an added entry went into: the archive itself, or the
    // part file it went into when the archive was full.
    std::string storedIn;
};

// Steers a running job from any thread (a signal handler's thread, a
// window's buttons) and tells its figures. One control may serve one job
// after another; a stop asked for before a job begins stops that job.
class VELMORA_API JobControl {
public:
    JobControl();
    ~JobControl();
    JobControl(const JobControl&) = delete;
    JobControl& operator=(const JobControl&) = delete;

    // Stops the job at the engine's next check; the archive is left as it
    // was before the item in hand.
    void Stop();
    bool StopRequested() const;
    // Holds the job at the engine's next check until Resume.
    void Pause();
    void Resume();
    bool Paused() const;
    // Forgets a stop or pause, before another job.
    void Reset();
    JobStatus Status() const;
    // A safe point for the job's callbacks, before one asks its user
    // something, or for the caller's own work beside the job: waits while
    // paused, and says false once a stop is asked for.
    bool WaitWhilePaused();

private:
    friend struct detail::JobControlAccess;
    struct Impl;
    std::unique_ptr<Impl> impl;
};

// What a job of many files or entries reports, and asks. Every function
// here is called on the thread that started the job, one at a time, while
// the job waits for it to return.
struct JobOptions {
    // Called after each item and as an item progresses: items done, items
    // in all, and the share of the current item done (0..1).
    std::function<void(std::size_t done, std::size_t total, double itemFraction)> progress;
    // Polled while the job works; true stops it at the next check, and the
    // archive is left as it was before the item in hand.
    std::function<bool()> cancelled;
    // An entry of this name is in the archive: replace it? Without an
    // answer, nothing is replaced.
    std::function<bool(const std::string& entryName)> confirmReplace;
    // A file is in the way of an extracted entry: overwrite it? Without an
    // answer, nothing is overwritten.
    std::function<bool(const std::string& path)> confirmOverwrite;
    // Engine threads; 0 for one per core.
    int threads = 0;
    // Store every file in the extended entry kind (smaller; not readable by
    // readers of the classic kind alone).
    bool extendedForAll = false;
    // An item's work begins.
    std::function<void(const ItemStart&)> itemStarted;
    // An item is done, whatever came of it; false ends the job after it.
    // Without it the job goes on to the end.
    std::function<bool(const ItemReport&)> itemFinished;
    // Something the user should know that is not an item's outcome: the job
    // waits for another program, or an interrupted change was put right.
    std::function<void(const std::string& text)> notice;
    // Steers the job from other threads; null for none.
    JobControl* control = nullptr;
};

struct JobReport {
    std::vector<ItemReport> items;
    bool stopped = false;
    bool ended = false;  // ended early after an item, by itemFinished's answer
    bool createdArchive = false;  // the job made the archive file (Compress)
    bool allSucceeded = false;
    std::string summary;  // "3 files added, 1 refused"
};

// An archive on disk. Every call opens the file, works and closes it again,
// under the same locks as the command line, so other programs may use the
// archive in between.
class VELMORA_API Archive {
public:
    // Fails with NotFound when there is no such file and NotAnArchive when
    // it is not an archive (an empty file is an empty archive).
    // notice, when given, hears what opening and later calls do on their
    // way ("NAME: text": an interrupted change put right, a wait for
    // another program).
    // waitForOthers false: an archive another program is changing fails at
    // once with Busy instead of being waited for (a window must not freeze).
    static Archive Open(const std::string& path, std::function<void(const std::string& text)> notice = {},
                        bool waitForOthers = true);
    // The archive at path as it is, not opened: its jobs report whatever
    // they find there (no such file, not an archive) as their items'
    // outcomes instead of throwing.
    // notice and waitForOthers as for Open. Its Entries() fail as Open
    // would, without Open's reading the directory a second time.
    static Archive At(const std::string& path, std::function<void(const std::string& text)> notice = {},
                      bool waitForOthers = true);
    // Compresses the LAS files into the archive at path, creating it when
    // it is missing.
    static JobReport Compress(const std::vector<std::string>& lasFiles, const std::string& archivePath,
                              const JobOptions& options = {});

    Archive(Archive&&) noexcept;
    Archive& operator=(Archive&&) noexcept;
    ~Archive();

    const std::string& Path() const;
    std::vector<EntryInfo> Entries() const;
    EntryInfo Entry(const std::string& name) const;
    // Each entry's header facts, in the order of Entries(); an entry whose
    // stored header cannot be read says why and the others are still told.
    std::vector<EntryHeader> Headers() const;
    // Every field the entry's points have, in record order, then "x", "y",
    // "z".
    std::vector<FieldInfo> Fields(const std::string& entryName) const;
    // Reads the entry's points a chunk at a time; no fields named means
    // every field of Fields() but the scaled coordinates. chunkPoints: most
    // points a chunk holds (0 for 65,536, a few megabytes).
    PointReader Points(const std::string& entryName, const std::vector<std::string>& fields = {},
                       std::size_t chunkPoints = 0, int threads = 0) const;
    // Fields and Points of the entry at index of Entries(), for an archive
    // whose entries share a name. The entry there must still bear
    // entryName (NotFound otherwise), so an entry listed before another
    // program changed the archive is never mistaken for another.
    std::vector<FieldInfo> FieldsAt(const std::string& entryName, std::size_t index) const;
    PointReader PointsAt(const std::string& entryName, std::size_t index, const std::vector<std::string>& fields = {},
                         std::size_t chunkPoints = 0, int threads = 0) const;

    JobReport Add(const std::vector<std::string>& lasFiles, const JobOptions& options = {});
    // Every entry when none is named; folder "" is the current folder.
    JobReport Extract(const std::vector<std::string>& entries, const std::string& folder,
                      const JobOptions& options = {}) const;
    JobReport Test(const std::vector<std::string>& entries = {}, const JobOptions& options = {}) const;
    JobReport Delete(const std::vector<std::string>& entries, const JobOptions& options = {});

private:
    struct Impl;
    explicit Archive(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl;
};

// The points of the LAS file at lasPath as it lies on disk, a chunk at a
// time, with the same fields as an entry's (Archive::Fields) and the same
// choice of them: no fields named means every field but the scaled
// coordinates. chunkPoints as for Archive::Points. Fails with NotFound when
// there is no such file, and Refused when it is not a LAS file or is too
// short for the records its header declares; a file cut short while it is
// read fails in Next the same way, and points it no longer holds are never
// handed out.
VELMORA_API PointReader ReadLasPoints(const std::string& lasPath, const std::vector<std::string>& fields = {},
                                      std::size_t chunkPoints = 0);

// The points of an entry or of a LAS file, chunk after chunk. An entry's
// archive, or the LAS file, is held open (and other programs' changes to the
// archive wait) until the reader is destroyed or has ended.
//
// Every chunk of an entry is checked as it is decoded. When every field is read, the
// whole file's checksum is checked too, before Next reports the end: a
// damaged entry throws Error(Damaged) there, so points of a damaged entry are
// never reported as a complete, sound read. A read of only some fields cannot
// check the file's checksum (the other fields are not decoded); Test() does.
class VELMORA_API PointReader {
public:
    PointReader(PointReader&&) noexcept;
    PointReader& operator=(PointReader&&) noexcept;
    ~PointReader();

    const std::vector<FieldInfo>& Fields() const;
    uint64_t PointCount() const;
    // What the LAS file read says of itself, known before any point is
    // read: as ReadLasHeader gives it for a LAS file, and as
    // Archive::Headers gives it for an entry.
    const HeaderFacts& Header() const;
    // The next chunk into chunk (its columns reused); false at the end.
    bool Next(PointChunk& chunk);

private:
    friend struct detail::PointReaderAccess;
    struct Impl;
    explicit PointReader(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl;
};

}  // namespace velmora
