#include "engine/ChunkColumns.h"

#include <algorithm>

#include "las/ByteOrder.h"
#include "las/Invariant.h"
#include "las/LasPoint.h"

namespace {

// Sizes a column whose values will all be overwritten, with room for
// `room` values: when it must grow, its memory goes first, so old and new
// are never held at once.
template <class T>
void Size(std::vector<T>& v, std::size_t n, std::size_t room) {
    room = std::max(n, room);
    if (room > v.capacity()) {
        std::vector<T>().swap(v);
        v.reserve(room);
    }
    v.resize(n);
}

}  // namespace

void ChunkColumns::Resize(std::size_t n, int pointFormat) {
    format = pointFormat;
    count = n;
    SizeArrays(n, pointFormat, 0);
}

void ChunkColumns::SizeArrays(std::size_t n, int pointFormat, std::size_t room) {
    for (auto* v : {&x, &y, &z}) Size(*v, n, room);
    for (auto* v : {&intensity, &pointSource}) Size(*v, n, room);
    for (auto* v : {&returnBits, &classification, &scanAngle, &userData}) Size(*v, n, room);
    const bool gps = rec::HasGpsTime(pointFormat), colour = rec::HasRgb(pointFormat);
    Size(gpsBits, gps ? n : 0, gps ? room : 0);
    for (auto& c : rgb) Size(c, colour ? n : 0, colour ? room : 0);
}

void ChunkColumns::Scatter(const uint8_t* records, std::size_t stride, std::size_t first, std::size_t n) {
    VELMORA_ASSERT(first + n <= x.size() && stride >= rec::kPointSourceId + 2);
    const bool gps = rec::HasGpsTime(format), colour = rec::HasRgb(format);
    const std::size_t rgbAt = rec::RgbOffset(format);
    for (std::size_t k = 0; k < n; ++k) {
        const uint8_t* r = records + k * stride;
        const std::size_t i = first + k;
        x[i] = le::LoadI32(r + rec::kX);
        y[i] = le::LoadI32(r + rec::kY);
        z[i] = le::LoadI32(r + rec::kZ);
        intensity[i] = le::LoadU16(r + rec::kIntensity);
        returnBits[i] = r[rec::kReturnBits];
        classification[i] = r[rec::kClassification];
        scanAngle[i] = r[rec::kScanAngle];
        userData[i] = r[rec::kUserData];
        pointSource[i] = le::LoadU16(r + rec::kPointSourceId);
        if (gps) gpsBits[i] = static_cast<int64_t>(le::LoadU64(r + rec::kGpsTime));
        if (colour) {
            for (int c = 0; c < 3; ++c) rgb[c][i] = le::LoadU16(r + rgbAt + 2 * c);
        }
    }
}

void ChunkColumns::Gather(uint8_t* records, std::size_t stride, std::size_t first, std::size_t n) const {
    VELMORA_ASSERT(first + n <= x.size() && stride >= rec::kPointSourceId + 2);
    const bool gps = rec::HasGpsTime(format), colour = rec::HasRgb(format);
    const std::size_t rgbAt = rec::RgbOffset(format);
    for (std::size_t k = 0; k < n; ++k) {
        uint8_t* r = records + k * stride;
        const std::size_t i = first + k;
        le::StoreI32(r + rec::kX, x[i]);
        le::StoreI32(r + rec::kY, y[i]);
        le::StoreI32(r + rec::kZ, z[i]);
        le::StoreU16(r + rec::kIntensity, intensity[i]);
        r[rec::kReturnBits] = returnBits[i];
        r[rec::kClassification] = classification[i];
        r[rec::kScanAngle] = scanAngle[i];
        r[rec::kUserData] = userData[i];
        le::StoreU16(r + rec::kPointSourceId, pointSource[i]);
        if (gps) le::StoreU64(r + rec::kGpsTime, static_cast<uint64_t>(gpsBits[i]));
        if (colour) {
            for (int c = 0; c < 3; ++c) le::StoreU16(r + rgbAt + 2 * c, rgb[c][i]);
        }
    }
}
