#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <numeric>

#include "TestSupport.h"
#include "engine/ByteStreamCoder.h"
#include "engine/ByteStreamCore.h"
#include "engine/EngineMessages.h"
#include "engine/InputWindow.h"
#include "engine/ProcessorCode.h"
#include "las/FileIo.h"
#include "las/LasException.h"

using testsupport::TempDir;
using testsupport::WriteAll;

namespace {

std::vector<uint8_t> Encode(const std::vector<uint8_t>& data, std::size_t* bits = nullptr,
                            const bytestream::EncoderLoops& loops = ProcessorCode::Detected().encoder) {
    std::vector<uint8_t> out;
    bytestream::EncodeByteStream(data.data(), data.size(), out, loops, bits);
    return out;
}

// Decodes `lengths.size()` streams back to back from a file holding `bytes`;
// returns the decoded arrays and the offset after each stream.
struct Decoded {
    std::vector<std::vector<uint8_t>> arrays;
    std::vector<int64_t> ends;
};
Decoded DecodeAll(const std::vector<uint8_t>& bytes, const std::vector<std::size_t>& lengths) {
    TempDir dir;
    WriteAll(dir.File("s"), bytes);
    CFile f(dir.File("s"), "rb");
    InputWindow in(f);
    Decoded d;
    for (std::size_t n : lengths) {
        std::vector<uint8_t> a(n);
        bytestream::DecodeByteStream(in, a.data(), n, ProcessorCode::Detected().decoder);
        d.arrays.push_back(a);
        d.ends.push_back(in.Position());
    }
    return d;
}

int Sum(const uint16_t f[256]) { return std::accumulate(f, f + 256, 0); }

// The coder one bit at a time, as plainly as it can be written: the
// reference the fast encoder must match bit for bit. rangeAt, when given,
// hears the width of the interval before each symbol (the decoder's is the
// same).
std::vector<uint8_t> EncodeBitByBit(const std::vector<uint8_t>& data,
                                    const std::function<void(std::size_t, int32_t)>& rangeAt = {}) {
    uint16_t f[256];
    bytestream::BuildModel(data.data(), data.size(), f);
    uint32_t lowOf[257] = {0};
    for (int k = 0; k < 256; ++k) lowOf[k + 1] = lowOf[k] + f[k];
    std::vector<uint8_t> out;
    for (int k = 0; k < 256; ++k) {
        out.push_back(static_cast<uint8_t>(lowOf[k + 1]));
        out.push_back(static_cast<uint8_t>(lowOf[k + 1] >> 8));
    }
    std::vector<int> bits;
    int32_t low = 0, high = 0xFFFF, pending = 0;
    auto emit = [&](int bit) {
        bits.push_back(bit);
        for (; pending > 0; --pending) bits.push_back(!bit);
    };
    for (std::size_t i = 0; i < data.size(); ++i) {
        const uint8_t b = data[i];
        const int32_t range = high - low + 1;
        if (rangeAt) rangeAt(i, range);
        high = low + range * static_cast<int32_t>(lowOf[b + 1]) / 10000 - 1;
        low = low + range * static_cast<int32_t>(lowOf[b]) / 10000;
        for (;;) {
            if ((high & 0x8000) == (low & 0x8000)) {
                emit((high >> 15) & 1);
            } else if ((low & 0x4000) && !(high & 0x4000)) {
                ++pending;
                low &= 0x3FFF;
                high |= 0x4000;
            } else {
                break;
            }
            low = (low << 1) & 0xFFFF;
            high = ((high << 1) | 1) & 0xFFFF;
        }
    }
    ++pending;
    emit((low >> 14) & 1);
    bits.resize(bits.size() / 8 * 8 + 8, 0);  // 1 to 8 zero bits of padding
    for (std::size_t i = 0; i < bits.size(); i += 8) {
        uint8_t byte = 0;
        for (int k = 0; k < 8; ++k) byte = static_cast<uint8_t>(byte << 1 | bits[i + k]);
        out.push_back(byte);
    }
    out.insert(out.end(), {0xFF, 0xFF, 0x00});
    return out;
}

TEST(ByteStreamModel, OneRareValueGetsTheFloorAndZeroPaysForIt) {
    std::vector<uint8_t> data(100000, 0);
    data[500] = 5;
    uint16_t f[256];
    bytestream::BuildModel(data.data(), data.size(), f);
    EXPECT_EQ(f[0], 9999);
    EXPECT_EQ(f[5], 1);
    EXPECT_EQ(Sum(f), 10000);
}

TEST(ByteStreamModel, ShortfallGoesToByteZeroEvenWhenItDoesNotOccur) {
    std::vector<uint8_t> data;
    for (int i = 0; i < 300; ++i) data.insert(data.end(), {1, 2, 3});
    uint16_t f[256];
    bytestream::BuildModel(data.data(), data.size(), f);
    EXPECT_EQ(f[1], 3333);
    EXPECT_EQ(f[2], 3333);
    EXPECT_EQ(f[3], 3333);
    EXPECT_EQ(f[0], 1);
    EXPECT_EQ(Sum(f), 10000);
}

TEST(ByteStreamModel, ExcessWalkTakesUnitsOnTheWayThenTheRestFromOneValue) {
    uint16_t f[256] = {5, 3, 2, 9000};
    bytestream::AbsorbExcess(f, 4);
    EXPECT_EQ(f[0], 4);
    EXPECT_EQ(f[1], 2);
    EXPECT_EQ(f[2], 2);
    EXPECT_EQ(f[3], 8998);
}

TEST(ByteStreamModel, ExcessThatOnePassCannotAbsorbEndsWithExactTotal) {
    // Values 0..170 occur once each and are raised to the floor of 1; values
    // 171..255 occur 1,608 times each and round up to 118. The excess of 201
    // is larger than any of them by more than 10 all through the first pass,
    // which takes one unit from each of the 85; the second pass takes one
    // from ten more and the remaining 95 from value 181.
    std::vector<uint8_t> data;
    for (int v = 0; v <= 170; ++v) data.push_back(static_cast<uint8_t>(v));
    for (int v = 171; v <= 255; ++v) data.insert(data.end(), 1608, static_cast<uint8_t>(v));
    uint16_t f[256];
    bytestream::BuildModel(data.data(), data.size(), f);
    EXPECT_EQ(Sum(f), 10000);
    for (int v = 0; v <= 170; ++v) EXPECT_EQ(f[v], 1) << "value " << v;
    for (int v = 171; v <= 180; ++v) EXPECT_EQ(f[v], 116) << "value " << v;
    EXPECT_EQ(f[181], 11);
    for (int v = 182; v <= 255; ++v) EXPECT_EQ(f[v], 117) << "value " << v;

    // The stream built on that model still decodes.
    const auto stream = Encode(data);
    EXPECT_EQ(DecodeAll(stream, {data.size()}).arrays[0], data);
}

TEST(ByteStreamModel, PremultipliedBoundsScaleExactlyLikeTheDivision) {
    using namespace bytestream::detail;
    const uint32_t bounds[] = {0, 1, 2, 3, 7, 1000, 3333, 4999, 5000, 6667, 9998, 9999, 10000};
    for (uint32_t range = 1; range <= 65536; ++range) {
        for (uint32_t bound : bounds) {
            ASSERT_EQ(ScaledBound(range, Premultiplied(bound)), range * bound / 10000)
                << "range " << range << ", bound " << bound;
        }
    }
}

TEST(ByteStream, ThousandZeroBytesMakeTheSmallestStream) {
    const std::vector<uint8_t> zeros(1000, 0);
    std::size_t bits = 0;
    const auto s = Encode(zeros, &bits);
    ASSERT_EQ(s.size(), 516u);
    for (int k = 0; k < 256; ++k) {
        EXPECT_EQ(s[2 * k], 0x10);
        EXPECT_EQ(s[2 * k + 1], 0x27);
    }
    EXPECT_EQ(bits, 2u);
    EXPECT_EQ(s[512], 0x40);
    EXPECT_EQ(s[513], 0xFF);
    EXPECT_EQ(s[514], 0xFF);
    EXPECT_EQ(s[515], 0x00);

    auto bytes = s;
    bytes.push_back(0xAB);  // the next item
    const auto d = DecodeAll(bytes, {1000});
    EXPECT_EQ(d.arrays[0], zeros);
    EXPECT_EQ(d.ends[0], 516) << "the next item begins right after the marker";
}

TEST(ByteStream, FastEncoderWritesTheBitsOfTheBitByBitCoder) {
    std::vector<std::vector<uint8_t>> inputs;
    // Runs of a value whose range is exactly the middle half of the
    // interval (values 1, 2, 3 in the proportions 1:2:1, each 1 or 3
    // bringing back the whole interval): each 2 of a run adds one pending
    // bit, so a run is as many pending bits, more than one store of the
    // fast encoder takes.
    std::vector<uint8_t> middle;
    int count[4] = {0, 0, 0, 0};
    auto put = [&](uint8_t v, int times) {
        middle.insert(middle.end(), static_cast<std::size_t>(times), v);
        count[v] += times;
    };
    for (int run : {3, 24, 25, 31, 32, 33, 64, 70, 200, 1000}) {
        put(1, 1);
        put(2, run);
        put(run % 2 ? 3 : 1, 1);
    }
    const int quarter = 1000;
    while (count[1] < quarter || count[3] < quarter) {
        if (count[1] < quarter) put(1, 1);
        if (count[3] < quarter) put(3, 1);
    }
    put(2, 2 * quarter - count[2]);
    inputs.push_back(middle);
    // Values 0 to 4 at random, and every other value 25 times in 200,000:
    // each of those gets the smallest frequency, and where the interval is
    // narrow its share of it is a single unit (low and high alike).
    std::vector<uint8_t> rare(200000);
    uint32_t mix = 1;
    for (auto& b : rare) {
        mix = mix * 1664525u + 1013904223u;
        b = static_cast<uint8_t>((mix >> 8) % 5);
    }
    for (std::size_t t = 0; t < 25; ++t) {
        for (std::size_t v = 5; v < 256; ++v) rare[((v + 256 * t) * 7919) % rare.size()] = static_cast<uint8_t>(v);
    }
    inputs.push_back(rare);
    // Skewed, uniform, two-valued and single-valued data of many lengths.
    uint32_t seed = 5;
    for (int k = 0; k < 60; ++k) {
        std::vector<uint8_t> a(1 + (k * 2711) % 7000);
        const int spread = k % 4 == 0 ? 256 : k % 4 == 1 ? 2 : 1 + k;
        for (auto& b : a) {
            seed = seed * 1664525u + 1013904223u;
            const uint32_t r = seed >> 8;
            b = static_cast<uint8_t>(r % 7 < 5 ? 0 : (r >> 5) % static_cast<uint32_t>(spread));
        }
        inputs.push_back(a);
    }
    std::vector<std::vector<uint8_t>> expected;
    for (const auto& in : inputs) {
        expected.push_back(EncodeBitByBit(in));
        EXPECT_EQ(DecodeAll(expected.back(), {in.size()}).arrays[0], in);
    }
    for (const bytestream::EncoderLoops& loops : bytestream::EncoderLoops::Available()) {
        const std::string way = loops.name;
        for (std::size_t i = 0; i < inputs.size(); ++i) {
            ASSERT_EQ(Encode(inputs[i], nullptr, loops), expected[i])
                << way << ", input of " << inputs[i].size() << " bytes";
        }
        // Side by side, in groups of every size the streams fall into (the
        // lanes of a group end at different lengths).
        for (std::size_t group : {2, 3, 5, 8, 11}) {
            std::vector<CByteBuffer> outs(inputs.size());
            std::vector<bytestream::EncodeRequest> requests;
            for (std::size_t i = 0; i < inputs.size(); ++i) {
                requests.push_back({inputs[i].data(), inputs[i].size(), &outs[i]});
            }
            for (std::size_t first = 0; first < inputs.size(); first += group) {
                bytestream::EncodeByteStreams(requests.data() + first, std::min(group, inputs.size() - first), loops);
            }
            for (std::size_t i = 0; i < inputs.size(); ++i) {
                EXPECT_EQ(std::vector<uint8_t>(outs[i].Data(), outs[i].Data() + outs[i].Size()), expected[i])
                    << way << ", groups of " << group << ", stream " << i;
            }
        }
    }
}

// The decoder tests the most probable value before dividing. Its test must
// turn down a code at the very bottom of the next value's interval, which
// the division maps to that value, not to the most probable one. That code
// arises only where range * (the most probable value's high bound) leaves
// 9,999 over 10,000: there the next value's interval starts at exactly
// (code - low + 1) * 10,000 - 1 == range * high. The data is arranged to
// reach such a state and to put the next value there, followed by zeros
// that hold the code at the bottom of its interval.
TEST(ByteStream, TheMostProbableValueIsNotTakenForTheValueJustAboveIt) {
    std::vector<uint8_t> data;
    uint16_t f[256];
    int32_t high = 0;
    // 1 is the most probable value (about 90 %, enough for the decoder to
    // test it first); 0 and 2 share the rest. Its high bound must have no
    // factor 2 or 5, or no range leaves 9,999 over.
    for (uint32_t seed = 1;; ++seed) {
        data.assign(300000, 1);
        uint32_t mix = seed;
        for (auto& b : data) {
            mix = mix * 1664525u + 1013904223u;
            const uint32_t r = (mix >> 8) % 1000;
            b = r < 45 + seed % 20 ? 0 : r < 100 ? 2 : 1;
        }
        bytestream::BuildModel(data.data(), data.size(), f);
        high = f[0] + f[1];
        if (high % 2 != 0 && high % 5 != 0) break;
        ASSERT_LT(seed, 100u);
    }
    ASSERT_GE(f[1], 8500);
    const std::size_t tail = 65;  // the value 2, then 64 zeros
    std::size_t at = 0;
    EncodeBitByBit(data, [&](std::size_t i, int32_t range) {
        if (at == 0 && i > 0 && i + tail < data.size() / 2 && range * high % 10000 == 9999) at = i;
    });
    ASSERT_NE(at, 0u) << "no state where the bound leaves 9,999 over";
    // The tail goes in by swapping values with later ones: the counts, and
    // so the model, stay as they are, and so does every state before it.
    std::size_t from = at + tail;
    for (std::size_t k = 0; k < tail; ++k) {
        const uint8_t want = k == 0 ? 2 : 0;
        if (data[at + k] == want) continue;
        while (data[from] != want) ++from;
        std::swap(data[at + k], data[from++]);
    }
    uint16_t again[256];
    bytestream::BuildModel(data.data(), data.size(), again);
    ASSERT_TRUE(std::equal(f, f + 256, again));
    const std::vector<uint8_t> coded = EncodeBitByBit(data);
    ASSERT_EQ(Encode(data), coded);
    const std::vector<uint8_t> back = DecodeAll(coded, {data.size()}).arrays[0];
    ASSERT_EQ(back.size(), data.size());
    EXPECT_EQ(back[at], 2) << "at symbol " << at;
    EXPECT_TRUE(back == data);
}

TEST(ByteStream, CodedBitsEndingOnAByteBoundaryGetAWholeZeroByte) {
    // Search deterministic inputs for one whose coded bits fill whole bytes.
    uint32_t seed = 1;
    bool found = false;
    for (int attempt = 0; attempt < 2000 && !found; ++attempt) {
        std::vector<uint8_t> data(50 + attempt % 97);
        for (auto& b : data) {
            seed = seed * 1103515245u + 12345u;
            b = static_cast<uint8_t>((seed >> 16) % 5);
        }
        std::size_t bits = 0;
        const auto s = Encode(data, &bits);
        if (bits % 8 != 0) continue;
        found = true;
        const std::size_t m = s.size() - 512 - 3;
        EXPECT_EQ(m, bits / 8 + 1);
        EXPECT_EQ(s[512 + m - 1], 0x00) << "padding byte";
        auto bytes = s;
        bytes.insert(bytes.end(), {1, 2, 3});
        const auto d = DecodeAll(bytes, {data.size()});
        EXPECT_EQ(d.arrays[0], data);
        EXPECT_EQ(d.ends[0], static_cast<int64_t>(s.size()));
    }
    EXPECT_TRUE(found);
}

TEST(ByteStream, StreamsBackToBackAcrossReadBlocksDecodeInPlace) {
    // Streams of many lengths, so markers fall at every offset of the
    // reader's blocks, and more than a megabyte in all, so the reader slides.
    std::vector<std::vector<uint8_t>> arrays;
    std::vector<uint8_t> bytes;
    std::vector<int64_t> ends;
    std::vector<std::size_t> lengths;
    uint32_t seed = 7;
    for (int k = 0; k < 300; ++k) {
        std::vector<uint8_t> a(1 + (k * 7919) % 9000);
        const int spread = 1 + k % 200;
        for (auto& b : a) {
            seed = seed * 1664525u + 1013904223u;
            b = static_cast<uint8_t>((seed >> 20) % spread);
        }
        const auto s = Encode(a);
        bytes.insert(bytes.end(), s.begin(), s.end());
        ends.push_back(static_cast<int64_t>(bytes.size()));
        lengths.push_back(a.size());
        arrays.push_back(std::move(a));
    }
    ASSERT_GT(bytes.size(), 1u << 20);
    const auto d = DecodeAll(bytes, lengths);
    EXPECT_EQ(d.arrays, arrays);
    EXPECT_EQ(d.ends, ends);
}

TEST(ByteStream, DamagedStreamsEndInAClearError) {
    std::vector<uint8_t> data(5000);
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>((i * i) % 17);
    const auto s = Encode(data);
    auto expectNotFound = [&](const std::vector<uint8_t>& bytes, const char* what) {
        try {
            DecodeAll(bytes, {data.size()});
            ADD_FAILURE() << what << ": decoded";
        } catch (const CLasException& e) {
            EXPECT_STREQ(e.Message(), enginemsg::kStreamNotFound.text) << what;
        }
    };
    expectNotFound(std::vector<uint8_t>(s.begin(), s.begin() + 300), "cut in the counts");
    expectNotFound(std::vector<uint8_t>(s.begin(), s.begin() + static_cast<long>(s.size()) - 3),
                   "marker missing");
    auto table = s;
    table[510] = 0x11;  // last count no longer the total
    expectNotFound(table, "count table");
    auto order = s;
    order[0] = 0xFF;
    order[1] = 0xFF;  // counts fall again after the first
    expectNotFound(order, "falling counts");
}

}  // namespace

