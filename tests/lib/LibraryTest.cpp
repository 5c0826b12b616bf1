// libvelmora seen as its users see it: through include/velmora alone.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <thread>

#include "AllocationProbe.h"
#include "ArchiveTestSupport.h"
#include "TestSupport.h"
#include "velmora/velmora.hpp"

using testsupport::ReadAll;
using testsupport::TempDir;

namespace {

// LAS facts read straight from a file's bytes, by the positions every
// version of the format gives them.
struct RawLas {
    std::vector<uint8_t> bytes;
    uint32_t offsetToPoints = 0;
    uint16_t recordLength = 0;
    uint64_t count = 0;
    double scale[3] = {}, offset[3] = {};

    explicit RawLas(const std::string& path) : bytes(ReadAll(path)) {
        std::memcpy(&offsetToPoints, &bytes[96], 4);
        std::memcpy(&recordLength, &bytes[105], 2);
        uint32_t legacy = 0;
        std::memcpy(&legacy, &bytes[107], 4);
        count = legacy;
        if (bytes[25] >= 4 && bytes.size() >= 255) {
            uint64_t wide = 0;
            std::memcpy(&wide, &bytes[247], 8);
            if (legacy == 0) count = wide;
        }
        std::memcpy(scale, &bytes[131], 24);
        std::memcpy(offset, &bytes[155], 24);
    }
    int32_t Coordinate(uint64_t i, int axis) const {
        int32_t v;
        std::memcpy(&v, &bytes[offsetToPoints + i * recordLength + 4 * axis], 4);
        return v;
    }
};

std::map<std::string, const velmora::Column*> ByName(const velmora::PointChunk& c) {
    std::map<std::string, const velmora::Column*> m;
    for (const velmora::Column& col : c.columns) m[col.field.name] = &col;
    return m;
}

template <class T>
T At(const velmora::Column& c, std::size_t i) {
    T v;
    std::memcpy(&v, c.data.data() + i * sizeof(T), sizeof(T));
    return v;
}

// Every chunk of a reader, joined into one chunk; the chunks follow each
// other without a gap.
velmora::PointChunk Drain(velmora::PointReader& r) {
    velmora::PointChunk all, chunk;
    while (r.Next(chunk)) {
        EXPECT_EQ(chunk.first, all.count);
        if (all.columns.empty()) all.columns = chunk.columns;
        else
            for (std::size_t j = 0; j < chunk.columns.size(); ++j) {
                auto& d = all.columns[j].data;
                d.insert(d.end(), chunk.columns[j].data.begin(), chunk.columns[j].data.end());
            }
        all.count += chunk.count;
    }
    return all;
}

velmora::ErrorCode CodeOf(const std::function<void()>& f) {
    try {
        f();
    } catch (const velmora::Error& e) {
        return e.code();
    }
    return velmora::ErrorCode::Ok;
}

// Every chunk of a read, joined into one chunk.
velmora::PointChunk ReadWhole(const velmora::Archive& a, const std::string& entry,
                              const std::vector<std::string>& fields = {}, std::size_t chunkPoints = 0) {
    velmora::PointReader r = a.Points(entry, fields, chunkPoints);
    return Drain(r);
}

velmora::JobOptions Quiet() { return {}; }

}  // namespace

// Every corpus file that goes into an archive comes out as points whose
// coordinates are the file's own, scaled as its header says, and the read of
// every field ends with the file's checksum checked.
TEST(Library, EveryCorpusFileReadsBackItsCoordinates) {
    VELMORA_REQUIRE_CORPUS(corpus);
    TempDir dir;
    int read = 0;
    for (const auto& path : testsupport::EveryCorpusFile()) {
        SCOPED_TRACE(path.string());
        const std::string vmra = dir.File(path.stem().string() + ".vmra");
        const velmora::JobReport report = velmora::Archive::Compress({path.string()}, vmra, Quiet());
        if (!report.allSucceeded) continue;  // refused files are the command line's tests' concern
        const RawLas las(path.string());
        const velmora::Archive a = velmora::Archive::Open(vmra);
        const std::string name = path.filename().string();
        const velmora::EntryInfo info = a.Entry(name);
        EXPECT_EQ(info.pointCount, las.count);
        EXPECT_EQ(info.recordLength, las.recordLength);
        EXPECT_EQ(info.lasSize, las.bytes.size());
        EXPECT_EQ(info.scale[2], las.scale[2]);
        const velmora::PointChunk all = ReadWhole(a, name);
        const velmora::PointChunk xyz = ReadWhole(a, name, {"X", "Y", "Z", "x", "y", "z"}, 7777);
        ASSERT_EQ(all.count, las.count);
        ASSERT_EQ(xyz.count, las.count);
        const auto cols = ByName(all);
        for (uint64_t i = 0; i < las.count; i += 1 + las.count / 5000) {
            for (int axis = 0; axis < 3; ++axis) {
                const int32_t raw = las.Coordinate(i, axis);
                ASSERT_EQ(At<int32_t>(*cols.at(std::string(1, char('X' + axis))), i), raw) << i;
                ASSERT_EQ(At<int32_t>(xyz.columns[axis], i), raw) << i;
                ASSERT_EQ(At<double>(xyz.columns[3 + axis], i), raw * las.scale[axis] + las.offset[axis]) << i;
            }
        }
        ++read;
    }
    EXPECT_GT(read, 20);
}

