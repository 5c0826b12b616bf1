#include "las/LasFile.h"

#include <algorithm>
#include <iterator>
#include <new>

#include "las/ByteOrder.h"
#include "las/FileIo.h"
#include "las/LasException.h"
#include "las/LasMessages.h"

namespace {

constexpr std::size_t kVlrHeaderSize = 54;
constexpr std::size_t kVlrLengthOffset = 20;
// Records are moved between file and objects through a buffer of this many
// bytes, so reading and writing cost one call per block, not per record.
constexpr std::size_t kIoBlockBytes = 1 << 20;
constexpr uint32_t kFlushEvery = 50000;

template <int F>
class PointStorageT final : public PointStorage {
public:
    explicit PointStorageT(std::size_t n) : items(new LASPointT<F>[n]()), count(n) {}
    LASPoint* At(std::size_t i) override { return &items[i]; }
    uint8_t* RecordBase() override { return count ? items[0].record : nullptr; }
    std::size_t Stride() const override { return sizeof(LASPointT<F>); }
    std::size_t Count() const override { return count; }

private:
    std::unique_ptr<LASPointT<F>[]> items;
    std::size_t count;
};

std::unique_ptr<PointStorage> MakeStorage(int format, std::size_t n) {
    switch (format) {
        case 0: return std::make_unique<PointStorageT<0>>(n);
        case 1: return std::make_unique<PointStorageT<1>>(n);
        case 2: return std::make_unique<PointStorageT<2>>(n);
        case 3: return std::make_unique<PointStorageT<3>>(n);
        default: return nullptr;
    }
}

}  // namespace

CLasFile::CLasFile() = default;
CLasFile::~CLasFile() = default;

void CLasFile::SetFileName(const std::string& path) {
    fileName = path;
    input.reset();
}

CFile& CLasFile::Input() const {
    if (!input) {
        auto f = std::make_unique<CFile>();
        if (!f->Open(fileName, "rb")) throw CLasException(lasmsg::kReadOpen);
        input = std::move(f);
    }
    return *input;
}

LasHeader* CLasFile::ReadHeader() {
    header.reset();
    std::lock_guard<std::mutex> lock(inputLock);
    CFile& f = Input();
    uint8_t image[LasHeader::kFileSize];
    if (!f.Seek(0) || !f.ReadExact(image, sizeof image)) throw CLasException(lasmsg::kReadHeader);
    if (digest) digest->Take(0, image, sizeof image);
    header = std::make_unique<LasHeader>(LasHeader::FromFileImage(image));
    return header.get();
}

uint8_t* const* CLasFile::ReadVlrs() {
    vlrBlock.clear();
    vlrTable.clear();
    hasVlrBlock = false;
    if (!header) throw CLasException(lasmsg::kReadVlr);

    const int64_t gap = header->Gap();
    // Any gap, with VLRs or without, even of one or two bytes, is kept as
    // one block so that it comes back exactly; only a file with no gap at
    // all has no block.
    if (gap == 0 && header->NumberOfVlrs() == 0) return nullptr;
    if (gap < 0) throw CLasException(lasmsg::kReadVlr);

    std::lock_guard<std::mutex> lock(inputLock);
    CFile& f = Input();
    // The declared gap is checked against the file before it sizes anything.
    const int64_t size = f.Size();
    if (size < 0 || header->HeaderSize() + gap > size) throw CLasException(lasmsg::kReadVlr);
    std::vector<uint8_t> block(static_cast<std::size_t>(gap));
    if (!f.Seek(header->HeaderSize()) || !f.ReadExact(block.data(), block.size())) {
        throw CLasException(lasmsg::kReadVlr);
    }
    if (digest) digest->Take(header->HeaderSize(), block.data(), block.size());
    SetVlrBlock(std::move(block));
    return VlrTable();
}