namespace {

// Streams of many lengths and kinds laid back to back, as a chunk holds
// them, with the requests that decode them where they lie.
struct LaidOut {
    std::vector<uint8_t> bytes;
    std::vector<std::vector<uint8_t>> arrays;
    std::vector<std::size_t> starts, ends;
};
LaidOut LayOut(const std::vector<std::vector<uint8_t>>& arrays) {
    LaidOut l;
    for (const auto& a : arrays) {
        l.starts.push_back(l.bytes.size());
        const auto s = Encode(a);
        l.bytes.insert(l.bytes.end(), s.begin(), s.end());
        l.ends.push_back(l.bytes.size());
        l.arrays.push_back(a);
    }
    return l;
}
LaidOut LayOut(int count) {
    std::vector<std::vector<uint8_t>> arrays;
    uint32_t seed = 11;
    for (int k = 0; k < count; ++k) {
        std::vector<uint8_t> a(200 + (k * 3571) % 20000);
        const int spread = k % 3 == 0 ? 256 : 2 + k;
        for (auto& b : a) {
            seed = seed * 1664525u + 1013904223u;
            b = static_cast<uint8_t>((seed >> 9) % 7 < 4 ? 0 : (seed >> 16) % static_cast<uint32_t>(spread));
        }
        arrays.push_back(std::move(a));
    }
    return LayOut(arrays);
}

std::vector<bytestream::DecodeRequest> RequestsFor(const LaidOut& l, std::vector<std::vector<uint8_t>>& outs) {
    outs.assign(l.arrays.size(), {});
    std::vector<bytestream::DecodeRequest> r;
    for (std::size_t i = 0; i < l.arrays.size(); ++i) {
        outs[i].assign(l.arrays[i].size(), 0xAA);
        r.push_back({l.starts[i], outs[i].data(), outs[i].size()});
    }
    return r;
}

// l's streams decoded side by side from a copy of its bytes that damage
// has changed (the bytes and, for a cut, their size); outs gets the values.
std::vector<bytestream::DecodeRequest> DecodeDamaged(
    const LaidOut& l, const std::function<void(std::vector<uint8_t>&, std::size_t&)>& damage,
    std::vector<std::vector<uint8_t>>& outs) {
    std::vector<uint8_t> bytes = l.bytes;
    std::size_t size = bytes.size();
    damage(bytes, size);
    auto r = RequestsFor(l, outs);
    bytestream::DecodeByteStreamsAt(bytes.data(), size, r.data(), r.size(), ProcessorCode::Detected().decoder);
    return r;
}

// Every stream but the damaged one decoded as it went in.
void ExpectOthersIntact(const LaidOut& l, const std::vector<bytestream::DecodeRequest>& r,
                        const std::vector<std::vector<uint8_t>>& outs, std::size_t damaged, const char* what) {
    for (std::size_t i = 0; i < r.size(); ++i) {
        if (i == damaged) continue;
        EXPECT_FALSE(r[i].failed) << what << ", stream " << i;
        EXPECT_EQ(r[i].next, l.ends[i]) << what << ", stream " << i;
        EXPECT_EQ(outs[i], l.arrays[i]) << what << ", stream " << i;
    }
}

}  // namespace