// Each field read alone is what the read of every field gives: a field must
// bring along whatever its decoding leans on (Z on Y and X, the intensity on
// Z, the GPS time on the return bits), in both entry kinds and every format.
TEST(Library, EachFieldAloneMatchesTheWholeRead) {
    TempDir dir;
    for (int format : {0, 1, 2, 3, 7}) {
        for (bool extended : {false, true}) {
            SCOPED_TRACE("format " + std::to_string(format) + (extended ? " extended" : " classic"));
            LasGenOptions o;
            // Format 3 in the classic kind: two chunks, the last a long one.
            o.points = format == 3 && !extended ? 2'100'000 : 120'000;
            o.format = format;
            o.seed = 7 + format;
            if (format >= 6) {
                o.versionMinor = 4;
                o.versionHeader = true;
            }
            const std::string las = archtest::GenerateLas(dir, "f" + std::to_string(format) + ".las", o);
            const std::string vmra = dir.File(std::to_string(format) + (extended ? "x" : "c") + ".vmra");
            velmora::JobOptions options;
            options.extendedForAll = extended;
            ASSERT_TRUE(velmora::Archive::Compress({las}, vmra, options).allSucceeded);
            const velmora::Archive a = velmora::Archive::Open(vmra);
            const std::string entry = "f" + std::to_string(format) + ".las";
            ASSERT_EQ(a.Entry(entry).extended, extended || format >= 6);
            const velmora::PointChunk all = ReadWhole(a, entry);
            const auto whole = ByName(all);
            // The two-chunk file reads alone the fields that lean on others
            // (and one that leans on none); the small ones read every field.
            const std::vector<std::string> leaning = {"Z", "intensity", "gps_time", "return_number", "blue"};
            const bool big = o.points > 1'000'000;
            for (const velmora::FieldInfo& f : a.Fields(entry)) {
                if (f.name == "x" || f.name == "y" || f.name == "z") continue;
                if (big && std::find(leaning.begin(), leaning.end(), f.name) == leaning.end()) continue;
                SCOPED_TRACE(f.name);
                const velmora::PointChunk alone = ReadWhole(a, entry, {f.name});
                ASSERT_EQ(alone.count, all.count);
                EXPECT_TRUE(alone.columns[0].data == whole.at(f.name)->data);
            }
        }
    }
}

// A chunk of noise is too large for its streams to be found ahead, so it is
// decoded stream after stream, every row: a read of one field must still
// give that field, with every column there for the rows it did not ask for.
TEST(Library, OneFieldOfAChunkDecodedStreamAfterStream) {
    TempDir dir;
    const std::string las = archtest::GenerateLas(dir, "noise.las", 1'100'000, 1, 6);
    std::vector<uint8_t> bytes = ReadAll(las);
    const RawLas raw(las);
    uint64_t state = 88172645463325252ull;
    for (std::size_t i = raw.offsetToPoints; i < bytes.size(); ++i) {
        state ^= state << 13, state ^= state >> 7, state ^= state << 17;
        bytes[i] = static_cast<uint8_t>(state);
    }
    testsupport::WriteAll(las, bytes);
    const std::string vmra = dir.File("noise.vmra");
    ASSERT_TRUE(velmora::Archive::Compress({las}, vmra).allSucceeded);
    const velmora::Archive a = velmora::Archive::Open(vmra);
    const velmora::PointChunk z = ReadWhole(a, "noise.las", {"Z"});
    ASSERT_EQ(z.count, raw.count);
    const RawLas noisy(las);
    for (uint64_t i = 0; i < raw.count; i += 997) ASSERT_EQ(At<int32_t>(z.columns[0], i), noisy.Coordinate(i, 2)) << i;
}

