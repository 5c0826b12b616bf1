#include "engine/EntryPoints.h"

#include <algorithm>
#include <cstring>

#include "engine/ChunkColumns.h"
#include "engine/ChunkDecoder.h"
#include "engine/ChunkPlan.h"
#include "engine/EngineMessages.h"
#include "engine/EntryMarkers.h"
#include "engine/ExtEntry.h"
#include "engine/InputWindow.h"
#include "engine/PointCodec.h"
#include "engine/ProcessorCode.h"
#include "engine/TaskPool.h"
#include "las/FileIo.h"
#include "las/LasDigest.h"
#include "las/LasException.h"
#include "las/LasFile.h"
#include "las/LasHeader.h"
#include "las/Invariant.h"

namespace {

// Records handed out at a time: a few megabytes, whatever the entry's own
// chunks are.
constexpr std::size_t kSlicePoints = 1 << 16;
// What a reader keeps of the bytes before the points: the header block and
// the VLRs that describe the records, as the extended coder looks for them.
constexpr std::size_t kHeadKept = 16u << 20;

using chunkrows::Group;

uint32_t GroupsFor(const std::vector<FieldRole>& roles) {
    if (roles.empty()) return CChunkDecoder::kAllGroups;
    uint32_t mask = 0;
    auto want = [&mask](Group g) { mask |= 1u << static_cast<int>(g); };
    for (FieldRole role : roles) {
        switch (role) {
            case FieldRole::X: want(Group::X); break;
            case FieldRole::Y: want(Group::Y); break;
            case FieldRole::Z: want(Group::Z); break;
            case FieldRole::Intensity: want(Group::Intensity); break;
            case FieldRole::ReturnByte: want(Group::ReturnBits); break;
            case FieldRole::GpsTime: want(Group::GpsTime); break;
            case FieldRole::Red: want(Group::Red); break;
            case FieldRole::Green: want(Group::Green); break;
            case FieldRole::Blue: want(Group::Blue); break;
            case FieldRole::Classification:
            case FieldRole::ScanAngleRank:
            case FieldRole::UserData:
            case FieldRole::PointSourceId: want(Group::Bytes); break;
            default: return CChunkDecoder::kAllGroups;  // not a field of these entries
        }
    }
    return mask;
}

// The columns a reader of these roles needs written into its records.
unsigned PartsFor(const std::vector<FieldRole>& roles) {
    if (roles.empty()) return ChunkColumns::kAllParts;
    unsigned parts = 0;
    for (FieldRole role : roles) {
        switch (role) {
            case FieldRole::X: parts |= ChunkColumns::kXPart; break;
            case FieldRole::Y: parts |= ChunkColumns::kYPart; break;
            case FieldRole::Z: parts |= ChunkColumns::kZPart; break;
            case FieldRole::Intensity: parts |= ChunkColumns::kIntensityPart; break;
            case FieldRole::ReturnByte: parts |= ChunkColumns::kReturnPart; break;
            case FieldRole::GpsTime: parts |= ChunkColumns::kGpsPart; break;
            case FieldRole::Red:
            case FieldRole::Green:
            case FieldRole::Blue: parts |= ChunkColumns::kRgbPart; break;
            case FieldRole::Classification:
            case FieldRole::ScanAngleRank:
            case FieldRole::UserData:
            case FieldRole::PointSourceId: parts |= ChunkColumns::kBytesPart; break;
            default: return ChunkColumns::kAllParts;
        }
    }
    return parts;
}

}  // namespace

struct CEntryPoints::Impl {
    virtual ~Impl() = default;
    virtual bool Next(std::vector<uint8_t>& records, std::size_t& count) = 0;
    virtual void ScanTail(const CEntryPoints::TailSink&) {}
    std::vector<uint8_t> head;
    LasFileLayout layout;
    CLasDigest* digest = nullptr;
    uint64_t given = 0;

    void Give(const uint8_t* data, std::size_t n) {
        if (digest) digest->TakeNext(data, n);
        given += n;
    }
};

