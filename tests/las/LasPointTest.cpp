#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <memory>

#include "las/LasPoint.h"

namespace {

std::unique_ptr<LASPoint> Make(int format) {
    switch (format) {
        case 0: return std::make_unique<LASPoint0>();
        case 1: return std::make_unique<LASPoint1>();
        case 2: return std::make_unique<LASPoint2>();
        default: return std::make_unique<LASPoint3>();
    }
}

TEST(LasPoint, BitFieldSettersMaskTheirValueAndKeepTheNeighbours) {
    LASPoint0 p;
    p.record[14] = 0xFF;
    p.SetReturnNumber(9);  // only the low three bits: 1
    EXPECT_EQ(p.record[14], 0xF9);
    EXPECT_EQ(p.GetReturnNumber(), 1);

    p.record[14] = 0;
    p.SetEdgeOfFlightLine(3);
    EXPECT_EQ(p.record[14], 0x80);
    p.SetNumberOfReturns(0xFF);
    EXPECT_EQ(p.record[14], 0x80 | 0x38);
    EXPECT_EQ(p.GetNumberOfReturns(), 7);
    p.SetScanDirectionFlag(2);  // bit 0 of 2 is clear
    EXPECT_EQ(p.GetScanDirectionFlag(), 0);
    p.SetScanDirectionFlag(1);
    EXPECT_EQ(p.record[14], 0x80 | 0x38 | 0x40);
    p.SetReturnNumber(5);
    EXPECT_EQ(p.GetReturnNumber(), 5);
    EXPECT_EQ(p.GetNumberOfReturns(), 7);
    EXPECT_EQ(p.GetEdgeOfFlightLine(), 1);
}

TEST(LasPoint, ClassificationFlagsAreBitsOfTheWholeByte) {
    LASPoint1 p;
    p.SetClassification(2 | 0x20 | 0x80);
    EXPECT_TRUE(p.IsSynthetic());
    EXPECT_FALSE(p.IsKeyPoint());
    EXPECT_TRUE(p.IsWithheld());
    p.SetSynthetic(false);
    p.SetKeyPoint(true);
    EXPECT_EQ(p.GetClassification(), 2 | 0x40 | 0x80);
}

TEST(LasPoint, FieldsLieAtTheirRecordOffsets) {
    LASPoint3 p;
    p.SetX(-2);
    p.SetY(0x01020304);
    p.SetZ(7);
    p.SetIntensity(0xBEEF);
    p.SetScanAngleRank(-10);
    p.SetUserData(0x55);
    p.SetPointSourceId(0x1234);
    p.SetRed(0x1111);
    p.SetGreen(0x2222);
    p.SetBlue(0x3333);
    const uint8_t expectX[4] = {0xFE, 0xFF, 0xFF, 0xFF};
    EXPECT_EQ(0, std::memcmp(p.record, expectX, 4));
    EXPECT_EQ(p.record[4], 0x04);
    EXPECT_EQ(p.record[7], 0x01);
    EXPECT_EQ(p.record[12], 0xEF);
    EXPECT_EQ(p.record[13], 0xBE);
    EXPECT_EQ(p.record[16], 0xF6);
    EXPECT_EQ(p.record[17], 0x55);
    EXPECT_EQ(p.record[18], 0x34);
    EXPECT_EQ(p.record[28], 0x11);
    EXPECT_EQ(p.record[30], 0x22);
    EXPECT_EQ(p.record[32], 0x33);
    EXPECT_EQ(p.GetScanAngleRank(), -10);
    EXPECT_EQ(p.GetX(), -2);

    LASPoint2 c;
    c.SetRed(0xABCD);
    EXPECT_EQ(c.record[20], 0xCD);
    EXPECT_EQ(c.record[21], 0xAB);
}

TEST(LasPoint, AttributesAFormatLacksReadAsZeroAndIgnoreWrites) {
    for (int f = 0; f <= 3; ++f) {
        auto p = Make(f);
        EXPECT_EQ(p->GetFormat(), f);
        p->SetGpsTime(12.5);
        p->SetRed(7);
        p->SetGreen(8);
        p->SetBlue(9);
        const bool gps = f == 1 || f == 3;
        const bool rgb = f == 2 || f == 3;
        EXPECT_EQ(p->GetGpsTime(), gps ? 12.5 : 0.0) << "format " << f;
        EXPECT_EQ(p->GetRed(), rgb ? 7 : 0) << "format " << f;
        EXPECT_EQ(p->GetBlue(), rgb ? 9 : 0) << "format " << f;
        // Nothing was written past the record either.
        EXPECT_EQ(p->RecordSize(), static_cast<std::size_t>(f == 0 ? 20 : f == 1 ? 28 : f == 2 ? 26 : 34));
    }
}

TEST(LasPoint, GpsTimeBitPatternsSurviveIncludingSignallingNaNs) {
    const int64_t patterns[] = {
        0x7FF0000000000001LL,                       // signalling NaN
        static_cast<int64_t>(0xFFF4000000000123ULL),  // negative signalling NaN
        0x7FF8000000000000LL,                       // quiet NaN
        0,
        -1,
    };
    for (int64_t bits : patterns) {
        LASPoint1 p;
        p.SetGpsTimeBits(bits);
        EXPECT_EQ(p.GetGpsTimeBits(), bits);
        uint64_t stored;
        std::memcpy(&stored, p.record + 20, 8);
        EXPECT_EQ(stored, static_cast<uint64_t>(bits));
    }
    LASPoint3 q;
    q.SetGpsTime(1234.5);
    double d;
    const int64_t bits = q.GetGpsTimeBits();
    std::memcpy(&d, &bits, 8);
    EXPECT_EQ(d, 1234.5);
}

}  // namespace