TEST(ByteStream, StreamsDecodedSideBySideGiveWhatOneAtATimeGives) {
    // Every count from one to nine, so lanes end at different times and
    // waiting streams take their place; with each version of the loops.
    for (const bytestream::DecoderLoops& loops : bytestream::DecoderLoops::Available()) {
        for (int count = 1; count <= 9; ++count) {
            const LaidOut l = LayOut(count);
            std::vector<std::vector<uint8_t>> outs;
            auto r = RequestsFor(l, outs);
            bytestream::DecodeByteStreamsAt(l.bytes.data(), l.bytes.size(), r.data(), r.size(), loops);
            for (int i = 0; i < count; ++i) {
                const std::string where = std::string(loops.name) + ", " + std::to_string(count) + " streams, stream " +
                                          std::to_string(i);
                EXPECT_FALSE(r[i].failed) << where;
                EXPECT_EQ(r[i].next, l.ends[i]) << where;
                EXPECT_EQ(outs[i], l.arrays[i]) << where;
            }
        }
    }
}

TEST(ByteStream, ADamagedStreamAmongOthersFailsAloneAndTheOthersDecode) {
    const int count = 7;
    const LaidOut l = LayOut(count);
    struct Damage {
        const char* what;
        int stream;
        std::function<void(std::vector<uint8_t>&, std::size_t&)> apply;
    };
    const std::vector<Damage> damages = {
        // The data ends inside the last stream: its bits run out in the loop.
        {"cut inside the coded bits", count - 1,
         [&](std::vector<uint8_t>&, std::size_t& size) { size = l.starts[count - 1] + 512 + 40; }},
        // A count table that does not rise to the total.
        {"count table", 2, [&](std::vector<uint8_t>& b, std::size_t&) { b[l.starts[2] + 510] ^= 0x01; }},
        // Coded bits overwritten: the stream no longer ends where it did.
        {"coded bits", 4,
         [&](std::vector<uint8_t>& b, std::size_t&) {
             for (std::size_t k = l.starts[4] + 600; k < l.ends[4] - 3; ++k) b[k] = 0xFF;
         }},
    };
    for (const Damage& d : damages) {
        std::vector<std::vector<uint8_t>> outs;
        const auto r = DecodeDamaged(l, d.apply, outs);
        const auto victim = static_cast<std::size_t>(d.stream);
        EXPECT_TRUE(r[victim].failed || r[victim].next != l.ends[victim]) << d.what;
        ExpectOthersIntact(l, r, outs, victim, d.what);
    }
}

