#pragma once

#include <cstddef>
#include <cstdint>

#include "engine/ChunkColumns.h"
#include "engine/RestorePace.h"
#include "engine/ValueBlockCoder.h"

// The small attributes (one byte stream each, as they are or as differences
// to the previous point), the point source ID (differences in a value block)
// and the intensity (residuals of a predictor that follows the change of Z).
namespace attrs {

enum class ByteAttr { UserData, ScanDirection, ScanAngle, ReturnNumber, NumberOfReturns, Edge, Classification };

bool IsDifference(ByteAttr a);

// The n bytes of the attribute's stream, from the columns / back into them.
void FillBytes(ByteAttr a, const ChunkColumns& c, uint8_t* out);
void RestoreBytes(ByteAttr a, const uint8_t* bytes, ChunkColumns& c);

// Differences of a 16-bit attribute in one value block: the first value as
// it is, then each value minus the one before, as a signed integer.
void SplitDifferences16(const largepages::Vector<uint16_t>& v, valueblock::CBlockWriter& out);
void RestoreDifferences16(const valueblock::CBlockBytes& r, largepages::Vector<uint16_t>& v);

// Prediction of the intensity of point i >= 3 from the intensities before
// it and the Z of points i, i-1, i-2.
uint16_t PredictIntensity(const uint16_t* v, const int32_t* z, std::size_t i);
void SplitIntensity(const ChunkColumns& c, valueblock::CBlockWriter& out);
// With a pace, follows the restoring of Z block by block.
void RestoreIntensity(const valueblock::CBlockBytes& r, ChunkColumns& c, const RestorePacing& pace = {});

}  // namespace attrs