// A damaged entry is never read to its end as if it were sound, and Test
// names it: coded points whose streams no longer hold, and points kept as
// they are (a small file), where only the checksum can tell.
TEST(Library, ADamagedEntryFailsItsReadAndItsTest) {
    TempDir dir;
    for (int kind = 0; kind < 3; ++kind) {
        const bool extended = kind == 1;
        SCOPED_TRACE(kind);
        const std::string las = archtest::GenerateLas(dir, "d.las", kind == 2 ? 500 : 300000, 3, 5);
        const std::string vmra = dir.File(std::to_string(kind) + ".vmra");
        velmora::JobOptions options;
        options.extendedForAll = extended;
        ASSERT_TRUE(velmora::Archive::Compress({las}, vmra, options).allSucceeded);
        std::vector<uint8_t> bytes = ReadAll(vmra);
        for (std::size_t i = bytes.size() / 2; i < bytes.size() / 2 + 64; ++i) bytes[i] ^= 0x5A;
        testsupport::WriteAll(vmra, bytes);
        const velmora::Archive a = velmora::Archive::Open(vmra);
        try {
            ReadWhole(a, "d.las");
            FAIL() << "a damaged entry was read to its end";
        } catch (const velmora::Error& e) {
            EXPECT_EQ(e.code(), velmora::ErrorCode::Damaged);
            EXPECT_NE(std::string(e.what()).find("d.las"), std::string::npos) << e.what();
        }
        const velmora::JobReport test = a.Test();
        ASSERT_EQ(test.items.size(), 1u);
        EXPECT_EQ(test.items[0].outcome, velmora::Outcome::Damaged);
        EXPECT_EQ(test.items[0].code, velmora::ErrorCode::Damaged);
    }
}

// Callers decide by the code.
TEST(Library, FailuresCarryTheirCodes) {
    TempDir dir;
    EXPECT_EQ(CodeOf([&] { velmora::Archive::Open(dir.File("missing.vmra")); }), velmora::ErrorCode::NotFound);
    const std::string las = archtest::GenerateLas(dir, "a.las", 2000, 1, 3);
    EXPECT_EQ(CodeOf([&] { velmora::Archive::Open(las); }), velmora::ErrorCode::NotAnArchive);
    const std::string vmra = dir.File("a.vmra");
    ASSERT_TRUE(velmora::Archive::Compress({las}, vmra).allSucceeded);
    const velmora::Archive a = velmora::Archive::Open(vmra);
    EXPECT_EQ(CodeOf([&] { a.Points("a.las", {"nir"}); }), velmora::ErrorCode::InvalidArgument);
    EXPECT_EQ(CodeOf([&] { a.Points("b.las"); }), velmora::ErrorCode::NotFound);
    const velmora::JobReport refused = velmora::Archive::Compress({dir.File("none.las")}, vmra);
    ASSERT_EQ(refused.items.size(), 1u);
    EXPECT_FALSE(refused.allSucceeded);
    EXPECT_NE(refused.items[0].code, velmora::ErrorCode::Ok);
    EXPECT_NE(refused.items[0].message.find("none.las"), std::string::npos) << refused.items[0].message;
}