TEST(ByteStream, AStreamWhoseCountTableIsCutOrMissingFailsAloneSideBySide) {
    // The data ends inside the last stream's count table, or that stream is
    // asked for past the data's end; the data is held in exactly its bytes,
    // so a look past them is a read outside the buffer. Every version of
    // the loops, as each decides how to share its lanes from the tables.
    const int count = 5;
    const LaidOut l = LayOut(count);
    for (const bytestream::DecoderLoops& loops : bytestream::DecoderLoops::Available()) {
        for (const std::size_t into : {std::size_t{0}, std::size_t{1}, std::size_t{300}, std::size_t{511}}) {
            const std::vector<uint8_t> cut(l.bytes.begin(), l.bytes.begin() + static_cast<std::ptrdiff_t>(l.starts[count - 1] + into));
            std::vector<std::vector<uint8_t>> outs;
            auto r = RequestsFor(l, outs);
            bytestream::DecodeByteStreamsAt(cut.data(), cut.size(), r.data(), r.size(), loops);
            const std::string where = std::string(loops.name) + ", cut " + std::to_string(into) + " bytes into the table";
            EXPECT_TRUE(r[count - 1].failed) << where;
            ExpectOthersIntact(l, r, outs, count - 1, where.c_str());
        }
        std::vector<std::vector<uint8_t>> outs;
        auto r = RequestsFor(l, outs);
        r[count - 1].offset = l.bytes.size() + 1;
        bytestream::DecodeByteStreamsAt(l.bytes.data(), l.bytes.size(), r.data(), r.size(), loops);
        EXPECT_TRUE(r[count - 1].failed) << loops.name << ", a stream past the data";
        ExpectOthersIntact(l, r, outs, count - 1, "a stream past the data");
    }
}

