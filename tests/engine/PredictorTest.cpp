#include <gtest/gtest.h>

#include <chrono>
#include <climits>
#include <functional>
#include <future>
#include <random>
#include <thread>

#include "TestSupport.h"
#include "engine/AttributeCodec.h"
#include "engine/ByteStreamCoder.h"
#include "engine/CoordinateCodec.h"
#include "engine/GpsTimeCodec.h"
#include "engine/InputWindow.h"
#include "engine/ChunkRows.h"
#include "engine/ProcessorCode.h"
#include "engine/RestorePace.h"
#include "engine/ValueBlockCoder.h"
#include "engine/WrapMath.h"
#include "las/FileIo.h"

using testsupport::TempDir;
using testsupport::WriteAll;

namespace {

std::vector<int32_t> Steps(const std::vector<int32_t>& v) {
    std::vector<int32_t> d(v.size(), 0);
    for (std::size_t i = 1; i < v.size(); ++i) d[i] = wrap::Sub32(v[i], v[i - 1]);
    return d;
}

const coords::Kernels kPlain = coords::Kernels::Plain();

// The processor's own code with the predictors' loops in version k.
ProcessorCode WithKernels(const coords::Kernels& k) {
    ProcessorCode code = ProcessorCode::Detected();
    code.coords = k;
    return code;
}

// The predictors over whole arrays of coordinates and steps.
int32_t PredictX(const int32_t* x, const int32_t* dx, std::size_t i) { return coords::PredictX(x[i - 1], dx + i, i); }
int32_t PredictY(const int32_t* y, const int32_t* dx, const int32_t* dy, std::size_t i) {
    return coords::PredictY(y[i - 1], dx + i, dy + i, i, kPlain);
}
int32_t PredictZ(const int32_t* z, const int32_t* dx, const int32_t* dy, const int32_t* dz, std::size_t i) {
    return coords::PredictZ(z[i - 1], dx + i, dy + i, dz + i, i, kPlain);
}

std::vector<int32_t> XResiduals(const std::vector<int32_t>& x) {
    const auto dx = Steps(x);
    std::vector<int32_t> r = {x[0]};
    for (std::size_t i = 1; i < x.size(); ++i) r.push_back(x[i] - PredictX(x.data(), dx.data(), i));
    return r;
}

TEST(Truncation, OutOfRangeAndNaNGiveTheMostNegativeValue) {
    EXPECT_EQ(wrap::TruncToInt32(-2.5), -2);
    EXPECT_EQ(wrap::TruncToInt32(2.9), 2);
    EXPECT_EQ(wrap::TruncToInt32(2147483647.9), INT32_MAX);
    EXPECT_EQ(wrap::TruncToInt32(-2147483648.9), INT32_MIN);
    EXPECT_EQ(wrap::TruncToInt32(2147483648.0), INT32_MIN);
    EXPECT_EQ(wrap::TruncToInt32(-2147483649.0), INT32_MIN);
    EXPECT_EQ(wrap::TruncToInt32(1e300), INT32_MIN);
    EXPECT_EQ(wrap::TruncToInt32(std::numeric_limits<double>::quiet_NaN()), INT32_MIN);
    EXPECT_EQ(wrap::Abs32(INT32_MIN), INT32_MIN);
}

TEST(CoordinatePredictors, XFollowsTheTrimmedMeanOfItsSteps) {
    EXPECT_EQ(XResiduals({100, 110, 120, 130, 140}), (std::vector<int32_t>{100, 10, 10, 10, 0}));
    // -3 + 0.5 truncates to -2: prediction 89 for 88.
    EXPECT_EQ(XResiduals({100, 97, 94, 91, 88}), (std::vector<int32_t>{100, -3, -3, -3, -1}));
    // A turn of the scan line: the last two steps have opposite signs, so
    // the last step is taken back off the mean.
    const std::vector<int32_t> x = {0, 10, 20, 30, 40, 30};
    const auto dx = Steps(x);
    EXPECT_EQ(PredictX(x.data(), dx.data(), 5), 50);  // steps 10,10,10,10
    const std::vector<int32_t> turn = {0, 10, 20, 30, 40, 30, 20};
    const auto dt = Steps(turn);
    // Steps 10,10,10,10,-10: trimmed mean (40 - (-10) - 10)/3 = 10 -> 10.5 -> 10,
    // then 10 - (-10) = 20: 30 + 20.
    EXPECT_EQ(PredictX(turn.data(), dt.data(), 6), 50);
}

TEST(CoordinatePredictors, YTakesTheStepOfTheNearestSimilarXStep) {
    // X steps: 10, 50, 12, 50 ; the current X step 11 is within 5 of 12
    // (nearest) and of 10 (older): the nearest wins.
    const std::vector<int32_t> x = {0, 10, 60, 72, 122, 133};
    const std::vector<int32_t> y = {0, 1, 2, 7, 8, 0};
    const auto dx = Steps(x), dy = Steps(y);
    EXPECT_EQ(PredictY(y.data(), dx.data(), dy.data(), 5), 8 + 5);
}

TEST(CoordinatePredictors, YWithoutMatchExtrapolatesOrRepeats) {
    // i <= 3 without a match: the previous Y.
    const std::vector<int32_t> x = {0, 100, 300, 700, 1500};
    const std::vector<int32_t> y = {0, 3, 9, 12, 0};
    const auto dx = Steps(x);
    auto dy = Steps(y);
    EXPECT_EQ(PredictY(y.data(), dx.data(), dy.data(), 3), 9);
    // i = 4: Ax = 400, Bx = 200, Ay = 3, By = 6, dx = 800:
    // (6-3)/(200-400) * (800-400) + 0.5 + 3 = -6 + 0.5 + 3 = -2.5 -> -2.
    EXPECT_EQ(PredictY(y.data(), dx.data(), dy.data(), 4), 12 - 2);
    // Bx = Ax: the step is By.
    const std::vector<int32_t> x2 = {0, 100, 200, 300, 1000};
    const std::vector<int32_t> y2 = {0, 4, 9, 11, 0};
    const auto dx2 = Steps(x2), dy2 = Steps(y2);
    EXPECT_EQ(PredictY(y2.data(), dx2.data(), dy2.data(), 4), 11 + 5);
}

TEST(CoordinatePredictors, ZEarlyPointsAndEqualStepsUseSimpleRules) {
    const std::vector<int32_t> x = {0, 100, 300, 600, 1000};
    const std::vector<int32_t> y = {0, 50, 70, 140, 150};
    const std::vector<int32_t> z = {5, 9, 20, 24, 0};
    const auto dx = Steps(x), dy = Steps(y), dz = Steps(z);
    // Point 2 without a match: z(1).
    EXPECT_EQ(PredictZ(z.data(), dx.data(), dy.data(), dz.data(), 2), 9);
    // Point 4: Az = 4, Bz = 11, no equal steps: the vote decides between the
    // slopes kx = 7/-100 and ky = 7/50... computed by hand below.
    const std::vector<int32_t> xe = {0, 100, 200, 300, 1000};
    const std::vector<int32_t> ye = {0, 50, 70, 140, 150};
    const std::vector<int32_t> ze = {5, 9, 20, 24, 0};
    const auto dxe = Steps(xe), dye = Steps(ye), dze = Steps(ze);
    // Ax = Bx = 100: the step is Bz = 11, whatever the vote.
    EXPECT_EQ(PredictZ(ze.data(), dxe.data(), dye.data(), dze.data(), 4), 24 + 11);
}

TEST(CoordinatePredictors, ZVoteChoosesTheSlopeThatExplainedThePast) {
    // Steps at i = 5: dx = 100, 200, 300, 400 ; dy = 10, 10, 20, 50 ;
    // dz = 1, 3, 6, 8.
    const std::vector<int32_t> x = {0, 100, 300, 600, 1000, 1001};
    const std::vector<int32_t> y = {0, 10, 20, 40, 90, 1000};
    const std::vector<int32_t> z = {0, 1, 4, 10, 18, 0};
    const auto dx = Steps(x), dy = Steps(y), dz = Steps(z);
    // Ax=400 Bx=300 Ay=50 By=20 Az=8 Bz=6: kx = -2/-100 = 0.02, ky = -2/-30.
    // j=3: DX-DX'=100, DZ'=6, DZ=8: ex=|trunc(2+6)-8|=0; DY-DY'=30:
    //      ey=|trunc(2+6)-8|=0 -> both.
    // j=2: 100, DZ'=3, DZ=6: ex=|trunc(5)-6|=1; DY-DY'=10: trunc(0.67+3)=3, ey=3 -> cx.
    // j=1: 100, DZ'=1, DZ=3: ex=|3-3|=0; 0: ey=|1-3|=2 -> cx.  cx=3 > cy=1.
    // step = trunc(0.02*(1-400) + 8 + 0.5) = trunc(0.52) = 0.
    EXPECT_EQ(PredictZ(z.data(), dx.data(), dy.data(), dz.data(), 5), 18 + 0);
}

// A chunk of format 0 with the given coordinates and nothing else.
ChunkColumns Coordinates(const std::vector<int32_t>& x, const std::vector<int32_t>& y,
                         const std::vector<int32_t>& z) {
    ChunkColumns c;
    c.Resize(x.size(), 0);
    c.x.assign(x.begin(), x.end());
    c.y.assign(y.begin(), y.end());
    c.z.assign(z.begin(), z.end());
    return c;
}

// The coded X, Y and Z rows of a chunk (or the groups given), back to back.
std::vector<uint8_t> EncodeCoordinates(const ChunkColumns& c, const coords::Kernels& k,
                                       std::initializer_list<chunkrows::Group> groups = {
                                           chunkrows::Group::X, chunkrows::Group::Y, chunkrows::Group::Z}) {
    chunkrows::Scratch s;
    CByteBuffer outs[chunkrows::kRowCount];
    std::vector<uint8_t> bytes;
    for (auto g : groups) {
        chunkrows::EncodeGroup(g, c, WithKernels(k), s, outs);
        const CByteBuffer& out = outs[chunkrows::Index(chunkrows::RowsOf(g).front())];
        bytes.insert(bytes.end(), out.Data(), out.Data() + out.Size());
    }
    return bytes;
}

TEST(CoordinateCodec, ResidualsRestoreTheCoordinates) {
    std::vector<int32_t> x, y, z;
    uint32_t s = 5;
    int32_t px = 0, py = 0, pz = 0;
    // More points than one window block holds, so blocks follow each other.
    for (int i = 0; i < 9000; ++i) {
        s = s * 1664525u + 1013904223u;
        px = wrap::Add32(px, 100 + static_cast<int32_t>((s >> 24) % 7));
        py += (i % 200 < 100) ? 3 : -3;
        pz += static_cast<int32_t>((s >> 8) % 41) - 20;
        if (i == 1500) px = INT32_MAX - 50;  // wrap-around on the way
        x.push_back(px);
        y.push_back(py);
        z.push_back(pz);
    }
    const ChunkColumns c = Coordinates(x, y, z);
    const std::vector<uint8_t> bytes = EncodeCoordinates(c, kPlain);
    TempDir dir;
    WriteAll(dir.File("c"), bytes);
    CFile f(dir.File("c"), "rb");
    InputWindow in(f);
    ChunkColumns d;
    d.Resize(x.size(), 0);
    chunkrows::Scratch scratch;
    for (auto row : {chunkrows::Row::X, chunkrows::Row::Y, chunkrows::Row::Z}) {
        chunkrows::DecodeRow(row, in, WithKernels(kPlain), scratch, d);
    }
    EXPECT_EQ(d.x, c.x);
    EXPECT_EQ(d.y, c.y);
    EXPECT_EQ(d.z, c.z);
    EXPECT_EQ(in.Position(), static_cast<int64_t>(bytes.size()));
}

// A restore that follows another (Y after X, Z after Y, intensity after Z)
// must read no more of the column it follows than has been published. The
// test plays the leader: the column is garbage beyond what it has handed
// out, a step at a time, and the follower must still restore exactly.
TEST(CoordinateCodec, AFollowingRestoreReadsOnlyWhatItsLeaderPublished) {
    using chunkrows::Row;
    const std::size_t n = 3 * CRestorePace::kStep + 700;
    std::vector<int32_t> x, y, z;
    uint32_t s = 11;
    int32_t px = 5000, py = 0, pz = 0;
    for (std::size_t i = 0; i < n; ++i) {
        s = s * 1664525u + 1013904223u;
        px += (i % 300 < 150 ? 1 : -1) * (90 + static_cast<int32_t>((s >> 24) % 21));
        py += static_cast<int32_t>((s >> 12) % 9) - 2;
        pz += static_cast<int32_t>((s >> 4) % 301) - 150;
        x.push_back(px);
        y.push_back(py);
        z.push_back(pz);
    }
    ChunkColumns truth = Coordinates(x, y, z);
    for (std::size_t i = 0; i < n; ++i) truth.intensity[i] = static_cast<uint16_t>(i * 37 % 900 + (z[i] & 63));
    using G = chunkrows::Group;
    const std::vector<uint8_t> bytes =
        EncodeCoordinates(truth, kPlain, {G::X, G::Y, G::Z, G::Intensity});
    TempDir dir;
    WriteAll(dir.File("c"), bytes);
    CFile f(dir.File("c"), "rb");
    InputWindow in(f);
    chunkrows::Scratch streams[4];
    const Row rows[] = {Row::X, Row::Y, Row::Z, Row::Intensity};
    for (int r = 0; r < 4; ++r) chunkrows::ReadRowStreams(rows[r], in, n, streams[r], WithKernels(kPlain).decoder);

    struct Case {
        int follower;                                 // index into rows
        largepages::Vector<int32_t> ChunkColumns::*leader;
    };
    for (const Case& k : {Case{1, &ChunkColumns::x}, Case{2, &ChunkColumns::y}, Case{3, &ChunkColumns::z}}) {
        ChunkColumns d = truth;
        largepages::Vector<int32_t>& led = d.*k.leader;
        const largepages::Vector<int32_t>& real = truth.*k.leader;
        for (std::size_t i = 0; i < n; ++i) led[i] = static_cast<int32_t>(0x40000000u + i * 7919u);
        // The follower's own column starts blank.
        if (k.follower == 1) std::fill(d.y.begin(), d.y.end(), 0);
        if (k.follower == 2) std::fill(d.z.begin(), d.z.end(), 0);
        if (k.follower == 3) std::fill(d.intensity.begin(), d.intensity.end(), 0);
        CRestorePace lead, own;
        std::thread follower([&] {
            chunkrows::RestoreRow(rows[k.follower], kPlain, streams[k.follower], 0, d, RestorePacing{&lead, &own});
        });
        // Handed out where a leader publishes: point 1, then a step at a
        // time, then the end; the follower gets time to read too far.
        for (std::size_t from = 0, to = 1; from < n; from = to, to = std::min(n, to + CRestorePace::kStep)) {
            std::copy(real.begin() + static_cast<long>(from), real.begin() + static_cast<long>(to),
                      led.begin() + static_cast<long>(from));
            lead.Reached(to);
            std::this_thread::sleep_for(std::chrono::milliseconds(3));
        }
        follower.join();
        EXPECT_EQ(d.y, truth.y) << "follower " << k.follower;
        EXPECT_EQ(d.z, truth.z) << "follower " << k.follower;
        EXPECT_EQ(d.intensity, truth.intensity) << "follower " << k.follower;
        // And Y and Z told their own followers they were done.
        if (k.follower == 3) continue;
        auto done = std::async(std::launch::async, [&] { own.Await(n); });
        if (done.wait_for(std::chrono::seconds(5)) != std::future_status::ready) {
            own.Fail();
            ADD_FAILURE() << "follower " << k.follower << " never published its end";
        }
    }
}

// A follower whose leader fails is woken, and told, wherever it waits.
TEST(CoordinateCodec, AFollowerOfAFailedRestoreStopsWaiting) {
    CRestorePace lead;
    lead.Reached(100);
    EXPECT_NO_THROW(lead.Await(100));
    auto waiting = std::async(std::launch::async, [&] { lead.Await(5000); });
    EXPECT_EQ(waiting.wait_for(std::chrono::milliseconds(50)), std::future_status::timeout);
    lead.Fail();
    ASSERT_EQ(waiting.wait_for(std::chrono::seconds(5)), std::future_status::ready);
    EXPECT_THROW(waiting.get(), CRestorePace::Broken);
}

TEST(CoordinateCodec, FastAndPlainSearchLoopsPredictAlike) {
    // Steps that make the search miss and the vote run, with slopes and
    // products far outside the 32-bit range now and then.
    std::vector<int32_t> x, y, z;
    uint64_t s = 17;
    int32_t px = 0, py = 0, pz = 0;
    for (int i = 0; i < 20000; ++i) {
        s = s * 6364136223846793005ull + 1442695040888963407ull;
        const int32_t big = (s >> 60) == 0 ? 1 << 28 : 1;
        px = wrap::Add32(px, wrap::Sub32(wrap::Mul32(static_cast<int32_t>((s >> 20) % 997), big), 300));
        py = wrap::Add32(py, static_cast<int32_t>((s >> 33) % 1013) - 500);
        pz = wrap::Add32(pz, wrap::Sub32(wrap::Mul32(static_cast<int32_t>((s >> 44) % 4001), big), 2000));
        x.push_back(px);
        y.push_back(py);
        z.push_back(pz);
    }
    const ChunkColumns c = Coordinates(x, y, z);
    const std::vector<uint8_t> plain = EncodeCoordinates(c, kPlain);
    const auto kernels = coords::Kernels::Available();
    for (std::size_t k = 1; k < kernels.size(); ++k) EXPECT_EQ(EncodeCoordinates(c, kernels[k]), plain) << k;
}

// The Z row holds the residuals alone. A chunk whose Z was made from
// chosen residuals by the predictor over plain arrays, where most points
// vote, must code its Z row as a chunk with the same residuals whose
// prediction is trivial (no X or Y step: every search finds the last
// step): the windows, the turns they hold for the vote and their blocks'
// seams predict each point as the plain arrays do.
TEST(CoordinateCodec, ZRowOfTheWindowsIsThatOfPlainArrays) {
    const std::size_t n = 3 * coords::CStepWindow::kBlock + 777;
    std::vector<int32_t> x(n), y(n), z(n), residuals(n);
    uint64_t s = 41;
    for (std::size_t i = 0; i < n; ++i) {
        s = s * 6364136223846793005ull + 1442695040888963407ull;
        x[i] = static_cast<int32_t>((s >> 20) % 100000);
        y[i] = static_cast<int32_t>((s >> 40) % 100000);
        residuals[i] = static_cast<int32_t>((s >> 8) % 61) - 30;
    }
    const auto dx = Steps(x), dy = Steps(y);
    std::vector<int32_t> dz(n, 0);
    z[0] = residuals[0];
    long votes = 0;
    for (std::size_t i = 1; i < n; ++i) {
        const long limit = static_cast<long>(std::min<std::size_t>(100, i - 1));
        votes += kPlain.match(dx.data() + i - limit, dy.data() + i - limit, dx[i], dy[i], limit) < 0;
        z[i] = wrap::Add32(PredictZ(z.data(), dx.data(), dy.data(), dz.data(), i), residuals[i]);
        dz[i] = wrap::Sub32(z[i], z[i - 1]);
    }
    ASSERT_GT(votes, static_cast<long>(n) * 9 / 10);

    std::vector<int32_t> flat(n);
    flat[0] = residuals[0];
    for (std::size_t i = 1; i < n; ++i) {
        const int32_t last = i >= 2 ? wrap::Sub32(flat[i - 1], flat[i - 2]) : 0;
        flat[i] = wrap::Add32(wrap::Add32(flat[i - 1], last), residuals[i]);
    }
    const std::vector<int32_t> still(n, 0);
    const auto expected = EncodeCoordinates(Coordinates(still, still, flat), kPlain, {chunkrows::Group::Z});
    for (const auto& k : coords::Kernels::Available()) {
        EXPECT_EQ(EncodeCoordinates(Coordinates(x, y, z), k, {chunkrows::Group::Z}), expected) << k.name;
    }
}

// X's residuals in vectors: the trimmed mean's sum wraps, its quotient is
// worked out in double precision, and a turn takes the last step off;
// every version must give the plain one's residuals for any steps.
TEST(CoordinateCodec, FastAndPlainXResidualsAgreeForAnySteps) {
    std::vector<std::vector<int32_t>> cases;
    uint64_t s = 99;
    std::vector<int32_t> any, small;
    for (int i = 0; i < 5000; ++i) {
        s = s * 6364136223846793005ull + 1442695040888963407ull;
        any.push_back(static_cast<int32_t>(s >> 32));
        small.push_back(static_cast<int32_t>((s >> 40) % 41) - 20);
    }
    cases.push_back(any);
    cases.push_back(small);
    cases.push_back(std::vector<int32_t>(300, INT32_MIN));
    cases.push_back(std::vector<int32_t>(300, INT32_MAX));
    std::vector<int32_t> turning;
    for (int i = 0; i < 300; ++i) turning.push_back(i % 2 ? INT32_MAX - i : INT32_MIN + 3 * i);
    cases.push_back(turning);
    const auto kernels = coords::Kernels::Available();
    for (std::size_t c = 0; c < cases.size(); ++c) {
        const std::vector<int32_t>& dx = cases[c];
        // Every length, so each version's tail after its last full vector
        // is checked too.
        for (std::size_t n : {std::size_t{1}, std::size_t{8}, std::size_t{13}, dx.size() - 7}) {
            std::vector<int32_t> plain(n), fast(n);
            coords::ResidualsXPlain(dx.data() + 7, n, plain.data());
            for (std::size_t k = 0; k < kernels.size(); ++k) {
                kernels[k].residualsX(dx.data() + 7, n, fast.data());
                EXPECT_EQ(fast, plain) << "case " << c << ", " << n << " steps, loops " << k;
            }
        }
    }
    // The plain version is the predictor's own.
    std::vector<int32_t> one(1);
    coords::ResidualsXPlain(any.data() + 7, 1, one.data());
    EXPECT_EQ(one[0], wrap::Sub32(any[7], wrap::Sub32(coords::PredictX(100, any.data() + 7, 8), 100)));
}

TEST(IntensityPredictor, FollowsTheChangeOfZ) {
    const uint16_t v[] = {40, 100, 60, 0};
    // Z drops by more than 3000: 0.
    const int32_t drop[] = {0, 0, 5000, 1000};
    EXPECT_EQ(attrs::PredictIntensity(v, drop, 3), 0);
    // Z rises by more than 3000 and the chunk's first intensity is not 0:
    // half the previous intensity.
    const int32_t rise[] = {0, 0, 0, 3001};
    EXPECT_EQ(attrs::PredictIntensity(v, rise, 3), 30);
    // ... with the first intensity 0: step 4 (|h| = |f|: the previous one).
    const uint16_t v0[] = {0, 100, 60, 0};
    EXPECT_EQ(attrs::PredictIntensity(v0, rise, 3), 60);
    // Flat: the mean of the two previous, rounded down.
    const uint16_t odd[] = {1, 100, 61, 0};
    const int32_t flat[] = {0, 10, 20, 30};
    EXPECT_EQ(attrs::PredictIntensity(odd, flat, 3), 80);
    // |h| > |f|: the intensity two back; otherwise the previous one.
    const int32_t back[] = {0, 500, 200, 900};  // h = 700, f = 400
    EXPECT_EQ(attrs::PredictIntensity(v, back, 3), 100);
    const int32_t fwd[] = {0, 200, 500, 900};  // h = 400, f = 700
    EXPECT_EQ(attrs::PredictIntensity(v, fwd, 3), 60);
}

// Return bytes holding the given scan direction flags (bit 6).
std::vector<uint8_t> WithFlags(const std::vector<uint8_t>& flags) {
    std::vector<uint8_t> bytes;
    for (uint8_t f : flags) bytes.push_back(static_cast<uint8_t>(f << 6 | 0x09));
    return bytes;
}

TEST(GpsTimePredictor, ConstantStepsGiveTheDocumentedResiduals) {
    const std::vector<int64_t> t = {100, 110, 120, 130, 140, 150};
    const std::vector<uint8_t> f(6, 0);
    std::vector<int64_t> r = {t[0]};
    for (std::size_t k = 1; k < t.size(); ++k) r.push_back(t[k] - gpstime::Predict(t.data(), WithFlags(f).data(), k));
    EXPECT_EQ(r, (std::vector<int64_t>{100, 10, 20, 30, 10, 10}));
}

TEST(GpsTimePredictor, RepeatedTimeLooksAtTheStepBeforeAndTheSmallestStep) {
    // At k = 6 the predictor runs at j = 5: t(4) = t(3), so d starts from
    // t(3) - t(2) = 30, then the smallest non-zero step of the last five (7).
    const std::vector<int64_t> t = {0, 7, 37, 67, 67, 67, 0};
    const std::vector<uint8_t> f(7, 0);
    EXPECT_EQ(gpstime::Predict(t.data(), WithFlags(f).data(), 6), 67 + 7);
}

TEST(GpsTimePredictor, DirectionChangeUsesTheStepAtAnEarlierChange) {
    // k = 7 evaluates the step predictor at j = 6, from t(5). Flags change
    // between points 5 and 6. f(1) = 0, so a = 1, b = 0: the walk from s = 5
    // passes the 1s down to 2 and the 0s down to 0; s < 2, so the smallest
    // recent step (10) is used as if the direction had not changed.
    const std::vector<int64_t> t = {0, 10, 20, 30, 50, 70, 90, 0};
    const std::vector<uint8_t> f = {0, 0, 0, 1, 1, 1, 0, 0};
    EXPECT_EQ(gpstime::Predict(t.data(), WithFlags(f).data(), 7), 70 + 10);
    // f(1) = 1, so a = 0, b = 1: from s = 5 no 0s to pass, the 1s down to
    // 3; s >= 2, so the step at that earlier change, t(4) - t(3) = 20.
    const std::vector<int64_t> u = {0, 1, 2, 3, 23, 24, 25, 0};
    const std::vector<uint8_t> g = {1, 1, 0, 0, 1, 1, 0, 0};
    EXPECT_EQ(gpstime::Predict(u.data(), WithFlags(g).data(), 7), 24 + 20);
}

// The coded bytes of the value block that `write` puts into a writer.
std::vector<uint8_t> CodedBlock(const std::function<void(valueblock::CBlockWriter&)>& write) {
    valueblock::CBlockWriter w;
    write(w);
    std::vector<bytestream::EncodeRequest> requests;
    w.AddRequests(requests);
    bytestream::EncodeByteStreams(requests.data(), requests.size(), ProcessorCode::Detected().encoder);
    CByteBuffer out;
    w.AppendTo(out);
    return std::vector<uint8_t>(out.Data(), out.Data() + out.Size());
}

TEST(GpsTimePredictor, ChunkCodingAgreesWithThePredictorPointByPoint) {
    // The chunk's coder keeps the steps it weighs as it goes; whatever the
    // times (repeated ones, steps back, steps that wrap) and however the
    // direction flags run, it must code and restore what the predictor
    // gives point by point.
    std::mt19937_64 rng(27);
    for (const std::size_t n : {1u, 2u, 4u, 7u, 8u, 9u, 40u, 300u, 5000u}) {
        // Short chunks many times over: their first points are where the
        // kept steps start.
        for (int round = 0; round < (n <= 40 ? 300 : 6); ++round) {
            ChunkColumns c;
            c.Resize(n, 1);
            int64_t step = static_cast<int64_t>(rng() % 50);
            uint8_t flag = static_cast<uint8_t>(rng() & 1);
            for (std::size_t k = 0; k < n; ++k) {
                switch (rng() % 8) {
                    case 0: step = static_cast<int64_t>(rng() % 200) - 100; break;  // back in time too
                    case 1: step = 0; break;                                        // returns of one pulse
                    case 2: step = static_cast<int64_t>(rng()); break;              // wraps
                    default: break;
                }
                if (rng() % (round % 2 ? 40 : 3) == 0) flag ^= 1;
                const int64_t prev = k == 0 ? static_cast<int64_t>(rng()) : c.gpsBits[k - 1];
                c.gpsBits[k] = k > 0 && rng() % 4 == 0 ? prev : wrap::Add64(prev, step);
                c.returnBits[k] = static_cast<uint8_t>(flag << 6 | (rng() & 0x3F));
            }
            const int64_t* t = c.gpsBits.data();
            auto hi = [](int64_t r) { return static_cast<int32_t>(static_cast<uint64_t>(r) >> 32); };
            auto lo = [](int64_t r) { return static_cast<int32_t>(static_cast<uint32_t>(r)); };
            std::vector<int64_t> residuals = {t[0]};
            for (std::size_t k = 1; k < n; ++k) {
                residuals.push_back(wrap::Sub64(t[k], gpstime::Predict(t, c.returnBits.data(), k)));
            }
            const auto expect = [&](int32_t (*half)(int64_t)) {
                return CodedBlock([&](valueblock::CBlockWriter& w) {
                    valueblock::SplitCursor cursor = w.Begin(n, half(residuals[0]));
                    for (std::size_t k = 1; k < n; ++k) cursor.Add(half(residuals[k]));
                    w.End(cursor);
                });
            };
            std::vector<uint8_t> high, low;
            high = CodedBlock([&](valueblock::CBlockWriter& h) {
                low = CodedBlock([&](valueblock::CBlockWriter& l) { gpstime::Split(c, h, l); });
            });
            ASSERT_EQ(high, expect(+hi)) << n << " points, round " << round;
            ASSERT_EQ(low, expect(+lo)) << n << " points, round " << round;

            TempDir dir;
            std::vector<uint8_t> both = high;
            both.insert(both.end(), low.begin(), low.end());
            WriteAll(dir.File("g"), both);
            CFile f(dir.File("g"), "rb");
            InputWindow in(f);
            valueblock::CBlockBytes hb, lb;
            hb.Read(in, n, ProcessorCode::Detected().decoder);
            lb.Read(in, n, ProcessorCode::Detected().decoder);
            ChunkColumns back;
            back.Resize(n, 1);
            back.returnBits = c.returnBits;
            gpstime::Restore(hb, lb, back);
            ASSERT_EQ(back.gpsBits, c.gpsBits) << n << " points, round " << round;
        }
    }
}

TEST(DifferenceBytes, SmallAttributesAreCodedAsDocumented) {
    // The bytes of an attribute's stream from the chunk's columns, and the
    // columns restored from them.
    auto streamBytes = [](attrs::ByteAttr a, largepages::Vector<uint8_t> ChunkColumns::*column,
                          largepages::Vector<uint8_t> values) {
        ChunkColumns c;
        c.Resize(values.size(), 0);
        c.*column = values;
        std::vector<uint8_t> bytes(values.size());
        attrs::FillBytes(a, c, bytes.data());
        ChunkColumns back;
        back.Resize(values.size(), 0);
        attrs::RestoreBytes(a, bytes.data(), back);
        std::vector<uint8_t> again(values.size());
        attrs::FillBytes(a, back, again.data());
        EXPECT_EQ(again, bytes);
        return bytes;
    };
    // Scan direction 0,1,1,0 in bit 6 of the return byte, other bits set around it.
    EXPECT_EQ(streamBytes(attrs::ByteAttr::ScanDirection, &ChunkColumns::returnBits, {0x3F, 0x7F, 0xFF, 0x80}),
              (std::vector<uint8_t>{0, 1, 0, 255}));
    EXPECT_EQ(streamBytes(attrs::ByteAttr::ScanAngle, &ChunkColumns::scanAngle, {0xF6, 0xF4}),
              (std::vector<uint8_t>{0xF6, 0xFE}));
    EXPECT_EQ(streamBytes(attrs::ByteAttr::Classification, &ChunkColumns::classification, {2, 130}),
              (std::vector<uint8_t>{2, 128}));
    EXPECT_EQ(streamBytes(attrs::ByteAttr::ReturnNumber, &ChunkColumns::returnBits, {0xF9, 0x0A}),
              (std::vector<uint8_t>{1, 2}));
}

TEST(DifferenceBytes, RestoringOneFieldKeepsTheOthersOfItsByte) {
    ChunkColumns c;
    c.Resize(3, 0);
    c.returnBits = {0xFF, 0x00, 0xA5};
    // Number of returns (bits 3-5) 2, 3, 7 as differences 2, 1, 4.
    const uint8_t bytes[] = {2, 1, 4};
    attrs::RestoreBytes(attrs::ByteAttr::NumberOfReturns, bytes, c);
    EXPECT_EQ(c.returnBits, (largepages::Vector<uint8_t>{0xD7, 0x18, 0xBD}));
}

TEST(DifferenceValues, PointSourceWrapsBackToZero) {
    const largepages::Vector<uint16_t> v = {65535, 0, 7};
    TempDir dir;
    WriteAll(dir.File("s"), CodedBlock([&](valueblock::CBlockWriter& w) { attrs::SplitDifferences16(v, w); }));
    {
        CFile f(dir.File("s"), "rb");
        InputWindow in(f);
        std::vector<int32_t> r(3);
        valueblock::DecodeValueBlock(in, r.data(), 3, ProcessorCode::Detected().decoder);
        EXPECT_EQ(r, (std::vector<int32_t>{65535, -65535, 7}));
    }
    CFile f(dir.File("s"), "rb");
    InputWindow in(f);
    valueblock::CBlockBytes b;
    b.Read(in, 3, ProcessorCode::Detected().decoder);
    largepages::Vector<uint16_t> back(3);
    attrs::RestoreDifferences16(b, back);
    EXPECT_EQ(back, v);
}

}  // namespace
