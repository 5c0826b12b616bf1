#include "ExtSynth.h"

#include <cstring>
#include <string>

#include "las/ByteOrder.h"
#include "las/PointFormat.h"

namespace extsynth {

namespace {

class Rng {
public:
    explicit Rng(uint64_t seed) : s(seed * 0x9E3779B97F4A7C15ull + 7) {}
    uint64_t Next() {
        uint64_t z = (s += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    int Noise(int amplitude) { return static_cast<int>(Next() % (2 * amplitude + 1)) - amplitude; }

private:
    uint64_t s;
};

void Put(uint8_t* p, std::size_t size, uint64_t v) {
    for (std::size_t i = 0; i < size; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

std::vector<uint8_t> ExtraBytesVlr(uint32_t extra) {
    // A float height, a 16-bit integer and whatever is left as bytes.
    std::vector<uint8_t> vlr;
    auto descriptor = [&](uint8_t type, uint8_t options, const char* name) {
        std::vector<uint8_t> d(192, 0);
        d[2] = type;
        d[3] = options;
        std::memcpy(d.data() + 4, name, std::strlen(name));
        vlr.insert(vlr.end(), d.begin(), d.end());
    };
    descriptor(9, 0, "height");
    descriptor(4, 0, "segment");
    if (extra > 6) descriptor(0, static_cast<uint8_t>(extra - 6), "rest");
    return vlr;
}

}  // namespace

std::vector<uint8_t> MakeLas(const Options& o) {
    const std::size_t headerSize = (o.versionMinor >= 4 ? 375 : o.versionMinor == 3 ? 235 : 227) + o.headerExtra;
    const bool described = o.describeExtra && o.extraBytes >= 6;
    const std::vector<uint8_t> payload = described ? ExtraBytesVlr(o.extraBytes) : std::vector<uint8_t>{};
    const std::size_t vlrBytes = described ? 54 + payload.size() : 0;
    const PointLayout layout = DescribePoints(o.format, StandardLength(o.format) + o.extraBytes, payload);
    const std::size_t rl = layout.recordLength;
    std::vector<uint8_t> file(headerSize + vlrBytes + rl * o.points + o.tailBytes, 0);
    uint8_t* h = file.data();
    std::memcpy(h, "LASF", 4);
    h[24] = 1;
    h[25] = o.versionMinor;
    std::memcpy(h + 26, "synthetic", 9);
    le::StoreU16(h + 94, static_cast<uint16_t>(headerSize));
    le::StoreU32(h + 96, static_cast<uint32_t>(headerSize + vlrBytes));
    le::StoreU32(h + 100, described ? 1 : 0);
    h[104] = o.format;
    le::StoreU16(h + 105, static_cast<uint16_t>(rl));
    le::StoreU32(h + 107, o.format < 6 ? o.points : 0);
    for (int k = 0; k < 3; ++k) {
        const double scale = 0.01;
        std::memcpy(h + 131 + 8 * k, &scale, 8);
    }
    if (o.versionMinor >= 4) le::StoreU64(h + 247, o.points);
    for (uint32_t k = 0; k < o.headerExtra; ++k) h[headerSize - o.headerExtra + k] = static_cast<uint8_t>(k * 37 + 1);
    if (described) {
        uint8_t* v = h + headerSize;
        std::memcpy(v + 2, "LASF_Spec", 9);
        le::StoreU16(v + 18, 4);
        le::StoreU16(v + 20, static_cast<uint16_t>(payload.size()));
        std::memcpy(v + 54, payload.data(), payload.size());
    }
    Rng rng(o.seed);
    // A scanner sweeping across the flight line, one to three returns per
    // pulse, a few channels, surfaces that vary slowly.
    int64_t x = 100000, y = 200000;
    int ret = 1, count = 1;
    uint64_t time = 0x41D0000000000000ull;
    int segment = 0;
    uint8_t* rec = h + headerSize + vlrBytes;
    for (uint32_t i = 0; i < o.points; ++i, rec += rl) {
        if (ret >= count) {
            ret = 1;
            count = 1 + static_cast<int>(rng.Next() % 3);
            x += 37 + rng.Noise(3);
            if (i % 400 == 399) {
                x -= 400 * 37;
                y += 55;
            }
            time += 4000 + static_cast<uint64_t>(rng.Noise(2));
        } else {
            ++ret;
        }
        const int64_t ground = 5000 + (x % 3000) / 10 + (y % 2000) / 20;
        const int64_t z = ret == count ? ground + rng.Noise(5) : ground + 1500 + rng.Noise(400);
        if (rng.Next() % 50 == 0) segment = static_cast<int>(rng.Next() % 4);
        for (const PointField& f : layout.fields) {
            uint8_t* p = rec + f.offset;
            switch (f.role) {
                case FieldRole::X: Put(p, 4, static_cast<uint64_t>(x + rng.Noise(2))); break;
                case FieldRole::Y: Put(p, 4, static_cast<uint64_t>(y + rng.Noise(2))); break;
                case FieldRole::Z: Put(p, 4, static_cast<uint64_t>(z)); break;
                case FieldRole::Intensity: Put(p, 2, static_cast<uint64_t>(300 + 40 * ret + rng.Noise(30))); break;
                case FieldRole::ReturnByte:
                    *p = static_cast<uint8_t>(ret | count << 3 | ((i / 400) % 2) << 6 | (i % 400 == 399) << 7);
                    break;
                case FieldRole::ReturnsByte: *p = static_cast<uint8_t>(ret | count << 4); break;
                case FieldRole::FlagsByte:
                    *p = static_cast<uint8_t>((i % 3) << 4 | ((i / 400) % 2) << 6 | (rng.Next() % 97 == 0));
                    break;
                case FieldRole::Classification: *p = ret == count ? 2 : 5; break;
                case FieldRole::ScanAngleRank: *p = static_cast<uint8_t>(static_cast<int>(i % 400) / 20 - 10); break;
                case FieldRole::ScanAngle: Put(p, 2, static_cast<uint64_t>(static_cast<int>(i % 400) * 13 - 2600)); break;
                case FieldRole::UserData: *p = static_cast<uint8_t>(segment); break;
                case FieldRole::PointSourceId: Put(p, 2, 7 + i / 1000); break;
                case FieldRole::GpsTime: Put(p, 8, time); break;
                case FieldRole::Red: Put(p, 2, static_cast<uint64_t>(((z / 20) % 200 + 20) * 256)); break;
                case FieldRole::Green: Put(p, 2, static_cast<uint64_t>(((z / 25) % 200 + 30) * 256)); break;
                case FieldRole::Blue: Put(p, 2, static_cast<uint64_t>(((z / 30) % 200 + 40) * 256)); break;
                case FieldRole::Nir: Put(p, 2, static_cast<uint64_t>(1000 + rng.Noise(100))); break;
                case FieldRole::WavePacketIndex: *p = 1; break;
                case FieldRole::WaveDataOffset: Put(p, 8, 60 + uint64_t(i) * 256); break;
                case FieldRole::WavePacketSize: Put(p, 4, 256); break;
                case FieldRole::WaveReturnLocation:
                case FieldRole::WaveXt:
                case FieldRole::WaveYt:
                case FieldRole::WaveZt: {
                    const float v = static_cast<float>(ret * 1000 + rng.Noise(50)) / 7.0f;
                    std::memcpy(p, &v, 4);
                    break;
                }
                case FieldRole::Extra:
                    if (f.type == FieldType::F32) {
                        const float v = static_cast<float>(z - ground) / 100.0f;
                        std::memcpy(p, &v, 4);
                    } else if (f.type == FieldType::I16) {
                        Put(p, 2, static_cast<uint64_t>(segment * 1000 - 1500));
                    } else {
                        for (std::size_t b = 0; b < f.size; ++b) p[b] = static_cast<uint8_t>(b % 3 == 0 ? rng.Next() : segment + b);
                    }
                    break;
            }
        }
    }
    for (uint32_t k = 0; k < o.tailBytes; ++k) file[file.size() - o.tailBytes + k] = static_cast<uint8_t>(k * 11 + 5);
    return file;
}

}  // namespace extsynth