TEST(ByteStream, AStreamWhoseBitsRunOutAtTheDataEndFailsSideBySide) {
    // The last stream of the data, asked for hundreds of symbols more than
    // it holds: its bits run out at the data's end, right after its own
    // end marker, where the search for the marker alone would be satisfied.
    // (A few symbols more are no damage a decoder can see: no length is
    // stored.)
    const int count = 3;
    const LaidOut l = LayOut(count);
    for (std::size_t extra = 200; extra < 264; ++extra) {
        std::vector<std::vector<uint8_t>> outs;
        auto r = RequestsFor(l, outs);
        outs[count - 1].resize(l.arrays[count - 1].size() + extra);
        r[count - 1].out = outs[count - 1].data();
        r[count - 1].length = outs[count - 1].size();
        bytestream::DecodeByteStreamsAt(l.bytes.data(), l.bytes.size(), r.data(), r.size(),
                                        ProcessorCode::Detected().decoder);
        EXPECT_TRUE(r[count - 1].failed) << extra << " symbols more";
        for (int i = 0; i + 1 < count; ++i) {
            EXPECT_FALSE(r[i].failed) << extra << " more, stream " << i;
            EXPECT_EQ(outs[i], l.arrays[i]) << extra << " more, stream " << i;
        }
    }
}