void CLasFile::SetVlrBlock(std::vector<uint8_t> block) {
    vlrBlock = std::move(block);
    hasVlrBlock = true;
    BuildVlrTable();
}

void CLasFile::BuildVlrTable() {
    vlrTable.clear();
    if (!header) return;
    // Bounded by the block, never by the declared count alone: a damaged
    // count of a billion VLRs in an empty block builds no entry at all.
    const uint64_t declared = header->NumberOfVlrs();
    std::size_t offset = 0;
    while (vlrTable.size() < declared && offset + kVlrHeaderSize <= vlrBlock.size()) {
        vlrTable.push_back(vlrBlock.data() + offset);
        offset += kVlrHeaderSize + le::LoadU16(vlrBlock.data() + offset + kVlrLengthOffset);
    }
}

std::size_t CLasFile::CreatePoints() {
    ReleasePoints();
    const std::size_t n = header ? header->NumberOfPointRecords() : 0;
    try {
        points.assign(n, nullptr);
    } catch (const std::bad_alloc&) {
        throw CLasException(lasmsg::kCreatePointsMemory);
    }
    return n;
}

void CLasFile::AllocateObjects(std::size_t count, const Failure& memoryMessage) {
    try {
        storage = MakeStorage(header->PointDataFormat(), count);
    } catch (const std::bad_alloc&) {
        throw CLasException(memoryMessage);
    }
    if (!storage) return;  // no class for this format: pointers stay null
    for (std::size_t i = 0; i < count; ++i) points[i] = storage->At(i);
}

void CLasFile::CreatePointObjects() {
    const std::size_t n = CreatePoints();
    if (header) AllocateObjects(n, lasmsg::kCreatePointsMemory);
}

LASPoint** CLasFile::ReadPoints(uint32_t count, uint32_t first) {
    ReleasePoints();
    if (!header || header->NumberOfPointRecords() == 0) return nullptr;

    const uint64_t r = header->PointDataRecordLength();
    std::lock_guard<std::mutex> lock(inputLock);
    CFile& f = OpenRecords(count, first);
    try {
        points.assign(count, nullptr);
    } catch (const std::bad_alloc&) {
        throw CLasException(lasmsg::kReadPointsMemory);
    }
    AllocateObjects(count, lasmsg::kReadPointsMemory);

    if (storage) {
        // Each object takes the start of its record; bytes beyond the
        // object's room (longer records) are read past, never stored.
        const std::size_t keep = std::min<std::size_t>(r, points.empty() ? 0 : points[0]->RecordSize());
        const std::size_t perBlock = std::max<std::size_t>(1, kIoBlockBytes / std::max<uint64_t>(r, 1));
        std::vector<uint8_t> buf(std::min<std::size_t>(perBlock, count) * r);
        const int64_t start = f.Tell();
        for (std::size_t done = 0; done < count;) {
            const std::size_t n = std::min<std::size_t>(perBlock, count - done);
            if (!f.ReadExact(buf.data(), n * r)) {
                ReleasePoints();
                throw CLasException(lasmsg::kReadPoints);
            }
            if (digest) digest->Take(start + static_cast<int64_t>(done * r), buf.data(), n * r);
            for (std::size_t k = 0; k < n; ++k) {
                std::copy_n(buf.data() + k * r, keep, points[done + k]->Record());
            }
            done += n;
        }
    }
    return points.data();
}

void CLasFile::ReadRecords(uint32_t count, uint32_t first, std::vector<uint8_t>& out) {
    if (!header) throw CLasException(lasmsg::kReadPoints);
    std::lock_guard<std::mutex> lock(inputLock);
    CFile& f = OpenRecords(count, first);
    try {
        out.resize(count * static_cast<std::size_t>(header->PointDataRecordLength()));
    } catch (const std::bad_alloc&) {
        throw CLasException(lasmsg::kReadPointsMemory);
    }
    ReadOpened(f, out.data(), out.size());
}

