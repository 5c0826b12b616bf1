#pragma once

#include <cstddef>
#include <cstdint>

#include "engine/ChunkColumns.h"
#include "engine/ValueBlockCoder.h"

// GPS times are coded without floating point: the double's eight bytes as a
// signed 64-bit integer, predicted from the steps between earlier times and
// from the scan direction flags, the residuals split into a value block of
// high halves and one of low halves.
namespace gpstime {

// Prediction of point k >= 1 from the times t[0 .. k) and the scan
// direction flags of the points before k (bit 6 of their return bytes).
int64_t Predict(const int64_t* t, const uint8_t* returnBits, std::size_t k);

void Split(const ChunkColumns& c, valueblock::CBlockWriter& high, valueblock::CBlockWriter& low);
void Restore(const valueblock::CBlockBytes& high, const valueblock::CBlockBytes& low, ChunkColumns& c);

}  // namespace gpstime