// The job's questions and progress come on the caller's thread; an answer
// of no keeps the entry, and a stop leaves the archive as it was.
TEST(Library, JobsAskAndReportOnTheCallersThread) {
    TempDir dir;
    const std::string las = archtest::GenerateLas(dir, "j.las", 3'000'000, 3, 9);
    const std::string vmra = dir.File("j.vmra");
    ASSERT_TRUE(velmora::Archive::Compress({las}, vmra).allSucceeded);
    const std::vector<uint8_t> before = ReadAll(vmra);

    const std::thread::id caller = std::this_thread::get_id();
    std::vector<std::string> asked;
    bool otherThread = false;
    velmora::JobOptions no;
    no.confirmReplace = [&](const std::string& name) {
        otherThread = otherThread || std::this_thread::get_id() != caller;
        asked.push_back(name);
        return false;
    };
    const velmora::JobReport declined = velmora::Archive::Compress({las}, vmra, no);
    EXPECT_EQ(asked, std::vector<std::string>{"j.las"});
    ASSERT_EQ(declined.items.size(), 1u);
    EXPECT_EQ(declined.items[0].outcome, velmora::Outcome::Declined);
    EXPECT_TRUE(ReadAll(vmra) == before);

    int reports = 0;
    velmora::JobOptions stop;
    stop.confirmReplace = [](const std::string&) { return true; };
    stop.progress = [&](std::size_t, std::size_t total, double) {
        otherThread = otherThread || std::this_thread::get_id() != caller;
        EXPECT_EQ(total, 1u);
        ++reports;
    };
    stop.cancelled = [] { return true; };
    const velmora::JobReport stopped = velmora::Archive::Compress({las}, vmra, stop);
    EXPECT_TRUE(stopped.stopped);
    EXPECT_FALSE(stopped.allSucceeded);
    EXPECT_GT(reports, 0);
    EXPECT_FALSE(otherThread);
    EXPECT_TRUE(ReadAll(vmra) == before);
}

// An entry whose stored header no longer reads as a LAS header is still
// listed, with what the directory says, and the others with their facts.
TEST(Library, AnEntryWithADamagedHeaderIsListedBesideTheOthers) {
    TempDir dir;
    const std::string a = archtest::GenerateLas(dir, "a.las", 2000, 1, 3);
    const std::string b = archtest::GenerateLas(dir, "b.las", 3000, 3, 4);
    const std::string vmra = dir.File("h.vmra");
    ASSERT_TRUE(velmora::Archive::Compress({a, b}, vmra).allSucceeded);
    std::vector<uint8_t> bytes = ReadAll(vmra);
    uint32_t count = 0, offset = 0;
    std::memcpy(&count, &bytes[bytes.size() - 4], 4);
    std::memcpy(&offset, &bytes[bytes.size() - 4 - 268 * count], 4);  // the first entry's data
    std::fill(bytes.begin() + offset, bytes.begin() + offset + 64, uint8_t{0xA5});
    testsupport::WriteAll(vmra, bytes);
    const std::vector<velmora::EntryInfo> entries = velmora::Archive::Open(vmra).Entries();
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].lasSize, ReadAll(a).size());
    EXPECT_EQ(entries[1].pointCount, 3000u);
    EXPECT_EQ(entries[1].scale[0], RawLas(b).scale[0]);
}

// A job tells each item as it begins and ends, on the caller's thread; an
// answer of false after an item ends the job there, and a control stopped
// before a job begins stops that job with the archive as it was.
TEST(Library, ItemEventsEndAJobAndAControlStopsIt) {
    TempDir dir;
    const std::string a = archtest::GenerateLas(dir, "a.las", 2000, 1, 3);
    const std::string b = archtest::GenerateLas(dir, "b.las", 3000, 3, 4);
    const std::string vmra = dir.File("e.vmra");
    const std::thread::id caller = std::this_thread::get_id();
    bool otherThread = false;
    std::vector<std::string> events;
    velmora::JobOptions o;
    o.itemStarted = [&](const velmora::ItemStart& s) {
        otherThread = otherThread || std::this_thread::get_id() != caller;
        events.push_back("start " + s.displayName + " " + std::to_string(s.index) + "/" + std::to_string(s.count));
    };
    o.itemFinished = [&](const velmora::ItemReport& r) {
        otherThread = otherThread || std::this_thread::get_id() != caller;
        events.push_back("end " + r.name);
        EXPECT_EQ(r.outcome, velmora::Outcome::Added);
        EXPECT_EQ(r.lasBytes, ReadAll(a).size());
        EXPECT_GT(r.storedBytes, 0u);
        EXPECT_LT(r.storedBytes, r.lasBytes);
        EXPECT_EQ(r.storedIn, vmra);
        return false;
    };
    const velmora::JobReport ended = velmora::Archive::Compress({a, b}, vmra, o);
    EXPECT_EQ(events, (std::vector<std::string>{"start a.las 0/2", "end " + a}));
    EXPECT_FALSE(otherThread);
    EXPECT_FALSE(ended.allSucceeded);
    const std::vector<velmora::EntryInfo> entries = velmora::Archive::Open(vmra).Entries();
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].name, "a.las");

    const std::vector<uint8_t> before = ReadAll(vmra);
    velmora::JobControl control;
    EXPECT_FALSE(control.Status().active);
    control.Stop();
    velmora::JobOptions stopped;
    stopped.control = &control;
    const velmora::JobReport report = velmora::Archive::Compress({b}, vmra, stopped);
    EXPECT_TRUE(report.stopped);
    EXPECT_TRUE(ReadAll(vmra) == before);
    control.Reset();
    EXPECT_TRUE(velmora::Archive::Compress({b}, vmra, stopped).allSucceeded);
}

