// The details pane's arithmetic and texts, without a window: the picture's
// frame, colours and scale bar, the sampling of points from LAS files and
// archive entries, the facts' texts and the kept pictures.
#include <gtest/gtest.h>

#include <QDateTime>
#include <QFile>
#include <QString>

#include <cmath>
#include <cstring>
#include <thread>

#include "GuiFixture.h"
#include "LasGenerator.h"
#include "TestSupport.h"
#include "listview/DetailsLogic.h"
#include "listview/ListMessages.h"
#include "listview/PointPreview.h"
#include "listview/PreviewRun.h"
#include "velmora/velmora.hpp"

using namespace preview;

namespace {
QString S(const char* s) { return QString::fromUtf8(s); }
}  // namespace

TEST(ScaleBarTest, TheLongestRoundLengthThatFits) {
    EXPECT_DOUBLE_EQ(ScaleBarLength(1000), 1000);
    EXPECT_DOUBLE_EQ(ScaleBarLength(999), 500);
    EXPECT_DOUBLE_EQ(ScaleBarLength(4.99), 2);
    EXPECT_DOUBLE_EQ(ScaleBarLength(5), 5);
    EXPECT_DOUBLE_EQ(ScaleBarLength(1.99), 1);
    EXPECT_DOUBLE_EQ(ScaleBarLength(0.3), 0.2);
    EXPECT_DOUBLE_EQ(ScaleBarLength(0.001), 0.001);
    EXPECT_DOUBLE_EQ(ScaleBarLength(73000), 50000);
    EXPECT_EQ(ScaleBarLength(0), 0);
    EXPECT_EQ(ScaleBarLength(-3), 0);
    EXPECT_EQ(ScaleBarLength(std::nan("")), 0);
    EXPECT_EQ(ScaleBarLength(INFINITY), 0);
    // Over many decades: a mantissa of 1, 2 or 5, never longer than
    // allowed, and never less than two fifths of it.
    for (double max = 1e-4; max < 1e7; max *= 1.37) {
        const double len = ScaleBarLength(max);
        ASSERT_LE(len, max * (1 + 1e-12)) << max;
        ASSERT_GE(len, max * 0.4 * (1 - 1e-12)) << max;
        const double mantissa = len / std::pow(10.0, std::floor(std::log10(len) + 1e-9));
        ASSERT_TRUE(std::fabs(mantissa - 1) < 1e-9 || std::fabs(mantissa - 2) < 1e-9 || std::fabs(mantissa - 5) < 1e-9)
            << max << " gives " << len;
    }
}

TEST(ScaleBarTest, LabelInTheFilesUnits) {
    EXPECT_EQ(listview::ScaleBarText(500), S("500 units"));
    EXPECT_EQ(listview::ScaleBarText(20000), S("20000 units"));
    EXPECT_EQ(listview::ScaleBarText(0.2), S("0.2 units"));
    EXPECT_EQ(listview::ScaleBarText(0.005), S("0.005 units"));
    // In the unit the file's coordinate system names.
    EXPECT_EQ(listview::ScaleBarText(500, "metre"), S("500 m"));
    EXPECT_EQ(listview::ScaleBarText(200, "US survey foot"), S("200 ft (US)"));
    EXPECT_EQ(listview::ScaleBarText(200, "foot"), S("200 ft"));
    EXPECT_EQ(listview::ScaleBarText(0.01, "degree"), S("0.01 \u00b0"));
    EXPECT_EQ(listview::ScaleBarText(5, "Clarke's link"), S("5 Clarke's link"));
}

TEST(RampTest, EndsAndClamping) {
    const Rgb low = RampColour(0), high = RampColour(1);
    EXPECT_EQ(low, (Rgb{38, 70, 160}));
    EXPECT_EQ(high, (Rgb{190, 40, 30}));
    EXPECT_EQ(RampColour(-2), low);
    EXPECT_EQ(RampColour(7), high);
    EXPECT_EQ(RampColour(std::nan("")), low);
    // Low ground is blue, high ground red.
    EXPECT_GT(low.b, low.r);
    EXPECT_GT(high.r, high.b);
    EXPECT_EQ(ElevationColour(100, 100, 300), low);
    EXPECT_EQ(ElevationColour(300, 100, 300), high);
    EXPECT_EQ(ElevationColour(200, 100, 300), RampColour(0.5));
    EXPECT_EQ(ElevationColour(5, 7, 7), RampColour(0.5));  // nothing to spread over
    // Neighbouring steps of the ramp differ little: it has no jumps.
    for (int i = 0; i < 100; ++i) {
        const Rgb a = RampColour(i / 100.0), b = RampColour((i + 1) / 100.0);
        ASSERT_LE(std::abs(a.r - b.r) + std::abs(a.g - b.g) + std::abs(a.b - b.b), 30) << i;
    }
}

