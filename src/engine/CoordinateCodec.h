#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "engine/ChunkColumns.h"

class InputWindow;

// X, Y and Z of a chunk as residuals of predictors built from the steps
// between earlier points. Encoder and decoder call the same Predict*
// functions with the same inputs: the encoder over the known chunk, the
// decoder over what it has restored so far.
namespace coords {

// Prediction for point i >= 1. x[0 .. i) and dx[1 .. i) are known.
int32_t PredictX(const int32_t* x, const int32_t* dx, std::size_t i);
// y[0 .. i) and dy[1 .. i) are known, and dx up to and including i.
int32_t PredictY(const int32_t* y, const int32_t* dx, const int32_t* dy, std::size_t i);
// z[0 .. i) and dz[1 .. i) are known, and dx, dy up to and including i.
int32_t PredictZ(const int32_t* z, const int32_t* dx, const int32_t* dy, const int32_t* dz,
                 std::size_t i);

// Makes the Z predictor use its plain loops (true) or the fastest ones this
// CPU runs (false); both must give the same predictions.
void UsePlainKernelsForTesting(bool plain);

// The residual arrays of a chunk whose columns are filled.
void EncodeX(const ChunkColumns& c, std::vector<uint8_t>& out);
void EncodeY(const ChunkColumns& c, std::vector<uint8_t>& out);
void EncodeZ(const ChunkColumns& c, std::vector<uint8_t>& out);

// Restore c.x/dx (then y/dy, then z/dz) from the chunk's residuals.
void RestoreX(ChunkColumns& c, std::vector<int32_t> residuals);
void RestoreY(ChunkColumns& c, std::vector<int32_t> residuals);
void RestoreZ(ChunkColumns& c, std::vector<int32_t> residuals);

// The same, reading the residuals of a chunk of n points from the window.
void DecodeX(InputWindow& in, ChunkColumns& c, std::size_t n);
void DecodeY(InputWindow& in, ChunkColumns& c, std::size_t n);
void DecodeZ(InputWindow& in, ChunkColumns& c, std::size_t n);

}  // namespace coords
