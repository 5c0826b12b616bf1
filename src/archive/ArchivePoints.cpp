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

namespace {

// What the entry's head says, and its EVLRs, found past its points.
LasFacts FactsOf(CEntryPoints& points, uint64_t lasSize) {
    const std::vector<uint8_t>& head = points.Head();
    LasFacts facts = ReadLasFacts(head.data(), head.size(), static_cast<int64_t>(lasSize));
    if (facts.layout.evlrCount > 0) {
        CEvlrScanner evlrs(facts);
        points.ScanTail([&evlrs](uint64_t offset, const uint8_t* data, std::size_t n) { evlrs.Take(offset, data, n); });
    }
    return facts;
}

}  // namespace

LasFacts CArchivePoints::Facts() {
    try {
        ended = true;
        return FactsOf(*points, record.uncompressedSize);
    } catch (const CLasException& e) {
        VMRAFile::ThrowDecodeFailure(e);
    }
}

std::vector<CArchivePoints::EntryFacts> CArchivePoints::AllFacts(const std::string& archivePath) {
    VMRAFile archive;
    const ArchiveHooks hooks = archive.Hooks();
    CArchiveSession session(archivePath, CArchiveSession::Mode::Read, hooks);
    CFile& file = session.File();
    std::vector<EntryFacts> all;
    if (file.Size() == 0) return all;
    archive.CheckMagic(file);
    archive.ReadDirectory(file);
    for (std::size_t k = 0; k < archive.directory.size(); ++k) {
        EntryFacts& entry = all.emplace_back();
        try {
            archive.CheckEntryData(file, k);
            if (!file.Seek(archive.directory[k].dataOffset)) throw CDamagedEntry(archmsg::kDamagedEntry);
            try {
                CEntryPoints points(file, archive.EntryExtent(k), {FieldRole::X}, nullptr, 1);
                entry.facts = FactsOf(points, archive.directory[k].uncompressedSize);
            } catch (const CLasException& e) {
                VMRAFile::ThrowDecodeFailure(e);
            }
        } catch (const CLasException& e) {
            entry.why = DescribeFailure(e);
        }
    }
    return all;
}
