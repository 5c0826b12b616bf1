#pragma once

#include <cstddef>
#include <cstdint>

#include "las/ByteOrder.h"
#include "las/LasPoint.h"

// Typed, inlined access to the record bytes of one window of point objects.
// The codecs read and set attributes through it with exactly the results of
// the LASPoint accessors, without a virtual call per attribute and point.
struct PointView {
    uint8_t* base = nullptr;
    std::size_t stride = 0;
    std::size_t count = 0;
    int format = 0;

    uint8_t* Rec(std::size_t i) const { return base + i * stride; }

    int32_t X(std::size_t i) const { return le::LoadI32(Rec(i) + rec::kX); }
    int32_t Y(std::size_t i) const { return le::LoadI32(Rec(i) + rec::kY); }
    int32_t Z(std::size_t i) const { return le::LoadI32(Rec(i) + rec::kZ); }
    void SetX(std::size_t i, int32_t v) const { le::StoreI32(Rec(i) + rec::kX, v); }
    void SetY(std::size_t i, int32_t v) const { le::StoreI32(Rec(i) + rec::kY, v); }
    void SetZ(std::size_t i, int32_t v) const { le::StoreI32(Rec(i) + rec::kZ, v); }

    uint16_t Intensity(std::size_t i) const { return le::LoadU16(Rec(i) + rec::kIntensity); }
    void SetIntensity(std::size_t i, uint16_t v) const { le::StoreU16(Rec(i) + rec::kIntensity, v); }
    uint16_t PointSourceId(std::size_t i) const { return le::LoadU16(Rec(i) + rec::kPointSourceId); }
    void SetPointSourceId(std::size_t i, uint16_t v) const {
        le::StoreU16(Rec(i) + rec::kPointSourceId, v);
    }

    uint8_t& Byte(std::size_t i, std::size_t offset) const { return Rec(i)[offset]; }

    int64_t GpsBits(std::size_t i) const {
        return static_cast<int64_t>(le::LoadU64(Rec(i) + rec::kGpsTime));
    }
    void SetGpsBits(std::size_t i, int64_t v) const {
        le::StoreU64(Rec(i) + rec::kGpsTime, static_cast<uint64_t>(v));
    }
    // channel 0, 1, 2: red, green, blue
    uint16_t Color(std::size_t i, int channel) const {
        return le::LoadU16(Rec(i) + rec::RgbOffset(format) + 2 * channel);
    }
    void SetColor(std::size_t i, int channel, uint16_t v) const {
        le::StoreU16(Rec(i) + rec::RgbOffset(format) + 2 * channel, v);
    }
};

// A bit field of one byte of the record: the return bits hold the return
// number (bits 0-2), number of returns (3-5), scan direction (6) and edge of
// flight line (7); the other small attributes are whole bytes.
struct ByteField {
    std::size_t offset;
    unsigned shift;
    uint8_t mask;  // of the field's value, before shifting

    uint8_t Get(const PointView& v, std::size_t i) const {
        return static_cast<uint8_t>((v.Byte(i, offset) >> shift) & mask);
    }
    // Keeps only the field's bits of value, like the LASPoint setters.
    void Set(const PointView& v, std::size_t i, uint8_t value) const {
        uint8_t& b = v.Byte(i, offset);
        b = static_cast<uint8_t>((b & ~(mask << shift)) | ((value & mask) << shift));
    }
};
