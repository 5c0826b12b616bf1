#include <gtest/gtest.h>

#include <climits>

#include "TestSupport.h"
#include "engine/ByteStreamCoder.h"
#include "engine/InputWindow.h"
#include "engine/ProcessorCode.h"
#include "engine/ValueBlockCoder.h"
#include "las/FileIo.h"

using testsupport::TempDir;
using testsupport::WriteAll;

namespace {

std::vector<uint8_t> Stream(const std::vector<uint8_t>& bytes) {
    std::vector<uint8_t> out;
    bytestream::EncodeByteStream(bytes.data(), bytes.size(), out, ProcessorCode::Detected().encoder);
    return out;
}

void Append(std::vector<uint8_t>& dst, const std::vector<uint8_t>& src) {
    dst.insert(dst.end(), src.begin(), src.end());
}

std::vector<int32_t> Decode(const std::vector<uint8_t>& bytes, std::size_t count, int64_t* end = nullptr) {
    TempDir dir;
    WriteAll(dir.File("b"), bytes);
    CFile f(dir.File("b"), "rb");
    InputWindow in(f);
    std::vector<int32_t> v(count);
    valueblock::DecodeValueBlock(in, v.data(), count, ProcessorCode::Detected().decoder);
    if (end) *end = in.Position();
    return v;
}

TEST(ValueBlock, SplitsSignLengthAndBytePlanes) {
    std::vector<int32_t> values = {100, 5, -300, 0, 70000};
    const std::vector<int32_t> original = values;
    std::vector<uint8_t> block;
    valueblock::EncodeValueBlock(values.data(), values.size(), block, ProcessorCode::Detected().encoder);

    std::vector<uint8_t> expected = {0x64, 0, 0, 0};
    Append(expected, Stream({2, 5, 0, 6}));
    Append(expected, {3, 0, 0, 0});
    Append(expected, Stream({0x05, 0x2C, 0x70}));
    Append(expected, {2, 0, 0, 0});
    Append(expected, Stream({0x01, 0x11}));
    Append(expected, {1, 0, 0, 0});
    Append(expected, Stream({0x01}));
    EXPECT_EQ(block, expected);

    int64_t end = 0;
    auto bytes = block;
    bytes.push_back(0x77);
    EXPECT_EQ(Decode(bytes, 5, &end), original);
    EXPECT_EQ(end, static_cast<int64_t>(block.size()));
}

TEST(ValueBlock, AllZeroAfterTheFirstIsOneHeaderStream) {
    std::vector<int32_t> values(1000, 0);
    values[0] = -17;  // a negative first value is stored whole
    std::vector<uint8_t> block;
    valueblock::EncodeValueBlock(values.data(), values.size(), block, ProcessorCode::Detected().encoder);
    std::vector<uint8_t> expected = {0xEF, 0xFF, 0xFF, 0xFF};
    Append(expected, Stream(std::vector<uint8_t>(999, 0)));
    EXPECT_EQ(block, expected);
    EXPECT_EQ(Decode(block, 1000)[0], -17);
}

TEST(ValueBlock, MostNegativeValueIsASignWithoutMagnitude) {
    std::vector<int32_t> values = {3, INT32_MIN, -1, INT32_MAX, 1};
    const auto original = values;
    std::vector<uint8_t> block;
    valueblock::EncodeValueBlock(values.data(), values.size(), block, ProcessorCode::Detected().encoder);
    std::vector<uint8_t> expected = {3, 0, 0, 0};
    Append(expected, Stream({1, 3, 8, 2}));  // INT32_MIN: sign 1, length 0
    EXPECT_EQ(std::vector<uint8_t>(block.begin(), block.begin() + static_cast<long>(expected.size())), expected);
    EXPECT_EQ(Decode(block, values.size()), original);
}

TEST(ValueBlock, RandomValuesOfEveryLengthComeBack) {
    std::vector<int32_t> values(20000);
    uint64_t s = 99;
    for (auto& v : values) {
        s = s * 6364136223846793005ull + 1442695040888963407ull;
        const int shift = static_cast<int>((s >> 60) % 32);
        v = static_cast<int32_t>(static_cast<uint32_t>(s >> 16) >> shift);
        if (s & 1) v = -v;
    }
    const auto original = values;
    std::vector<uint8_t> block;
    valueblock::EncodeValueBlock(values.data(), values.size(), block, ProcessorCode::Detected().encoder);
    EXPECT_EQ(Decode(block, values.size()), original);
}

}  // namespace

TEST(ValueBlock, LaidOutSizeIsWhatAppendToWritesForEveryNumberOfPlanes) {
    // Values reaching zero to four planes: the size said ahead must be the
    // size laid out, or the room taken for it is wrong.
    const int32_t reach[] = {0, 0x7F, 0x7FFF, 0x7FFFFF, 0x7FFFFFFF};
    for (int planes = 0; planes <= 4; ++planes) {
        std::vector<int32_t> values(3000);
        for (std::size_t i = 0; i < values.size(); ++i) {
            values[i] = (i % 7 == 0) ? reach[planes] : static_cast<int32_t>(i % 3) - 1;
            if (planes == 0) values[i] = 0;
        }
        valueblock::CBlockWriter w;
        valueblock::SplitCursor c = w.Begin(values.size(), values[0]);
        for (std::size_t i = 1; i < values.size(); ++i) c.Add(values[i]);
        w.End(c);
        std::vector<bytestream::EncodeRequest> requests;
        w.AddRequests(requests);
        bytestream::EncodeByteStreams(requests.data(), requests.size(), ProcessorCode::Detected().encoder);
        CByteBuffer out;
        out.Append("head", 4);
        const std::size_t said = w.LaidOutSize();
        out.Reserve(out.Size() + said);
        const uint8_t* before = out.Data();
        w.AppendTo(out);
        EXPECT_EQ(out.Size(), 4 + said) << planes << " planes";
        EXPECT_EQ(out.Data(), before) << planes << " planes: the reserved room was enough";
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(out.Data()), 4), "head");
        const std::vector<uint8_t> laid(out.Data() + 4, out.Data() + out.Size());
        EXPECT_EQ(Decode(laid, values.size()), values) << planes << " planes";
    }
}