TEST(FrameTest, KeepsTheAspectWithYUp) {
    const Frame wide = FitFrame(1000, 5000, 1200, 5100, 768, 768);
    EXPECT_EQ(wide.width, 768);
    EXPECT_EQ(wide.height, 384);
    const Frame tall = FitFrame(0, 0, 100, 400, 768, 768);
    EXPECT_EQ(tall.width, 192);
    EXPECT_EQ(tall.height, 768);
    // The four corners of the extent land on the picture's corners, the
    // highest y on the top row.
    int c = -1, r = -1;
    ASSERT_TRUE(ToPixel(wide, 1000, 5000, &c, &r));
    EXPECT_EQ(c, 0);
    EXPECT_EQ(r, 383);
    ASSERT_TRUE(ToPixel(wide, 1200, 5100, &c, &r));
    EXPECT_EQ(c, 767);
    EXPECT_EQ(r, 0);
    ASSERT_TRUE(ToPixel(wide, 1000, 5100, &c, &r));
    EXPECT_EQ(c, 0);
    EXPECT_EQ(r, 0);
    // Equal lengths on both axes take equal numbers of pixels.
    ASSERT_TRUE(ToPixel(wide, 1050.1, 5050.1, &c, &r));
    EXPECT_EQ(c, 192);
    EXPECT_EQ(r, 383 - 192);
    EXPECT_FALSE(ToPixel(wide, 1300, 5050, &c, &r));
    EXPECT_FALSE(ToPixel(wide, 1100, 4000, &c, &r));
    EXPECT_FALSE(ToPixel(wide, std::nan(""), 5050, &c, &r));
}

TEST(FrameTest, DegenerateAndUnusableExtents) {
    const Frame point = FitFrame(7, 7, 7, 7, 768, 768);
    EXPECT_EQ(point.width, 1);
    EXPECT_EQ(point.height, 1);
    const Frame line = FitFrame(0, 3, 50, 3, 768, 768);
    EXPECT_EQ(line.width, 768);
    EXPECT_EQ(line.height, 1);
    EXPECT_FALSE(FitFrame(10, 0, 5, 1, 768, 768).Valid());  // reversed
    EXPECT_FALSE(FitFrame(0, 0, INFINITY, 1, 768, 768).Valid());
    EXPECT_FALSE(FitFrame(0, std::nan(""), 1, 1, 768, 768).Valid());
    EXPECT_FALSE(FitFrame(0, 0, 1e300, 1, 768, 768).Valid());
    int c = 0, r = 0;
    EXPECT_FALSE(ToPixel(Frame{}, 0, 0, &c, &r));
}

TEST(SamplingTest, StrideKeepsAtMostTheLimit) {
    EXPECT_EQ(SampleStride(0, kMaxSamples), 1u);
    EXPECT_EQ(SampleStride(100, kMaxSamples), 1u);
    EXPECT_EQ(SampleStride(500000, 250000), 2u);
    EXPECT_EQ(SampleStride(500001, 250000), 3u);
    EXPECT_EQ(SampleStride(3300000, 250000), 14u);
    for (uint64_t n : {1ull, 249999ull, 250000ull, 250001ull, 3300000ull, 9999999999ull}) {
        const uint64_t stride = SampleStride(n, 250000);
        EXPECT_LE((n + stride - 1) / stride, 250000u) << n;
        // No smaller stride would do.
        if (stride > 1) {
            EXPECT_GT((n + stride - 2) / (stride - 1), 250000u) << n;
        }
    }
    EXPECT_EQ(ColourShift(0), 0);
    EXPECT_EQ(ColourShift(255), 0);
    EXPECT_EQ(ColourShift(256), 8);
    EXPECT_EQ(ColourShift(65535), 8);
}