namespace {

// A classic entry: its chunks decoded one at a time (only the groups of
// rows asked for), handed out in slices.
struct ClassicPoints : CEntryPoints::Impl {
    ClassicPoints(CFile& file, int64_t extent, const std::vector<FieldRole>& wanted, CLasDigest* d, int threads)
        : in(file), pool(ThreadsOf(threads)), decoder(pool, code, {[] {}, [] {}}) {
        ReadClassicEntryHead(in, extent, las);
        LasHeader& h = *las.Header();
        raw = h.Marker() == entrymarker::kRaw;
        if (raw) h.SetMarker(entrymarker::kLas);
        head = las.HeadBytes();
        n = h.NumberOfPointRecords();
        r = h.PointDataRecordLength();
        format = h.PointDataFormat();
        const int64_t fileSize = static_cast<int64_t>(head.size() + uint64_t{n} * r);
        layout = ReadLasLayout(head.data(), std::min(head.size(), kLasLayoutBytes), fileSize);
        if (!raw && n > 0) {
            sizes = chunkplan::ChunkSizes(n);
            room = static_cast<std::size_t>(*std::max_element(sizes.begin(), sizes.end()));
        }
        decoder.Want(GroupsFor(wanted));
        parts = PartsFor(wanted);
        digest = wanted.empty() ? d : nullptr;
        Give(head.data(), head.size());
    }

    static int ThreadsOf(int asked) {
        return asked > 0 ? asked : static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
    }

    bool Next(std::vector<uint8_t>& records, std::size_t& count) override {
        if (done == n) return false;
        if (raw) {
            count = std::min<std::size_t>(kSlicePoints, n - done);
            records.resize(count * r);
            if (!in.ReadExact(records.data(), records.size())) throw CLasException(enginemsg::kReadPoints);
        } else {
            if (sliced == cols.count) {
                const auto size = static_cast<std::size_t>(sizes[chunk]);
                decoder.Decode(in, size, format, chunk + 1 < sizes.size(), cols, {}, room);
                ++chunk;
                sliced = 0;
            }
            VELMORA_ASSERT(sliced < cols.count && chunk <= sizes.size());
            count = std::min(kSlicePoints, cols.count - sliced);
            records.resize(count * r);
            cols.GatherParts(records.data(), r, sliced, count, parts);
            sliced += count;
        }
        done += count;
        Give(records.data(), records.size());
        return true;
    }

    InputWindow in;
    CLasFile las;
    ProcessorCode code = ProcessorCode::Detected();
    TaskPool pool;
    CChunkDecoder decoder;
    ChunkColumns cols;
    std::vector<int64_t> sizes;
    std::size_t chunk = 0, sliced = 0, room = 0;
    uint32_t n = 0, done = 0;
    std::size_t r = 0;
    int format = 0;
    bool raw = false;
    unsigned parts = ChunkColumns::kAllParts;  // what the records handed out hold
};

// An extended entry: decoded a batch of chunks at a time; the bytes are
// sorted by where they lie in the LAS file, and the records kept until
// they are handed out.
struct ExtendedPoints : CEntryPoints::Impl {
    ExtendedPoints(CFile& file, int64_t extent, CLasDigest* d, int threads)
        : reader(file, extent, {}, threads) {
        // Every byte is decoded whatever is wanted, so the whole file's
        // checksum can always be taken.
        digest = d;
        // The header block and the VLRs come in the first step.
        while (!known && reader.Step(sink)) {
        }
        if (!known) Settle();
        keepTail = false;
    }

    bool Next(std::vector<uint8_t>& records, std::size_t& count) override {
        const std::size_t r = layout.recordLength;
        while (pending.size() - taken < kSlicePoints * r && reader.Step(sink)) {
        }
        if (pending.size() == taken) return false;
        count = std::min<std::size_t>(kSlicePoints, (pending.size() - taken) / r);
        if (count == 0) throw CLasException(enginemsg::kExtDamaged);
        records.assign(pending.begin() + static_cast<std::ptrdiff_t>(taken),
                       pending.begin() + static_cast<std::ptrdiff_t>(taken + count * r));
        taken += count * r;
        if (taken == pending.size()) {
            pending.clear();
            taken = 0;
        }
        return true;
    }

