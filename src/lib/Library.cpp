#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <functional>
#include <chrono>
#include <limits>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "archive/ArchiveMessages.h"
#include "archive/ArchivePoints.h"
#include "archive/EntryNames.h"
#include "archive/VMRAFile.h"
#include "jobs/core/ArchiveJob.h"
#include "las/LasException.h"
#include "las/LasMessages.h"
#include "lib/Dimensions.h"
#include "lib/LibraryErrors.h"
#include "lib/RecordSources.h"
#include "velmora/velmora.hpp"

#ifndef VELMORA_VERSION
#define VELMORA_VERSION "0.0.0"
#endif

namespace velmora {

using detail::Dimension;

std::string Version() { return VELMORA_VERSION; }

namespace detail {

ErrorCode CodeOf(FailureKind kind, bool canContinue) {
    switch (kind) {
        case FailureKind::NotFound: return ErrorCode::NotFound;
        case FailureKind::NotAnArchive: return ErrorCode::NotAnArchive;
        case FailureKind::Newer: return ErrorCode::Newer;
        case FailureKind::Busy: return ErrorCode::Busy;
        case FailureKind::Output: return ErrorCode::Output;
        case FailureKind::Damaged: return ErrorCode::Damaged;
        case FailureKind::Stopped: return ErrorCode::Stopped;
        case FailureKind::Failed:
        case FailureKind::Refused:
        case FailureKind::Unreadable: break;
    }
    return canContinue ? ErrorCode::Refused : ErrorCode::Failed;
}

Error ErrorAbout(ErrorCode code, const std::string& subject, const std::string& reason, int systemError) {
    std::string message = ::EscapeName(subject) + ": " + reason;
    if (systemError != 0) message += std::string(" (") + CauseText(systemError) + ")";
    return Error(code, message, reason, systemError);
}

void RethrowAsError(const std::string& subject) {
    try {
        throw;
    } catch (const Error&) {
        throw;
    } catch (const CStopRequested& e) {
        throw ErrorAbout(ErrorCode::Stopped, subject, e.Message());
    } catch (const CDamagedEntry& e) {
        throw ErrorAbout(ErrorCode::Damaged, subject, e.Message(), e.cause);
    } catch (const CLasException& e) {
        throw ErrorAbout(CodeOf(e.Kind(), e.canContinue), subject, e.Message(), e.cause);
    } catch (const std::bad_alloc&) {
        throw;
    } catch (const std::exception& e) {
        throw ErrorAbout(ErrorCode::Failed, subject, e.what());
    }
}

}  // namespace detail

namespace {

// The scale, offset and bounds of the points, x, y and z.
template <class From, class To>
void CopyFrame(const From& from, To& to) {
    for (int a = 0; a < 3; ++a) {
        to.scale[a] = from.scale[a];
        to.offset[a] = from.offset[a];
        to.minimum[a] = from.minimum[a];
        to.maximum[a] = from.maximum[a];
    }
}

EntryInfo InfoOf(const ::EntryInfo& e) {
    EntryInfo info;
    info.name = e.name;
    info.lasSize = e.record.uncompressedSize;
    info.storedSize = static_cast<uint64_t>(std::max<int64_t>(0, e.extent));
    info.headerRead = e.headerRead;
    info.versionMajor = e.versionMajor;
    info.versionMinor = e.versionMinor;
    info.pointFormat = e.pointFormat;
    info.pointCount = e.points;
    info.hasChecksum = e.checksum == EntryRecord::ChecksumState::Present;
    info.checksumDamaged = e.checksum == EntryRecord::ChecksumState::Damaged;
    info.extended = e.extended;
    if (e.lasHead.empty()) return info;
    try {
        const LasFacts f = ReadLasFacts(e.lasHead.data(), e.lasHead.size(), e.record.uncompressedSize);
        info.recordLength = f.layout.recordLength;
        CopyFrame(f, info);
    } catch (const CLasException&) {
        // Listed with what the directory and the header's first fields say.
    }
    return info;
}

HeaderFacts HeaderFactsOf(const LasFacts& f) {
    HeaderFacts h;
    const LasFileLayout& l = f.layout;
    h.versionMajor = l.versionMajor;
    h.versionMinor = l.versionMinor;
    h.pointFormat = l.PointFormat();
    h.recordLength = l.recordLength;
    h.pointCount = l.pointCount;
    h.fileSize = static_cast<uint64_t>(std::max<int64_t>(0, l.fileSize));
    h.fileSourceId = f.fileSourceId;
    h.globalEncoding = f.globalEncoding;
    h.systemIdentifier = f.systemIdentifier;
    h.generatingSoftware = f.generatingSoftware;
    h.creationDay = f.creationDay;
    h.creationYear = f.creationYear;
    h.pointsByReturn = f.pointsByReturn;
    CopyFrame(f, h);
    for (const VlrFacts& v : f.vlrs) h.vlrs.push_back({v.userId, v.recordId, v.description, v.length, v.extended});
    h.epsg = f.epsg;
    h.crsName = f.crsName;
    h.linearUnit = f.linearUnit;
    h.vlrsComplete = f.vlrsComplete;
    return h;
}

// Every dimension of records laid out as the LAS file's first bytes say
// (none for records of no bytes).
std::vector<Dimension> DimensionsOfRecords(const LasFileLayout& l, const std::vector<uint8_t>& head) {
    if (l.recordLength == 0) return {};
    return detail::DimensionsOf(DescribeFileRecords(l, head, std::numeric_limits<std::size_t>::max()));
}

// The dimensions named, in the order named; every one but the scaled
// coordinates when none is.
std::vector<Dimension> Choose(const std::vector<Dimension>& all, const std::vector<std::string>& names,
                              const std::string& subject) {
    std::vector<Dimension> chosen;
    if (names.empty()) {
        for (const Dimension& d : all) {
            if (d.axis < 0) chosen.push_back(d);
        }
    }
    for (const std::string& name : names) {
        auto it = std::find_if(all.begin(), all.end(), [&](const Dimension& d) { return d.info.name == name; });
        if (it == all.end()) {
            throw detail::ErrorAbout(ErrorCode::InvalidArgument, subject, "the points have no field \"" + name + "\"");
        }
        chosen.push_back(*it);
    }
    return chosen;
}

std::vector<FieldInfo> FieldsOfEntry(const std::string& archivePath, const std::string& entryName, int64_t index) {
    try {
        CArchivePoints points(archivePath, entryName, {FieldRole::X}, 1, index);
        std::vector<FieldInfo> fields;
        for (const Dimension& d : DimensionsOfRecords(points.Layout(), points.Head())) fields.push_back(d.info);
        return fields;
    } catch (...) {
        detail::RethrowAsError(entryName);
    }
}

// Called in a catch block about the LAS file at path: a file that is not
// there is NotFound, as a missing archive is.
[[noreturn]] void RethrowAboutLasFile(const std::string& path) {
    try {
        throw;
    } catch (const CLasException& e) {
        if (e.Is(lasmsg::kReadOpen) && e.cause == ENOENT) {
            throw detail::ErrorAbout(ErrorCode::NotFound, path, e.Message(), e.cause);
        }
        detail::RethrowAsError(path);
    } catch (...) {
        detail::RethrowAsError(path);
    }
}

}  // namespace

// ---- Archive ----------------------------------------------------------

struct Archive::Impl {
    std::string path;
    std::function<void(const std::string&)> notice;
    bool waitForOthers = true;
};

HeaderFacts ReadLasHeader(const std::string& path) {
    try {
        CFile file;
        detail::OpenLasFile(file, path);
        std::vector<uint8_t> head;
        return HeaderFactsOf(ReadLasFileFacts(file, head));
    } catch (...) {
        RethrowAboutLasFile(path);
    }
}

std::string EscapeName(const std::string& name) { return ::EscapeName(name); }

std::string SystemErrorText(int systemError) { return CauseText(systemError); }

std::string WithArchiveSuffix(const std::string& path) { return ::WithArchiveSuffix(path); }

NewArchive CreateNewArchive(const std::string& folder, const std::string& name) {
    switch (::CreateNewArchive(folder, name)) {
        case NewArchiveOutcome::Created: return NewArchive::Created;
        case NewArchiveOutcome::Exists: return NewArchive::Exists;
        case NewArchiveOutcome::NotCreated: break;
    }
    return NewArchive::NotCreated;
}

bool IsExtractableName(const std::string& entryName) { return ::IsExtractableName(entryName); }

Archive::Archive(std::unique_ptr<Impl> i) : impl(std::move(i)) {}
Archive::Archive(Archive&&) noexcept = default;
Archive& Archive::operator=(Archive&&) noexcept = default;
Archive::~Archive() = default;

Archive Archive::Open(const std::string& path, std::function<void(const std::string&)> notice, bool waitForOthers) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        const int cause = errno;
        throw detail::ErrorAbout(cause == ENOENT ? ErrorCode::NotFound : ErrorCode::Output, path,
                                 archmsg::kErrorOpeningArchive.text, cause);
    }
    Archive a(std::make_unique<Impl>(Impl{path, std::move(notice), waitForOthers}));
    a.Entries();  // an archive whose directory cannot be read is not opened
    return a;
}