void CLasFile::ReadRecordsInto(uint32_t count, uint32_t first, uint8_t* out) {
    if (!header) throw CLasException(lasmsg::kReadPoints);
    std::lock_guard<std::mutex> lock(inputLock);
    CFile& f = OpenRecords(count, first);
    ReadOpened(f, out, count * static_cast<std::size_t>(header->PointDataRecordLength()));
}

void CLasFile::ReadOpened(CFile& f, uint8_t* out, std::size_t bytes) {
    const int64_t start = f.Tell();
    if (!f.ReadExact(out, bytes)) throw CLasException(lasmsg::kReadPoints);
    if (digest) digest->Take(start, out, bytes);
}

CFile& CLasFile::OpenRecords(uint32_t count, uint32_t first) const {
    const uint64_t r = header->PointDataRecordLength();
    const uint64_t start = header->OffsetToPointData() + static_cast<uint64_t>(first) * r;
    CFile& f = Input();
    // Checked before anything is allocated, so a header that claims more
    // points than the file holds cannot size a huge window.
    const int64_t size = f.Size();
    if (size < 0 || start + count * r > static_cast<uint64_t>(size) || !f.Seek(static_cast<int64_t>(start))) {
        throw CLasException(lasmsg::kReadPoints);
    }
    return f;
}

// Opens the output for a write that begins the file (mode "wb") or adds to
// it ("ab"); a discarded output opens nothing.
CFile CLasFile::OpenOutput(const char* mode) const {
    CFile f;
    if (!discardOutput && !f.Open(fileName, mode)) {
        throw CLasException(lasmsg::kWriteOpen, false, f.LastError());
    }
    return f;
}

void CLasFile::Emit(CFile& f, const uint8_t* data, std::size_t n, const Failure& message) {
    if (!discardOutput && !f.Write(data, n)) throw CLasException(message, false, f.LastError());
    if (digest) digest->TakeNext(data, n);
}

void CLasFile::WriteHeader() {
    if (!header) throw CLasException(lasmsg::kWriteHeader);
    CFile f = OpenOutput("wb");
    uint8_t image[LasHeader::kFileSize];
    header->ToFileImage(image);
    Emit(f, image, sizeof image, lasmsg::kWriteHeader);
    if (!f.Close()) throw CLasException(lasmsg::kWriteHeader, false, f.LastError());
}

namespace {
// A header that declares a 2-byte gap but comes without its bytes: the LAS
// 1.0 point data start signature.
bool WritesSignature(const LasHeader& h, bool hasVlrBlock) {
    return !hasVlrBlock && h.NumberOfVlrs() == 0 && h.Gap() == 2;
}
constexpr uint8_t kStartSignature[2] = {0xDD, 0xCC};
}  // namespace

void CLasFile::WriteVlrs() {
    if (!header) throw CLasException(lasmsg::kWriteVlr);
    CFile f = OpenOutput("ab");
    if (hasVlrBlock) Emit(f, vlrBlock.data(), vlrBlock.size(), lasmsg::kWriteVlr);
    if (WritesSignature(*header, hasVlrBlock)) {
        Emit(f, kStartSignature, sizeof kStartSignature, lasmsg::kWriteSignature);
    }
    if (!f.Close()) throw CLasException(lasmsg::kWriteVlr, false, f.LastError());
}

std::vector<uint8_t> CLasFile::HeadBytes() const {
    if (!header) return {};
    std::vector<uint8_t> bytes(LasHeader::kFileSize);
    header->ToFileImage(bytes.data());
    if (hasVlrBlock) bytes.insert(bytes.end(), vlrBlock.begin(), vlrBlock.end());
    if (WritesSignature(*header, hasVlrBlock)) {
        bytes.insert(bytes.end(), std::begin(kStartSignature), std::end(kStartSignature));
    }
    return bytes;
}