// The header facts of a LAS file and of each entry are the file's own; an
// entry whose stored header is unreadable says why, beside the others.
TEST(Library, HeaderFactsOfFilesAndEntries) {
    TempDir dir;
    const std::string a = archtest::GenerateLas(dir, "a.las", 2000, 1, 3);
    const std::string b = archtest::GenerateLas(dir, "b.las", 3000, 3, 4);
    const RawLas raw(b);
    const velmora::HeaderFacts facts = velmora::ReadLasHeader(b);
    EXPECT_EQ(facts.pointFormat, 3);
    EXPECT_EQ(facts.recordLength, raw.recordLength);
    EXPECT_EQ(facts.pointCount, raw.count);
    EXPECT_EQ(facts.fileSize, raw.bytes.size());
    EXPECT_EQ(facts.scale[2], raw.scale[2]);
    auto codeOf = [](const std::string& path) { return CodeOf([&] { velmora::ReadLasHeader(path); }); };
    EXPECT_EQ(codeOf(dir.File("none.las")), velmora::ErrorCode::NotFound);
    testsupport::WriteAll(dir.File("text.las"), std::vector<uint8_t>(400, 'x'));
    EXPECT_EQ(codeOf(dir.File("text.las")), velmora::ErrorCode::Refused);

    const std::string vmra = dir.File("h.vmra");
    ASSERT_TRUE(velmora::Archive::Compress({a, b}, vmra).allSucceeded);
    std::vector<uint8_t> bytes = ReadAll(vmra);
    uint32_t count = 0, offset = 0;
    std::memcpy(&count, &bytes[bytes.size() - 4], 4);
    std::memcpy(&offset, &bytes[bytes.size() - 4 - 268 * count], 4);
    std::fill(bytes.begin() + offset, bytes.begin() + offset + 64, uint8_t{0xA5});
    testsupport::WriteAll(vmra, bytes);
    const std::vector<velmora::EntryHeader> headers = velmora::Archive::Open(vmra).Headers();
    ASSERT_EQ(headers.size(), 2u);
    EXPECT_FALSE(headers[0].read);
    EXPECT_FALSE(headers[0].why.empty());
    ASSERT_TRUE(headers[1].read) << headers[1].why;
    EXPECT_EQ(headers[1].facts.pointCount, 3000u);
    EXPECT_EQ(headers[1].facts.generatingSoftware, facts.generatingSoftware);
}

namespace {

uint16_t U16At(const RawLas& las, uint64_t i, std::size_t offset) {
    uint16_t v;
    std::memcpy(&v, &las.bytes[las.offsetToPoints + i * las.recordLength + offset], 2);
    return v;
}

}  // namespace

