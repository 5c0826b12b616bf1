#pragma once

#include <cstdint>
#include <iterator>

#include <vector>

#include "engine/AttributeCodec.h"
#include "engine/ChunkColumns.h"
#include "engine/PointView.h"

class InputWindow;

// The codec runs (rows) of one chunk and their order in the stream. The
// order matters: later rows' predictors read attributes restored by earlier
// ones (Z uses X and Y, intensity uses Z, GPS time the scan direction).
namespace chunkrows {

// The codec runs of one chunk, in stream order.
enum class Row {
    UserData, ScanDirection, ScanAngle, ReturnNumber, PointSource, NumberOfReturns, Edge,
    Classification, X, Y, Z, Intensity, GpsTime, Red, Green, Blue,
};

struct RowInfo {
    Row row;
    uint32_t bitsPerPoint;
};

inline constexpr RowInfo kRows[] = {
    {Row::UserData, 8},  {Row::ScanDirection, 1},  {Row::ScanAngle, 8},   {Row::ReturnNumber, 3},
    {Row::PointSource, 16}, {Row::NumberOfReturns, 3}, {Row::Edge, 1},    {Row::Classification, 8},
    {Row::X, 32},        {Row::Y, 32},             {Row::Z, 32},          {Row::Intensity, 16},
    {Row::GpsTime, 64},  {Row::Red, 16},           {Row::Green, 16},      {Row::Blue, 16},
};

// kRows is indexed by Row.
constexpr bool RowsInEnumOrder() {
    for (int i = 0; i < static_cast<int>(std::size(kRows)); ++i) {
        if (static_cast<int>(kRows[i].row) != i) return false;
    }
    return true;
}
static_assert(RowsInEnumOrder());

// Rows in the order they are handed to the workers: the most work first,
// so the short byte rows fill the gaps at the end.
inline constexpr Row kEncodeOrder[] = {
    Row::Z, Row::GpsTime, Row::Y, Row::X, Row::Intensity, Row::Red, Row::Green, Row::Blue,
    Row::PointSource, Row::ScanAngle, Row::Classification, Row::UserData, Row::ReturnNumber,
    Row::NumberOfReturns, Row::ScanDirection, Row::Edge,
};

inline bool RowApplies(Row row, int format) {
    if (row == Row::GpsTime) return format == 1 || format == 3;
    if (row == Row::Red || row == Row::Green || row == Row::Blue) return format == 2 || format == 3;
    return true;
}

inline attrs::ByteAttr ByteAttrOf(Row row) {
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

inline bool IsByteRow(Row row) {
    return row == Row::UserData || row == Row::ScanDirection || row == Row::ScanAngle ||
           row == Row::ReturnNumber || row == Row::NumberOfReturns || row == Row::Edge ||
           row == Row::Classification;
}

// Rows stored as one value block (two for GPS time); the rest are one byte
// stream each.
inline int BlocksOf(Row row) {
    if (IsByteRow(row)) return 0;
    return row == Row::GpsTime ? 2 : 1;
}

// The coordinates, their steps and the scan direction flags of a chunk.
void FillColumns(const PointView& pts, ChunkColumns& c);
// One row of a chunk, coded into out / decoded from the window into the
// points (and, for the rows later ones depend on, into cols).
void EncodeRow(Row row, const PointView& pts, const ChunkColumns& cols, std::vector<uint8_t>& out);
void DecodeRow(Row row, InputWindow& in, const PointView& pts, ChunkColumns& cols);

}  // namespace chunkrows
