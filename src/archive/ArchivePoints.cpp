#include "archive/ArchivePoints.h"

#include "archive/ArchiveMessages.h"
#include "archive/ArchiveSession.h"
#include "engine/EntryPoints.h"
#include "las/LasDigest.h"
#include "las/LasException.h"

CArchivePoints::CArchivePoints(const std::string& archivePath, const std::string& entryName,
                               const std::vector<FieldRole>& wanted, int threads, int64_t index)
    : hooks(archive.Hooks()) {
    session = std::make_unique<CArchiveSession>(archivePath, CArchiveSession::Mode::Read, hooks);
    CFile& file = session->File();
    const std::size_t k = archive.OpenEntry(file, entryName, index, false);
    record = archive.directory[k];
    digest = std::make_unique<CLasDigest>("");
    if (!file.Seek(record.dataOffset)) throw CDamagedEntry(archmsg::kDamagedEntry);
    try {
        points = std::make_unique<CEntryPoints>(file, archive.EntryExtent(k), wanted, digest.get(), threads);
    } catch (const CLasException& e) {
        VMRAFile::ThrowDecodeFailure(e);
    }
}

CArchivePoints::~CArchivePoints() = default;

const std::vector<uint8_t>& CArchivePoints::Head() const { return points->Head(); }
const LasFileLayout& CArchivePoints::Layout() const { return points->Layout(); }

bool CArchivePoints::Next(std::vector<uint8_t>& records, std::size_t& count) {
    if (ended) return false;
    try {
        if (points->Next(records, count)) return true;
    } catch (const CLasException& e) {
        VMRAFile::ThrowDecodeFailure(e);
    }
    ended = true;
    // What was decoded is checked as an extraction checks the file it writes.
    if (points->Whole()) {
        if (digest->BytesTaken() != static_cast<int64_t>(record.uncompressedSize)) {
            throw CDamagedEntry(archmsg::kLengthMismatch);
        }
        const std::optional<uint64_t> stored = record.Checksum();
        if (stored && *stored != digest->Value()) throw CDamagedEntry(archmsg::kChecksumMismatch);
        checked = stored.has_value();
    }
    return false;
}

LasFacts CArchivePoints::Facts() {
    try {
        const std::vector<uint8_t>& head = points->Head();
        LasFacts facts = ReadLasFacts(head.data(), head.size(), static_cast<int64_t>(record.uncompressedSize));
        if (facts.layout.evlrCount > 0) {
            CEvlrScanner evlrs(facts);
            points->ScanTail([&evlrs](uint64_t offset, const uint8_t* data, std::size_t n) { evlrs.Take(offset, data, n); });
        }
        ended = true;
        return facts;
    } catch (const CLasException& e) {
        VMRAFile::ThrowDecodeFailure(e);
    }
}
