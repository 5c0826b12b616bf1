#include "engine/ValueBlockCoder.h"

#include <algorithm>
#include <cstring>

#include "engine/EngineMessages.h"
#include "engine/InputWindow.h"
#include "las/ByteOrder.h"
#include "las/LasException.h"

namespace valueblock {

namespace {

void AppendI32(CByteBuffer& out, int32_t v) {
    uint8_t b[4];
    le::StoreI32(b, v);
    out.Append(b, 4);
}

// Bytes read past a plane's end by the value reader, which loads a plane's
// next byte whether or not the value takes it.
constexpr std::size_t kSlack = 8;

}  // namespace

SplitCursor CBlockWriter::Begin(std::size_t count, int32_t first) {
    firstValue = first;
    n = count - 1;
    SplitCursor c;
    Header().Clear();
    c.header = Header().Grow(n);
    // Every plane gets room for all values; what a plane never reaches is
    // never written, and costs no memory.
    for (int j = 0; j < kPlanes; ++j) {
        Plane(j).Clear();
        c.end[j] = Plane(j).Grow(n, CByteBuffer::Use::Room);
    }
    return c;
}

void CBlockWriter::End(SplitCursor cursor) {
    for (int j = 0; j < kPlanes; ++j) Plane(j).Shrink(cursor.end[j]);
}

void CBlockWriter::AddRequests(std::vector<bytestream::EncodeRequest>& requests) {
    for (int j = 0; j <= kPlanes; ++j) Coded(j).Clear();
    requests.push_back({Header().Data(), n, &Coded(0)});
    for (int j = 0; j < kPlanes && Plane(j).Size() > 0; ++j) {
        requests.push_back({Plane(j).Data(), Plane(j).Size(), &Coded(j + 1)});
    }
}

std::size_t CBlockWriter::LaidOutSize() const {
    std::size_t total = 4 + Coded(0).Size();
    for (int j = 0; j < kPlanes && Plane(j).Size() > 0; ++j) total += 4 + Coded(j + 1).Size();
    return total;
}

void CBlockWriter::AppendTo(CByteBuffer& out) const {
    AppendI32(out, firstValue);
    out.Append(Coded(0).Data(), Coded(0).Size());
    for (int j = 0; j < kPlanes && Plane(j).Size() > 0; ++j) {
        AppendI32(out, static_cast<int32_t>(Plane(j).Size()));
        out.Append(Coded(j + 1).Data(), Coded(j + 1).Size());
    }
}

void EncodeValueBlock(const int32_t* values, std::size_t count, std::vector<uint8_t>& out,
                      const bytestream::EncoderLoops& loops) {
    CBlockWriter w;
    SplitCursor c = w.Begin(count, values[0]);
    for (std::size_t i = 1; i < count; ++i) c.Add(values[i]);
    w.End(c);
    std::vector<bytestream::EncodeRequest> requests;
    w.AddRequests(requests);
    bytestream::EncodeByteStreams(requests.data(), requests.size(), loops);
    CByteBuffer block;
    w.AppendTo(block);
    out.insert(out.end(), block.Data(), block.Data() + block.Size());
}

uint8_t* CBlockBytes::PrepareHeader(int32_t first, std::size_t count) {
    firstValue = first;
    n = count - 1;
    planes = 0;
    buf[0].Clear();
    return buf[0].Grow(n);
}

int CBlockBytes::PlanesCalledFor() const { return PlaneCount(buf[0].Data(), n); }

uint8_t* CBlockBytes::PreparePlane(int j, std::size_t length) {
    planes = std::max(planes, j + 1);
    buf[1 + j].Clear();
    return buf[1 + j].Grow(length);
}

void CBlockBytes::Settle() {
    // How many values take a byte from each plane: from a histogram of the
    // header bytes, the values whose length exceeds each plane's index.
    uint64_t histogram[256];
    bytestream::CountValues(buf[0].Data(), n, histogram);
    std::size_t takers[kPlanes] = {};
    for (uint32_t b = 0; b < 256; ++b) {
        for (int j = 0; j < kPlanes; ++j) takers[j] += (b >> 1) > static_cast<uint32_t>(j) ? histogram[b] : 0;
    }
    for (int j = 0; j < kPlanes; ++j) {
        CByteBuffer& plane = buf[1 + j];
        if (j >= planes) plane.Clear();
        const std::size_t have = plane.Size();
        const std::size_t want = std::max(have, takers[j]) + kSlack;
        std::memset(plane.Grow(want - have), 0, want - have);
    }
}

void CBlockBytes::Read(InputWindow& in, std::size_t count, const bytestream::DecoderLoops& loops) {
    uint8_t first[4];
    if (!in.ReadExact(first, 4)) throw CLasException(enginemsg::kStreamNotFound);
    bytestream::DecodeByteStream(in, PrepareHeader(le::LoadI32(first), count), count - 1, loops);
    const int called = PlanesCalledFor();
    for (int j = 0; j < called; ++j) {
        uint8_t kb[4];
        if (!in.ReadExact(kb, 4)) throw CLasException(enginemsg::kStreamNotFound);
        const int32_t k = le::LoadI32(kb);
        // Anything else is damage, and trusting it could size an
        // allocation from four arbitrary bytes.
        if (!PlausiblePlaneLength(k, n)) throw CLasException(enginemsg::kStreamNotFound);
        const std::size_t length = static_cast<std::size_t>(k);
        bytestream::DecodeByteStream(in, PreparePlane(j, length), length, loops);
    }
    Settle();
}

int PlaneCount(const uint8_t* header, std::size_t n) {
    // The largest byte has the largest length; a maximum without a branch.
    uint8_t largest = 0;
    for (std::size_t i = 0; i < n; ++i) largest = std::max(largest, header[i]);
    return static_cast<int>(std::min<uint32_t>(largest >> 1, kPlanes));
}

bool PlausiblePlaneLength(int32_t k, std::size_t n) { return k >= 1 && static_cast<std::size_t>(k) <= n; }

void DecodeValueBlock(InputWindow& in, int32_t* values, std::size_t count, const bytestream::DecoderLoops& loops) {
    CBlockBytes b;
    b.Read(in, count, loops);
    ForEachValue(b, [&](std::size_t i, int32_t v) { values[i] = v; });
}

}  // namespace valueblock