TEST(SamplingTest, FewSamplesAreDrawnLarger) {
    EXPECT_EQ(DotSize(768, 768, kMaxSamples), 1);
    EXPECT_EQ(DotSize(768, 384, 5), 4);
    EXPECT_EQ(DotSize(768, 384, 0), 1);
    EXPECT_GE(DotSize(768, 768, 20000), 1);
    EXPECT_LE(DotSize(768, 768, 20000), DotSize(768, 768, 2000));
}

TEST(RasterTest, TheHighestPointOfAPixelIsSeenAndTheRestStaysEmpty) {
    CRaster raster;
    const Frame f = FitFrame(0, 0, 100, 50, 100, 100);
    ASSERT_EQ(f.width, 100);
    ASSERT_EQ(f.height, 50);
    raster.Reset(f, CRaster::Colouring::Elevation, 0, 30, 0, 1);
    const Sample low{10.2, 10.2, 0, 0, 0, 0}, high{10.7, 10.7, 30, 0, 0, 0};
    // In either order the higher point is on top.
    raster.Draw(&high, 1);
    raster.Draw(&low, 1);
    const uint32_t expected = 0xFF000000u | 190u << 16 | 40u << 8 | 30u;
    EXPECT_EQ(raster.At(10, 39), expected);
    raster.Reset(f, CRaster::Colouring::Elevation, 0, 30, 0, 1);
    raster.Draw(&low, 1);
    raster.Draw(&high, 1);
    EXPECT_EQ(raster.At(10, 39), expected);
    EXPECT_EQ(raster.Drawn(), 2u);
    std::size_t coloured = 0;
    for (uint32_t p : raster.Pixels()) coloured += p != 0;
    EXPECT_EQ(coloured, 1u);
    // Outside the frame: not drawn.
    const Sample away{500, 10, 0, 0, 0, 0};
    raster.Draw(&away, 1);
    EXPECT_EQ(raster.Drawn(), 2u);
}

TEST(RasterTest, OwnColoursAndDots) {
    CRaster raster;
    const Frame f = FitFrame(0, 0, 100, 100, 100, 100);
    const Sample red{50, 50, 1, 65535, 0, 0}, green{5, 95, 1, 0, 200, 0};
    raster.Reset(f, CRaster::Colouring::Rgb, 0, 1, 8, 3);
    raster.Draw(&red, 1);
    EXPECT_EQ(raster.At(50, 49), 0xFFFF0000u);
    // A dot of three pixels around its centre, nothing beyond.
    EXPECT_EQ(raster.At(49, 48), 0xFFFF0000u);
    EXPECT_EQ(raster.At(51, 50), 0xFFFF0000u);
    EXPECT_EQ(raster.At(52, 49), 0u);
    EXPECT_EQ(raster.At(50, 51), 0u);
    // 8-bit values are taken as they are.
    raster.Reset(f, CRaster::Colouring::Rgb, 0, 1, 0, 1);
    raster.Draw(&green, 1);
    EXPECT_EQ(raster.At(5, 4), 0xFF00C800u);
}

namespace {

// A LAS file of the generator's, and an archive holding it.
struct Generated {
    testsupport::TempDir dir;
    std::string las, archive;
    explicit Generated(const LasGenOptions& o) : las(dir.File("g.las")), archive(dir.File("g.vmra")) {
        EXPECT_TRUE(GenerateLasFile(las, o));
        EXPECT_TRUE(velmora::Archive::Compress({las}, archive).allSucceeded);
    }
};

struct Outcome {
    CPreviewRun::State state = CPreviewRun::State::Running;
    std::optional<velmora::HeaderFacts> facts;
    bool colour = false;
    std::vector<Sample> samples;
    std::string error;
    uint64_t read = 0;
};

Outcome RunToEnd(const Target& t, std::size_t most = kMaxSamples) {
    CPreviewRun run(t, most);
    run.Run();
    const CPreviewRun::News n = run.Take();
    return {n.state, n.facts, n.colour, n.samples, n.error, n.pointsRead};
}

// A little-endian number of a file's bytes, at its offset.
template <class T>
T ValueAt(const std::vector<uint8_t>& bytes, std::size_t offset) {
    T v;
    std::memcpy(&v, bytes.data() + offset, sizeof v);
    return v;
}

void ExpectSameSamples(const std::vector<Sample>& a, const std::vector<Sample>& b) {
    ASSERT_EQ(a.size(), b.size());
    for (std::size_t i = 0; i < a.size(); ++i) {
        ASSERT_EQ(a[i].x, b[i].x) << i;
        ASSERT_EQ(a[i].y, b[i].y) << i;
        ASSERT_EQ(a[i].z, b[i].z) << i;
        ASSERT_EQ(a[i].red, b[i].red) << i;
        ASSERT_EQ(a[i].green, b[i].green) << i;
        ASSERT_EQ(a[i].blue, b[i].blue) << i;
    }
}

}  // namespace

