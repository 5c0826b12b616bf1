// Each codec runs the versions of the hot loops it was given, whatever
// another codec in the same process runs at the same time.
#include <gtest/gtest.h>

#include <atomic>
#include <exception>
#include <functional>
#include <thread>

#include "EngineRoundTrip.h"
#include "LasGenerator.h"
#include "TestSupport.h"
#include "engine/PointCodec.h"
#include "engine/ProcessorCode.h"

using testsupport::ReadAll;
using testsupport::TempDir;

namespace {

// How often a codec called each of its loops.
struct Calls {
    std::atomic<long> match{0}, matchX{0}, vote{0}, residualsX{0};
    std::atomic<long> encode{0}, encodeVector{0}, decode{0};

    void Clear() {
        for (auto* c : {&match, &matchX, &vote, &residualsX, &encode, &encodeVector, &decode}) c->store(0);
    }
};

// A table whose every loop counts the call and passes it on to the version
// it wraps: which loops a codec ran, seen from outside. Slot tells two
// tables in use at once apart.
template <int Slot>
struct Counted {
    static inline ProcessorCode inner = ProcessorCode::Plain();
    static inline Calls calls;

    static long Match(const int32_t* dx, const int32_t* dy, int32_t ddx, int32_t ddy, long count) {
        ++calls.match;
        return inner.coords.match(dx, dy, ddx, ddy, count);
    }
    static long MatchX(const int32_t* dx, int32_t ddx, long count) {
        ++calls.matchX;
        return inner.coords.matchX(dx, ddx, count);
    }
    static bool Vote(const double* turnX, const double* turnY, const int32_t* dz, double kx, double ky, long count) {
        ++calls.vote;
        return inner.coords.xExplainsBetter(turnX, turnY, dz, kx, ky, count);
    }
    static void ResidualsX(const int32_t* dx, std::size_t n, int32_t* out) {
        ++calls.residualsX;
        inner.coords.residualsX(dx, n, out);
    }
    template <int N>
    static void Encode(bytestream::detail::EncodeLane* const* lanes, std::size_t from, std::size_t steps) {
        ++calls.encode;
        inner.encoder.lanes[N - 1](lanes, from, steps);
    }
    static void EncodeVector(bytestream::detail::EncodeLane* const* lanes, int live, std::size_t from,
                             std::size_t steps) {
        ++calls.encodeVector;
        inner.encoder.vector(lanes, live, from, steps);
    }
    template <int N>
    static void Decode(bytestream::detail::DecodeLane* const* lanes, std::size_t steps) {
        ++calls.decode;
        inner.decoder.lanes[N - 1](lanes, steps);
    }

