#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "engine/ChunkColumns.h"
#include "engine/RestorePace.h"
#include "engine/ValueBlockCoder.h"

// X, Y and Z of a chunk as residuals of predictors built from the steps
// between earlier points. Encoder and decoder call the same Predict*
// functions with the same inputs: the encoder over the known chunk, the
// decoder over what it has restored so far.
namespace coords {

// The two loops of the Z predictor that look back up to 100 steps (and the
// Y predictor's search) are its cost. Each has a plain version and versions
// for wider vectors that give exactly the same results; which ones run is
// chosen per codec (see ProcessorCode), not for the whole process.
struct Kernels {
    const char* name;
    // Offset in [0, count) of the most recent (highest) step j with
    // |ddx - dx[j]| < 5 and |ddy - dy[j]| < 5, or -1.
    long (*match)(const int32_t* dx, const int32_t* dy, int32_t ddx, int32_t ddy, long count);
    // The same with the X step alone.
    long (*matchX)(const int32_t* dx, int32_t ddx, long count);
    // Over the step pairs (m, m + 1), m in [0, count), each voting +1 where
    // the X slope explains the Z step better than the Y slope and -1 where
    // worse: whether the votes add up to more than 0. turnX[m] and turnY[m]
    // are the pair's changes of the X and Y steps (see CStepWindow::Turns).
    bool (*xExplainsBetter)(const double* turnX, const double* turnY, const int32_t* dz, double kx, double ky,
                            long count);
    // X's residuals from point 8 on, where the prediction is always the
    // trimmed mean of seven steps: out[j] for the point whose step is
    // dx[j], j in [0, n), its seven steps before it at dx[j - 7 .. j - 1].
    void (*residualsX)(const int32_t* dx, std::size_t n, int32_t* out);

    static Kernels Plain();
    // Every version this processor runs, the plain one first, the fastest
    // last.
    static std::vector<Kernels> Available();
};

// The steps of a coordinate (v[j] - v[j-1]; 0 for the chunk's first point)
// for a block of points and the kHistory points before it, so predictors
// that look back a bounded distance read them as a plain array, and a
// chunk's steps are never all held at once.
class CStepWindow {
public:
    static constexpr std::size_t kHistory = 128;  // more than the 101 steps a predictor reads
    static constexpr std::size_t kBlock = 4096;

    // Begins the block at point `begin` (>= 1): the history from v, which
    // must be known up to begin - 1.
    void Start(const int32_t* v, std::size_t begin);
    // The block's own steps from v, for points [begin, end).
    void Fill(const int32_t* v, std::size_t end);
    // The step into the block's first point; the block's steps follow it,
    // the history's precede it.
    int32_t* Base() { return steps + kHistory; }
    // out[j] = steps[j + 1] - steps[j] as a double, for every j whose two
    // steps are known with the block's first n (out laid out as the steps
    // are). The Z vote weighs each such change of the X and Y steps for up
    // to a hundred points: converted once, as the window fills, not per
    // vote.
    void Turns(std::size_t n, double* out) const;

private:
    std::size_t start = 0;
    int32_t steps[kHistory + kBlock];
};

// Predictions for point i >= 1. prev is the coordinate of point i - 1; the
// step pointers point at point i's steps (see CStepWindow::At). X reads
// only steps before i; Y reads dx[0] and Z dx[0] and dy[0] too.
int32_t PredictX(int32_t prev, const int32_t* dx, std::size_t i);
// The plain version of Kernels::residualsX.
void ResidualsXPlain(const int32_t* dx, std::size_t n, int32_t* out);
int32_t PredictY(int32_t prev, const int32_t* dx, const int32_t* dy, std::size_t i, const Kernels& k);
// turnX and turnY point at point i's place in the turns of the X and Y
// windows (see Windows).
int32_t PredictZ(int32_t prev, const int32_t* dx, const int32_t* dy, const int32_t* dz, const double* turnX,
                 const double* turnY, std::size_t i, const Kernels& k);
// The same for steps in arrays of their own: the turns are worked out here.
int32_t PredictZ(int32_t prev, const int32_t* dx, const int32_t* dy, const int32_t* dz, std::size_t i,
                 const Kernels& k);

// Working memory of the coordinate rows: one step window per coordinate,
// the turns of the X and Y windows for the Z rows, laid out as the steps
// are, and room for a window block's residuals.
struct Windows {
    static constexpr std::size_t kSteps = CStepWindow::kHistory + CStepWindow::kBlock;
    CStepWindow x, y, z;
    double turnX[kSteps], turnY[kSteps];
    double* TurnXBase() { return turnX + CStepWindow::kHistory; }
    double* TurnYBase() { return turnY + CStepWindow::kHistory; }
    int32_t residuals[CStepWindow::kBlock];
};

// The residuals of a chunk's X, Y or Z, split into a value block.
void SplitX(const ChunkColumns& c, Windows& w, const Kernels& k, valueblock::CBlockWriter& out);
void SplitY(const ChunkColumns& c, Windows& w, const Kernels& k, valueblock::CBlockWriter& out);
void SplitZ(const ChunkColumns& c, Windows& w, const Kernels& k, valueblock::CBlockWriter& out);

// Restore c.x (then y, then z) from the chunk's residuals. With a pace,
// Y and Z follow the column they read (X, Y) block by block, and each
// publishes how far it has got.
void RestoreX(const valueblock::CBlockBytes& r, Windows& w, ChunkColumns& c, const RestorePacing& pace = {});
void RestoreY(const valueblock::CBlockBytes& r, Windows& w, const Kernels& k, ChunkColumns& c,
              const RestorePacing& pace = {});
void RestoreZ(const valueblock::CBlockBytes& r, Windows& w, const Kernels& k, ChunkColumns& c,
              const RestorePacing& pace = {});

}  // namespace coords
