#pragma once

#include <cstddef>
#include <cstdint>

// One point of a LAS file behind one accessor interface, so that a single
// codec serves every point format. Attributes a format lacks read as zero and
// ignore writes. Objects keep the record bytes exactly as in the file.
class LASPoint {
public:
    virtual ~LASPoint() = default;
    virtual int GetFormat() const = 0;
    virtual int32_t GetX() const = 0;
    virtual int32_t GetY() const = 0;
    virtual int32_t GetZ() const = 0;
    virtual uint16_t GetIntensity() const = 0;
    virtual uint8_t GetReturnNumber() const = 0;
    virtual uint8_t GetNumberOfReturns() const = 0;
    virtual uint8_t GetScanDirectionFlag() const = 0;
    virtual uint8_t GetEdgeOfFlightLine() const = 0;
    virtual uint8_t GetClassification() const = 0;
    virtual int8_t GetScanAngleRank() const = 0;
    virtual uint8_t GetUserData() const = 0;
    virtual uint16_t GetPointSourceId() const = 0;
    virtual double GetGpsTime() const = 0;
    virtual int64_t GetGpsTimeBits() const = 0;
    virtual uint16_t GetRed() const = 0;
    virtual uint16_t GetGreen() const = 0;
    virtual uint16_t GetBlue() const = 0;
    virtual bool IsSynthetic() const = 0;
    virtual bool IsKeyPoint() const = 0;
    virtual bool IsWithheld() const = 0;
    virtual void SetX(int32_t v) = 0;
    virtual void SetY(int32_t v) = 0;
    virtual void SetZ(int32_t v) = 0;
    virtual void SetIntensity(uint16_t v) = 0;
    virtual void SetReturnNumber(uint8_t v) = 0;
    virtual void SetNumberOfReturns(uint8_t v) = 0;
    virtual void SetScanDirectionFlag(uint8_t v) = 0;
    virtual void SetEdgeOfFlightLine(uint8_t v) = 0;
    virtual void SetClassification(uint8_t v) = 0;
    virtual void SetScanAngleRank(int8_t v) = 0;
    virtual void SetUserData(uint8_t v) = 0;
    virtual void SetPointSourceId(uint16_t v) = 0;
    virtual void SetGpsTime(double v) = 0;
    virtual void SetGpsTimeBits(int64_t bits) = 0;
    virtual void SetRed(uint16_t v) = 0;
    virtual void SetGreen(uint16_t v) = 0;
    virtual void SetBlue(uint16_t v) = 0;
    virtual void SetSynthetic(bool v) = 0;
    virtual void SetKeyPoint(bool v) = 0;
    virtual void SetWithheld(bool v) = 0;

    // The record bytes, for whole-record reads and writes.
    virtual uint8_t* Record() = 0;
    virtual const uint8_t* Record() const = 0;
    virtual std::size_t RecordSize() const = 0;
};

// Field offsets inside a point record, shared by every format.
namespace rec {
inline constexpr std::size_t kX = 0, kY = 4, kZ = 8, kIntensity = 12, kReturnBits = 14,
                             kClassification = 15, kScanAngle = 16, kUserData = 17,
                             kPointSourceId = 18, kGpsTime = 20;

constexpr std::size_t RecordSize(int format) {
    return format == 0 ? 20 : format == 1 ? 28 : format == 2 ? 26 : 34;
}
constexpr bool HasGpsTime(int format) { return format == 1 || format == 3; }
constexpr bool HasRgb(int format) { return format == 2 || format == 3; }
// Offset of red; green and blue follow 2 and 4 bytes later.
constexpr std::size_t RgbOffset(int format) { return format == 2 ? 20 : 28; }
}  // namespace rec

template <int Format>
class LASPointT final : public LASPoint {
    static_assert(Format >= 0 && Format <= 3);

public:
    static constexpr std::size_t kRecordSize = rec::RecordSize(Format);

    LASPointT() : record{} {}