Archive Archive::At(const std::string& path, std::function<void(const std::string&)> notice, bool waitForOthers) {
    return Archive(std::make_unique<Impl>(Impl{path, std::move(notice), waitForOthers}));
}

const std::string& Archive::Path() const { return impl->path; }

std::vector<EntryInfo> Archive::Entries() const {
    try {
        VMRAFile archive;
        archive.waitForLock = impl->waitForOthers;
        if (impl->notice) {
            archive.onNotice = [this](const std::string& path, const char* text) {
                impl->notice(::EscapeName(path) + ": " + text);
            };
        }
        std::vector<EntryInfo> out;
        for (const ::EntryInfo& e : archive.ListEntries(impl->path)) out.push_back(InfoOf(e));
        return out;
    } catch (...) {
        detail::RethrowAsError(impl->path);
    }
}

EntryInfo Archive::Entry(const std::string& name) const {
    for (EntryInfo& e : Entries()) {
        if (e.name == name) return std::move(e);
    }
    throw detail::ErrorAbout(ErrorCode::NotFound, name, archmsg::kNotFound.text);
}

std::vector<EntryHeader> Archive::Headers() const {
    try {
        std::vector<EntryHeader> out;
        for (const CArchivePoints::EntryFacts& e : CArchivePoints::AllFacts(impl->path)) {
            EntryHeader& h = out.emplace_back();
            h.read = e.facts.has_value();
            if (h.read) h.facts = HeaderFactsOf(*e.facts);
            h.why = e.why;
        }
        return out;
    } catch (...) {
        detail::RethrowAsError(impl->path);
    }
}