    static ProcessorCode Wrap(const ProcessorCode& code) {
        inner = code;
        calls.Clear();
        ProcessorCode counted = code;
        counted.coords.match = Match;
        counted.coords.matchX = MatchX;
        counted.coords.xExplainsBetter = Vote;
        counted.coords.residualsX = ResidualsX;
        counted.encoder.lanes[0] = Encode<1>;
        counted.encoder.lanes[1] = Encode<2>;
        counted.encoder.lanes[2] = Encode<3>;
        counted.encoder.lanes[3] = Encode<4>;
        if (code.encoder.vector) counted.encoder.vector = EncodeVector;
        counted.decoder.lanes[0] = Decode<1>;
        counted.decoder.lanes[1] = Decode<2>;
        counted.decoder.lanes[2] = Decode<3>;
        return counted;
    }
};

// Runs a and b on two threads at once; rethrows what either threw.
void AtOnce(const std::function<void()>& a, const std::function<void()>& b) {
    std::exception_ptr failed;
    std::thread other([&] {
        try {
            a();
        } catch (...) {
            failed = std::current_exception();
        }
    });
    b();
    other.join();
    if (failed) std::rethrow_exception(failed);
}

// Every loop of the table was called, the vector encoder's where it has one.
void ExpectRan(const Calls& c, const ProcessorCode& code, bool decoded, const std::string& who) {
    EXPECT_GT(c.match, 0) << who;
    EXPECT_GT(c.matchX, 0) << who;
    EXPECT_GT(c.vote, 0) << who;
    EXPECT_GT(c.residualsX, 0) << who;
    EXPECT_GT(c.encode, 0) << who;
    if (code.encoder.vector) EXPECT_GT(c.encodeVector, 0) << who;
    if (decoded) {
        EXPECT_GT(c.decode, 0) << who;
    } else {
        EXPECT_EQ(c.decode, 0) << who << ": decoding, while only encoding";
    }
}

// Two codecs, one with the plain loops and one with each level of the
// processor's own (the plain ones too), compress the same file at the same
// time, then each decompresses the other's entry, again at the same time:
// the same bytes from both, the file back from both, and each codec's calls
// went to its own table.
TEST(ProcessorCode, TwoCodecsAtOnceEachRunTheirOwnLoops) {
    TempDir dir;
    LasGenOptions o;
    o.points = 40000;
    o.format = 3;
    o.seed = 26;
    const std::string las = dir.File("in.las");
    ASSERT_TRUE(GenerateLasFile(las, o));
    const auto original = ReadAll(las);
    for (const ProcessorCode& level : testsupport::ProcessorCodeLevels()) {
        const std::string name = level.Name();
        CPointCodec plain, other;
        plain.SetThreadCount(2);
        other.SetThreadCount(2);
        plain.UseProcessorCode(Counted<0>::Wrap(ProcessorCode::Plain()));
        other.UseProcessorCode(Counted<1>::Wrap(level));

        AtOnce([&] { testsupport::CompressToFile(plain, las, dir.File("plain.entry")); },
               [&] { testsupport::CompressToFile(other, las, dir.File("other.entry")); });
        const auto plainEntry = ReadAll(dir.File("plain.entry"));
        EXPECT_FALSE(plainEntry.empty());
        EXPECT_TRUE(plainEntry == ReadAll(dir.File("other.entry"))) << "plain and " << name;
        ExpectRan(Counted<0>::calls, ProcessorCode::Plain(), false, "plain beside " + name);
        ExpectRan(Counted<1>::calls, level, false, name);

        AtOnce([&] { testsupport::DecompressFromFile(plain, dir.File("other.entry"), dir.File("plain.las")); },
               [&] { testsupport::DecompressFromFile(other, dir.File("plain.entry"), dir.File("other.las")); });
        EXPECT_TRUE(ReadAll(dir.File("plain.las")) == original) << "plain beside " << name;
        EXPECT_TRUE(ReadAll(dir.File("other.las")) == original) << name;
        ExpectRan(Counted<0>::calls, ProcessorCode::Plain(), true, "plain beside " + name);
        ExpectRan(Counted<1>::calls, level, true, name);
    }
}

// Unless told otherwise, a codec runs the fastest version of each loop
// that the processor lists.
TEST(ProcessorCode, ACodecRunsTheFastestLoopsByDefault) {
    CPointCodec codec;
    const ProcessorCode& code = codec.Code();
    const coords::Kernels kernels = coords::Kernels::Available().back();
    const bytestream::EncoderLoops encoder = bytestream::EncoderLoops::Available().back();
    const bytestream::DecoderLoops decoder = bytestream::DecoderLoops::Available().back();
    EXPECT_EQ(code.coords.match, kernels.match) << code.Name();
    EXPECT_EQ(code.coords.xExplainsBetter, kernels.xExplainsBetter) << code.Name();
    EXPECT_EQ(code.encoder.lanes[3], encoder.lanes[3]) << code.Name();
    EXPECT_EQ(code.encoder.vector, encoder.vector) << code.Name();
    EXPECT_EQ(code.decoder.lanes[2], decoder.lanes[2]) << code.Name();
}

}  // namespace
