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

}  // namespace valueblock
