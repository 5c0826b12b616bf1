#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

// The public header block of a LAS 1.0-1.2 file as the program holds it: a
// 232-byte image with the file's 227 bytes realigned so that the 32-bit and
// 64-bit fields after the point format sit on their natural boundaries. The
// image is stored verbatim at the head of every archive entry, so the offsets
// below are a stored format.
class LasHeader {
public:
    static constexpr std::size_t kImageSize = 232;
    static constexpr std::size_t kFileSize = 227;

    // Offsets inside the 232-byte image.
    enum Offset : std::size_t {
        kSignature = 0,
        kVersionMajor = 24,
        kVersionMinor = 25,
        kHeaderSize = 94,
        kOffsetToPointData = 96,
        kNumberOfVlrs = 100,
        kPointDataFormat = 104,
        kPadding1 = 105,
        kPointDataRecordLength = 106,
        kNumberOfPointRecords = 108,
        kPointsByReturn = 112,
        kPadding2 = 132,
        kScaleX = 136,
        kOffsetX = 160,
        kMaxX = 184,
        kMinX = 192,
        kMaxY = 200,
        kMinY = 208,
        kMaxZ = 216,
        kMinZ = 224,
    };

    LasHeader() { bytes.fill(0); }

    // Builds the image from the 227 bytes of a LAS file header. The padding
    // gaps are zero, so the stored image does not depend on neighbouring bytes.
    static LasHeader FromFileImage(const uint8_t* file227);
    // The 227 bytes to write to a LAS file (the two gaps left out).
    void ToFileImage(uint8_t* out227) const;

    // The first byte of the signature, which other formats holding the
    // image may use for a mark of their own.
    uint8_t Marker() const { return bytes[kSignature]; }
    void SetMarker(uint8_t m) { bytes[kSignature] = m; }

    uint8_t VersionMajor() const { return bytes[kVersionMajor]; }
    uint8_t VersionMinor() const { return bytes[kVersionMinor]; }
    uint16_t HeaderSize() const;
    uint32_t OffsetToPointData() const;
    uint32_t NumberOfVlrs() const;
    void SetNumberOfVlrs(uint32_t n);
    uint8_t PointDataFormat() const { return bytes[kPointDataFormat]; }
    uint16_t PointDataRecordLength() const;
    uint32_t NumberOfPointRecords() const;
    void SetNumberOfPointRecords(uint32_t n);
    double GetDouble(std::size_t offset) const;
    void SetDouble(std::size_t offset, double v);
    void SetU16(std::size_t offset, uint16_t v);
    void SetU32(std::size_t offset, uint32_t v);

    // Bytes between the header and the point data. Negative on a damaged
    // file whose point data would start inside the header.
    int64_t Gap() const {
        return static_cast<int64_t>(OffsetToPointData()) - static_cast<int64_t>(HeaderSize());
    }

    std::array<uint8_t, kImageSize> bytes;
};

// Standard record length of point formats 0 to 3, or 0 for any other format.
uint16_t StandardRecordLength(uint8_t pointFormat);
