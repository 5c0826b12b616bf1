#include "engine/ChunkColumns.h"

#include "las/ByteOrder.h"
#include "las/LasPoint.h"

namespace {

// Sizes a column whose values will all be overwritten: when it must grow,
// its memory goes first, so old and new are never held at once.
template <class T>
void Size(std::vector<T>& v, std::size_t n) {
    if (n > v.capacity()) std::vector<T>().swap(v);
    v.resize(n);
}

}  // namespace

void ChunkColumns::Resize(std::size_t n, int pointFormat) {
    format = pointFormat;
    count = n;
    for (auto* v : {&x, &y, &z}) Size(*v, n);
    for (auto* v : {&intensity, &pointSource}) Size(*v, n);
    for (auto* v : {&returnBits, &classification, &scanAngle, &userData}) Size(*v, n);
    Size(gpsBits, rec::HasGpsTime(format) ? n : 0);
    for (auto& c : rgb) Size(c, rec::HasRgb(format) ? n : 0);
}

bool ChunkColumns::Holds(std::size_t n, int pointFormat) const {
    bool fits = true;
    for (auto* v : {&x, &y, &z}) fits = fits && n <= v->capacity();
    for (auto* v : {&intensity, &pointSource}) fits = fits && n <= v->capacity();
    for (auto* v : {&returnBits, &classification, &scanAngle, &userData}) fits = fits && n <= v->capacity();
    fits = fits && (rec::HasGpsTime(pointFormat) ? n : 0) <= gpsBits.capacity();
    for (auto& c : rgb) fits = fits && (rec::HasRgb(pointFormat) ? n : 0) <= c.capacity();
    return fits;
}

void ChunkColumns::Scatter(const uint8_t* records, std::size_t stride, std::size_t first, std::size_t n) {
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