// The same points sampled from the LAS file (read as it lies on disk) and
// from its entry (decoded from the archive), every stride-th of them, with
// their coordinates within the header's bounds.
TEST(PreviewRunTest, AFileAndItsEntryGiveTheSameSample) {
    LasGenOptions o;
    o.points = 150000;
    o.format = 3;
    Generated g(o);
    const Outcome file = RunToEnd({g.las, "", -1}, 1000);
    const Outcome entry = RunToEnd({g.archive, "g.las", 0}, 1000);
    ASSERT_EQ(file.state, CPreviewRun::State::Done) << file.error;
    ASSERT_EQ(entry.state, CPreviewRun::State::Done) << entry.error;
    EXPECT_EQ(file.read, 150000u);
    EXPECT_EQ(entry.read, 150000u);
    EXPECT_TRUE(file.colour);
    // Stride 150: 1000 points, the first and the last taken at 0 and 149850.
    ASSERT_EQ(file.samples.size(), 1000u);
    ExpectSameSamples(file.samples, entry.samples);

    const velmora::HeaderFacts facts = velmora::ReadLasHeader(g.las);
    bool colours = false;
    for (const Sample& s : file.samples) {
        ASSERT_GE(s.x, facts.minimum[0] - 1e-9);
        ASSERT_LE(s.x, facts.maximum[0] + 1e-9);
        ASSERT_GE(s.y, facts.minimum[1] - 1e-9);
        ASSERT_LE(s.y, facts.maximum[1] + 1e-9);
        ASSERT_GE(s.z, facts.minimum[2] - 1e-9);
        ASSERT_LE(s.z, facts.maximum[2] + 1e-9);
        colours |= s.red != 0 || s.green != 0 || s.blue != 0;
    }
    EXPECT_TRUE(colours);

    // The first record's coordinates, read here from the file's bytes.
    const std::vector<uint8_t> bytes = testsupport::ReadAll(g.las);
    const std::size_t first = ValueAt<uint32_t>(bytes, 96);  // the offset to the point data
    EXPECT_DOUBLE_EQ(file.samples[0].x, ValueAt<int32_t>(bytes, first) * facts.scale[0] + facts.offset[0]);
    EXPECT_DOUBLE_EQ(file.samples[0].y, ValueAt<int32_t>(bytes, first + 4) * facts.scale[1] + facts.offset[1]);
    EXPECT_DOUBLE_EQ(file.samples[0].z, ValueAt<int32_t>(bytes, first + 8) * facts.scale[2] + facts.offset[2]);
    const std::size_t second = first + 150 * facts.recordLength;
    EXPECT_DOUBLE_EQ(file.samples[1].x, ValueAt<int32_t>(bytes, second) * facts.scale[0] + facts.offset[0]);
    // With their colours.
    EXPECT_EQ(file.samples[1].red, ValueAt<uint16_t>(bytes, second + 28));
    EXPECT_EQ(file.samples[1].blue, ValueAt<uint16_t>(bytes, second + 32));
}

// The facts come with the first look, equal to those of the file itself.
TEST(PreviewRunTest, FactsOfTheEntryAreTheFilesAndAFormatWithoutColourHasNone) {
    LasGenOptions o;
    o.points = 3000;
    o.format = 1;
    Generated g(o);
    const Outcome entry = RunToEnd({g.archive, "g.las", -1});
    ASSERT_EQ(entry.state, CPreviewRun::State::Done) << entry.error;
    ASSERT_TRUE(entry.facts);
    EXPECT_FALSE(entry.colour);
    EXPECT_EQ(entry.samples.size(), 3000u);
    const velmora::HeaderFacts file = velmora::ReadLasHeader(g.las);
    EXPECT_EQ(entry.facts->pointCount, file.pointCount);
    EXPECT_EQ(listview::DescribeFacts(*entry.facts).rows.size(), listview::DescribeFacts(file).rows.size());
    for (const listview::FactRow& r : listview::DescribeFacts(file).rows)
        EXPECT_EQ(listview::DescribeFacts(*entry.facts).Value(r.label), r.value) << r.label;
    for (const Sample& s : entry.samples) ASSERT_EQ(s.red + s.green + s.blue, 0);
}

