// The one description of every point format, and where the parts of a LAS
// file of any version lie.
#include <gtest/gtest.h>

#include <map>

#include "TestSupport.h"
#include "las/LasException.h"
#include "las/LasLayout.h"
#include "las/LasMessages.h"
#include "las/PointFormat.h"

using testsupport::ReadAll;

namespace {

// Where the fields every user of the description relies on lie, written out
// from the LAS formats' published layouts rather than from the code.
TEST(PointFormat, EveryFormatsFieldsLieWhereTheLasFormatPutsThem) {
    struct Expected {
        uint8_t format;
        std::size_t length;
        std::map<FieldRole, std::size_t> at;
    };
    const Expected formats[] = {
        {0, 20, {{FieldRole::ReturnByte, 14}, {FieldRole::ScanAngleRank, 16}, {FieldRole::PointSourceId, 18}}},
        {1, 28, {{FieldRole::GpsTime, 20}}},
        {2, 26, {{FieldRole::Red, 20}, {FieldRole::Blue, 24}}},
        {3, 34, {{FieldRole::GpsTime, 20}, {FieldRole::Red, 28}}},
        {4, 57, {{FieldRole::WavePacketIndex, 28}, {FieldRole::WaveDataOffset, 29}, {FieldRole::WaveZt, 53}}},
        {5, 63, {{FieldRole::Blue, 32}, {FieldRole::WavePacketIndex, 34}, {FieldRole::WavePacketSize, 43}}},
        {6, 30, {{FieldRole::ReturnsByte, 14}, {FieldRole::FlagsByte, 15}, {FieldRole::Classification, 16},
                 {FieldRole::UserData, 17}, {FieldRole::ScanAngle, 18}, {FieldRole::PointSourceId, 20},
                 {FieldRole::GpsTime, 22}}},
        {7, 36, {{FieldRole::Red, 30}, {FieldRole::Blue, 34}}},
        {8, 38, {{FieldRole::Nir, 36}}},
        {9, 59, {{FieldRole::WavePacketIndex, 30}, {FieldRole::WaveReturnLocation, 43}}},
        {10, 67, {{FieldRole::Nir, 36}, {FieldRole::WavePacketIndex, 38}, {FieldRole::WaveZt, 63}}},
    };
    for (const Expected& e : formats) {
        const PointLayout layout = DescribePoints(e.format, e.length);
        EXPECT_EQ(layout.standardLength, e.length) << int(e.format);
        // The fields tile the record: no gap, no overlap, nothing left over.
        std::size_t next = 0;
        for (const PointField& f : layout.fields) {
            EXPECT_EQ(f.offset, next) << int(e.format) << " " << f.name;
            EXPECT_GT(f.size, 0u) << f.name;
            next = f.offset + f.size;
        }
        EXPECT_EQ(next, e.length) << int(e.format);
        for (const auto& [role, offset] : e.at) {
            const PointField* f = layout.Find(role);
            ASSERT_NE(f, nullptr) << int(e.format);
            EXPECT_EQ(f->offset, offset) << int(e.format) << " " << f->name;
        }
        EXPECT_EQ(layout.Find(FieldRole::Extra), nullptr);
    }
    // The bit fields of the flag bytes cover them exactly.
    for (uint8_t format : {0, 6}) {
        for (const PointField& f : DescribePoints(format, StandardLength(format)).fields) {
            unsigned covered = 0;
            for (const BitField& b : f.bits) {
                const unsigned mask = ((1u << b.width) - 1) << b.shift;
                EXPECT_EQ(covered & mask, 0u) << f.name << " " << b.name;
                covered |= mask;
            }
            if (!f.bits.empty() && f.role != FieldRole::ReturnsByte) {
                EXPECT_EQ(covered, 0xFFu) << f.name;
            }
        }
    }
    EXPECT_FALSE(IsKnownPointFormat(11));
    EXPECT_TRUE(DescribePoints(6, 29).fields.empty()) << "a record shorter than its format's has no layout";
}

// An Extra Bytes VLR of descriptors: each 192 bytes, type at 2, options at 3,
// name at 4.
std::vector<uint8_t> Descriptors(const std::vector<std::pair<uint8_t, std::string>>& fields, uint8_t options = 0) {
    std::vector<uint8_t> vlr;
    for (const auto& [type, name] : fields) {
        std::vector<uint8_t> d(192, 0);
        d[2] = type;
        d[3] = options;
        std::copy(name.begin(), name.end(), d.begin() + 4);
        vlr.insert(vlr.end(), d.begin(), d.end());
    }
    return vlr;
}

TEST(PointFormat, ExtraBytesAreTypedWhereTheirVlrDescribesThemExactly) {
    // A float, a pair of 16-bit integers, and 3 undescribed bytes.
    auto vlr = Descriptors({{9, "height"}, {14, "pair"}});
    auto bytes = Descriptors({{0, "pad"}}, 3);
    vlr.insert(vlr.end(), bytes.begin(), bytes.end());
    const PointLayout described = DescribePoints(1, 28 + 4 + 4 + 3, vlr);
    ASSERT_EQ(described.fields.size(), 10u + 4u);
    const auto* height = &described.fields[10];
    EXPECT_EQ(height->name, "height");
    EXPECT_EQ(height->type, FieldType::F32);
    EXPECT_EQ(height->offset, 28u);
    EXPECT_EQ(described.fields[11].name, "pair[0]");
    EXPECT_EQ(described.fields[12].type, FieldType::I16);
    EXPECT_EQ(described.fields[12].offset, 34u);
    EXPECT_EQ(described.fields[13].size, 3u);

    // Descriptors that do not account for the bytes describe nothing: the
    // bytes are one undescribed field, as with no VLR at all.
    for (const auto& wrong : {Descriptors({{9, "height"}}), Descriptors({{31, "unknown type"}}), std::vector<uint8_t>{}}) {
        const PointLayout l = DescribePoints(6, 30 + 8, wrong);
        ASSERT_EQ(l.fields.back().role, FieldRole::Extra);
        EXPECT_EQ(l.fields.back().type, FieldType::Bytes);
        EXPECT_EQ(l.fields.back().offset, 30u);
        EXPECT_EQ(l.fields.back().size, 8u);
    }
}

struct Facts {
    const char* file;
    uint8_t minor;
    uint8_t format;
    uint64_t points;
    int64_t tail;
    uint32_t evlrs;
};

TEST(LasLayout, TellsThePartsOfRealFilesOfEveryVersion) {
    VELMORA_REQUIRE_CORPUS(corpus);
    const Facts facts[] = {
        {"beyond/v10_gap_small.las", 0, 1, 8, 0, 0},
        {"beyond/v12_header229.las", 2, 0, 1, 0, 0},
        {"beyond/v13_format4_waveform.las", 3, 4, 999, 160, 0},
        {"beyond/v14_format10_fullwave.las", 4, 10, 10750, 0, 0},
        {"beyond/v14_format6_evlr.las", 4, 6, 1000, 76, 1},
        {"beyond/v14_format7_simple.las", 4, 7, 22600, 217, 1},
        {"beyond/v14_format3_extrabytes.las", 4, 3, 1065, 0, 0},
        {"autzen_trim.las", 2, 3, 110000, 0, 0},
    };
    for (const Facts& f : facts) {
        const auto bytes = ReadAll(corpus + "/" + f.file);
        const LasFileLayout l = ReadLasLayout(bytes.data(), std::min(bytes.size(), kLasLayoutBytes),
                                              static_cast<int64_t>(bytes.size()));
        EXPECT_EQ(l.versionMinor, f.minor) << f.file;
        EXPECT_EQ(l.PointFormat(), f.format) << f.file;
        EXPECT_EQ(l.pointCount, f.points) << f.file;
        EXPECT_EQ(l.TailBytes(), f.tail) << f.file;
        EXPECT_EQ(l.evlrCount, f.evlrs) << f.file;
        if (f.evlrs > 0) {
            EXPECT_GE(static_cast<int64_t>(l.evlrStart), l.PointsEnd()) << f.file;
        }
    }
    // Extra bytes described by the file's own VLR.
    const auto bytes = ReadAll(corpus + "/beyond/v14_format3_extrabytes.las");
    const LasFileLayout l = ReadLasLayout(bytes.data(), kLasLayoutBytes, static_cast<int64_t>(bytes.size()));
    const auto vlr = FindExtraBytesVlr(bytes.data() + l.headerSize, l.offsetToPoints - l.headerSize, l.vlrCount);
    const PointLayout points = DescribePoints(l.PointFormat(), l.recordLength, vlr);
    std::size_t described = 0;
    for (const PointField& field : points.fields) {
        if (field.role == FieldRole::Extra && field.type != FieldType::Bytes) ++described;
    }
    EXPECT_GT(described, 1u);
}

TEST(LasLayout, RefusesWhatCannotBeCutIntoParts) {
    VELMORA_REQUIRE_CORPUS(corpus);
    const auto good = ReadAll(corpus + "/beyond/v14_format7_simple.las");
    auto layout = [](std::vector<uint8_t> b) {
        return testsupport::MessageOf([&] {
            ReadLasLayout(b.data(), std::min(b.size(), kLasLayoutBytes), static_cast<int64_t>(b.size()));
        });
    };
    EXPECT_EQ(layout(good), "");
    auto notLas = good;
    notLas[0] = 'X';
    EXPECT_EQ(layout(notLas), lasmsg::kSignature.text);
    EXPECT_EQ(layout(std::vector<uint8_t>(good.begin(), good.begin() + 200)), lasmsg::kShortHeader.text);
    // Cut inside the points: the bytes after them (here an EVLR) are not
    // enough to make up for the missing records.
    EXPECT_EQ(layout(std::vector<uint8_t>(good.begin(), good.begin() + 571 + 22600 * 36 - 1)), lasmsg::kTruncated.text);
    auto shortRecords = good;
    shortRecords[105] = 35;  // format 7 needs 36
    EXPECT_EQ(layout(shortRecords), lasmsg::kShortRecords.text);
    // A count so large that count x length wraps 64 bits is still too many.
    auto huge = good;
    for (int i = 0; i < 8; ++i) huge[247 + i] = 0xFF;
    EXPECT_EQ(layout(huge), lasmsg::kTruncated.text);
    auto offset = good;
    offset[98] = 0x7F;  // offset to points far past the end
    EXPECT_EQ(layout(offset), lasmsg::kPointOffset.text);
}

}  // namespace