std::vector<FieldInfo> Archive::Fields(const std::string& entryName) const {
    return FieldsOfEntry(impl->path, entryName, -1);
}

// ---- PointReader --------------------------------------------------------

struct PointReader::Impl {
    std::string subject;  // what its failures name: the entry, or the LAS file's path
    std::unique_ptr<detail::RecordSource> source;
    HeaderFacts header;
    std::vector<Dimension> chosen;
    std::vector<FieldInfo> fields;
    detail::Scaling scaling;
    std::size_t chunkPoints = 0;
    uint64_t total = 0, handed = 0;
    // Records read but not yet handed out.
    std::vector<uint8_t> records;
    std::size_t recordCount = 0, recordsTaken = 0;
    bool ended = false;
};

namespace detail {

struct PointReaderAccess {
    // The reader of r's source: the named dimensions (every one but the
    // scaled coordinates when none is named), cut into chunks of at most
    // chunkPoints points. The dimensions come from the records the source
    // itself gives, never from an earlier look at them: an archive may
    // have changed between two openings.
    static PointReader Make(std::unique_ptr<PointReader::Impl> r, const std::vector<std::string>& names,
                            std::size_t chunkPoints) {
        const RecordSource& source = *r->source;
        r->chosen = Choose(DimensionsOfRecords(source.Layout(), source.Head()), names, r->subject);
        const std::vector<uint8_t>& head = source.Head();
        r->scaling = ScalingOf(ReadLasFacts(head.data(), head.size(), source.Layout().fileSize));
        r->total = source.Layout().pointCount;
        for (const Dimension& d : r->chosen) r->fields.push_back(d.info);
        // Small enough that the chunk and its copies (the records, the
        // columns, a caller's own array) stay a few megabytes beside the
        // decoder's chunk.
        r->chunkPoints = chunkPoints > 0 ? chunkPoints : std::size_t{1} << 16;
        return PointReader(std::move(r));
    }

