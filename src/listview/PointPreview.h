#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// The picture of a point cloud seen from above, drawn from a sample of its
// points: where a point lands in the picture, what colour it gets, how long
// the scale bar is. Plain arithmetic without Qt, so that it is tested
// directly; the details pane turns the pixels into an image.
namespace preview {

// Points drawn at most: enough to fill a picture the size of a pane, few
// enough to decide and draw in a moment.
inline constexpr std::size_t kMaxSamples = 250000;
// The picture's longer side in pixels; the pane scales it to its own size.
inline constexpr int kPictureSide = 768;

struct Rgb {
    uint8_t r = 0, g = 0, b = 0;
    bool operator==(const Rgb&) const = default;
};

// One point of the sample, in the file's coordinates (scale and offset
// applied). The colour is the record's own, 0 where the format has none.
struct Sample {
    double x = 0, y = 0, z = 0;
    uint16_t red = 0, green = 0, blue = 0;
};

// The rectangle of the xy plane the picture shows, and its pixels. One
// length per pixel on both axes, so the picture keeps the cloud's aspect.
struct Frame {
    double minX = 0, minY = 0;
    double unitsPerPixel = 1;
    int width = 0, height = 0;
    bool Valid() const { return width > 0 && height > 0; }
    bool operator==(const Frame&) const = default;
};

// The bounds a header states are worth drawing in: finite, not reversed,
// not so large that a pixel's arithmetic loses its meaning.
bool UsableRange(double min, double max);

// The frame of the extent [minX, maxX] x [minY, maxY] in a picture of at
// most maxWidth x maxHeight pixels, the longer side filled. An extent of no
// width or height (one point, a line of points) gets one pixel across.
// Invalid (0 x 0) when the extent is not usable.
Frame FitFrame(double minX, double minY, double maxX, double maxY, int maxWidth, int maxHeight);

// The pixel (column from the left, row from the top: y grows upwards in the
// picture) a point falls on; false for a point outside the frame.
bool ToPixel(const Frame& frame, double x, double y, int* column, int* row);

// The elevation ramp from low (t = 0) to high (t = 1); t outside is clamped.
Rgb RampColour(double t);
// The colour of an elevation between zMin and zMax (the middle of the ramp
// when the range is empty).
Rgb ElevationColour(double z, double zMin, double zMax);

// Colours of 16 bits are brought to 8 by their high byte, unless no value
// seen is above 255: then they are 8-bit values already and taken as they
// are. The shift to apply for the largest value seen.
int ColourShift(uint16_t largestSeen);

// Every stride-th point is drawn, so that no more than maxSamples of points
// are (1 for none or few points).
uint64_t SampleStride(uint64_t points, uint64_t maxSamples);

// The side of the square a sample is drawn as: one pixel where the samples
// cover the picture densely, more where they are few and would be lost.
int DotSize(int width, int height, uint64_t samples);

// The scale bar's length: the longest round length (1, 2 or 5 times a power
// of ten) that is at most maxLength; 0 when maxLength is not a positive
// finite length.
double ScaleBarLength(double maxLength);

// Draws samples into a picture, keeping in every pixel the highest point
// that fell on it, as seen from above. Pixels are 0xAARRGGBB; 0 where no
// point fell (transparent).
class CRaster {
public:
    enum class Colouring { Elevation, Rgb };

    // Starts an empty picture.
    void Reset(const Frame& frame, Colouring colouring, double zMin, double zMax, int colourShift, int dot);
    void Draw(const Sample* samples, std::size_t n);

    const Frame& Shape() const { return frame; }
    Colouring Colours() const { return colouring; }
    int Shift() const { return shift; }
    const std::vector<uint32_t>& Pixels() const { return pixels; }
    // The pixel at column, row (0 outside the picture).
    uint32_t At(int column, int row) const;
    // Samples that fell inside the frame since Reset.
    std::size_t Drawn() const { return drawn; }

private:
    Frame frame;
    Colouring colouring = Colouring::Elevation;
    double zMin = 0, zMax = 0;
    int shift = 0;
    int dot = 1;
    std::vector<uint32_t> pixels;
    std::vector<double> top;  // the highest z drawn in each pixel
    std::size_t drawn = 0;
};

}  // namespace preview
