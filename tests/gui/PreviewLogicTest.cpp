// The details pane's picture without a window: its frame, colours, scale
// bar and sampling, and the raster the samples are drawn into.
#include <gtest/gtest.h>

#include <cmath>

#include "GuiFixture.h"
#include "listview/PointPreview.h"

using namespace preview;

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