TEST(PreviewRunTest, ACancelBeforeTheStartReadsNoPoints) {
    LasGenOptions o;
    o.points = 2000;
    Generated g(o);
    for (const Target& t : {Target{g.las, "", -1}, Target{g.archive, "g.las", -1}}) {
        CPreviewRun run(t);
        run.Cancel();
        run.Run();
        const CPreviewRun::News n = run.Take();
        EXPECT_EQ(n.state, CPreviewRun::State::Cancelled);
        EXPECT_TRUE(n.samples.empty());
        EXPECT_EQ(n.pointsRead, 0u);
        EXPECT_TRUE(run.WaitEnded(0));
    }
}

TEST(PreviewRunTest, FailuresEndTheRunWithTheirText) {
    testsupport::TempDir dir;
    const Outcome missing = RunToEnd({dir.File("none.las"), "", -1});
    EXPECT_EQ(missing.state, CPreviewRun::State::Failed);
    EXPECT_FALSE(missing.facts);
    // The library's words, without the name the pane's title shows.
    std::string said;
    try {
        velmora::ReadLasHeader(dir.File("none.las"));
    } catch (const velmora::Error& e) {
        said = e.what();
    }
    EXPECT_FALSE(missing.error.empty());
    EXPECT_EQ(velmora::EscapeName(dir.File("none.las")) + ": " + missing.error, said);

    testsupport::WriteAll(dir.File("text.las"), std::vector<uint8_t>(400, 'x'));
    const Outcome text = RunToEnd({dir.File("text.las"), "", -1});
    EXPECT_EQ(text.state, CPreviewRun::State::Failed);
    EXPECT_FALSE(text.error.empty());

    LasGenOptions o;
    o.points = 500;
    Generated g(o);
    const Outcome noEntry = RunToEnd({g.archive, "other.las", -1});
    EXPECT_EQ(noEntry.state, CPreviewRun::State::Failed);
    EXPECT_FALSE(noEntry.error.empty());

    // Stopped first, as the window stops the reading of an entry it is
    // about to delete: the entry being gone is then no failure to tell.
    CPreviewRun stopped({g.archive, "other.las", -1});
    stopped.Cancel();
    stopped.Run();
    const CPreviewRun::News n = stopped.Take();
    EXPECT_EQ(n.state, CPreviewRun::State::Cancelled);
    EXPECT_TRUE(n.error.empty());
}

// Point format 11 is no format: the header is told, the points are not.
TEST(PreviewRunTest, AnUnknownPointFormatShowsTheFactsButNoPoints) {
    LasGenOptions o;
    o.points = 100;
    o.format = 1;
    Generated g(o);
    std::vector<uint8_t> bytes = testsupport::ReadAll(g.las);
    bytes[104] = 11;  // the header's point data format
    testsupport::TempDir dir;
    testsupport::WriteAll(dir.File("odd.las"), bytes);
    const Outcome odd = RunToEnd({dir.File("odd.las"), "", -1});
    ASSERT_TRUE(odd.facts) << odd.error;
    EXPECT_EQ(odd.facts->pointFormat, 11);
    EXPECT_EQ(odd.state, CPreviewRun::State::Failed);
    EXPECT_EQ(odd.error, std::string(listmsg::kPreviewUnknownFormat));
    EXPECT_TRUE(odd.samples.empty());

    // The byte's top two bits are not the format (some writers mark
    // compressed records with them): format 1, and its points.
    bytes[104] = 0x81;
    testsupport::WriteAll(dir.File("marked.las"), bytes);
    const Outcome marked = RunToEnd({dir.File("marked.las"), "", -1});
    ASSERT_EQ(marked.state, CPreviewRun::State::Done) << marked.error;
    EXPECT_EQ(marked.facts->pointFormat, 1);
    EXPECT_EQ(listview::DescribeFacts(*marked.facts).Value(listmsg::kFactFormat), S("1"));
    ExpectSameSamples(marked.samples, RunToEnd({g.las, "", -1}).samples);
    EXPECT_EQ(marked.samples.size(), 100u);
}