namespace {

// Streams of one value only (lengths from one symbol up, values at both
// ends of the table and between) mixed with streams of many values, in an
// order where the single-valued ones sit between and around the others.
std::vector<std::vector<uint8_t>> SingleValuedAmongOthers() {
    std::vector<std::vector<uint8_t>> arrays;
    uint32_t seed = 5;
    const std::size_t lengths[] = {1, 2, 3, 1000, 70000};
    const uint8_t values[] = {0, 7, 255};
    int k = 0;
    for (std::size_t n : lengths) {
        for (uint8_t v : values) {
            arrays.emplace_back(n, v);
            std::vector<uint8_t> mixed(150 + (k++ * 2311) % 9000);
            for (auto& b : mixed) {
                seed = seed * 1664525u + 1013904223u;
                b = static_cast<uint8_t>((seed >> 9) % 5 == 0 ? (seed >> 17) % 40 : v);
            }
            arrays.push_back(std::move(mixed));
        }
    }
    return arrays;
}

}  // namespace

TEST(ByteStream, SingleValuedStreamsCodedWithOthersMatchTheBitByBitCoder) {
    const auto arrays = SingleValuedAmongOthers();
    for (const bytestream::EncoderLoops& loops : bytestream::EncoderLoops::Available()) {
        std::vector<CByteBuffer> outs(arrays.size());
        std::vector<std::size_t> bits(arrays.size(), 0);
        std::vector<bytestream::EncodeRequest> r;
        for (std::size_t i = 0; i < arrays.size(); ++i) r.push_back({arrays[i].data(), arrays[i].size(), &outs[i], &bits[i]});
        bytestream::EncodeByteStreams(r.data(), r.size(), loops);
        for (std::size_t i = 0; i < arrays.size(); ++i) {
            const auto want = EncodeBitByBit(arrays[i]);
            const std::vector<uint8_t> got(outs[i].Data(), outs[i].Data() + outs[i].Size());
            EXPECT_EQ(got, want) << loops.name << ", stream " << i << " of " << arrays[i].size() << " bytes";
            const bool single = std::all_of(arrays[i].begin(), arrays[i].end(), [&](uint8_t b) { return b == arrays[i][0]; });
            if (single) {
                EXPECT_EQ(bits[i], 2u) << loops.name << ", stream " << i << ": only the flush";
            }
        }
    }
}

