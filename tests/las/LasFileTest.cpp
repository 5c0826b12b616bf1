#include <gtest/gtest.h>

#include "AllocationProbe.h"

#include <cstring>
#include <filesystem>

#include "LasCopy.h"
#include "LasGenerator.h"
#include "TestLas.h"
#include "TestSupport.h"
#include "las/FileIo.h"
#include "las/LasAdmission.h"
#include "las/LasException.h"
#include "las/ByteOrder.h"
#include "las/LasFile.h"
#include "las/LasMessages.h"

using testsupport::BuildLas;
using testsupport::LasBuild;
using testsupport::MakeVlr;
using testsupport::MessageOf;
using testsupport::ReadAll;
using testsupport::TempDir;
using testsupport::WriteAll;

namespace {

std::vector<uint8_t> CopyBack(const TempDir& dir, const std::vector<uint8_t>& las) {
    WriteAll(dir.File("in.las"), las);
    CopyLasThroughWindows(dir.File("in.las"), dir.File("out.las"), 7);
    return ReadAll(dir.File("out.las"));
}

TEST(LasFileHeader, ShortAndMissingFilesGiveTheirMessages) {
    TempDir dir;
    WriteAll(dir.File("short.las"), std::vector<uint8_t>(226, 0));
    CLasFile f;
    f.SetFileName(dir.File("short.las"));
    EXPECT_EQ(MessageOf([&] { f.ReadHeader(); }), lasmsg::kReadHeader.text);
    EXPECT_EQ(f.Header(), nullptr) << "a failed read leaves no header";

    f.SetFileName(dir.File("missing.las"));
    EXPECT_EQ(MessageOf([&] { f.ReadHeader(); }), lasmsg::kReadOpen.text);
}

TEST(LasFileHeader, WritingIntoAMissingFolderFails) {
    TempDir dir;
    CLasFile f;
    f.SetHeader(std::make_unique<LasHeader>());
    f.SetFileName(dir.File("no/such/folder/out.las"));
    EXPECT_EQ(MessageOf([&] { f.WriteHeader(); }), lasmsg::kWriteOpen.text);
}

TEST(LasFileVlrs, TwoVlrsAreOneBlockWithATableOfTwo) {
    TempDir dir;
    LasBuild b;
    b.declaredVlrs = 2;
    auto v1 = MakeVlr(1, 30, 0xAA);
    auto v2 = MakeVlr(2, 5, 0xBB);
    b.gap = v1;
    b.gap.insert(b.gap.end(), v2.begin(), v2.end());
    b.points = 3;
    const auto las = BuildLas(b);
    WriteAll(dir.File("a.las"), las);

    CLasFile f;
    f.SetFileName(dir.File("a.las"));
    f.ReadHeader();
    uint8_t* const* table = f.ReadVlrs();
    ASSERT_NE(table, nullptr);
    ASSERT_EQ(f.VlrTableSize(), 2u);
    EXPECT_EQ(table[0], f.VlrBlock().data());
    EXPECT_EQ(table[1], f.VlrBlock().data() + 54 + 30);
    EXPECT_EQ(f.VlrBlock().size(), b.gap.size());
    EXPECT_EQ(f.Header()->Marker(), 'L');
    EXPECT_EQ(CopyBack(dir, las), las);
}

TEST(LasFileVlrs, GapWithoutVlrsIsHeldAsOneBlockAndTheHeaderStaysAsItIs) {
    TempDir dir;
    LasBuild b;
    b.gap = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
    b.points = 2;
    const auto las = BuildLas(b);
    WriteAll(dir.File("a.las"), las);

    CLasFile f;
    f.SetFileName(dir.File("a.las"));
    f.ReadHeader();
    f.ReadVlrs();
    // How an archive entry announces such a block is the entry's business.
    EXPECT_EQ(f.Header()->Marker(), 'L');
    EXPECT_EQ(f.Header()->NumberOfVlrs(), 0u);
    EXPECT_TRUE(f.HasVlrBlock());
    EXPECT_EQ(f.VlrTableSize(), 0u);
    EXPECT_EQ(f.VlrBlock(), b.gap);

    // Written back, the file declares no VLRs and has its ten bytes again.
    const auto back = CopyBack(dir, las);
    EXPECT_EQ(back, las);
    EXPECT_EQ(back[100], 0);
}

TEST(LasFileVlrs, GapsOfOneAndTwoBytesComeBackUnchanged) {
    TempDir dir;
    for (std::vector<uint8_t> gap : {std::vector<uint8_t>{0x42}, std::vector<uint8_t>{0, 0},
                                     std::vector<uint8_t>{0xDD, 0xCC}}) {
        LasBuild b;
        b.versionMinor = 0;
        b.gap = gap;
        b.points = 4;
        const auto las = BuildLas(b);
        EXPECT_EQ(CopyBack(dir, las), las) << "gap of " << gap.size() << " bytes";
    }
}

TEST(LasFileVlrs, HeaderWithNoBlockAndATwoByteGapGetsTheStartSignature) {
    // An entry written elsewhere carries no block for a 2-byte gap: the
    // LAS 1.0 signature is written in its place.
    TempDir dir;
    LasBuild b;
    b.gap = {0, 0};
    const auto las = BuildLas(b);
    uint8_t image[227];
    std::memcpy(image, las.data(), 227);
    CLasFile f;
    f.SetHeader(std::make_unique<LasHeader>(LasHeader::FromFileImage(image)));
    f.SetFileName(dir.File("sig.las"));
    f.WriteHeader();
    f.WriteVlrs();
    const auto out = ReadAll(dir.File("sig.las"));
    ASSERT_EQ(out.size(), 229u);
    EXPECT_EQ(out[227], 0xDD);
    EXPECT_EQ(out[228], 0xCC);
}

TEST(LasFileVlrs, DeclaredCountsBeyondTheBlockBuildOnlyWhatFits) {
    TempDir dir;
    {
        LasBuild b;  // a billion VLRs declared, no bytes for them
        b.declaredVlrs = 1069128089;
        b.points = 2;
        WriteAll(dir.File("g.las"), BuildLas(b));
        CLasFile f;
        f.SetFileName(dir.File("g.las"));
        f.ReadHeader();
        f.ReadVlrs();
        EXPECT_EQ(f.VlrTableSize(), 0u);
        EXPECT_TRUE(f.VlrBlock().empty());
        EXPECT_EQ(f.Header()->NumberOfVlrs(), 1069128089u) << "the header is kept as it was";
    }
    {
        LasBuild b;  // three declared, two fit
        b.declaredVlrs = 3;
        auto v1 = MakeVlr(1, 10, 1);
        auto v2 = MakeVlr(2, 20, 2);
        b.gap = v1;
        b.gap.insert(b.gap.end(), v2.begin(), v2.end());
        b.points = 1;
        const auto las = BuildLas(b);
        WriteAll(dir.File("b.las"), las);
        CLasFile f;
        f.SetFileName(dir.File("b.las"));
        f.ReadHeader();
        f.ReadVlrs();
        EXPECT_EQ(f.VlrTableSize(), 2u);
        EXPECT_EQ(CopyBack(dir, las), las);
    }
    {
        LasBuild b;  // a VLR whose length runs past the block
        b.declaredVlrs = 2;
        b.gap = MakeVlr(1, 10, 1);
        b.gap[20] = 0xFF;
        b.gap[21] = 0xFF;
        b.points = 1;
        WriteAll(dir.File("c.las"), BuildLas(b));
        CLasFile f;
        f.SetFileName(dir.File("c.las"));
        f.ReadHeader();
        f.ReadVlrs();
        EXPECT_EQ(f.VlrTableSize(), 1u);
    }
}

TEST(LasFileVlrs, AGapLargerThanTheFileIsRefusedBeforeAllocating) {
    TempDir dir;
    LasBuild b;
    b.declaredVlrs = 1;
    b.points = 1;
    auto las = BuildLas(b);
    las[96] = 0xF0;
    las[97] = 0xFF;
    las[98] = 0xFF;
    las[99] = 0xFF;  // offset to point data near 4 GiB
    WriteAll(dir.File("a.las"), las);
    CLasFile f;
    f.SetFileName(dir.File("a.las"));
    f.ReadHeader();
    std::string message;
    EXPECT_LT(testsupport::LargestAllocationDuring([&] { message = MessageOf([&] { f.ReadVlrs(); }); }),
              std::size_t{1} << 16);
    EXPECT_EQ(message, lasmsg::kReadVlr.text);
}

TEST(LasFilePoints, ReadPointsTakesRecordsFromTheRightOffset) {
    TempDir dir;
    LasBuild b;
    b.format = 1;
    b.declaredVlrs = 1;
    b.gap = MakeVlr(9, 3, 0);
    b.points = 20;
    const auto las = BuildLas(b);
    WriteAll(dir.File("a.las"), las);

    CLasFile f;
    f.SetFileName(dir.File("a.las"));
    f.ReadHeader();
    LASPoint** pts = f.ReadPoints(10, 5);
    ASSERT_NE(pts, nullptr);
    ASSERT_EQ(f.PointCount(), 10u);
    const std::size_t base = 227 + b.gap.size();
    for (int k = 0; k < 10; ++k) {
        EXPECT_EQ(0, std::memcmp(pts[k]->Record(), &las[base + (5 + k) * 28], 28)) << "record " << 5 + k;
    }
    EXPECT_EQ(MessageOf([&] { f.ReadPoints(10, 11); }), lasmsg::kReadPoints.text)
        << "records past the end of the file";
}

TEST(LasFilePoints, ReadPointsOnAFileWithoutPointsReturnsNull) {
    TempDir dir;
    LasBuild b;
    WriteAll(dir.File("a.las"), BuildLas(b));
    CLasFile f;
    f.SetFileName(dir.File("a.las"));
    f.ReadHeader();
    EXPECT_EQ(f.ReadPoints(10, 0), nullptr);
}

TEST(LasFilePoints, WritePointsCountsProgressInHundredths) {
    TempDir dir;
    struct Case { uint32_t n; int expected; } cases[] = {{150, 150}, {1000000, 100}, {50, 1}, {100, 100}};
    for (const Case& c : cases) {
        CLasFile f;
        auto h = std::make_unique<LasHeader>();
        h->SetU16(LasHeader::kPointDataRecordLength, 20);
        h->SetNumberOfPointRecords(c.n);
        f.SetHeader(std::move(h));
        f.SetFileName(dir.File("p.las"));
        f.WriteHeader();
        f.CreatePointObjects();
        f.Points()[c.n - 1]->SetX(12345);
        int counter = -7;
        f.WritePoints(&counter);
        EXPECT_EQ(counter, c.expected) << c.n << " points";
        EXPECT_EQ(FileSizeOf(dir.File("p.las")), 227 + 20 * static_cast<int64_t>(c.n));
        const auto bytes = ReadAll(dir.File("p.las"));
        EXPECT_EQ(bytes[227 + 20 * (c.n - 1)], 12345 & 0xFF) << "last record written in place";
    }
}

TEST(LasFilePoints, ClearLeavesEverythingEmpty) {
    TempDir dir;
    LasBuild b;
    b.declaredVlrs = 1;
    b.gap = MakeVlr(1, 4, 0);
    b.points = 5;
    WriteAll(dir.File("a.las"), BuildLas(b));
    CLasFile f;
    f.SetFileName(dir.File("a.las"));
    f.ReadHeader();
    f.ReadVlrs();
    f.ReadPoints(5, 0);
    f.Clear();
    EXPECT_EQ(f.Header(), nullptr);
    EXPECT_EQ(f.Points(), nullptr);
    EXPECT_EQ(f.VlrTable(), nullptr);
    EXPECT_FALSE(f.HasVlrBlock());
    EXPECT_TRUE(f.FileName().empty());
}

TEST(LasAdmission, RefusesWhatCannotComeBackIdentical) {
    struct Case {
        const char* what;
        LasBuild build;
        const char* message;
    };
    std::vector<Case> cases;
    auto base = [] {
        LasBuild b;
        b.points = 3;
        return b;
    };
    { auto b = base(); b.versionMinor = 3; cases.push_back({"LAS 1.3", b, lasmsg::kVersion.text}); }
    { auto b = base(); b.versionMajor = 2; b.versionMinor = 0; cases.push_back({"LAS 2.0", b, lasmsg::kVersion.text}); }
    { auto b = base(); b.points = 0; cases.push_back({"no points", b, lasmsg::kZeroPoints.text}); }
    { auto b = base(); b.format = 6; b.recordLength = 30; cases.push_back({"format 6", b, lasmsg::kPointFormat.text}); }
    { auto b = base(); b.headerSize = 235; cases.push_back({"header 235", b, lasmsg::kHeaderSize.text}); }
    { auto b = base(); b.recordLength = 24; cases.push_back({"extra bytes", b, lasmsg::kRecordLength.text}); }
    { auto b = base(); b.declaredPoints = 4; cases.push_back({"short file", b, lasmsg::kTruncated.text}); }
    { auto b = base(); b.trailing = {1}; cases.push_back({"trailing byte", b, lasmsg::kTrailingBytes.text}); }
    { auto b = base(); b.points = 1; b.gap = {7, 7, 7}; cases.push_back({"one point after a gap", b, lasmsg::kSinglePointGap.text}); }

    TempDir dir;
    for (const Case& c : cases) {
        const auto las = BuildLas(c.build);
        uint8_t image[227];
        std::memcpy(image, las.data(), 227);
        const LasHeader h = LasHeader::FromFileImage(image);
        try {
            CheckLasAdmission(h, static_cast<int64_t>(las.size()));
            ADD_FAILURE() << c.what << " was admitted";
        } catch (const CLasException& e) {
            EXPECT_STREQ(e.Message(), c.message) << c.what;
            EXPECT_TRUE(e.canContinue) << c.what;
        }
    }
    // Cases a LasBuild cannot state: bytes of the header changed afterwards.
    auto admit = [](std::vector<uint8_t> las) {
        uint8_t image[227];
        std::memcpy(image, las.data(), 227);
        return MessageOf([&] {
            CheckLasAdmission(LasHeader::FromFileImage(image), static_cast<int64_t>(las.size()));
        });
    };
    auto las = BuildLas(base());
    auto pastTheEnd = las;
    le::StoreU32(pastTheEnd.data() + 96, static_cast<uint32_t>(las.size() + 1));
    EXPECT_EQ(admit(pastTheEnd), lasmsg::kPointOffset.text);
    auto atTheEnd = las;
    le::StoreU32(atTheEnd.data() + 96, static_cast<uint32_t>(las.size()));
    EXPECT_EQ(admit(atTheEnd), lasmsg::kTruncated.text) << "no room left for the points";
    for (const uint8_t first : {'V', 'O', 'X'}) {
        auto signature = las;
        signature[0] = first;
        EXPECT_EQ(admit(signature), lasmsg::kSignature.text) << first;
    }
    // And the ordinary case passes.
    EXPECT_EQ(admit(las), "");
}

TEST(LasFileVlrs, AVlrHeaderEndingExactlyAtTheBlockEndIsInTheTable) {
    TempDir dir;
    for (const std::size_t blockBytes : {std::size_t{54}, std::size_t{53}}) {
        LasBuild b;
        b.points = 2;
        b.declaredVlrs = 1;
        auto vlr = MakeVlr(7, 0, 1);
        vlr.resize(blockBytes);
        b.gap = vlr;
        WriteAll(dir.File("a.las"), BuildLas(b));
        CLasFile f;
        f.SetFileName(dir.File("a.las"));
        f.ReadHeader();
        f.ReadVlrs();
        EXPECT_EQ(f.VlrTableSize(), blockBytes == 54 ? 1u : 0u) << blockBytes;
        EXPECT_EQ(f.VlrBlock().size(), blockBytes);
    }
}

TEST(LasFilePoints, RecordsBeyondTheFileAreRefusedBeforeAnythingIsAllocated) {
    TempDir dir;
    LasBuild b;
    b.format = 3;
    b.points = 5;
    b.declaredPoints = 4000000000LL;
    WriteAll(dir.File("a.las"), BuildLas(b));
    CLasFile f;
    f.SetFileName(dir.File("a.las"));
    f.ReadHeader();
    std::vector<uint8_t> out;
    std::string message;
    EXPECT_LT(testsupport::LargestAllocationDuring([&] {
                  message = MessageOf([&] { f.ReadRecords(4000000000u, 0, out); });
              }),
              std::size_t{1} << 20);
    EXPECT_EQ(message, lasmsg::kReadPoints.text);
    EXPECT_LT(testsupport::LargestAllocationDuring([&] {
                  message = MessageOf([&] { f.ReadPoints(4000000000u, 0); });
              }),
              std::size_t{1} << 20);
    EXPECT_EQ(message, lasmsg::kReadPoints.text);
    // One record too many is one too many.
    EXPECT_EQ(MessageOf([&] { f.ReadPoints(6, 0); }), lasmsg::kReadPoints.text);
    EXPECT_EQ(MessageOf([&] { f.ReadPoints(1, 5); }), lasmsg::kReadPoints.text);
    EXPECT_NE(f.ReadPoints(1, 4), nullptr);
}

TEST(LasGenerator, IsDeterministicAndReadable) {
    TempDir dir;
    for (int format = 0; format <= 3; ++format) {
        LasGenOptions o;
        o.points = 5000;
        o.format = format;
        o.seed = 42;
        ASSERT_TRUE(GenerateLasFile(dir.File("a.las"), o));
        ASSERT_TRUE(GenerateLasFile(dir.File("b.las"), o));
        const auto a = ReadAll(dir.File("a.las"));
        EXPECT_EQ(a, ReadAll(dir.File("b.las")));
        CLasFile f;
        f.SetFileName(dir.File("a.las"));
        LasHeader* h = f.ReadHeader();
        EXPECT_NO_THROW(CheckLasAdmission(*h, static_cast<int64_t>(a.size())));
        EXPECT_EQ(h->NumberOfPointRecords(), 5000u);
        EXPECT_EQ(h->NumberOfVlrs(), 3u);
        f.ReadVlrs();
        EXPECT_EQ(f.VlrTableSize(), 3u);
        LASPoint** p = f.ReadPoints(5000, 0);
        int flips = 0, multi = 0;
        for (int i = 1; i < 5000; ++i) {
            flips += p[i]->GetScanDirectionFlag() != p[i - 1]->GetScanDirectionFlag();
            multi += p[i]->GetNumberOfReturns() > 1;
            if (format == 1 || format == 3) {
                EXPECT_GE(p[i]->GetGpsTime(), p[i - 1]->GetGpsTime());
            }
        }
        EXPECT_GT(flips, 5) << "scan lines change direction";
        EXPECT_GT(multi, 100) << "some pulses have several returns";
        EXPECT_EQ(CopyBack(dir, a), a);
    }
    LasGenOptions other;
    other.points = 5000;
    other.seed = 43;
    ASSERT_TRUE(GenerateLasFile(dir.File("c.las"), other));
    LasGenOptions same = other;
    same.seed = 42;
    ASSERT_TRUE(GenerateLasFile(dir.File("d.las"), same));
    EXPECT_NE(ReadAll(dir.File("c.las")), ReadAll(dir.File("d.las")));
}

// The tests' own reading of files, which every comparison of bytes rests on:
// a file whole, with bytes of every value and a size not a power of two,
// and nothing at all for a file that is not there.
TEST(TestFiles, AreReadWholeAndAMissingOneAsNothing) {
    TempDir dir;
    std::vector<uint8_t> bytes(70001);
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i * 7 + i / 256);
    WriteAll(dir.File("some.bin"), bytes);
    EXPECT_EQ(ReadAll(dir.File("some.bin")), bytes);
    WriteAll(dir.File("empty.bin"), {});
    EXPECT_TRUE(ReadAll(dir.File("empty.bin")).empty());
    EXPECT_TRUE(ReadAll(dir.File("missing.bin")).empty());
}

}  // namespace