// The run can be watched from another thread while it reads: its samples
// arrive in slices, none twice, none lost.
TEST(PreviewRunTest, WatchedWhileItRuns) {
    LasGenOptions o;
    o.points = 300000;
    o.format = 1;
    Generated g(o);
    CPreviewRun run({g.archive, "g.las", -1}, 100000);
    std::thread worker([&run] { run.Run(); });
    std::vector<Sample> seen;
    bool facts = false;
    for (;;) {
        CPreviewRun::News n = run.Take();
        facts |= n.facts.has_value();
        seen.insert(seen.end(), n.samples.begin(), n.samples.end());
        if (n.state != CPreviewRun::State::Running) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    worker.join();
    EXPECT_TRUE(facts);
    EXPECT_EQ(run.CurrentState(), CPreviewRun::State::Done);
    ExpectSameSamples(seen, RunToEnd({g.las, "", -1}, 100000).samples);
}

TEST(FactsTextTest, CoordinatesToTheirScalesDecimals) {
    EXPECT_EQ(listview::FormatCoordinate(635589.0123, 0.01), S("635589.01"));
    EXPECT_EQ(listview::FormatCoordinate(12.6, 1), S("13"));
    EXPECT_EQ(listview::FormatCoordinate(-3.14159, 0.001), S("-3.142"));
    EXPECT_EQ(listview::FormatCoordinate(2, 0.025), S("2.00"));
}

TEST(FactsTextTest, EveryFactAndTheVlrs) {
    velmora::HeaderFacts f;
    f.versionMajor = 1;
    f.versionMinor = 4;
    f.pointFormat = 6;
    f.recordLength = 30;
    f.pointCount = 1234567;
    f.pointsByReturn = {1000000, 200000, 34567, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    f.scale[0] = f.scale[1] = 0.01;
    f.scale[2] = 0.001;
    f.offset[0] = 600000;
    f.minimum[0] = 600000.004;
    f.maximum[0] = 601000.5;
    f.minimum[1] = 5000000;
    f.maximum[1] = 5000500.25;
    f.minimum[2] = -12.3456;
    f.maximum[2] = 321.5;
    f.creationDay = 45;
    f.creationYear = 2024;
    f.systemIdentifier = "Scanner \x1b[31m";
    f.generatingSoftware = "gen";
    f.fileSourceId = 17;
    f.epsg = 2994;
    f.crsName = "NAD83(HARN) / Oregon GIC Lambert (ft)";
    f.vlrs = {{"LASF_Projection", 2112, "OGC WKT", 812, false}, {"LASF_Spec", 4, "Extra bytes", 192, false},
              {"Acme", 7, "wave", 70000, true}};
    const listview::FactsText t = listview::DescribeFacts(f);
    EXPECT_EQ(t.Value(listmsg::kFactVersion), S("1.4"));
    EXPECT_EQ(t.Value(listmsg::kFactFormat), S("6"));
    EXPECT_EQ(t.Value(listmsg::kFactRecord), S("30 B"));
    EXPECT_EQ(t.Value(listmsg::kFactPoints), S("1.234.567"));
    EXPECT_EQ(t.Value(listmsg::kFactByReturn), S("1: 1.000.000, 2: 200.000, 3: 34.567, 4: 0, 5: 0"));
    EXPECT_EQ(t.Value(listmsg::kFactX), S("600000.00 to 601000.50"));
    EXPECT_EQ(t.Value(listmsg::kFactY), S("5000000.00 to 5000500.25"));
    EXPECT_EQ(t.Value(listmsg::kFactZ), S("-12.346 to 321.500"));
    EXPECT_EQ(t.Value(listmsg::kFactScale), S("0.01 0.01 0.001"));
    EXPECT_EQ(t.Value(listmsg::kFactOffset), S("600000 0 0"));
    EXPECT_EQ(t.Value(listmsg::kFactCreated), S("day 45 of 2024"));
    // The file's own texts are escaped, as entry names are.
    EXPECT_EQ(t.Value(listmsg::kFactSystem), S("Scanner \\x1b[31m"));
    EXPECT_EQ(t.Value(listmsg::kFactSoftware), S("gen"));
    EXPECT_EQ(t.Value(listmsg::kFactSourceId), S("17"));
    EXPECT_EQ(t.Value(listmsg::kFactCrs), S("EPSG:2994, NAD83(HARN) / Oregon GIC Lambert (ft)"));
    EXPECT_EQ(t.Value(listmsg::kFactVlrs), S("2"));
    EXPECT_EQ(t.Value(listmsg::kFactEvlrs), S("1"));
    ASSERT_EQ(t.vlrs.size(), 2u);
    EXPECT_EQ(t.vlrs[0].name, S("LASF_Projection 2112"));
    EXPECT_EQ(t.vlrs[0].about, S("OGC WKT (812 B)"));
    ASSERT_EQ(t.evlrs.size(), 1u);
    EXPECT_EQ(t.evlrs[0].about, S("wave (70.000 B)"));

    f.epsg = 0;
    f.crsName.clear();
    f.creationDay = f.creationYear = 0;
    f.vlrsComplete = false;
    f.vlrs.resize(1);
    const listview::FactsText u = listview::DescribeFacts(f);
    EXPECT_EQ(u.Value(listmsg::kFactCrs), S("not given"));
    EXPECT_EQ(u.Value(listmsg::kFactCreated), S("not given"));
    EXPECT_EQ(u.Value(listmsg::kFactVlrs), S("1 (the VLRs are cut short)"));
    EXPECT_EQ(u.Value(listmsg::kFactEvlrs), QString());
    f.epsg = 4326;
    EXPECT_EQ(listview::FormatCrs(f), S("EPSG:4326"));
    f.epsg = 0;
    f.crsName = "Local";
    EXPECT_EQ(listview::FormatCrs(f), S("Local"));
}

TEST(KeptPicturesTest, TheLeastRecentlyUsedGoesFirst) {
    listview::CBoundedCache<int> kept(3);
    kept.Put(S("a"), 1);
    kept.Put(S("b"), 2);
    kept.Put(S("c"), 3);
    ASSERT_NE(kept.Find(S("a")), nullptr);  // a is now the most recent
    kept.Put(S("d"), 4);                    // b goes
    EXPECT_EQ(kept.Size(), 3u);
    EXPECT_EQ(kept.Find(S("b")), nullptr);
    EXPECT_EQ(*kept.Find(S("a")), 1);
    EXPECT_EQ(*kept.Find(S("d")), 4);
    kept.Put(S("c"), 30);  // replaced, not added
    EXPECT_EQ(kept.Size(), 3u);
    EXPECT_EQ(*kept.Find(S("c")), 30);
    kept.Put(QString(), 9);  // no key, not kept
    EXPECT_EQ(kept.Size(), 3u);
}

TEST(KeptPicturesTest, TheKeyFollowsTheArchivesChanges) {
    testsupport::TempDir dir;
    const QString path = QString::fromStdString(dir.File("a.vmra"));
    EXPECT_EQ(listview::PreviewCacheKey(path, S("e.las"), 0), QString());
    testsupport::WriteAll(dir.File("a.vmra"), std::vector<uint8_t>(100, 1));
    const QString first = listview::PreviewCacheKey(path, S("e.las"), 0);
    EXPECT_FALSE(first.isEmpty());
    EXPECT_EQ(listview::PreviewCacheKey(path, S("e.las"), 0), first);
    EXPECT_NE(listview::PreviewCacheKey(path, S("f.las"), 0), first);
    EXPECT_NE(listview::PreviewCacheKey(path, S("e.las"), 1), first);
    testsupport::WriteAll(dir.File("a.vmra"), std::vector<uint8_t>(120, 1));
    EXPECT_NE(listview::PreviewCacheKey(path, S("e.las"), 0), first);
    // The same size written again, a moment later.
    const QString grown = listview::PreviewCacheKey(path, S("e.las"), 0);
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::ReadWrite));
    ASSERT_TRUE(f.setFileTime(QDateTime::fromSecsSinceEpoch(1000000000), QFileDevice::FileModificationTime));
    f.close();
    EXPECT_NE(listview::PreviewCacheKey(path, S("e.las"), 0), grown);
}