    // The entry at index (-1: the first of its name). It is opened once to
    // learn its facts and dimensions, then again to decode only the
    // fields that are read.
    static PointReader Entry(const std::string& archivePath, const std::string& entryName, int64_t index,
                             const std::vector<std::string>& names, std::size_t chunkPoints, int threads) {
        auto r = std::make_unique<PointReader::Impl>();
        r->subject = entryName;
        try {
            std::vector<Dimension> all;
            {
                CArchivePoints probe(archivePath, entryName, {FieldRole::X}, 1, index);
                all = DimensionsOfRecords(probe.Layout(), probe.Head());
                r->header = HeaderFactsOf(probe.Facts());
            }
            std::vector<FieldRole> roles;
            for (const Dimension& d : Choose(all, names, entryName)) {
                if (std::find(roles.begin(), roles.end(), d.role) == roles.end()) roles.push_back(d.role);
            }
            // Every field read: the whole file is decoded and its checksum checked.
            bool every = true;
            for (const Dimension& d : all) {
                every = every && std::find(roles.begin(), roles.end(), d.role) != roles.end();
            }
            if (every) roles.clear();
            r->source = EntryRecords(archivePath, entryName, roles, threads, index);
            return Make(std::move(r), names, chunkPoints);
        } catch (...) {
            RethrowAsError(entryName);
        }
    }

    static PointReader Las(const std::string& path, const std::vector<std::string>& names, std::size_t chunkPoints) {
        auto r = std::make_unique<PointReader::Impl>();
        r->subject = path;
        try {
            LasFacts facts;
            r->source = LasRecords(path, facts);
            r->header = HeaderFactsOf(facts);
            return Make(std::move(r), names, chunkPoints);
        } catch (...) {
            RethrowAboutLasFile(path);
        }
    }
};

}  // namespace detail

std::vector<FieldInfo> Archive::FieldsAt(const std::string& entryName, std::size_t index) const {
    return FieldsOfEntry(impl->path, entryName, static_cast<int64_t>(index));
}

PointReader Archive::Points(const std::string& entryName, const std::vector<std::string>& fields,
                            std::size_t chunkPoints, int threads) const {
    return detail::PointReaderAccess::Entry(impl->path, entryName, -1, fields, chunkPoints, threads);
}

PointReader Archive::PointsAt(const std::string& entryName, std::size_t index, const std::vector<std::string>& fields,
                              std::size_t chunkPoints, int threads) const {
    return detail::PointReaderAccess::Entry(impl->path, entryName, static_cast<int64_t>(index), fields, chunkPoints,
                                            threads);
}

PointReader ReadLasPoints(const std::string& lasPath, const std::vector<std::string>& fields, std::size_t chunkPoints) {
    return detail::PointReaderAccess::Las(lasPath, fields, chunkPoints);
}

PointReader::PointReader(std::unique_ptr<Impl> i) : impl(std::move(i)) {}
PointReader::PointReader(PointReader&&) noexcept = default;
PointReader& PointReader::operator=(PointReader&&) noexcept = default;
PointReader::~PointReader() = default;

const std::vector<FieldInfo>& PointReader::Fields() const { return impl->fields; }
uint64_t PointReader::PointCount() const { return impl->total; }
const HeaderFacts& PointReader::Header() const { return impl->header; }

bool PointReader::Next(PointChunk& chunk) {
    Impl& r = *impl;
    chunk.first = r.handed;
    chunk.count = 0;
    chunk.columns.resize(r.chosen.size());
    for (std::size_t j = 0; j < r.chosen.size(); ++j) {
        chunk.columns[j].field = r.fields[j];
        chunk.columns[j].data.clear();
    }
    const std::size_t length = r.source->Layout().recordLength;
    try {
        while (chunk.count < r.chunkPoints && !r.ended) {
            if (r.recordsTaken == r.recordCount) {
                r.recordsTaken = r.recordCount = 0;
                if (!r.source->Next(r.records, r.recordCount)) {
                    r.ended = true;
                    break;
                }
            }
            const std::size_t k = std::min(r.chunkPoints - chunk.count, r.recordCount - r.recordsTaken);
            const uint8_t* from = r.records.data() + r.recordsTaken * length;
            for (std::size_t j = 0; j < r.chosen.size(); ++j) {
                std::vector<uint8_t>& data = chunk.columns[j].data;
                const std::size_t size = r.chosen[j].info.size;
                data.resize((chunk.count + k) * size);
                detail::Extract(r.chosen[j], r.scaling, from, length, k, data.data() + chunk.count * size);
            }
            chunk.count += k;
            r.recordsTaken += k;
        }
    } catch (...) {
        detail::RethrowAsError(r.subject);
    }
    r.handed += chunk.count;
    return chunk.count > 0;
}

}  // namespace velmora