    int GetFormat() const override { return Format; }
    int32_t GetX() const override;
    int32_t GetY() const override;
    int32_t GetZ() const override;
    uint16_t GetIntensity() const override;
    uint8_t GetReturnNumber() const override { return record[rec::kReturnBits] & 0x07; }
    uint8_t GetNumberOfReturns() const override { return (record[rec::kReturnBits] >> 3) & 0x07; }
    uint8_t GetScanDirectionFlag() const override { return (record[rec::kReturnBits] >> 6) & 1; }
    uint8_t GetEdgeOfFlightLine() const override { return (record[rec::kReturnBits] >> 7) & 1; }
    uint8_t GetClassification() const override { return record[rec::kClassification]; }
    int8_t GetScanAngleRank() const override {
        return static_cast<int8_t>(record[rec::kScanAngle]);
    }
    uint8_t GetUserData() const override { return record[rec::kUserData]; }
    uint16_t GetPointSourceId() const override;
    double GetGpsTime() const override;
    int64_t GetGpsTimeBits() const override;
    uint16_t GetRed() const override { return Rgb(0); }
    uint16_t GetGreen() const override { return Rgb(1); }
    uint16_t GetBlue() const override { return Rgb(2); }
    bool IsSynthetic() const override { return (record[rec::kClassification] & 0x20) != 0; }
    bool IsKeyPoint() const override { return (record[rec::kClassification] & 0x40) != 0; }
    bool IsWithheld() const override { return (record[rec::kClassification] & 0x80) != 0; }

    void SetX(int32_t v) override;
    void SetY(int32_t v) override;
    void SetZ(int32_t v) override;
    void SetIntensity(uint16_t v) override;
    void SetReturnNumber(uint8_t v) override { SetBits(0, 0x07, v); }
    void SetNumberOfReturns(uint8_t v) override { SetBits(3, 0x07, v); }
    void SetScanDirectionFlag(uint8_t v) override { SetBits(6, 0x01, v); }
    void SetEdgeOfFlightLine(uint8_t v) override { SetBits(7, 0x01, v); }
    void SetClassification(uint8_t v) override { record[rec::kClassification] = v; }
    void SetScanAngleRank(int8_t v) override {
        record[rec::kScanAngle] = static_cast<uint8_t>(v);
    }
    void SetUserData(uint8_t v) override { record[rec::kUserData] = v; }
    void SetPointSourceId(uint16_t v) override;
    void SetGpsTime(double v) override;
    void SetGpsTimeBits(int64_t bits) override;
    void SetRed(uint16_t v) override { SetRgb(0, v); }
    void SetGreen(uint16_t v) override { SetRgb(1, v); }
    void SetBlue(uint16_t v) override { SetRgb(2, v); }
    void SetSynthetic(bool v) override { SetClassBit(0x20, v); }
    void SetKeyPoint(bool v) override { SetClassBit(0x40, v); }
    void SetWithheld(bool v) override { SetClassBit(0x80, v); }

    uint8_t* Record() override { return record; }
    const uint8_t* Record() const override { return record; }
    std::size_t RecordSize() const override { return kRecordSize; }

    uint8_t record[kRecordSize];

private:
    // Replaces only the field's bits of the return byte; a value wider than
    // the field is masked, never spilled into its neighbours.
    void SetBits(int shift, uint8_t mask, uint8_t v) {
        uint8_t& b = record[rec::kReturnBits];
        b = static_cast<uint8_t>((b & ~(mask << shift)) | ((v & mask) << shift));
    }
    void SetClassBit(uint8_t bit, bool on) {
        uint8_t& b = record[rec::kClassification];
        b = on ? static_cast<uint8_t>(b | bit) : static_cast<uint8_t>(b & ~bit);
    }
    uint16_t Rgb(int channel) const;
    void SetRgb(int channel, uint16_t v);
};

using LASPoint0 = LASPointT<0>;
using LASPoint1 = LASPointT<1>;
using LASPoint2 = LASPointT<2>;
using LASPoint3 = LASPointT<3>;

extern template class LASPointT<0>;
extern template class LASPointT<1>;
extern template class LASPointT<2>;
extern template class LASPointT<3>;