struct CRecordAppender::State {
    CFile file;
    CLasDigest* digest = nullptr;
    bool discard = false;
    std::size_t r = 0;
    std::size_t step = 1;
    std::size_t index = 0;
    int* counter = nullptr;
};

CRecordAppender::CRecordAppender(CLasFile& las, std::size_t recordLength, std::size_t totalRecords,
                                 int* counter)
    : s(std::make_unique<State>()) {
    s->r = recordLength;
    s->step = std::max<std::size_t>(1, totalRecords > 99 ? totalRecords / 100 : totalRecords);
    s->counter = counter;
    s->digest = las.Digest();
    s->discard = las.OutputDiscarded();
    if (!s->discard && !s->file.Open(las.FileName(), "ab")) {
        throw CLasException(lasmsg::kWriteOpen, false, s->file.LastError());
    }
    if (counter) *counter = 0;
}

CRecordAppender::~CRecordAppender() = default;

void CRecordAppender::Append(const uint8_t* records, std::size_t n) {
    // Written in runs that end where a flush is due, so the file sees the
    // same flushes as a record-by-record writer, at a fraction of the calls.
    std::size_t done = 0;
    while (done < n) {
        const std::size_t i = s->index;
        const std::size_t nextFlush = ((i + kFlushEvery - 1) / kFlushEvery) * kFlushEvery;
        const std::size_t run = std::min(n - done, nextFlush - i + 1);
        const uint8_t* bytes = records + done * s->r;
        if (!s->discard && !s->file.Write(bytes, run * s->r)) {
            throw CLasException(lasmsg::kWritePoint, false, s->file.LastError());
        }
        if (s->digest) s->digest->TakeNext(bytes, run * s->r);
        if (s->counter) {
            for (std::size_t k = i; k < i + run; ++k) {
                if (k % s->step == 0) ++*s->counter;
            }
        }
        s->index += run;
        if (!s->discard && (s->index - 1) % kFlushEvery == 0) {
            if (!s->file.Flush()) throw CLasException(lasmsg::kWritePoint, false, s->file.LastError());
            s->file.StartWriteback();
        }
        done += run;
    }
}

void CRecordAppender::Finish() {
    if (s->discard) return;
    if (!s->file.Flush()) throw CLasException(lasmsg::kWritePoint, false, s->file.LastError());
    // The file is made durable before it is handed over; the disk can work
    // on this part while the next is decoded.
    s->file.StartWriteback();
    if (!s->file.Close()) throw CLasException(lasmsg::kWritePoint, false, s->file.LastError());
}

void CLasFile::WritePoints(int* counter) {
    if (!header) throw CLasException(lasmsg::kWritePoint);
    const std::size_t n = points.size();
    const std::size_t r = header->PointDataRecordLength();
    CRecordAppender out(*this, r, n, counter);
    const std::size_t perBlock = std::max<std::size_t>(1, kIoBlockBytes / std::max<std::size_t>(r, 1));
    std::vector<uint8_t> buf;
    for (std::size_t i = 0; i < n; i += perBlock) {
        const std::size_t end = std::min(n, i + perBlock);
        // Bytes a record has beyond its object's room are written as zeros.
        buf.assign((end - i) * r, 0);
        for (std::size_t k = i; k < end; ++k) {
            const LASPoint* p = points[k];
            if (p) std::copy_n(p->Record(), std::min(r, p->RecordSize()), buf.data() + (k - i) * r);
        }
        out.Append(buf.data(), end - i);
    }
    out.Finish();
}

void CLasFile::ReleasePoints() {
    points.clear();
    points.shrink_to_fit();
    storage.reset();
}

void CLasFile::Clear() {
    ReleasePoints();
    vlrBlock.clear();
    vlrBlock.shrink_to_fit();
    vlrTable.clear();
    hasVlrBlock = false;
    header.reset();
    fileName.clear();
    input.reset();
    digest = nullptr;
    discardOutput = false;
}