    void ScanTail(const CEntryPoints::TailSink& sink) override {
        tailSink = sink;
        digest = nullptr;  // the points go by undecoded: no checksum to take
        // A small entry stored whole has handed out its tail already.
        if (!earlyTail.empty()) sink(earlyTailAt, earlyTail.data(), earlyTail.size());
        reader.SkipPoints();
        // The points are passed over unseen, so the bytes after them are
        // placed by where the points end.
        const auto pointsEnd = static_cast<uint64_t>(layout.PointsEnd());
        while (reader.Step(this->sink)) routed = std::max(routed, pointsEnd);
    }

    void Take(const uint8_t* data, std::size_t n) {
        Give(data, n);
        if (known) return Route(data, n);
        early.insert(early.end(), data, data + n);
        if (early.size() >= std::min<uint64_t>(kLasLayoutBytes, reader.FileLength())) Settle();
    }

    // The layout is read once the header block is in.
    void Settle() {
        layout = ReadLasLayout(early.data(), std::min(early.size(), kLasLayoutBytes),
                               static_cast<int64_t>(reader.FileLength()));
        known = true;
        std::vector<uint8_t> bytes;
        bytes.swap(early);
        Route(bytes.data(), bytes.size());
    }

    // Bytes at file offset `at` go to the head (as much as is kept), the
    // records, or nowhere (the tail).
    void Route(const uint8_t* data, std::size_t n) {
        const uint64_t pointsStart = layout.offsetToPoints;
        const auto pointsEnd = static_cast<uint64_t>(layout.PointsEnd());
        for (std::size_t i = 0; i < n;) {
            const uint64_t at = routed + i;
            std::size_t k;
            if (at < pointsStart) {
                k = static_cast<std::size_t>(std::min<uint64_t>(n - i, pointsStart - at));
                const std::size_t keep = head.size() < kHeadKept ? std::min(k, kHeadKept - head.size()) : 0;
                head.insert(head.end(), data + i, data + i + keep);
            } else if (at < pointsEnd) {
                k = static_cast<std::size_t>(std::min<uint64_t>(n - i, pointsEnd - at));
                pending.insert(pending.end(), data + i, data + i + k);
            } else {
                k = n - i;
                if (tailSink) {
                    tailSink(at, data + i, k);
                } else if (keepTail && earlyTail.size() < kHeadKept) {
                    if (earlyTail.empty()) earlyTailAt = at;
                    earlyTail.insert(earlyTail.end(), data + i, data + i + std::min(k, kHeadKept - earlyTail.size()));
                }
            }
            i += k;
        }
        routed += n;
    }

    extentry::Reader reader;
    extentry::Sink sink = [this](const uint8_t* data, std::size_t n) { Take(data, n); };
    bool known = false;
    std::vector<uint8_t> early;
    uint64_t routed = 0;
    std::vector<uint8_t> pending;
    std::size_t taken = 0;
    CEntryPoints::TailSink tailSink;
    // Tail bytes that came with the head (an entry stored whole), kept for
    // ScanTail.
    bool keepTail = true;
    std::vector<uint8_t> earlyTail;
    uint64_t earlyTailAt = 0;
};

}  // namespace

CEntryPoints::CEntryPoints(CFile& file, int64_t extent, const std::vector<FieldRole>& wanted, CLasDigest* digest,
                           int threads) {
    uint8_t marker = 0;
    const int64_t start = file.Tell();
    if (extent <= 0 || !file.ReadExact(&marker, 1) || !file.Seek(start)) throw CLasException(enginemsg::kEntryHeader);
    if (marker == extentry::kMarker) {
        impl = std::make_unique<ExtendedPoints>(file, extent, digest, threads);
    } else {
        impl = std::make_unique<ClassicPoints>(file, extent, wanted, digest, threads);
    }
}

CEntryPoints::~CEntryPoints() = default;

const std::vector<uint8_t>& CEntryPoints::Head() const { return impl->head; }
const LasFileLayout& CEntryPoints::Layout() const { return impl->layout; }
bool CEntryPoints::Next(std::vector<uint8_t>& records, std::size_t& count) { return impl->Next(records, count); }
uint64_t CEntryPoints::BytesGiven() const { return impl->given; }
bool CEntryPoints::Whole() const { return impl->digest != nullptr; }
void CEntryPoints::ScanTail(const TailSink& sink) { impl->ScanTail(sink); }
