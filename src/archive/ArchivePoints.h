#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "archive/ArchiveSession.h"
#include "archive/VMRAFile.h"
#include "las/LasFacts.h"
#include "las/PointFormat.h"

class CEntryPoints;
class CLasDigest;

// An entry's points read from an archive, a chunk of records at a time. The
// archive stays open, and other programs' changes wait, until the reader is
// destroyed. At the end the file's length, and its checksum where the entry
// carries one and every byte was decoded, must match the directory's record:
// otherwise Next throws CDamagedEntry instead of reporting the end.
class CArchivePoints {
public:
    // wanted: the roles the caller reads (empty for all); threads as the
    // engine's (0 for the default).
    // index: the entry's place in the directory (which must bear the name),
    // or -1 for the first entry of the name.
    CArchivePoints(const std::string& archivePath, const std::string& entryName,
                   const std::vector<FieldRole>& wanted, int threads = 0, int64_t index = -1);
    ~CArchivePoints();
    CArchivePoints(const CArchivePoints&) = delete;
    CArchivePoints& operator=(const CArchivePoints&) = delete;

    const EntryRecord& Record() const { return record; }
    // The LAS file's first bytes (header and VLRs) and its layout.
    const std::vector<uint8_t>& Head() const;
    const LasFileLayout& Layout() const;
    bool Next(std::vector<uint8_t>& records, std::size_t& count);
    // What the LAS file says of itself in its header, VLRs and EVLRs; the
    // points are passed over undecoded (Next is not to be called after).
    LasFacts Facts();
    // True when the end was reached with the checksum checked.
    bool ChecksumChecked() const { return checked; }

    // The facts of every entry, in directory order, read through one
    // opening of the archive: an entry whose facts cannot be read has none,
    // and the reason (as DescribeFailure gives it) instead.
    struct EntryFacts {
        std::optional<LasFacts> facts;
        std::string why;
    };
    static std::vector<EntryFacts> AllFacts(const std::string& archivePath);

private:
    VMRAFile archive;
    ArchiveHooks hooks;
    std::unique_ptr<CArchiveSession> session;
    EntryRecord record;
    std::unique_ptr<CLasDigest> digest;
    std::unique_ptr<CEntryPoints> points;
    bool ended = false;
    bool checked = false;
};
