// Damaged and crafted entries: the checks that stop them, tested directly,
// and measured where a later read would otherwise hide their absence (an
// allocation sized from the damage, a read past the bytes there are, work
// done on data that cannot be right, a false end marker inside a stream).
#include <gtest/gtest.h>

#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <numeric>

#include "AllocationProbe.h"
#include "engine/EntryMarkers.h"
#include "EngineRoundTrip.h"
#include "LasGenerator.h"
#include "TestSupport.h"
#include "engine/ByteStreamCoder.h"
#include "engine/ChunkColumns.h"
#include "engine/CoordinateCodec.h"
#include "engine/EngineMessages.h"
#include "engine/EntryCheck.h"
#include "engine/InputWindow.h"
#include "engine/PointCodec.h"
#include "engine/ProcessorCode.h"
#include "engine/ValueBlockCoder.h"
#include "engine/WrapMath.h"
#include "las/ByteOrder.h"
#include "las/FileIo.h"
#include "las/LasException.h"
#include "las/LasHeader.h"

using testsupport::MessageOf;
using testsupport::ReadAll;
using testsupport::TempDir;
using testsupport::WriteAll;

namespace {

// Cumulative counts that rise by `step` per value, capped at the total.
std::vector<uint8_t> CountTable(uint32_t step) {
    std::vector<uint8_t> t(bytestream::kCountBytes);
    for (uint32_t k = 0; k < 256; ++k) le::StoreU16(&t[2 * k], static_cast<uint16_t>(std::min(10000u, step * (k + 1))));
    return t;
}

TEST(SharedChecks, CountTablesRiseToExactlyTheTotal) {
    EXPECT_TRUE(bytestream::ValidCountTable(CountTable(40).data()));
    EXPECT_TRUE(bytestream::ValidCountTable(CountTable(10000).data())) << "one value with all of it";
    auto t = CountTable(40);
    le::StoreU16(&t[510], 9999);
    EXPECT_FALSE(bytestream::ValidCountTable(t.data())) << "ends below the total";
    le::StoreU16(&t[510], 10001);
    EXPECT_FALSE(bytestream::ValidCountTable(t.data())) << "ends above the total";
    t = CountTable(40);
    le::StoreU16(&t[200], 0);
    EXPECT_FALSE(bytestream::ValidCountTable(t.data())) << "falls on the way";
    EXPECT_FALSE(bytestream::ValidCountTable(std::vector<uint8_t>(512, 0).data()));
}

TEST(SharedChecks, PlaneLengthsLieBetweenOneAndTheValues) {
    EXPECT_FALSE(valueblock::PlausiblePlaneLength(0, 999));
    EXPECT_TRUE(valueblock::PlausiblePlaneLength(1, 999));
    EXPECT_TRUE(valueblock::PlausiblePlaneLength(999, 999));
    EXPECT_FALSE(valueblock::PlausiblePlaneLength(1000, 999));
    EXPECT_FALSE(valueblock::PlausiblePlaneLength(-1, 999));
    EXPECT_FALSE(valueblock::PlausiblePlaneLength(INT32_MAX, 999));
    // The planes a header calls for: its largest length, at most four.
    const uint8_t none[] = {0, 1, 0, 1}, one[] = {0, 3, 2}, four[] = {9, 0}, damaged[] = {255, 2};
    EXPECT_EQ(valueblock::PlaneCount(none, 4), 0);
    EXPECT_EQ(valueblock::PlaneCount(one, 3), 1);
    EXPECT_EQ(valueblock::PlaneCount(four, 2), 4);
    EXPECT_EQ(valueblock::PlaneCount(damaged, 2), 4);
}

// A coded entry's header: format 0, standard records, no VLRs, n points.
LasHeader CodedHeader(uint32_t n) {
    LasHeader h;
    h.SetMarker(entrymarker::kLas);
    h.SetU16(LasHeader::kHeaderSize, 227);
    h.SetU32(LasHeader::kOffsetToPointData, 227);
    h.bytes[LasHeader::kPointDataFormat] = 0;
    h.SetU16(LasHeader::kPointDataRecordLength, 20);
    h.SetNumberOfPointRecords(n);
    return h;
}

TEST(EntryCheck, EachDamageHasItsMessage) {
    auto message = [](const LasHeader& h, int64_t extent) { return MessageOf([&] { CheckEntry(h, extent); }); };
    const int64_t run = 512 + 1 + 3;  // the smallest codec run
    // A coded chunk of format 0: 12 runs.
    EXPECT_EQ(message(CodedHeader(1500), 232 + 12 * run), "");
    EXPECT_EQ(message(CodedHeader(1500), 232 + 12 * run - 1), enginemsg::kStreamNotFound.text);
    // Five chunks for 5,500,000 points.
    EXPECT_EQ(message(CodedHeader(5500000), 232 + 5 * 12 * run), "");
    EXPECT_EQ(message(CodedHeader(5500000), 232 + 5 * 12 * run - 1), enginemsg::kStreamNotFound.text);
    EXPECT_EQ(message(CodedHeader(1), 100000), enginemsg::kStreamNotFound.text) << "one value cannot be coded";
    EXPECT_EQ(message(CodedHeader(1500), 231), enginemsg::kEntryHeader.text);

    LasHeader raw = CodedHeader(999);
    raw.SetMarker(entrymarker::kRaw);
    EXPECT_EQ(message(raw, 232 + 999 * 20), "");
    EXPECT_EQ(message(raw, 232 + 999 * 20 - 1), enginemsg::kReadPoints.text);

    LasHeader marker = CodedHeader(1500);
    marker.SetMarker('X');
    EXPECT_EQ(message(marker, 1 << 20), enginemsg::kEntryHeader.text);
    LasHeader format = CodedHeader(1500);
    format.bytes[LasHeader::kPointDataFormat] = 4;
    EXPECT_EQ(message(format, 1 << 20), enginemsg::kEntryFormat.text);
    for (uint16_t r : {19, 21, 28, 65535}) {
        LasHeader length = CodedHeader(1500);
        length.SetU16(LasHeader::kPointDataRecordLength, r);
        EXPECT_EQ(message(length, 1 << 20), enginemsg::kEntryRecordLength.text) << r;
    }
    // A VLR block must fit between the header image and the entry's end.
    LasHeader vlrs = raw;
    vlrs.SetNumberOfVlrs(1);
    vlrs.SetU32(LasHeader::kOffsetToPointData, 227 + 100);
    EXPECT_EQ(message(vlrs, 232 + 100 + 999 * 20), "");
    EXPECT_EQ(message(vlrs, 232 + 99), enginemsg::kEntryHeader.text);
    vlrs.SetU32(LasHeader::kOffsetToPointData, 200);  // before the header's end
    EXPECT_EQ(message(vlrs, 1 << 20), enginemsg::kEntryHeader.text);
}

// An entry of 1,500 points of format 0, without VLRs.
std::vector<uint8_t> SmallEntry(const TempDir& dir) {
    LasGenOptions o;
    o.points = 1500;
    o.format = 0;
    o.vlrCount = 0;
    o.seed = 3;
    EXPECT_TRUE(GenerateLasFile(dir.File("small.las"), o));
    CPointCodec codec;
    testsupport::CompressToFile(codec, dir.File("small.las"), dir.File("small.entry"));
    return ReadAll(dir.File("small.entry"));
}

struct Refusal {
    std::string message;
    std::size_t largestAllocation = 0;
    bool wroteOutput = false;
};

Refusal DecodeDamaged(const TempDir& dir, const std::vector<uint8_t>& entry) {
    WriteAll(dir.File("damaged.entry"), entry);
    std::filesystem::remove(dir.File("out.las"));
    Refusal r;
    r.largestAllocation = testsupport::LargestAllocationDuring([&] {
        r.message = MessageOf([&] {
            CPointCodec codec;
            testsupport::DecompressFromFile(codec, dir.File("damaged.entry"), dir.File("out.las"));
        });
    });
    r.wroteOutput = std::filesystem::exists(dir.File("out.las"));
    return r;
}

// Sizes read from a damaged entry are checked before anything is sized or
// written from them: a later read would fail anyway, but only after a
// huge allocation (which lazily succeeds) or a partial LAS file.
TEST(HostileEntries, AreRefusedBeforeAllocatingOrWriting) {
    TempDir dir;
    const auto entry = SmallEntry(dir);
    constexpr std::size_t kModest = std::size_t{64} << 20;
    auto expectRefused = [&](std::vector<uint8_t> bytes, const char* message, const char* what) {
        const Refusal r = DecodeDamaged(dir, bytes);
        EXPECT_EQ(r.message, message) << what;
        EXPECT_LT(r.largestAllocation, kModest) << what;
        EXPECT_FALSE(r.wroteOutput) << what;
    };
    auto hugeGap = entry;
    hugeGap[100] = 1;  // one VLR, point data near 2^31
    le::StoreU32(&hugeGap[96], 0x7FFFFFF0u);
    expectRefused(hugeGap, enginemsg::kEntryHeader.text, "VLR block larger than the archive");
    auto longRecords = entry;
    le::StoreU16(&longRecords[106], 65535);
    expectRefused(longRecords, enginemsg::kEntryRecordLength.text, "65,535-byte records");
    auto manyPoints = entry;
    le::StoreU32(&manyPoints[108], 0xFFFFFFFFu);
    expectRefused(manyPoints, enginemsg::kStreamNotFound.text, "4 billion points in a small entry");
    auto manyRaw = entry;
    manyRaw[0] = 'O';
    le::StoreU32(&manyRaw[108], 2000);
    expectRefused(manyRaw, enginemsg::kReadPoints.text, "more raw records than bytes");
}

// A value block at the window, from bytes in memory.
std::string ReadBlockMessage(const std::vector<uint8_t>& bytes, std::size_t count, std::size_t* largest = nullptr) {
    std::string message;
    const std::size_t most = testsupport::LargestAllocationDuring([&] {
        message = MessageOf([&] {
            CFile f;
            ASSERT_TRUE(f.OpenMemory(bytes.data(), bytes.size()));
            InputWindow in(f);
            valueblock::CBlockBytes b;
            b.Read(in, count, ProcessorCode::Detected().decoder);
        });
    });
    if (largest) *largest = most;
    return message;
}

// A block of 1,000 values whose header calls for one plane, up to where
// the plane's length is stored.
std::vector<uint8_t> BlockHead() {
    std::vector<uint8_t> header(999, 0);
    header[10] = 2;
    std::vector<uint8_t> bytes = {7, 0, 0, 0};
    bytestream::EncodeByteStream(header.data(), header.size(), bytes, ProcessorCode::Detected().encoder);
    return bytes;
}

TEST(HostileBlocks, PlaneLengthsAreCheckedBeforeAnythingIsSizedFromThem) {
    auto huge = BlockHead();
    huge.insert(huge.end(), {0xFF, 0xFF, 0xFF, 0x7F});
    const auto table = CountTable(40);
    huge.insert(huge.end(), table.begin(), table.end());
    huge.resize(huge.size() + 64, 0x55);
    std::size_t largest = 0;
    EXPECT_EQ(ReadBlockMessage(huge, 1000, &largest), enginemsg::kStreamNotFound.text);
    EXPECT_LT(largest, std::size_t{1} << 20);

    // A plane of no bytes: an encoder writes a plane only for values that
    // reach it. After it, a stream of no symbols that would decode.
    auto empty = BlockHead();
    empty.insert(empty.end(), {0, 0, 0, 0});
    const auto ones = CountTable(10000);
    empty.insert(empty.end(), ones.begin(), ones.end());
    empty.insert(empty.end(), {0x00, 0xFF, 0xFF, 0x00});
    EXPECT_EQ(ReadBlockMessage(empty, 1000), enginemsg::kStreamNotFound.text);
}

// How a child process that ran f on `bytes` ended: "refused" when f threw
// CLasException, "decoded" when it returned, "signal N" when it crashed.
// The bytes lie at the very end of readable memory: the next byte is on a
// page that cannot be read, so any read past them crashes.
template <class F>
std::string AtTheEdge(const std::vector<uint8_t>& bytes, F f) {
    const pid_t pid = fork();
    if (pid == 0) {
        const std::size_t page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
        const std::size_t room = (bytes.size() + page - 1) / page * page;
        auto* base = static_cast<uint8_t*>(
            mmap(nullptr, room + page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
        if (base == MAP_FAILED || mprotect(base + room, page, PROT_NONE) != 0) _exit(3);
        uint8_t* data = base + room - bytes.size();
        std::memcpy(data, bytes.data(), bytes.size());
        try {
            f(data, bytes.size());
        } catch (const CLasException&) {
            _exit(0);
        }
        _exit(1);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    if (WIFSIGNALED(status)) return "signal " + std::to_string(WTERMSIG(status));
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0) return "refused";
    if (WIFEXITED(status) && WEXITSTATUS(status) == 1) return "decoded";
    return "failed to run";
}

TEST(HostileStreams, CutStreamsAreNeverReadPastTheirBytes) {
    std::vector<uint8_t> data(5000);
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>((i * i) % 23);
    const ProcessorCode& code = ProcessorCode::Detected();
    std::vector<uint8_t> stream;
    bytestream::EncodeByteStream(data.data(), data.size(), stream, code.encoder);
    // Cut in the count table, just after it, among the coded bits, and
    // without its end marker.
    for (std::size_t cut : {std::size_t{1}, std::size_t{300}, std::size_t{511}, std::size_t{512}, std::size_t{513},
                            std::size_t{520}, stream.size() / 2, stream.size() - 12, stream.size() - 3}) {
        const std::vector<uint8_t> bytes(stream.begin(), stream.begin() + static_cast<long>(cut));
        EXPECT_EQ(AtTheEdge(bytes,
                            [&](const uint8_t* p, std::size_t n) {
                                std::vector<uint8_t> out(data.size());
                                bytestream::DecodeByteStreamAt(p, n, 0, out.data(), out.size(), code.decoder);
                            }),
                  "refused")
            << "cut at " << cut;
    }
    // The whole stream, marker last: decodes without reading past it.
    EXPECT_EQ(AtTheEdge(stream,
                        [&](const uint8_t* p, std::size_t n) {
                            std::vector<uint8_t> out(data.size());
                            bytestream::DecodeByteStreamAt(p, n, 0, out.data(), out.size(), code.decoder);
                        }),
              "decoded");
}

TEST(HostileStreams, RunningOutOfCodedBitsEndsTheStreamAtOnce) {
    // Asked for far more symbols than the bits hold, a decoder that went on
    // with missing bits would fill the whole output before failing.
    std::vector<uint8_t> data(4000);
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i % 7 == 0 ? 3 : 1);
    const ProcessorCode& code = ProcessorCode::Detected();
    std::vector<uint8_t> stream;
    bytestream::EncodeByteStream(data.data(), data.size(), stream, code.encoder);
    const std::size_t asked = 1 << 20;
    std::vector<uint8_t> out(asked, 0xAB);
    EXPECT_EQ(MessageOf([&] {
                  bytestream::DecodeByteStreamAt(stream.data(), stream.size(), 0, out.data(), asked, code.decoder);
              }),
              enginemsg::kStreamNotFound.text);
    EXPECT_EQ(std::vector<uint8_t>(out.begin(), out.begin() + 4000), data) << "the symbols the bits hold";
    const auto untouched = std::count(out.begin() + 8000, out.end(), 0xAB);
    EXPECT_EQ(untouched, static_cast<long>(asked - 8000));
}

// The stream decoder one bit at a time, as plainly as it can be written,
// taking missing bits as 0: `count` symbols of the model `high` (the 256
// cumulative counts) from the coded bits.
std::vector<uint8_t> DecodeBitByBit(const uint16_t* high, const std::vector<uint8_t>& bits, std::size_t count) {
    std::size_t next = 0;
    auto bit = [&]() -> uint32_t {
        const std::size_t byte = next / 8, shift = 7 - next % 8;
        ++next;
        return byte < bits.size() ? (bits[byte] >> shift) & 1 : 0;
    };
    uint32_t low = 0, top = 0xFFFF, code = 0;
    for (int i = 0; i < 16; ++i) code = (code << 1) | bit();
    std::vector<uint8_t> out;
    while (out.size() < count) {
        const uint32_t range = top - low + 1;
        const uint32_t target = ((code - low + 1) * 10000 - 1) / range;
        uint32_t k = 0;
        while (high[k] <= target) ++k;
        const uint32_t symbolLow = k == 0 ? 0 : high[k - 1];
        out.push_back(static_cast<uint8_t>(k));
        top = low + range * high[k] / 10000 - 1;
        low = low + range * symbolLow / 10000;
        for (;;) {
            if (((low ^ top) & 0x8000) == 0) {
            } else if ((low & 0x4000) && !(top & 0x4000)) {
                code ^= 0x4000;
                low &= 0x3FFF;
                top |= 0x4000;
            } else {
                break;
            }
            low = (low << 1) & 0xFFFF;
            top = ((top << 1) | 1) & 0xFFFF;
            code = ((code << 1) | bit()) & 0xFFFF;
        }
    }
    return out;
}

// A chunk of format 0 whose Z residuals are all one byte: 10,000 of them,
// each value 1 to 255 as often as its frequency (40 for 1 to 55, 39 above)
// says, so the model of their stream is exactly that. Their first symbols
// are what the coded bits `wanted` decode to, so the coder writes those
// bits: an arithmetic coder settles the bits any value in its interval has.
std::vector<uint8_t> ZResidualsCodedAs(const std::vector<uint8_t>& wanted, std::size_t symbols) {
    uint16_t high[256] = {0};
    int frequency[256] = {0};
    for (int b = 1; b < 256; ++b) frequency[b] = b <= 55 ? 40 : 39;
    for (int b = 1; b < 256; ++b) high[b] = static_cast<uint16_t>(high[b - 1] + frequency[b]);
    std::vector<uint8_t> residuals = DecodeBitByBit(high, wanted, symbols);
    for (uint8_t b : residuals) --frequency[b];
    for (int b = 1; b < 256; ++b) {
        EXPECT_GE(frequency[b], 0);
        residuals.insert(residuals.end(), static_cast<std::size_t>(std::max(0, frequency[b])), static_cast<uint8_t>(b));
    }
    return residuals;
}

// Stream lengths are not stored: the places of a chunk's streams are found
// by their end markers. An end marker inside a stream, followed by what
// looks like the next row (its first value and a valid count table), takes
// that place for the stream's end; the stream, decoded, ends elsewhere, and
// the chunk must be decoded stream after stream from there, giving exactly
// the points that were coded.
TEST(SideBySide, AFalseEndMarkerInsideAStreamFallsBackAndDecodesIdentically) {
    std::vector<uint8_t> wanted(100);
    for (std::size_t i = 0; i < wanted.size(); ++i) wanted[i] = static_cast<uint8_t>(i * 37 + 11);
    // A marker, then a first value that cannot be read as a plane's length
    // (so the place is taken for the next row), then a count table.
    const std::vector<uint8_t> fake = {0xFF, 0xFF, 0x00, 0x00, 0x00, 0x00, 0x00};
    wanted.insert(wanted.end(), fake.begin(), fake.end());
    const auto table = CountTable(40);
    wanted.insert(wanted.end(), table.begin(), table.end());
    for (int i = 0; i < 200; ++i) wanted.push_back(static_cast<uint8_t>(i * 91 + 5));
    const std::vector<uint8_t> residuals = ZResidualsCodedAs(wanted, 780);

    const std::size_t n = residuals.size() + 1;
    ChunkColumns c;
    c.Resize(n, 0);
    std::vector<int32_t> dx(n, 0), dy(n, 0), dz(n, 0);
    const coords::Kernels plain = coords::Kernels::Plain();
    c.intensity.assign(n, 30000);
    for (std::size_t i = 1; i < n; ++i) {
        c.x[i] = c.x[i - 1] + 1000;
        c.y[i] = c.y[i - 1] + 500;
        dx[i] = 1000;
        dy[i] = 500;
        c.z[i] = wrap::Add32(coords::PredictZ(c.z[i - 1], dx.data() + i, dy.data() + i, dz.data() + i, i, plain),
                             residuals[i - 1]);
        dz[i] = wrap::Sub32(c.z[i], c.z[i - 1]);
    }
    std::vector<uint8_t> records(n * 20);
    c.Gather(records.data(), 20, 0, n);
    TempDir dir;
    LasGenOptions layout;
    layout.format = 0;
    layout.vlrCount = 0;
    LasFileWriter w;
    ASSERT_TRUE(w.Begin(dir.File("in.las"), layout) && w.Add(records.data(), n) && w.Finish());
    CPointCodec codec;
    testsupport::CompressToFile(codec, dir.File("in.las"), dir.File("e"));
    // The crafted bytes are in the entry, inside the stream of Z's magnitudes.
    const auto entry = ReadAll(dir.File("e"));
    std::vector<uint8_t> pattern = fake;
    pattern.insert(pattern.end(), table.begin(), table.end());
    ASSERT_NE(std::search(entry.begin(), entry.end(), pattern.begin(), pattern.end()), entry.end());

    const auto original = ReadAll(dir.File("in.las"));
    for (int threads : {1, 2}) {
        codec.SetThreadCount(threads);
        testsupport::DecompressFromFile(codec, dir.File("e"), dir.File("back.las"));
        EXPECT_EQ(codec.ParallelChunks(), 0) << "the false place was not taken, or not noticed";
        EXPECT_TRUE(ReadAll(dir.File("back.las")) == original) << threads << " threads";
    }
}

}  // namespace
