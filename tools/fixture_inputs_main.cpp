// velmora-fixture-inputs: writes the small LAS files behind the golden entry
// fixtures of tests/engine/fixtures. Most are generated surveys of every
// point format; the crafted ones put the coders' edges where an encoder and
// a decoder that changed together would still agree: value magnitudes at the
// byte-length bounds, matches exactly at the end of the look-back windows,
// several near matches in one group of eight steps, every kind of scan
// direction change under the GPS time predictor. The coordinates and times
// are built from the predictors' own output, so each residual lands exactly
// where it is meant to. The files are committed: the entries are only
// meaningful for these exact inputs, whatever later becomes of this tool.
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "LasGenerator.h"
#include "engine/CoordinateCodec.h"
#include "engine/GpsTimeCodec.h"
#include "engine/ChunkColumns.h"
#include "engine/WrapMath.h"
#include "las/LasPoint.h"

namespace {

using wrap::Add32;
using wrap::Sub32;

// splitmix64, so the files do not depend on the platform's library.
class Rng {
public:
    explicit Rng(uint64_t seed) : state(seed) {}
    uint64_t Next() {
        uint64_t z = (state += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    int32_t Range(int32_t lo, int32_t hi) {
        return lo + static_cast<int32_t>(Next() % static_cast<uint64_t>(hi - lo + 1));
    }

private:
    uint64_t state;
};

// Every field of a cloud as columns; written out in the cloud's format.
struct Cloud {
    int format = 0;
    std::size_t n = 0;
    std::vector<int32_t> x, y, z;
    std::vector<uint16_t> intensity, pointSource, red, green, blue;
    std::vector<uint8_t> returnBits, classification, scanAngle, userData;
    std::vector<int64_t> gps;

    Cloud(int f, std::size_t count, uint64_t seed) : format(f), n(count) {
        x.assign(n, 0);
        y.assign(n, 0);
        z.assign(n, 0);
        intensity.assign(n, 0);
        pointSource.assign(n, 0);
        red.assign(n, 0);
        green.assign(n, 0);
        blue.assign(n, 0);
        returnBits.assign(n, 0);
        classification.assign(n, 0);
        scanAngle.assign(n, 0);
        userData.assign(n, 0);
        gps.assign(n, 0);
        // Plausible small attributes, so every byte row has some variety.
        Rng rng(seed);
        for (std::size_t i = 0; i < n; ++i) {
            const int returns = rng.Range(1, 4);
            const int number = rng.Range(1, returns);
            returnBits[i] = static_cast<uint8_t>(number | (returns << 3) | ((i / 37) % 2) << 6 |
                                                 (i % 97 == 0 ? 0x80 : 0));
            classification[i] = static_cast<uint8_t>(rng.Range(0, 40) == 0 ? rng.Range(0, 255) : rng.Range(1, 6));
            scanAngle[i] = static_cast<uint8_t>(static_cast<int8_t>(rng.Range(-30, 30)));
            userData[i] = static_cast<uint8_t>(rng.Range(0, 9) == 0 ? rng.Range(0, 255) : 0);
            intensity[i] = static_cast<uint16_t>(rng.Range(0, 600));
            pointSource[i] = static_cast<uint16_t>(7 + i / 300);
            red[i] = static_cast<uint16_t>(rng.Range(0, 65535));
            green[i] = static_cast<uint16_t>(rng.Range(20000, 21000));
            blue[i] = static_cast<uint16_t>(rng.Range(0, 255) << 8);
            gps[i] = 0x41100000'00000000ll + static_cast<int64_t>(i) * 40000;
        }
    }

    uint8_t Flag(std::size_t i) const { return (returnBits[i] >> 6) & 1; }
    void SetFlag(std::size_t i, int f) {
        returnBits[i] = static_cast<uint8_t>((returnBits[i] & ~0x40) | (f << 6));
    }

    std::vector<uint8_t> Records() const {
        ChunkColumns cols;
        cols.Resize(n, format);
        const auto put = [](auto& column, const auto& values) { column.assign(values.begin(), values.end()); };
        put(cols.x, x);
        put(cols.y, y);
        put(cols.z, z);
        put(cols.intensity, intensity);
        put(cols.returnBits, returnBits);
        put(cols.classification, classification);
        put(cols.scanAngle, scanAngle);
        put(cols.userData, userData);
        put(cols.pointSource, pointSource);
        if (rec::HasGpsTime(format)) put(cols.gpsBits, gps);
        if (rec::HasRgb(format)) {
            put(cols.rgb[0], red);
            put(cols.rgb[1], green);
            put(cols.rgb[2], blue);
        }
        const std::size_t r = rec::RecordSize(format);
        std::vector<uint8_t> out(n * r, 0);
        cols.Gather(out.data(), r, 0, n);
        return out;
    }
};

bool Write(const std::string& path, const Cloud& c, int vlrs = 2, int gap = 0, int versionMinor = 2) {
    LasGenOptions layout;
    layout.format = c.format;
    layout.vlrCount = vlrs;
    layout.extraGapBytes = gap;
    layout.versionMinor = versionMinor;
    LasFileWriter w;
    const std::vector<uint8_t> records = c.Records();
    return w.Begin(path, layout) && w.Add(records.data(), c.n) && w.Finish();
}

// Builds a coordinate column from the steps wanted, point after point.
std::vector<int32_t> FromSteps(int32_t first, const std::vector<int32_t>& steps) {
    std::vector<int32_t> v(steps.size());
    v[0] = first;
    for (std::size_t i = 1; i < v.size(); ++i) v[i] = Add32(v[i - 1], steps[i]);
    return v;
}

// X whose residual at point i is residual(i): each X is its prediction plus
// the residual.
std::vector<int32_t> XWithResiduals(std::size_t n, int32_t first, const std::function<int32_t(std::size_t)>& residual) {
    std::vector<int32_t> x(n), dx(n, 0);
    x[0] = first;
    for (std::size_t i = 1; i < n; ++i) {
        x[i] = Add32(coords::PredictX(x[i - 1], dx.data() + i, i), residual(i));
        dx[i] = Sub32(x[i], x[i - 1]);
    }
    return x;
}

// Magnitudes on both sides of every bound between one, two, three and four
// magnitude bytes, and the extremes.
const std::vector<int64_t> kEdges = {1,     254,   255,      256,      257,      65534,    65535,     65536,
                                     65537, 16777214, 16777215, 16777216, 16777217, 2147483647, -2147483648LL};

int32_t EdgeValue(std::size_t k) {
    const int64_t m = kEdges[(k / 2) % kEdges.size()];
    return static_cast<int32_t>(k % 2 == 0 ? m : -m);
}

// Value magnitudes at every byte-length bound, in X, the GPS time halves,
// the point source ID, intensity and red.
bool ValueLengths(const std::string& dir) {
    const std::size_t n = 1400;
    Cloud c(3, n, 11);
    Rng rng(12);
    c.x = XWithResiduals(n, 1234567, [&](std::size_t i) { return i % 3 == 0 ? EdgeValue(i / 3) : rng.Range(-20, 20); });
    for (std::size_t i = 1; i < n; ++i) {
        c.y[i] = c.y[i - 1] + rng.Range(-9, 9);
        // Z jumps by more than 3000 up and down now and then, for the
        // intensity predictor's branches.
        const int32_t jump = i % 50 == 10 ? 4000 : i % 50 == 30 ? -4000 : rng.Range(-150, 150);
        c.z[i] = c.z[i - 1] + jump;
    }
    // Differences of 16-bit values reach 65,535 only from one extreme to the
    // other; the other bounds anywhere.
    const uint16_t pattern[] = {0,     65535, 0,   255, 0,     256,   512, 256,   65535, 65280,
                                65279, 65535, 300, 44,  44,    65534, 1,   65535, 254,   510};
    const std::size_t p = std::size(pattern);
    for (std::size_t i = 0; i < n; ++i) {
        c.pointSource[i] = pattern[i % p];
        if (i < 700) c.red[i] = pattern[(i + 7) % p];
        if (i < 300) c.intensity[i] = pattern[(i + 3) % p];
    }
    // GPS residuals whose halves sit at the bounds: each time is the
    // prediction plus the residual wanted.
    for (std::size_t i = 0; i < n; ++i) c.SetFlag(i, (i / 23) % 2);
    for (std::size_t k = 1; k < n; ++k) {
        const uint32_t low = static_cast<uint32_t>(k % 4 == 1 ? EdgeValue(k / 4) : rng.Range(-3000, 3000));
        const uint32_t high = static_cast<uint32_t>(k % 4 == 3 ? EdgeValue(k / 4 + 5) : rng.Range(-1, 1));
        const int64_t r = static_cast<int64_t>((uint64_t{high} << 32) | low);
        c.gps[k] = wrap::Add64(gpstime::Predict(c.gps.data(), c.returnBits.data(), k), r);
    }
    return Write(dir + "/value_lengths.las", c, 1);
}

// Steps that are unique within any 200 points: no two closer than 17 in X
// and 23 in Y, so no step is near another by chance.
int32_t UniqueX(std::size_t j) { return 1000 + 17 * static_cast<int32_t>(j % 200); }
int32_t UniqueY(std::size_t j) { return -5000 + 23 * static_cast<int32_t>(j % 200); }
int32_t SomeZ(std::size_t j) { return 37 * static_cast<int32_t>(j % 50) - 900; }

struct Steps {
    std::vector<int32_t> dx, dy, dz;
    explicit Steps(std::size_t n) : dx(n), dy(n), dz(n) {
        for (std::size_t j = 1; j < n; ++j) {
            dx[j] = UniqueX(j);
            dy[j] = UniqueY(j);
            dz[j] = SomeZ(j);
        }
    }
    void Apply(Cloud& c) const {
        c.x = FromSteps(500000, dx);
        c.y = FromSteps(-800000, dy);
        c.z = FromSteps(12000, dz);
    }
};

// The only pair of the vote window that is not a tie lies `back` pairs
// before point c: X and Y steps are constant from there to c - 2, so every
// other pair is explained equally well by both slopes (the pair at c - 2
// too, by construction of the slopes). The pair decides for the X slope, so
// a window one pair too short or too long predicts with the other slope.
void DecisiveVotePair(Steps& s, std::size_t c, std::size_t back) {
    const std::size_t j = c - 2 - back;  // the decisive pair: steps at j and j + 1
    for (std::size_t k = j + 1; k <= c - 2; ++k) {
        s.dx[k] = 40;
        s.dy[k] = -30;
    }
    s.dx[j] = 30;
    s.dy[j] = -30;
    s.dz[j] = 100;  // slope X (-4) times the X step change (10) plus 100 is 60: no error
    s.dz[j + 1] = 60;
    s.dx[c - 1] = 42;  // Ax; Bx = 40
    s.dy[c - 1] = -34;  // Ay; By = -30
    s.dz[c - 2] = 20;  // Bz
    s.dz[c - 1] = 12;  // Az: slopes -4 for X and 2 for Y, both exact
    s.dx[c] = 5040;    // matches nothing in the window
    s.dy[c] = 3000;
}

// Matches exactly at the far end of the look-back window (found) and one
// step beyond it (not found), for Y alone and for Y and Z; and the vote
// window decided by its last pair or by the pair just outside it.
bool Windows(const std::string& dir) {
    const std::size_t n = 1300;
    Steps s(n);
    s.dx[250] = s.dx[150];  // X and Y steps 100 back: both predictors match there
    s.dy[250] = s.dy[150];
    s.dx[500] = s.dx[399];  // 101 back: neither may match
    s.dy[500] = s.dy[399];
    DecisiveVotePair(s, 750, 100);  // outside the window of 100 pairs
    DecisiveVotePair(s, 1000, 99);  // the window's last pair
    s.dx[1200] = s.dx[1100];        // Y matches 100 back; Z does not (Y step far)
    s.dy[1200] = UniqueY(1100) + 11;
    Cloud c(0, n, 21);
    s.Apply(c);
    return Write(dir + "/windows.las", c, 0);
}

// Several steps near the current one inside one group of eight (the nearest
// must win, whichever lane it sits in), matches in two neighbouring groups,
// the nearest step itself, and an X-only match nearer than a full one.
bool Lanes(const std::string& dir) {
    const std::size_t n = 1200;
    Steps s(n);
    auto near = [&](std::size_t c, std::size_t back, int32_t ddx, int32_t ddy, int32_t dz) {
        s.dx[c - back] = s.dx[c] + ddx;
        s.dy[c - back] = s.dy[c] + ddy;
        s.dz[c - back] = dz;
    };
    const std::size_t events[] = {300, 600, 900, 1100};
    for (std::size_t c : events) {
        s.dx[c] = UniqueX(c) + 8;  // between two unique steps, 8 and 9 away
        s.dy[c] = UniqueY(c) + 11;
    }
    near(300, 10, 1, 2, 333);
    near(300, 12, -2, -1, 444);
    near(300, 14, 3, 4, 555);
    near(600, 7, -3, 1, 666);
    near(600, 9, 2, -2, 777);
    near(900, 1, 4, -4, 888);
    near(900, 3, -4, 4, 999);
    near(1100, 3, 1, 200, 1111);  // X only
    near(1100, 11, -1, 1, 1222);  // X and Y
    Cloud c(0, n, 31);
    s.Apply(c);
    return Write(dir + "/lanes.las", c, 1);
}

// GPS times under every kind of scan direction change: runs of both flags
// of many lengths, changes early (the walk back reaches the chunk's start)
// and late, equal times and falling steps; `flagOfPointOne` picks which
// kind of change the predictor measures.
bool GpsDirections(const std::string& dir, const std::string& name, int flagOfPointOne) {
    const std::size_t n = 1200;
    Cloud c(1, n, 41 + static_cast<uint64_t>(flagOfPointOne));
    Rng rng(42 + static_cast<uint64_t>(flagOfPointOne));
    // Two runs of one first: the walk back from the change at point 5 ends
    // at point 2, the earliest point it may measure from.
    const int runs[] = {1, 1, 2, 3, 1, 5, 8, 2, 1, 1, 4, 13, 2, 6, 1, 3, 21, 1, 2};
    // Point 0 has the other flag, so point 1 starts the first run.
    c.SetFlag(0, flagOfPointOne ^ 1);
    std::size_t i = 1;
    int flag = flagOfPointOne;
    for (std::size_t run = 0; i < n; ++run, flag ^= 1) {
        for (int k = 0; k < runs[run % std::size(runs)] && i < n; ++k) c.SetFlag(i++, flag);
    }
    c.gps[0] = 0x41100000'00000000ll;
    int64_t changes = 0;
    for (i = 1; i < n; ++i) {
        int64_t step = 1000;
        if (c.Flag(i) != c.Flag(i - 1)) step = 7777 + 13 * ++changes;
        else if (i % 41 == 0) step = 0;
        else if (i % 67 == 0) step = -500;
        else if (i % 5 == 0) step = 1000 + rng.Range(-3, 3);
        c.gps[i] = c.gps[i - 1] + step;
    }
    return Write(dir + "/" + name, c, 0);
}

// Every record byte random: large residuals in every row, every value of
// every byte attribute.
bool RandomBytes(const std::string& dir) {
    const std::size_t n = 1500;
    LasGenOptions layout;
    layout.format = 3;
    layout.vlrCount = 1;
    std::vector<uint8_t> records(n * rec::RecordSize(3));
    Rng rng(51);
    for (auto& b : records) b = static_cast<uint8_t>(rng.Next() >> 56);
    LasFileWriter w;
    return w.Begin(dir + "/random_f3.las", layout) && w.Add(records.data(), n) && w.Finish();
}

bool Generated(const std::string& dir, const std::string& name, uint64_t points, int format, int versionMinor,
               int vlrs, int gap) {
    LasGenOptions o;
    o.points = points;
    o.format = format;
    o.seed = 60 + points + static_cast<uint64_t>(format);
    o.versionMinor = versionMinor;
    o.vlrCount = vlrs;
    o.extraGapBytes = gap;
    return GenerateLasFile(dir + "/" + name, o);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTDIR\n", argv[0]);
        return 2;
    }
    const std::string dir = argv[1];
    const bool ok =
        // Coded entries of every format, from 1,000 points (the smallest
        // coded entry) up, with and without VLRs and gap bytes.
        Generated(dir, "gen_f0.las", 1000, 0, 0, 0, 0) && Generated(dir, "gen_f1.las", 1700, 1, 1, 3, 0) &&
        Generated(dir, "gen_f2.las", 1300, 2, 2, 1, 7) && Generated(dir, "gen_f3.las", 2500, 3, 2, 3, 0) &&
        // Raw entries, and small files coded because their gap takes the
        // marker byte.
        Generated(dir, "raw_f0.las", 999, 0, 2, 3, 0) && Generated(dir, "raw_f1.las", 10, 1, 1, 0, 0) &&
        Generated(dir, "raw_f2.las", 1, 2, 2, 2, 0) && Generated(dir, "raw_f3.las", 500, 3, 0, 0, 0) &&
        Generated(dir, "gap_f3_2.las", 2, 3, 2, 0, 5) && Generated(dir, "gap_f1_5.las", 5, 1, 2, 0, 3) &&
        RandomBytes(dir) && ValueLengths(dir) && Windows(dir) && Lanes(dir) &&
        GpsDirections(dir, "gps_first_flag_0.las", 0) && GpsDirections(dir, "gps_first_flag_1.las", 1);
    if (!ok) {
        std::fprintf(stderr, "velmora-fixture-inputs: cannot write into %s\n", dir.c_str());
        return 1;
    }
    return 0;
}