TEST(ByteStream, SingleValuedStreamsDecodeSideBySideAndOneAtATime) {
    const auto arrays = SingleValuedAmongOthers();
    const LaidOut l = LayOut(arrays);
    for (const bytestream::DecoderLoops& loops : bytestream::DecoderLoops::Available()) {
        std::vector<std::vector<uint8_t>> outs;
        auto r = RequestsFor(l, outs);
        bytestream::DecodeByteStreamsAt(l.bytes.data(), l.bytes.size(), r.data(), r.size(), loops);
        for (std::size_t i = 0; i < arrays.size(); ++i) {
            EXPECT_FALSE(r[i].failed) << loops.name << ", stream " << i;
            EXPECT_EQ(r[i].next, l.ends[i]) << loops.name << ", stream " << i;
            EXPECT_EQ(outs[i], l.arrays[i]) << loops.name << ", stream " << i;
        }
    }
    std::vector<std::size_t> lengths;
    for (const auto& a : arrays) lengths.push_back(a.size());
    const auto d = DecodeAll(l.bytes, lengths);
    for (std::size_t i = 0; i < arrays.size(); ++i) {
        EXPECT_EQ(d.arrays[i], arrays[i]) << "stream " << i;
        EXPECT_EQ(d.ends[i], static_cast<int64_t>(l.ends[i])) << "stream " << i;
    }
}

