#include "LasGenerator.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "las/ByteOrder.h"
#include "las/FileIo.h"
#include "las/LasHeader.h"
#include "las/LasPoint.h"

namespace {

// splitmix64: small, fast and identical on every platform.
class Rng {
public:
    explicit Rng(uint64_t seed) : s_(seed * 0x9E3779B97F4A7C15ull + 0x1234567ull) {}
    uint64_t Next() {
        uint64_t z = (s_ += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    // Uniform in [0, n).
    uint32_t Below(uint32_t n) { return static_cast<uint32_t>(Next() % n); }
    double Unit() { return static_cast<double>(Next() >> 11) / 9007199254740992.0; }
    int Noise(int amplitude) { return static_cast<int>(Below(2 * amplitude + 1)) - amplitude; }

private:
    uint64_t s_;
};

struct Vlr {
    std::string userId;
    uint16_t recordId;
    std::string description;
    std::vector<uint8_t> payload;
};

std::vector<Vlr> MakeVlrs(int count) {
    std::vector<Vlr> vlrs;
    for (int i = 0; i < count; ++i) {
        Vlr v;
        switch (i % 3) {
            case 0: {
                v.userId = "LASF_Projection";
                v.recordId = 34735;
                v.description = "GeoKeyDirectoryTag";
                // key directory header plus three keys, 16-bit values
                const uint16_t keys[] = {1, 1, 0, 3, 1024, 0, 1, 1, 1025, 0, 1, 1, 3072, 0, 1, 26910};
                for (uint16_t k : keys) {
                    v.payload.push_back(static_cast<uint8_t>(k));
                    v.payload.push_back(static_cast<uint8_t>(k >> 8));
                }
                break;
            }
            case 1: {
                v.userId = "LASF_Spec";
                v.recordId = 3;
                v.description = "Text area description";
                const char text[] = "Synthetic survey block written by velmora-gen";
                v.payload.assign(text, text + sizeof text);
                break;
            }
            default: {
                v.userId = "Velmora";
                v.recordId = static_cast<uint16_t>(1000 + i);
                v.description = "Flight log";
                for (int k = 0; k < 37 + i; ++k) v.payload.push_back(static_cast<uint8_t>(k * 7 + i));
                break;
            }
        }
        vlrs.push_back(std::move(v));
    }
    return vlrs;
}

constexpr double kScale = 0.01;
constexpr double kOffX = 635000.0, kOffY = 848000.0, kOffZ = 0.0;

void PutText(uint8_t* dst, std::size_t room, const std::string& s) {
    std::memcpy(dst, s.data(), std::min(room, s.size()));
}

std::vector<uint8_t> SerializeVlr(const Vlr& v) {
    std::vector<uint8_t> out(54 + v.payload.size(), 0);
    PutText(&out[2], 16, v.userId);
    le::StoreU16(&out[18], v.recordId);
    le::StoreU16(&out[20], static_cast<uint16_t>(v.payload.size()));
    PutText(&out[22], 32, v.description);
    std::copy(v.payload.begin(), v.payload.end(), out.begin() + 54);
    return out;
}

}  // namespace

bool LasFileWriter::Begin(const std::string& path, const LasGenOptions& layout) {
    if (layout.format < 0 || layout.format > 3) return false;
    format = layout.format;
    const std::vector<Vlr> vlrs = MakeVlrs(layout.vlrCount);
    std::vector<uint8_t> vlrBytes;
    for (const Vlr& v : vlrs) {
        const auto b = SerializeVlr(v);
        vlrBytes.insert(vlrBytes.end(), b.begin(), b.end());
    }
    vlrBytes.resize(vlrBytes.size() + static_cast<std::size_t>(std::max(0, layout.extraGapBytes)), 0);

    std::memcpy(header.bytes.data(), "LASF", 4);
    header.bytes[LasHeader::kVersionMajor] = 1;
    header.bytes[LasHeader::kVersionMinor] = static_cast<uint8_t>(layout.versionMinor);
    PutText(&header.bytes[26], 32, "VELMORA SYNTHETIC");
    PutText(&header.bytes[58], 32, "velmora-gen");
    header.SetU16(90, 123);
    header.SetU16(92, 2026);
    header.SetU16(LasHeader::kHeaderSize, LasHeader::kFileSize);
    header.SetU32(LasHeader::kOffsetToPointData, static_cast<uint32_t>(LasHeader::kFileSize + vlrBytes.size()));
    header.SetNumberOfVlrs(static_cast<uint32_t>(vlrs.size()));
    header.bytes[LasHeader::kPointDataFormat] = static_cast<uint8_t>(format);
    header.SetU16(LasHeader::kPointDataRecordLength, static_cast<uint16_t>(rec::RecordSize(format)));
    for (int k = 0; k < 3; ++k) header.SetDouble(LasHeader::kScaleX + 8 * k, kScale);
    header.SetDouble(LasHeader::kOffsetX, kOffX);
    header.SetDouble(LasHeader::kOffsetX + 8, kOffY);
    header.SetDouble(LasHeader::kOffsetX + 16, kOffZ);

    if (!file.Open(path, "wb")) return false;
    uint8_t image[LasHeader::kFileSize];
    header.ToFileImage(image);
    return file.Write(image, sizeof image) && file.Write(vlrBytes.data(), vlrBytes.size());
}

bool LasFileWriter::Add(const uint8_t* records, std::size_t count) {
    const std::size_t r = rec::RecordSize(format);
    for (std::size_t i = 0; i < count; ++i) {
        const uint8_t* p = records + i * r;
        const int32_t x = le::LoadI32(p + rec::kX), y = le::LoadI32(p + rec::kY), z = le::LoadI32(p + rec::kZ);
        minX = std::min(minX, x); maxX = std::max(maxX, x);
        minY = std::min(minY, y); maxY = std::max(maxY, y);
        minZ = std::min(minZ, z); maxZ = std::max(maxZ, z);
        const int ret = p[rec::kReturnBits] & 0x07;
        if (ret >= 1) ++byReturn[std::min(ret, 5) - 1];
    }
    points += count;
    return file.Write(records, count * r);
}

bool LasFileWriter::Finish() {
    // Counts and bounds are known only now: write the header again.
    header.SetNumberOfPointRecords(static_cast<uint32_t>(points));
    for (int k = 0; k < 5; ++k) header.SetU32(LasHeader::kPointsByReturn + 4 * k, byReturn[k]);
    if (points > 0) {
        header.SetDouble(LasHeader::kMaxX, maxX * kScale + kOffX);
        header.SetDouble(LasHeader::kMinX, minX * kScale + kOffX);
        header.SetDouble(LasHeader::kMaxY, maxY * kScale + kOffY);
        header.SetDouble(LasHeader::kMinY, minY * kScale + kOffY);
        header.SetDouble(LasHeader::kMaxZ, maxZ * kScale + kOffZ);
        header.SetDouble(LasHeader::kMinZ, minZ * kScale + kOffZ);
    }
    uint8_t image[LasHeader::kFileSize];
    header.ToFileImage(image);
    if (!file.Seek(0) || !file.Write(image, sizeof image)) return false;
    return file.Close();
}

bool GenerateLasFile(const std::string& path, const LasGenOptions& opt) {
    const std::size_t recordSize = rec::RecordSize(opt.format);
    LasFileWriter writer;
    if (!writer.Begin(path, opt)) return false;

    Rng rng(opt.seed);
    // Scanner state: lines across X, the aircraft moving along Y.
    const int pulsesPerLine = 180 + static_cast<int>(rng.Below(80));
    const int32_t lineWidth = 60000;  // 600 m swath in centimetres
    int32_t lineY = 0;
    int pulse = 0;
    int line = 0;
    int direction = 0;
    uint16_t flightLine = 1;
    double gps = 245000.0 + static_cast<double>(opt.seed % 1000);

    std::vector<uint8_t> block;
    const std::size_t blockPoints = 65536;
    block.reserve(blockPoints * recordSize);
    LASPointT<3> p3;  // every field of every format, cut to size on output

    uint64_t written = 0;
    while (written < opt.points) {
        // One pulse: position along the line, terrain height, returns.
        const double t = static_cast<double>(pulse) / pulsesPerLine;
        const double across = direction == 0 ? t : 1.0 - t;
        const int32_t x = static_cast<int32_t>(across * lineWidth) + rng.Noise(6);
        const int32_t y = lineY + static_cast<int32_t>(t * 40) + rng.Noise(4);
        const double terrain = 12000.0 + 900.0 * std::sin(x * 0.00021) + 650.0 * std::cos(y * 0.00017);
        const bool vegetated = std::sin(x * 0.0011) * std::cos(y * 0.0009) > 0.2;
        const int returns = vegetated ? 1 + static_cast<int>(rng.Below(4)) : (rng.Below(10) == 0 ? 2 : 1);
        const int8_t angle = static_cast<int8_t>(std::lround((across - 0.5) * 40.0));
        gps += 0.0000125 + (rng.Below(50) == 0 ? 0.00003 : 0.0);

        for (int r = 1; r <= returns && written < opt.points; ++r, ++written) {
            const bool last = r == returns;
            const double canopy = vegetated ? 1500.0 + 300.0 * rng.Unit() : 0.0;
            const double z = last ? terrain + rng.Noise(8)
                                  : terrain + canopy * (1.0 - static_cast<double>(r - 1) / returns) + rng.Noise(40);
            const int32_t zi = static_cast<int32_t>(z);
            const int32_t xi = x + (r - 1) * rng.Noise(3);
            const int32_t yi = y + (r - 1) * rng.Noise(3);

            std::memset(p3.record, 0, sizeof p3.record);
            p3.SetX(xi);
            p3.SetY(yi);
            p3.SetZ(zi);
            const int baseIntensity = last ? 260 : 140;
            p3.SetIntensity(static_cast<uint16_t>(std::max(0, baseIntensity / r + rng.Noise(25))));
            p3.SetReturnNumber(static_cast<uint8_t>(r));
            p3.SetNumberOfReturns(static_cast<uint8_t>(returns));
            p3.SetScanDirectionFlag(static_cast<uint8_t>(direction));
            p3.SetEdgeOfFlightLine(pulse == pulsesPerLine - 1 ? 1 : 0);
            uint8_t cls = last ? (vegetated && rng.Below(3) == 0 ? 1 : 2) : static_cast<uint8_t>(3 + std::min(2, r));
            if (rng.Below(997) == 0) cls = 7;  // noise
            p3.SetClassification(cls);
            if (rng.Below(4001) == 0) p3.SetWithheld(true);
            p3.SetScanAngleRank(angle);
            p3.SetUserData(static_cast<uint8_t>(rng.Below(50) == 0 ? rng.Below(4) : 0));
            p3.SetPointSourceId(flightLine);
            p3.SetGpsTime(gps);
            const double shade = 0.5 + 0.5 * std::sin(xi * 0.0003 + yi * 0.0002);
            const int green = vegetated ? 40000 : 30000;
            p3.SetRed(static_cast<uint16_t>(std::clamp(static_cast<int>(shade * 36000) + rng.Noise(900), 0, 65535)));
            p3.SetGreen(static_cast<uint16_t>(std::clamp(static_cast<int>(shade * green) + rng.Noise(900), 0, 65535)));
            p3.SetBlue(static_cast<uint16_t>(std::clamp(static_cast<int>(shade * 26000) + rng.Noise(900), 0, 65535)));

            // Cut the format 3 record down to the requested format.
            uint8_t out[34];
            std::memcpy(out, p3.record, 20);
            if (rec::HasGpsTime(opt.format)) std::memcpy(out + 20, p3.record + 20, 8);
            if (rec::HasRgb(opt.format)) {
                std::memcpy(out + rec::RgbOffset(opt.format), p3.record + 28, 6);
            }
            block.insert(block.end(), out, out + recordSize);
            if (block.size() >= blockPoints * recordSize) {
                if (!writer.Add(block.data(), blockPoints)) return false;
                block.clear();
            }
        }
        if (++pulse == pulsesPerLine) {
            pulse = 0;
            direction ^= 1;
            lineY += 90 + static_cast<int32_t>(rng.Below(20));
            if (++line % 400 == 0) {
                ++flightLine;
                lineY += 5000;
            }
        }
    }
    return writer.Add(block.data(), block.size() / recordSize) && writer.Finish();
}
