#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "engine/ChunkColumns.h"
#include "engine/PointView.h"

class InputWindow;

// The small attributes (one byte stream each, as they are or as differences
// to the previous point), the point source ID (differences in a value block)
// and the intensity (residuals of a predictor that follows the change of Z).
namespace attrs {

enum class ByteAttr { UserData, ScanDirection, ScanAngle, ReturnNumber, NumberOfReturns, Edge, Classification };

ByteField FieldOf(ByteAttr a);
bool IsDifference(ByteAttr a);

void EncodeByteAttr(ByteAttr a, const PointView& pts, std::vector<uint8_t>& out);
// Also records the scan direction flags in cols when a is ScanDirection.
void DecodeByteAttr(ByteAttr a, InputWindow& in, const PointView& pts, ChunkColumns& cols);
void RestoreByteAttr(ByteAttr a, const uint8_t* bytes, const PointView& pts, ChunkColumns& cols);

void EncodePointSource(const PointView& pts, std::vector<uint8_t>& out);
void DecodePointSource(InputWindow& in, const PointView& pts);
void RestorePointSource(const int32_t* residuals, const PointView& pts);

// Prediction of the intensity of point i >= 3 from the intensities before
// it and the Z of points i, i-1, i-2.
uint16_t PredictIntensity(const uint16_t* v, const int32_t* z, std::size_t i);
void EncodeIntensity(const PointView& pts, const ChunkColumns& cols, std::vector<uint8_t>& out);
void DecodeIntensity(InputWindow& in, const PointView& pts, const ChunkColumns& cols);
void RestoreIntensity(const int32_t* residuals, const PointView& pts, const ChunkColumns& cols);

// Differences of a 16-bit attribute in one value block: the first value as
// it is, then each value minus the one before, as a signed integer.
void EncodeDifferences16(const std::vector<uint16_t>& v, std::vector<uint8_t>& out);
std::vector<uint16_t> DecodeDifferences16(InputWindow& in, std::size_t n);
std::vector<uint16_t> RestoreDifferences16(const int32_t* residuals, std::size_t n);

}  // namespace attrs
