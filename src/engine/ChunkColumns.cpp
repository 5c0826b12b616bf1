#include "engine/ChunkColumns.h"

#include <algorithm>
#include <cstdint>
#include <memory>
#include <type_traits>

#include "las/ByteOrder.h"
#include "las/Invariant.h"
#include "las/LasPoint.h"

void ChunkColumns::Resize(std::size_t n, int pointFormat) {
    format = pointFormat;
    count = n;
    SizeArrays(n, pointFormat, 0);
}

void ChunkColumns::SizeArrays(std::size_t n, int pointFormat, std::size_t room, unsigned parts) {
    room = std::max(n, room);
    const bool gps = rec::HasGpsTime(pointFormat), colour = rec::HasRgb(pointFormat);
    // f(column, used) for every column; a column nobody reads (not in the
    // format, or not asked for) costs neither memory nor the time to fill it.
    const auto each = [&](auto f) {
        f(x, (parts & kXPart) != 0);
        f(y, (parts & kYPart) != 0);
        f(z, (parts & kZPart) != 0);
        f(intensity, (parts & kIntensityPart) != 0);
        f(returnBits, (parts & kReturnPart) != 0);
        for (auto* v : {&classification, &scanAngle, &userData}) f(*v, (parts & kBytesPart) != 0);
        f(pointSource, (parts & kBytesPart) != 0);
        f(gpsBits, gps && (parts & kGpsPart) != 0);
        for (auto& c : rgb) f(c, colour && (parts & kRgbPart) != 0);
    };
    // The columns that must grow give their memory back first, so old and
    // new are never held at once, and are cut from one new block, so they
    // share its large pages. The others keep theirs, and what they hold.
    constexpr std::size_t kLine = 64;
    std::size_t need = 0;
    each([&](auto& v, bool used) {
        if (!used || room <= v.capacity()) return;
        need += (room * sizeof(v[0]) + kLine - 1) / kLine * kLine;
        std::remove_reference_t<decltype(v)>().swap(v);
    });
    if (need > 0) {
        const auto arena = std::make_shared<largepages::CArena>(need);
        each([&](auto& v, bool used) {
            if (!used || room <= v.capacity()) return;
            using Column = std::remove_reference_t<decltype(v)>;
            v = Column(typename Column::allocator_type(arena));
            v.reserve(room);
        });
    }
    // Every value is overwritten by the caller; resizing fills only what is
    // new to a column.
    each([&](auto& v, bool used) { v.resize(used ? n : 0); });
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

void ChunkColumns::GatherParts(uint8_t* records, std::size_t stride, std::size_t first, std::size_t n,
                               unsigned parts) const {
    if (parts == kAllParts) return Gather(records, stride, first, n);
    VELMORA_ASSERT(stride >= rec::kPointSourceId + 2);
    // One attribute at a time: each loop stays as plain as the whole gather.
    const auto each = [&](unsigned part, auto put) {
        if (!(parts & part)) return;
        for (std::size_t k = 0; k < n; ++k) put(records + k * stride, first + k);
    };
    each(kXPart, [&](uint8_t* r, std::size_t i) { le::StoreI32(r + rec::kX, x[i]); });
    each(kYPart, [&](uint8_t* r, std::size_t i) { le::StoreI32(r + rec::kY, y[i]); });
    each(kZPart, [&](uint8_t* r, std::size_t i) { le::StoreI32(r + rec::kZ, z[i]); });
    each(kIntensityPart, [&](uint8_t* r, std::size_t i) { le::StoreU16(r + rec::kIntensity, intensity[i]); });
    each(kReturnPart, [&](uint8_t* r, std::size_t i) { r[rec::kReturnBits] = returnBits[i]; });
    each(kBytesPart, [&](uint8_t* r, std::size_t i) {
        r[rec::kClassification] = classification[i];
        r[rec::kScanAngle] = scanAngle[i];
        r[rec::kUserData] = userData[i];
        le::StoreU16(r + rec::kPointSourceId, pointSource[i]);
    });
    if (rec::HasGpsTime(format)) {
        each(kGpsPart, [&](uint8_t* r, std::size_t i) { le::StoreU64(r + rec::kGpsTime, static_cast<uint64_t>(gpsBits[i])); });
    }
    if (rec::HasRgb(format)) {
        const std::size_t rgbAt = rec::RgbOffset(format);
        each(kRgbPart, [&](uint8_t* r, std::size_t i) {
            for (int c = 0; c < 3; ++c) le::StoreU16(r + rgbAt + 2 * c, rgb[c][i]);
        });
    }
}