TEST(ByteStream, ADamagedSingleValuedStreamFailsAloneSideBySide) {
    const auto arrays = SingleValuedAmongOthers();
    const LaidOut l = LayOut(arrays);
    const std::size_t victim = 20;  // 1,000 sevens
    ASSERT_TRUE(std::all_of(arrays[victim].begin(), arrays[victim].end(), [&](uint8_t b) { return b == arrays[victim][0]; }));
    struct Damage {
        const char* what;
        std::function<void(std::vector<uint8_t>&, std::size_t&)> apply;
    };
    const std::vector<Damage> damages = {
        // No end marker where the flush leaves it.
        {"end marker", [&](std::vector<uint8_t>& b, std::size_t&) { b[l.ends[victim] - 2] = 0x11; }},
        // The table rises past the total.
        {"count table", [&](std::vector<uint8_t>& b, std::size_t&) { b[l.starts[victim] + 510] ^= 0x01; }},
    };
    for (const Damage& dmg : damages) {
        std::vector<std::vector<uint8_t>> outs;
        const auto r = DecodeDamaged(l, dmg.apply, outs);
        EXPECT_TRUE(r[victim].failed) << dmg.what;
        ExpectOthersIntact(l, r, outs, victim, dmg.what);
    }
    // Cut one byte into the coded bits: the code register cannot be filled.
    std::vector<std::vector<uint8_t>> outs;
    auto r = RequestsFor(l, outs);
    bytestream::DecodeByteStreamsAt(l.bytes.data(), l.starts[victim] + 513, r.data(), victim + 1,
                                    ProcessorCode::Detected().decoder);
    EXPECT_TRUE(r[victim].failed) << "cut after the table";
    for (std::size_t i = 0; i < victim; ++i) EXPECT_EQ(outs[i], l.arrays[i]) << "cut, stream " << i;
}