// Entries of one archive may share a name: each is read by its place in the
// directory, and a place whose entry no longer bears the name is not read.
TEST(Library, AnEntryIsReadByItsPlaceWhenNamesRepeat) {
    TempDir dir;
    const std::string a = archtest::GenerateLas(dir, "a.las", 2000, 1, 3);
    const std::string b = archtest::GenerateLas(dir, "b.las", 3000, 3, 4);
    const std::string vmra = dir.File("twice.vmra");
    ASSERT_TRUE(velmora::Archive::Compress({a, b}, vmra).allSucceeded);
    std::vector<uint8_t> image = ReadAll(vmra);
    archtest::SetEntryName(image, 1, "a.las");
    testsupport::WriteAll(vmra, image);
    const velmora::Archive archive = velmora::Archive::Open(vmra);
    ASSERT_EQ(archive.Entries().size(), 2u);

    const RawLas first(a), second(b);
    for (std::size_t index : {0u, 1u}) {
        SCOPED_TRACE(index);
        const RawLas& las = index == 0 ? first : second;
        velmora::PointReader r = archive.PointsAt("a.las", index, {"X", "Y", "Z"}, 1000);
        EXPECT_EQ(r.Header().pointCount, las.count);
        EXPECT_EQ(r.Header().pointFormat, index == 0 ? 1 : 3);
        const velmora::PointChunk all = Drain(r);
        ASSERT_EQ(all.count, las.count);
        for (uint64_t i = 0; i < las.count; ++i) {
            for (int axis = 0; axis < 3; ++axis) {
                ASSERT_EQ(At<int32_t>(all.columns[axis], i), las.Coordinate(i, axis)) << i;
            }
        }
    }
    // The fields are those of the entry at the place too: only the second
    // has colours.
    auto hasRed = [](const std::vector<velmora::FieldInfo>& fields) {
        return std::any_of(fields.begin(), fields.end(), [](const velmora::FieldInfo& f) { return f.name == "red"; });
    };
    EXPECT_FALSE(hasRed(archive.FieldsAt("a.las", 0)));
    EXPECT_TRUE(hasRed(archive.FieldsAt("a.las", 1)));
    // By its name alone, the first of the name.
    EXPECT_EQ(archive.Points("a.las").PointCount(), first.count);
    EXPECT_EQ(CodeOf([&] { archive.PointsAt("b.las", 1); }), velmora::ErrorCode::NotFound);
    EXPECT_EQ(CodeOf([&] { archive.PointsAt("a.las", 2); }), velmora::ErrorCode::NotFound);
    EXPECT_EQ(CodeOf([&] { archive.FieldsAt("b.las", 1); }), velmora::ErrorCode::NotFound);
}

// A LAS file on disk reads as its records: the coordinates and colours at
// their places in each record, the scaled coordinates as its header scales
// them, the same fields as its entry has, and the facts ReadLasHeader gives.
// Its records are read a slice at a time, never all at once.
TEST(Library, ALasFileReadsAsItsRecords) {
    TempDir dir;
    LasGenOptions o;
    o.points = 200'000;  // a few slices
    o.format = 7;
    o.versionMinor = 4;
    o.versionHeader = true;
    o.extraBytes = 7;
    o.evlrCount = 2;
    o.seed = 11;
    const std::string las = archtest::GenerateLas(dir, "c.las", o);
    const RawLas raw(las);
    ASSERT_EQ(raw.count, o.points);
    ASSERT_GT(raw.count * raw.recordLength, 8u << 20);

    velmora::PointReader r = velmora::ReadLasPoints(las, {"X", "Y", "Z", "red", "green", "blue", "x", "y", "z"}, 7777);
    EXPECT_EQ(r.PointCount(), raw.count);
    const velmora::HeaderFacts facts = velmora::ReadLasHeader(las);
    EXPECT_EQ(r.Header().pointCount, facts.pointCount);
    EXPECT_EQ(r.Header().pointFormat, 7);
    EXPECT_EQ(r.Header().vlrs.size(), facts.vlrs.size());
    const std::vector<velmora::VlrInfo>& vlrs = r.Header().vlrs;
    EXPECT_EQ(std::count_if(vlrs.begin(), vlrs.end(), [](const velmora::VlrInfo& v) { return v.extended; }), 2);
    const velmora::PointChunk all = Drain(r);
    ASSERT_EQ(all.count, raw.count);
    bool coloured = false;
    for (uint64_t i = 0; i < raw.count; ++i) {
        for (int axis = 0; axis < 3; ++axis) {
            ASSERT_EQ(At<int32_t>(all.columns[axis], i), raw.Coordinate(i, axis)) << i;
            const double scaled = raw.Coordinate(i, axis) * raw.scale[axis] + raw.offset[axis];
            ASSERT_EQ(At<double>(all.columns[6 + axis], i), scaled) << i;
            // Format 7: red, green and blue follow 30 bytes of other fields.
            ASSERT_EQ(At<uint16_t>(all.columns[3 + axis], i), U16At(raw, i, 30 + 2 * axis)) << i;
        }
        coloured = coloured || At<uint16_t>(all.columns[3], i) != 0;
    }
    EXPECT_TRUE(coloured);

    // The same fields as the file's entry, but the scaled coordinates.
    const std::string vmra = dir.File("c.vmra");
    ASSERT_TRUE(velmora::Archive::Compress({las}, vmra).allSucceeded);
    std::vector<std::string> entryFields, fileFields;
    for (const velmora::FieldInfo& f : velmora::Archive::Open(vmra).Fields("c.las")) {
        if (f.name != "x" && f.name != "y" && f.name != "z") entryFields.push_back(f.name);
    }
    const velmora::PointReader every = velmora::ReadLasPoints(las);
    for (const velmora::FieldInfo& f : every.Fields()) fileFields.push_back(f.name);
    EXPECT_EQ(fileFields, entryFields);

    const std::size_t most = testsupport::LargestAllocationDuring([&] {
        velmora::PointReader x = velmora::ReadLasPoints(las, {"X"});
        Drain(x);
    });
    EXPECT_LT(most, 6u << 20);
}

