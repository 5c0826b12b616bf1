#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

class InputWindow;

// Codes an array of signed 32-bit integers (mostly small residuals) with the
// byte-stream coder: the first value as it is, then one stream of
// sign-and-length bytes and one stream per byte plane of the magnitudes, low
// plane first, each holding only the values that reach it.
namespace valueblock {

// Appends the block for values[0 .. count) (count >= 2) to out. The array is
// overwritten with the magnitudes.
void EncodeValueBlock(int32_t* values, std::size_t count, std::vector<uint8_t>& out);

// Reads a block at the window's position into values[0 .. count) and leaves
// the window right after the block's last stream.
void DecodeValueBlock(InputWindow& in, int32_t* values, std::size_t count);

struct PlaneBytes {
    const uint8_t* data = nullptr;
    std::size_t size = 0;
};

// The pieces of a decoded block put together: the first value, the
// count - 1 header bytes and the bytes of planeCount planes.
void AssembleValueBlock(int32_t first, const uint8_t* header, std::size_t count, const PlaneBytes* planes,
                        int planeCount, int32_t* values);
// How many plane streams follow a header stream of n bytes (at most 4).
int PlaneCount(const uint8_t* header, std::size_t n);
// Whether a stored plane count can belong to a block of n + 1 values.
bool PlausiblePlaneCount(int32_t k, std::size_t n);

}  // namespace valueblock
