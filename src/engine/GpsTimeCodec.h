#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "engine/PointView.h"

class InputWindow;

// GPS times are coded without floating point: the double's eight bytes as a
// signed 64-bit integer, predicted from the steps between earlier times and
// from the scan direction flags, the residuals split into a value block of
// high halves and one of low halves.
namespace gpstime {

// Prediction of point k >= 1 from t[0 .. k) and the flags f[0 .. k).
int64_t Predict(const int64_t* t, const uint8_t* f, std::size_t k);

void Encode(const PointView& pts, const std::vector<uint8_t>& flags, std::vector<uint8_t>& out);
void Decode(InputWindow& in, const PointView& pts, const std::vector<uint8_t>& flags);
// From the residuals' high and low halves.
void Restore(const int32_t* high, const int32_t* low, const PointView& pts, const std::vector<uint8_t>& flags);

}  // namespace gpstime

// Colour channels as differences to the previous point, one value block each.
namespace color {
void Encode(const PointView& pts, int channel, std::vector<uint8_t>& out);
void Decode(InputWindow& in, const PointView& pts, int channel);
void Restore(const int32_t* residuals, const PointView& pts, int channel);
}  // namespace color