// A LAS file too short for its records, whether cut before it is opened or
// while it is read, and one declaring absurdly many records, fail with
// Refused: no point the file does not hold is handed out, and nothing is
// allocated for the records it only claims.
TEST(Library, ALasFileCutShortFailsRatherThanGivingPoints) {
    TempDir dir;
    const std::string las = archtest::GenerateLas(dir, "s.las", 300'000, 1, 5);
    const RawLas raw(las);
    // Reads to the end; the points handed out are the file's own.
    auto readAll = [&raw](const std::string& path, uint64_t* handed, const std::function<void()>& afterFirst = {}) {
        velmora::PointReader r = velmora::ReadLasPoints(path, {"X"});
        velmora::PointChunk chunk;
        while (r.Next(chunk)) {
            for (std::size_t i = 0; i < chunk.count; ++i) {
                ASSERT_EQ(At<int32_t>(chunk.columns[0], i), raw.Coordinate(chunk.first + i, 0)) << chunk.first + i;
            }
            if (*handed == 0 && afterFirst) afterFirst();
            *handed += chunk.count;
        }
    };

    const std::string before = dir.File("before.las");
    testsupport::WriteAll(before, std::vector<uint8_t>(raw.bytes.begin(), raw.bytes.end() - 10));
    uint64_t handed = 0;
    EXPECT_EQ(CodeOf([&] { readAll(before, &handed); }), velmora::ErrorCode::Refused);
    EXPECT_EQ(handed, 0u);

    // Cut after its first slice was read: the rest of that slice is still
    // handed out, nothing past the cut.
    const std::string during = dir.File("during.las");
    testsupport::WriteAll(during, raw.bytes);
    const uint64_t kept = 200'000;
    handed = 0;
    EXPECT_EQ(CodeOf([&] {
                  readAll(during, &handed, [&] {
                      std::filesystem::resize_file(during, raw.offsetToPoints + kept * raw.recordLength + 5);
                  });
              }),
              velmora::ErrorCode::Refused);
    EXPECT_GT(handed, 0u);
    EXPECT_LE(handed, kept);

    std::vector<uint8_t> absurd(raw.bytes.begin(), raw.bytes.begin() + raw.offsetToPoints + 100 * raw.recordLength);
    const uint32_t count = 0xFFFFFFFFu;
    std::memcpy(&absurd[107], &count, 4);
    testsupport::WriteAll(dir.File("absurd.las"), absurd);
    const std::size_t most = testsupport::LargestAllocationDuring([&] {
        handed = 0;
        EXPECT_EQ(CodeOf([&] { readAll(dir.File("absurd.las"), &handed); }), velmora::ErrorCode::Refused);
    });
    EXPECT_LE(handed, 100u);
    EXPECT_LT(most, 6u << 20);
    EXPECT_EQ(CodeOf([&] { velmora::ReadLasPoints(dir.File("none.las")); }), velmora::ErrorCode::NotFound);
}

// A named pipe is no LAS file: it is refused at once, not opened to wait for
// a writer that may never come, whether its points or its header are read.
// (Should it be opened, a writer comes after a while, so the test ends
// either way.)
TEST(Library, ANamedPipeIsRefusedWithoutWaitingForAWriter) {
    TempDir dir;
    const std::string fifo = dir.File("pipe.las");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::vector<std::pair<const char*, std::function<void()>>> reads = {
        {"points", [&] { velmora::ReadLasPoints(fifo); }}, {"header", [&] { velmora::ReadLasHeader(fifo); }}};
    for (const auto& [what, read] : reads) {
        SCOPED_TRACE(what);
        std::atomic<bool> answered{false};
        std::thread writer([&] {
            for (int i = 0; i < 300 && !answered; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
            if (answered) return;
            const int fd = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
            if (fd >= 0) ::close(fd);
        });
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(CodeOf(read), velmora::ErrorCode::Refused);
        answered = true;
        writer.join();
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
    }
}
