#include "engine/ChunkRows.h"

#include "engine/GpsTimeCodec.h"
#include "engine/InputWindow.h"
#include "las/Invariant.h"

namespace chunkrows {

bool RowApplies(Row row, int format) {
    if (row == Row::GpsTime) return format == 1 || format == 3;
    if (row == Row::Red || row == Row::Green || row == Row::Blue) return format == 2 || format == 3;
    return true;
}

bool IsByteRow(Row row) {
    return row == Row::UserData || row == Row::ScanDirection || row == Row::ScanAngle ||
           row == Row::ReturnNumber || row == Row::NumberOfReturns || row == Row::Edge ||
           row == Row::Classification;
}

attrs::ByteAttr ByteAttrOf(Row row) {
    switch (row) {
        case Row::UserData: return attrs::ByteAttr::UserData;
        case Row::ScanDirection: return attrs::ByteAttr::ScanDirection;
        case Row::ScanAngle: return attrs::ByteAttr::ScanAngle;
        case Row::ReturnNumber: return attrs::ByteAttr::ReturnNumber;
        case Row::NumberOfReturns: return attrs::ByteAttr::NumberOfReturns;
        case Row::Edge: return attrs::ByteAttr::Edge;
        default: return attrs::ByteAttr::Classification;
    }
}

int BlocksOf(Row row) {
    if (IsByteRow(row)) return 0;
    return row == Row::GpsTime ? 2 : 1;
}

std::vector<Row> RowsOf(Group g) {
    switch (g) {
        case Group::ReturnBits: return {Row::ScanDirection, Row::ReturnNumber, Row::NumberOfReturns, Row::Edge};
        case Group::Bytes: return {Row::UserData, Row::ScanAngle, Row::PointSource, Row::Classification};
        case Group::X: return {Row::X};
        case Group::Y: return {Row::Y};
        case Group::Z: return {Row::Z};
        case Group::Intensity: return {Row::Intensity};
        case Group::GpsTime: return {Row::GpsTime};
        case Group::Red: return {Row::Red};
        case Group::Green: return {Row::Green};
        case Group::Blue: return {Row::Blue};
    }
    return {};
}

bool GroupApplies(Group g, int format) { return RowApplies(RowsOf(g).front(), format); }

namespace {

int ColourOf(Row row) { return row == Row::Red ? 0 : row == Row::Green ? 1 : 2; }

// Splits a value row into s.writers (two for GPS time).
void SplitRow(Row row, const ChunkColumns& c, const coords::Kernels& k, Scratch& s) {
    switch (row) {
        case Row::PointSource: return attrs::SplitDifferences16(c.pointSource, s.writers[0]);
        case Row::X: return coords::SplitX(c, s.windows, k, s.writers[0]);
        case Row::Y: return coords::SplitY(c, s.windows, k, s.writers[0]);
        case Row::Z: return coords::SplitZ(c, s.windows, k, s.writers[0]);
        case Row::Intensity: return attrs::SplitIntensity(c, s.writers[0]);
        case Row::GpsTime: return gpstime::Split(c, s.writers[0], s.writers[1]);
        default: return attrs::SplitDifferences16(c.rgb[ColourOf(row)], s.writers[0]);
    }
}

}  // namespace

void PrepareGroup(Group g, const ChunkColumns& c, const coords::Kernels& k, Scratch& s, CByteBuffer* outs) {
    const std::vector<Row> rows = RowsOf(g);
    s.encodeRequests.clear();
    for (std::size_t r = 0; r < rows.size(); ++r) {
        const Row row = rows[r];
        outs[Index(row)].Clear();
        if (IsByteRow(row)) {
            // One stream per byte row, coded straight into the row's output.
            s.byteArrays[r].Clear();
            attrs::FillBytes(ByteAttrOf(row), c, s.byteArrays[r].Grow(c.count));
            s.encodeRequests.push_back({s.byteArrays[r].Data(), c.count, &outs[Index(row)]});
            continue;
        }
        // A group has at most one value row, in s.writers.
        SplitRow(row, c, k, s);
        for (int b = 0; b < BlocksOf(row); ++b) s.writers[b].AddRequests(s.encodeRequests);
    }
}

void CodeGroup(Scratch& s, const bytestream::EncoderLoops& loops) {
    bytestream::EncodeByteStreams(s.encodeRequests.data(), s.encodeRequests.size(), loops);
}

void CodeGroups(Scratch* s, std::size_t n, const bytestream::EncoderLoops& loops) {
    if (n == 1) return CodeGroup(s[0], loops);
    std::vector<bytestream::EncodeRequest>& all = s[0].groupsEncodeRequests;
    all.clear();
    for (std::size_t j = 0; j < n; ++j) all.insert(all.end(), s[j].encodeRequests.begin(), s[j].encodeRequests.end());
    bytestream::EncodeByteStreams(all.data(), all.size(), loops);
}

void DecodeGroups(const uint8_t* data, std::size_t size, Scratch* s, std::size_t n,
                  const bytestream::DecoderLoops& loops) {
    VELMORA_ASSERT(n >= 1 && n <= kMostGroupsPerTask);
    if (n == 1) {
        bytestream::DecodeByteStreamsAt(data, size, s[0].decodeRequests.data(), s[0].decodeRequests.size(), loops);
        return;
    }
    std::vector<bytestream::DecodeRequest>& all = s[0].groupsDecodeRequests;
    all.clear();
    for (std::size_t j = 0; j < n; ++j) all.insert(all.end(), s[j].decodeRequests.begin(), s[j].decodeRequests.end());
    bytestream::DecodeByteStreamsAt(data, size, all.data(), all.size(), loops);
    std::size_t at = 0;
    for (std::size_t j = 0; j < n; ++j) {
        for (bytestream::DecodeRequest& r : s[j].decodeRequests) r = all[at++];
    }
    VELMORA_ASSERT(at == all.size());
}

void LayOutGroup(Group g, Scratch& s, CByteBuffer* outs) {
    for (Row row : RowsOf(g)) {
        CByteBuffer& out = outs[Index(row)];
        std::size_t total = out.Size();
        for (int b = 0; b < BlocksOf(row); ++b) total += s.writers[b].LaidOutSize();
        out.Reserve(total);
        for (int b = 0; b < BlocksOf(row); ++b) s.writers[b].AppendTo(out);
    }
}

void EncodeGroup(Group g, const ChunkColumns& c, const ProcessorCode& code, Scratch& s, CByteBuffer* outs) {
    PrepareGroup(g, c, code.coords, s, outs);
    CodeGroup(s, code.encoder);
    LayOutGroup(g, s, outs);
}

void ReadRowStreams(Row row, InputWindow& in, std::size_t count, Scratch& s, const bytestream::DecoderLoops& loops) {
    if (IsByteRow(row)) {
        s.decodedBytes[0].Clear();
        bytestream::DecodeByteStream(in, s.decodedBytes[0].Grow(count), count, loops);
        return;
    }
    for (int b = 0; b < BlocksOf(row); ++b) s.blocks[b].Read(in, count, loops);
}

void RestoreRow(Row row, const coords::Kernels& k, Scratch& s, int slot, ChunkColumns& c,
                const RestorePacing& pace) {
    VELMORA_ASSERT(RowApplies(row, c.format) && slot >= 0 && slot < 4);
    if (IsByteRow(row)) return attrs::RestoreBytes(ByteAttrOf(row), s.decodedBytes[slot].Data(), c);
    switch (row) {
        case Row::PointSource: return attrs::RestoreDifferences16(s.blocks[0], c.pointSource);
        case Row::X: return coords::RestoreX(s.blocks[0], s.windows, c, pace);
        case Row::Y: return coords::RestoreY(s.blocks[0], s.windows, k, c, pace);
        case Row::Z: return coords::RestoreZ(s.blocks[0], s.windows, k, c, pace);
        case Row::Intensity: return attrs::RestoreIntensity(s.blocks[0], c, pace);
        case Row::GpsTime: return gpstime::Restore(s.blocks[0], s.blocks[1], c);
        default: return attrs::RestoreDifferences16(s.blocks[0], c.rgb[ColourOf(row)]);
    }
}

void DecodeRow(Row row, InputWindow& in, const ProcessorCode& code, Scratch& s, ChunkColumns& c) {
    ReadRowStreams(row, in, c.count, s, code.decoder);
    RestoreRow(row, code.coords, s, 0, c);
}

}  // namespace chunkrows
