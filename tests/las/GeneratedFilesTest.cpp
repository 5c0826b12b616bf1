// Files the generator writes for every version and point format, read back
// through ReadLasLayout and DescribePoints: the header says what was asked
// for, the records are what a scanner would give, and the parts after the
// points are where the header says.
#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <set>

#include "LasFileView.h"
#include "LasGenerator.h"

using testsupport::TempDir;

namespace {

// The published layouts, written out rather than taken from the code.
constexpr std::size_t kStandardLength[] = {20, 28, 26, 34, 57, 63, 30, 36, 38, 59, 67};
constexpr std::size_t kHeaderOfMinor[] = {227, 227, 227, 235, 375};
constexpr std::size_t kLegacyByReturn = 111, kScale = 131, kOffset = 155, kMax = 179, kByReturn = 255;

bool Waves(int format) { return format == 4 || format == 5 || format == 9 || format == 10; }

LasFileView Generate(const TempDir& dir, const LasGenOptions& o) {
    const std::string path = dir.File("g.las");
    EXPECT_TRUE(GenerateLasFile(path, o)) << LasGenProblem(o);
    return LasFileView(path);
}

// The extended VLRs from the header's start: each one's length read from
// its 60-byte header. Returns where the last one ends.
uint64_t WalkEvlrs(const LasFileView& f, std::vector<std::pair<std::string, uint16_t>>* ids = nullptr) {
    uint64_t at = f.layout.evlrStart;
    for (uint32_t k = 0; k < f.layout.evlrCount; ++k) {
        EXPECT_LE(at + 60, f.bytes.size());
        if (at + 60 > f.bytes.size()) return at;
        if (ids) ids->push_back({f.Text(at + 2, 16), static_cast<uint16_t>(f.bytes[at + 18] | f.bytes[at + 19] << 8)});
        at += 60 + f.U64(at + 20);
    }
    return at;
}

TEST(GeneratedFiles, EveryVersionAndFormatCarriesTheFactsAskedFor) {
    TempDir dir;
    int cases = 0;
    for (int minor = 0; minor <= 4; ++minor) {
        for (int format = 0; format <= 10; ++format) {
            if ((format >= 4 && minor < 3) || (format >= 6 && minor < 4)) continue;
            LasGenOptions o;
            o.versionMinor = minor;
            o.format = format;
            o.versionHeader = true;
            o.seed = static_cast<uint64_t>(10 * minor + format);
            o.points = (minor + format) % 5 == 0 ? 0 : 1500;
            o.headerExtraBytes = format % 2 * 5;
            o.extraBytes = format % 3 == 0 ? 0 : 7;
            o.evlrCount = minor == 4 ? format % 4 : 0;
            o.internalWaveform = Waves(format) && format % 2 == 0;
            o.tailBytes = format % 3 * 6;
            const LasFileView f = Generate(dir, o);
            const LasFileLayout& l = f.layout;
            const std::string what = "1." + std::to_string(minor) + " format " + std::to_string(format);
            ++cases;

            EXPECT_EQ(l.versionMajor, 1) << what;
            EXPECT_EQ(l.versionMinor, minor) << what;
            EXPECT_EQ(l.headerSize, kHeaderOfMinor[minor] + o.headerExtraBytes) << what;
            EXPECT_EQ(f.Text(l.headerSize + 2, 16), "LASF_Projection") << what << ": the VLRs follow the header";
            EXPECT_EQ(l.PointFormat(), format) << what;
            EXPECT_EQ(l.recordLength, kStandardLength[format] + o.extraBytes) << what;
            EXPECT_EQ(l.vlrCount, 3u + (o.extraBytes > 0 ? 1 : 0) + (Waves(format) ? 2 : 0)) << what;
            EXPECT_EQ(l.pointCount, o.points) << what;
            // LAS 1.4 keeps its 32-bit counts for formats 0-5 only.
            const bool legacy = minor < 4 || format < 6;
            EXPECT_EQ(l.legacyPointCount, legacy ? o.points : 0) << what;

            // After the points: the waveform data, the EVLRs, then the tail.
            const uint64_t pointsEnd = static_cast<uint64_t>(l.PointsEnd());
            EXPECT_EQ(l.waveformStart, o.internalWaveform ? pointsEnd : 0) << what;
            const uint32_t evlrs = minor == 4 ? o.evlrCount + (o.internalWaveform ? 1 : 0) : 0;
            EXPECT_EQ(l.evlrCount, evlrs) << what;
            EXPECT_EQ(l.evlrStart, evlrs > 0 ? pointsEnd : 0) << what;
            const uint64_t afterEvlrs = evlrs > 0 ? WalkEvlrs(f) : pointsEnd + (minor == 3 && o.internalWaveform
                                                                                   ? 60 + f.U64(pointsEnd + 20)
                                                                                   : 0);
            EXPECT_EQ(f.bytes.size() - afterEvlrs, static_cast<uint64_t>(o.tailBytes)) << what;

            // Counts by return and bounds, recounted from the records.
            uint64_t byReturn[15] = {};
            double lo[3] = {1e300, 1e300, 1e300}, hi[3] = {-1e300, -1e300, -1e300};
            const FieldRole axes[3] = {FieldRole::X, FieldRole::Y, FieldRole::Z};
            for (uint64_t i = 0; i < f.Count(); ++i) {
                ++byReturn[f.Bits(i, "return_number") - 1];
                for (int a = 0; a < 3; ++a) {
                    const double v = f.Value(i, axes[a]) * f.F64(kScale + 8 * a) + f.F64(kOffset + 8 * a);
                    lo[a] = std::min(lo[a], v);
                    hi[a] = std::max(hi[a], v);
                }
            }
            for (int k = 0; k < 5; ++k) {
                EXPECT_EQ(f.U32(kLegacyByReturn + 4 * k), legacy ? byReturn[k] : 0) << what << " return " << k + 1;
            }
            for (int k = 0; minor == 4 && k < 15; ++k) {
                EXPECT_EQ(f.U64(kByReturn + 8 * k), byReturn[k]) << what << " return " << k + 1;
            }
            for (int a = 0; a < 3 && o.points > 0; ++a) {
                EXPECT_EQ(f.F64(kMax + 16 * a), hi[a]) << what << " axis " << a;
                EXPECT_EQ(f.F64(kMax + 16 * a + 8), lo[a]) << what << " axis " << a;
            }
        }
    }
    EXPECT_EQ(cases, 3 * 4 + 6 + 11);
}

// Pulses as the scanner fires them: returns numbered 1..n, one GPS time,
// channels taking turns, and one waveform packet after another.
TEST(GeneratedFiles, RecordsOfEveryFormatAreThoseOfAScanner) {
    TempDir dir;
    for (int format = 0; format <= 10; ++format) {
        LasGenOptions o;
        o.points = 6000;
        o.format = format;
        o.versionMinor = 4;
        o.versionHeader = true;
        o.seed = 30 + static_cast<uint64_t>(format);
        o.channels = format >= 6 ? 3 : 1;
        o.internalWaveform = Waves(format);
        const LasFileView f = Generate(dir, o);
        const std::string what = "format " + std::to_string(format);
        const bool extended = format >= 6, gps = format != 0 && format != 2;

        // Start of each pulse.
        std::vector<uint64_t> pulses;
        for (uint64_t i = 0; i < f.Count(); ++i) {
            const unsigned r = f.Bits(i, "return_number"), n = f.Bits(i, "number_of_returns");
            ASSERT_GE(r, 1u) << what << " record " << i;
            ASSERT_LE(r, n) << what << " record " << i;
            if (r == 1) pulses.push_back(i);
            else ASSERT_EQ(f.Bits(i - 1, "return_number"), r - 1) << what << " record " << i;
            if (r > 1) {
                EXPECT_EQ(f.Bits(i - 1, "number_of_returns"), n) << what << " record " << i;
            }
        }
        unsigned mostReturns = 0;
        std::map<unsigned, std::set<unsigned>> directions;
        std::set<unsigned> edges;
        int overlaps = 0;
        for (std::size_t k = 0; k < pulses.size(); ++k) {
            const uint64_t i = pulses[k];
            mostReturns = std::max(mostReturns, f.Bits(i, "number_of_returns"));
            if (gps && k > 0) {
                EXPECT_GT(f.Value(i, FieldRole::GpsTime), f.Value(pulses[k - 1], FieldRole::GpsTime)) << what;
            }
            if (gps && i + 1 < f.Count() && f.Bits(i + 1, "return_number") == 2) {
                EXPECT_EQ(f.Value(i + 1, FieldRole::GpsTime), f.Value(i, FieldRole::GpsTime)) << what;
            }
            const unsigned channel = extended ? f.Bits(i, "scanner_channel") : 0;
            EXPECT_EQ(channel, k % o.channels) << what << " pulse " << k;
            directions[channel].insert(f.Bits(i, "scan_direction_flag"));
            if (f.Bits(i, "edge_of_flight_line")) edges.insert(channel);
            if (extended) overlaps += f.Bits(i, "overlap");
        }
        EXPECT_EQ(directions.size(), static_cast<std::size_t>(o.channels)) << what;
        for (const auto& [channel, seen] : directions) EXPECT_EQ(seen.size(), 2u) << what << " channel " << channel;
        EXPECT_EQ(edges.size(), static_cast<std::size_t>(o.channels)) << what;
        // Three bits of returns up to format 5, four from format 6 on, and
        // the generator uses them.
        if (extended) {
            EXPECT_GT(mostReturns, 7u) << what;
            EXPECT_GT(overlaps, 0) << what;
            EXPECT_LT(overlaps, static_cast<int>(pulses.size())) << what;
        } else {
            EXPECT_LE(mostReturns, 5u) << what;
        }
        for (uint64_t i = 0; i < f.Count(); ++i) {
            const double degrees = extended ? f.Value(i, FieldRole::ScanAngle) * 0.006 : f.Value(i, FieldRole::ScanAngleRank);
            EXPECT_LE(std::abs(degrees), 20.01) << what;
        }
        if (format == 8 || format == 10) {
            std::set<double> nir;
            for (uint64_t i = 0; i < f.Count(); i += 97) nir.insert(f.Value(i, FieldRole::Nir));
            EXPECT_GT(nir.size(), 20u) << what;
        }
        if (!Waves(format)) continue;

        // Packet k+1 starts where packet k ends; the shapes are those the
        // descriptor VLRs (records 100 and 101) give.
        std::map<double, double> bytesOfIndex;
        std::size_t at = f.layout.headerSize;
        for (uint32_t v = 0; v < f.layout.vlrCount; ++v) {
            const uint16_t id = static_cast<uint16_t>(f.bytes[at + 18] | f.bytes[at + 19] << 8);
            if (f.Text(at + 2, 16) == "LASF_Spec" && id >= 100 && id < 355) {
                bytesOfIndex[id - 99] = f.bytes[at + 54] * static_cast<double>(f.U32(at + 56)) / 8;
            }
            at += 54 + (f.bytes[at + 20] | f.bytes[at + 21] << 8);
        }
        ASSERT_EQ(bytesOfIndex.size(), 2u) << what;
        double expected = 60;
        std::set<double> indexes;
        for (std::size_t k = 0; k < pulses.size(); ++k) {
            const uint64_t first = pulses[k], end = k + 1 < pulses.size() ? pulses[k + 1] : f.Count();
            const double index = f.Value(first, FieldRole::WavePacketIndex);
            ASSERT_EQ(bytesOfIndex.count(index), 1u) << what << " pulse " << k;
            indexes.insert(index);
            for (uint64_t i = first; i < end; ++i) {
                ASSERT_EQ(f.Value(i, FieldRole::WaveDataOffset), expected) << what << " record " << i;
                ASSERT_EQ(f.Value(i, FieldRole::WavePacketSize), bytesOfIndex[index]) << what << " record " << i;
                EXPECT_GT(f.Value(i, FieldRole::WaveReturnLocation), 0.0) << what;
                EXPECT_LT(std::abs(f.Value(i, FieldRole::WaveZt)), 0.00015) << what;
            }
            expected += bytesOfIndex[index];
        }
        EXPECT_EQ(indexes.size(), 2u) << what << ": packets of both shapes";
        // The packets are the waveform data record's, which follows the points.
        std::vector<std::pair<std::string, uint16_t>> ids;
        WalkEvlrs(f, &ids);
        ASSERT_FALSE(ids.empty()) << what;
        EXPECT_EQ(ids[0], std::make_pair(std::string("LASF_Spec"), uint16_t{65535})) << what;
        EXPECT_EQ(f.U64(f.layout.waveformStart + 20) + 60, expected) << what;
    }
}

// Extra bytes, described: the VLR's fields fill the bytes exactly and hold
// what their names say. Undescribed: the same bytes, and no VLR.
TEST(GeneratedFiles, AnExtraBytesVlrDescribesTheRecordsExactly) {
    TempDir dir;
    for (int format : {1, 6}) {
        for (int n : {3, 10, 300}) {
            LasGenOptions o;
            o.points = 3000;
            o.format = format;
            o.versionMinor = format >= 6 ? 4 : 2;
            o.extraBytes = n;
            const std::string what = "format " + std::to_string(format) + ", " + std::to_string(n) + " bytes";
            const LasFileView described = Generate(dir, o);
            o.describeExtraBytes = false;
            const LasFileView bare = Generate(dir, o);

            ASSERT_FALSE(described.extraBytesVlr.empty()) << what;
            EXPECT_EQ(described.extraBytesVlr.size() % 192, 0u) << what;
            std::size_t end = 0;
            for (const PointField& f : described.points.fields) {
                EXPECT_NE(f.name, "extra_bytes") << what << ": the VLR did not fit the records";
                end = f.offset + f.size;
            }
            EXPECT_EQ(end, described.layout.recordLength) << what;
            EXPECT_EQ(described.points.fields.back().type, n == 10 ? FieldType::I32 : FieldType::Bytes) << what;
            if (n >= 10) {
                // Ground under the last return, canopy above the first of many.
                const PointField& height = described.Named("height");
                const PointField& width = described.Named("echo_width");
                const PointField& amplitude = described.Named("amplitude");
                EXPECT_EQ(height.type, FieldType::F32);
                EXPECT_EQ(width.type, FieldType::I16);
                EXPECT_EQ(amplitude.type, FieldType::I32);
                const double scale = le::LoadF64(described.extraBytesVlr.data() + 2 * 192 + 112);
                EXPECT_EQ(scale, 0.01) << what;
                int canopy = 0;
                for (uint64_t i = 0; i < described.Count(); ++i) {
                    const unsigned r = described.Bits(i, "return_number"), of = described.Bits(i, "number_of_returns");
                    const double h = described.Value(i, height);
                    if (r == of) {
                        EXPECT_LT(std::abs(h), 0.1) << what << " record " << i;
                    }
                    if (r == 1 && of > 2) {
                        EXPECT_GT(h, 14.0) << what << " record " << i;
                        ++canopy;
                    }
                    EXPECT_NEAR(described.Value(i, width), 40, 16) << what;
                    EXPECT_NEAR(described.Value(i, amplitude) * scale, 22, 12) << what;
                }
                EXPECT_GT(canopy, 0) << what;
            } else {
                EXPECT_EQ(described.Named("echo_width").offset, kStandardLength[format]) << what;
            }

            EXPECT_TRUE(bare.extraBytesVlr.empty()) << what;
            EXPECT_EQ(bare.layout.vlrCount + 1, described.layout.vlrCount) << what;
            ASSERT_EQ(bare.points.fields.back().name, "extra_bytes") << what;
            ASSERT_EQ(bare.Count(), described.Count());
            EXPECT_TRUE(std::equal(bare.Record(0), bare.Record(bare.Count()), described.Record(0))) << what;
        }
    }
}

// What LAS does not have is refused, before a file is begun.
TEST(GeneratedFiles, OptionsLasDoesNotHaveAreRefused) {
    auto with = [](auto change) {
        LasGenOptions o;
        o.points = 10;
        o.versionMinor = 4;
        o.versionHeader = true;
        change(o);
        return o;
    };
    const std::pair<const char*, LasGenOptions> refused[] = {
        {"format 11", with([](LasGenOptions& o) { o.format = 11; })},
        {"format 4 in 1.2", with([](LasGenOptions& o) { o.format = 4, o.versionMinor = 2; })},
        {"format 6 in 1.3", with([](LasGenOptions& o) { o.format = 6, o.versionMinor = 3; })},
        {"LAS 1.5 header", with([](LasGenOptions& o) { o.versionMinor = 5; })},
        {"five channels", with([](LasGenOptions& o) { o.format = 6, o.channels = 5; })},
        {"channels in format 3", with([](LasGenOptions& o) { o.format = 3, o.channels = 2; })},
        {"EVLRs in 1.3", with([](LasGenOptions& o) { o.versionMinor = 3, o.evlrCount = 1; })},
        {"EVLRs, 227-byte header", with([](LasGenOptions& o) { o.versionHeader = false, o.evlrCount = 1; })},
        {"waveform data, format 6", with([](LasGenOptions& o) { o.format = 6, o.internalWaveform = true; })},
        {"negative tail", with([](LasGenOptions& o) { o.tailBytes = -1; })},
        {"record past 65535", with([](LasGenOptions& o) { o.format = 10, o.extraBytes = 65535 - 66; })},
        {"header past 65535", with([](LasGenOptions& o) { o.headerExtraBytes = 65535 - 374; })},
        {"2^32 points in 1.2", with([](LasGenOptions& o) { o.versionMinor = 2, o.points = 1ull << 32; })},
    };
    TempDir dir;
    for (const auto& [what, o] : refused) {
        EXPECT_NE(LasGenProblem(o), nullptr) << what;
        // (Not the 2^32 points: were they let through, they would be written.)
        if (o.points < 1ull << 32) {
            EXPECT_FALSE(GenerateLasFile(dir.File("r.las"), o)) << what;
        }
    }
    // Their neighbours are fine.
    const std::pair<const char*, LasGenOptions> fine[] = {
        {"format 10", with([](LasGenOptions& o) { o.format = 10; })},
        {"format 4 in 1.3", with([](LasGenOptions& o) { o.format = 4, o.versionMinor = 3; })},
        {"four channels", with([](LasGenOptions& o) { o.format = 6, o.channels = 4; })},
        {"EVLRs in 1.4", with([](LasGenOptions& o) { o.evlrCount = 1; })},
        {"record of 65535", with([](LasGenOptions& o) { o.format = 10, o.extraBytes = 65535 - 67; })},
        {"header of 65535", with([](LasGenOptions& o) { o.headerExtraBytes = 65535 - 375; })},
        {"a 1.3 of 227 bytes", with([](LasGenOptions& o) { o.versionHeader = false, o.versionMinor = 3; })},
    };
    for (const auto& [what, o] : fine) {
        EXPECT_EQ(LasGenProblem(o), nullptr) << what;
        EXPECT_TRUE(GenerateLasFile(dir.File("f.las"), o)) << what;
    }
}

}  // namespace
