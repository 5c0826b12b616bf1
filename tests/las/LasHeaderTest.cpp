#include <gtest/gtest.h>

#include <cstring>

#include "las/Invariant.h"
#include "las/LasHeader.h"

namespace {

TEST(LasHeader, RealignsTheFileImageIntoTheStoredLayout) {
    uint8_t file[LasHeader::kFileSize];
    for (std::size_t i = 0; i < sizeof file; ++i) file[i] = static_cast<uint8_t>(i + 1);
    const LasHeader h = LasHeader::FromFileImage(file);

    for (std::size_t i = 0; i <= 104; ++i) EXPECT_EQ(h.bytes[i], i + 1) << "offset " << i;
    EXPECT_EQ(h.bytes[105], 0) << "first padding gap is written as zero";
    for (std::size_t i = 106; i <= 131; ++i) EXPECT_EQ(h.bytes[i], i) << "offset " << i;
    for (std::size_t i = 132; i <= 135; ++i) EXPECT_EQ(h.bytes[i], 0) << "offset " << i;
    for (std::size_t i = 136; i <= 231; ++i) EXPECT_EQ(h.bytes[i], i - 4) << "offset " << i;

    uint8_t back[LasHeader::kFileSize];
    h.ToFileImage(back);
    EXPECT_EQ(0, std::memcmp(file, back, sizeof file));
}

TEST(LasHeader, FieldsAfterThePointFormatAreReadFromTheirAlignedPlaces) {
    uint8_t file[LasHeader::kFileSize] = {};
    file[24] = 1;
    file[25] = 2;
    file[94] = 227;                 // header size
    file[96] = 0x10; file[97] = 2;  // offset to point data 0x210
    file[100] = 7;                  // VLRs
    file[104] = 3;                  // format
    file[105] = 34;                 // record length, file offset 105
    file[107] = 0x40; file[108] = 0x42; file[109] = 0x0F;  // 1,000,000 points
    const double scale = 0.001;
    std::memcpy(file + 131, &scale, 8);  // X scale factor

    const LasHeader h = LasHeader::FromFileImage(file);
    EXPECT_EQ(h.VersionMajor(), 1);
    EXPECT_EQ(h.VersionMinor(), 2);
    EXPECT_EQ(h.HeaderSize(), 227);
    EXPECT_EQ(h.OffsetToPointData(), 0x210u);
    EXPECT_EQ(h.NumberOfVlrs(), 7u);
    EXPECT_EQ(h.PointDataFormat(), 3);
    EXPECT_EQ(h.PointDataRecordLength(), 34);
    EXPECT_EQ(h.NumberOfPointRecords(), 1000000u);
    EXPECT_EQ(h.GetDouble(LasHeader::kScaleX), 0.001);
    EXPECT_EQ(h.Gap(), 0x210 - 227);
}

TEST(LasHeader, StandardRecordLengths) {
    EXPECT_EQ(StandardRecordLength(0), 20);
    EXPECT_EQ(StandardRecordLength(1), 28);
    EXPECT_EQ(StandardRecordLength(2), 26);
    EXPECT_EQ(StandardRecordLength(3), 34);
    EXPECT_EQ(StandardRecordLength(4), 0);
}

}  // namespace

// Invariants stop a build made to find faults at once, and cost a release
// build nothing: there the condition is not even evaluated.
TEST(Invariants, AreCheckedInCheckingBuildsOnly) {
    int evaluated = 0;
#ifdef VELMORA_CHECKS
    EXPECT_DEATH(VELMORA_ASSERT(++evaluated == 5), "invariant broken: \\+\\+evaluated == 5");
    VELMORA_ASSERT(++evaluated == 1);
    EXPECT_EQ(evaluated, 1);
#else
    VELMORA_ASSERT(++evaluated == 5);
    EXPECT_EQ(evaluated, 0);
#endif
}
