#include "listview/PointPreview.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace preview {

namespace {

// Past this a coordinate's pixel no longer follows from doubles with any
// sense (and a header saying so is damaged).
constexpr double kLargestCoordinate = 1e15;

// A point this far past the frame's edge (in pixels) still counts as on
// it: a header's bounds are rounded, and the last points lie on them.
constexpr double kEdgeSlack = 0.5;

struct Stop {
    double at;
    Rgb colour;
};
// Blue over cyan, green and yellow to red: low ground cool, high ground warm.
constexpr Stop kRamp[] = {{0.0, {38, 70, 160}},
                          {0.25, {40, 160, 200}},
                          {0.5, {90, 180, 80}},
                          {0.75, {235, 200, 60}},
                          {1.0, {190, 40, 30}}};

uint8_t Mix(uint8_t a, uint8_t b, double f) {
    return static_cast<uint8_t>(std::lround(a + (static_cast<double>(b) - a) * f));
}

uint32_t Pixel(Rgb c) {
    return 0xFF000000u | static_cast<uint32_t>(c.r) << 16 | static_cast<uint32_t>(c.g) << 8 | c.b;
}

uint8_t ColourByte(uint16_t value, int shift) {
    return static_cast<uint8_t>(std::min<unsigned>(value >> shift, 255u));
}

// Which pixel along one axis a distance from the frame's low edge falls
// in, of `cells` pixels; -1 outside.
int Cell(double offsetInPixels, int cells) {
    if (!(offsetInPixels >= -kEdgeSlack) || !(offsetInPixels <= cells + kEdgeSlack)) return -1;
    return std::clamp(static_cast<int>(std::floor(offsetInPixels)), 0, cells - 1);
}

}  // namespace

bool UsableRange(double min, double max) {
    return std::isfinite(min) && std::isfinite(max) && min <= max && std::fabs(min) < kLargestCoordinate &&
           std::fabs(max) < kLargestCoordinate;
}

Frame FitFrame(double minX, double minY, double maxX, double maxY, int maxWidth, int maxHeight) {
    if (!UsableRange(minX, maxX) || !UsableRange(minY, maxY) || maxWidth < 1 || maxHeight < 1) return {};
    const double dx = maxX - minX, dy = maxY - minY;
    double unitsPerPixel = std::max(dx / maxWidth, dy / maxHeight);
    // A single point, or points on one spot: any length makes one pixel.
    if (!(unitsPerPixel > 0)) unitsPerPixel = 1;
    Frame f;
    f.minX = minX;
    f.minY = minY;
    f.unitsPerPixel = unitsPerPixel;
    f.width = std::clamp(static_cast<int>(std::ceil(dx / unitsPerPixel)), 1, maxWidth);
    f.height = std::clamp(static_cast<int>(std::ceil(dy / unitsPerPixel)), 1, maxHeight);
    return f;
}

bool ToPixel(const Frame& frame, double x, double y, int* column, int* row) {
    if (!frame.Valid()) return false;
    const int c = Cell((x - frame.minX) / frame.unitsPerPixel, frame.width);
    const int up = Cell((y - frame.minY) / frame.unitsPerPixel, frame.height);
    if (c < 0 || up < 0) return false;
    *column = c;
    *row = frame.height - 1 - up;
    return true;
}

Rgb RampColour(double t) {
    if (!(t > 0)) return kRamp[0].colour;  // also NaN
    if (t >= 1) return std::end(kRamp)[-1].colour;
    std::size_t i = 1;
    while (kRamp[i].at < t) ++i;
    const Stop& lo = kRamp[i - 1];
    const Stop& hi = kRamp[i];
    const double f = (t - lo.at) / (hi.at - lo.at);
    return {Mix(lo.colour.r, hi.colour.r, f), Mix(lo.colour.g, hi.colour.g, f), Mix(lo.colour.b, hi.colour.b, f)};
}

Rgb ElevationColour(double z, double zMin, double zMax) {
    if (!(zMax > zMin)) return RampColour(0.5);
    return RampColour((z - zMin) / (zMax - zMin));
}

int ColourShift(uint16_t largestSeen) { return largestSeen > 255 ? 8 : 0; }

uint64_t SampleStride(uint64_t points, uint64_t maxSamples) {
    if (maxSamples == 0) maxSamples = 1;
    if (points <= maxSamples) return 1;
    return points / maxSamples + (points % maxSamples != 0 ? 1 : 0);
}

int DotSize(int width, int height, uint64_t samples) {
    if (samples == 0 || width <= 0 || height <= 0) return 1;
    const double pixelsPerSample = static_cast<double>(width) * height / static_cast<double>(samples);
    return std::clamp(static_cast<int>(std::sqrt(pixelsPerSample) / 3), 1, 4);
}

double ScaleBarLength(double maxLength) {
    if (!(maxLength > 0) || !std::isfinite(maxLength)) return 0;
    const int k = static_cast<int>(std::floor(std::log10(maxLength)));
    // log10 may land a hair off a power of ten: look one decade each way.
    for (int e = k + 1; e >= k - 1; --e) {
        for (const double m : {5.0, 2.0, 1.0}) {
            const double length = m * std::pow(10.0, e);
            if (length <= maxLength * (1 + 1e-12)) return length;
        }
    }
    return 0;
}

void CRaster::Reset(const Frame& f, Colouring c, double low, double high, int colourShift, int dotSide) {
    frame = f;
    colouring = c;
    zMin = low;
    zMax = high;
    shift = colourShift;
    dot = std::max(1, dotSide);
    const std::size_t n = f.Valid() ? static_cast<std::size_t>(f.width) * static_cast<std::size_t>(f.height) : 0;
    pixels.assign(n, 0);
    top.assign(n, -std::numeric_limits<double>::infinity());
    drawn = 0;
}

void CRaster::Draw(const Sample* samples, std::size_t n) {
    // A dot is centred on its pixel, one pixel more to the right and below
    // when its side is even.
    const int before = (dot - 1) / 2, after = dot / 2;
    for (std::size_t i = 0; i < n; ++i) {
        const Sample& s = samples[i];
        int column = 0, row = 0;
        if (!ToPixel(frame, s.x, s.y, &column, &row)) continue;
        ++drawn;
        const uint32_t colour =
            colouring == Colouring::Rgb
                ? Pixel({ColourByte(s.red, shift), ColourByte(s.green, shift), ColourByte(s.blue, shift)})
                : Pixel(ElevationColour(s.z, zMin, zMax));
        const int r0 = std::max(0, row - before), r1 = std::min(frame.height - 1, row + after);
        const int c0 = std::max(0, column - before), c1 = std::min(frame.width - 1, column + after);
        for (int r = r0; r <= r1; ++r) {
            for (int c = c0; c <= c1; ++c) {
                const std::size_t p = static_cast<std::size_t>(r) * static_cast<std::size_t>(frame.width) +
                                      static_cast<std::size_t>(c);
                // Seen from above, the highest point hides those below it.
                if (!(s.z >= top[p])) continue;
                top[p] = s.z;
                pixels[p] = colour;
            }
        }
    }
}

uint32_t CRaster::At(int column, int row) const {
    if (column < 0 || row < 0 || column >= frame.width || row >= frame.height) return 0;
    return pixels[static_cast<std::size_t>(row) * static_cast<std::size_t>(frame.width) +
                  static_cast<std::size_t>(column)];
}

}  // namespace preview
