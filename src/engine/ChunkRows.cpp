#include "engine/ChunkRows.h"

#include "engine/CoordinateCodec.h"
#include "engine/GpsTimeCodec.h"
#include "engine/InputWindow.h"
#include "engine/WrapMath.h"

namespace chunkrows {

void FillColumns(const PointView& pts, ChunkColumns& c) {
    const std::size_t n = pts.count;
    c.x.resize(n);
    c.y.resize(n);
    c.z.resize(n);
    c.dx.assign(n, 0);
    c.dy.assign(n, 0);
    c.dz.assign(n, 0);
    c.flags.resize(n);
    const ByteField dir = attrs::FieldOf(attrs::ByteAttr::ScanDirection);
    for (std::size_t i = 0; i < n; ++i) {
        c.x[i] = pts.X(i);
        c.y[i] = pts.Y(i);
        c.z[i] = pts.Z(i);
        c.flags[i] = dir.Get(pts, i);
        if (i > 0) {
            c.dx[i] = wrap::Sub32(c.x[i], c.x[i - 1]);
            c.dy[i] = wrap::Sub32(c.y[i], c.y[i - 1]);
            c.dz[i] = wrap::Sub32(c.z[i], c.z[i - 1]);
        }
    }
}

void EncodeRow(Row row, const PointView& pts, const ChunkColumns& cols, std::vector<uint8_t>& out) {
    if (IsByteRow(row)) return attrs::EncodeByteAttr(ByteAttrOf(row), pts, out);
    switch (row) {
        case Row::PointSource: return attrs::EncodePointSource(pts, out);
        case Row::X: return coords::EncodeX(cols, out);
        case Row::Y: return coords::EncodeY(cols, out);
        case Row::Z: return coords::EncodeZ(cols, out);
        case Row::Intensity: return attrs::EncodeIntensity(pts, cols, out);
        case Row::GpsTime: return gpstime::Encode(pts, cols.flags, out);
        case Row::Red: return color::Encode(pts, 0, out);
        case Row::Green: return color::Encode(pts, 1, out);
        case Row::Blue: return color::Encode(pts, 2, out);
        default: return;
    }
}

void DecodeRow(Row row, InputWindow& in, const PointView& pts, ChunkColumns& cols) {
    if (IsByteRow(row)) return attrs::DecodeByteAttr(ByteAttrOf(row), in, pts, cols);
    const std::size_t n = pts.count;
    switch (row) {
        case Row::PointSource: return attrs::DecodePointSource(in, pts);
        case Row::X:
            coords::DecodeX(in, cols, n);
            for (std::size_t i = 0; i < n; ++i) pts.SetX(i, cols.x[i]);
            return;
        case Row::Y:
            coords::DecodeY(in, cols, n);
            for (std::size_t i = 0; i < n; ++i) pts.SetY(i, cols.y[i]);
            return;
        case Row::Z:
            coords::DecodeZ(in, cols, n);
            for (std::size_t i = 0; i < n; ++i) pts.SetZ(i, cols.z[i]);
            return;
        case Row::Intensity: return attrs::DecodeIntensity(in, pts, cols);
        case Row::GpsTime: return gpstime::Decode(in, pts, cols.flags);
        case Row::Red: return color::Decode(in, pts, 0);
        case Row::Green: return color::Decode(in, pts, 1);
        case Row::Blue: return color::Decode(in, pts, 2);
        default: return;
    }
}

}  // namespace chunkrows
