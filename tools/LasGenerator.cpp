// The scanner model behind generated files. Records of every format are
// written field by field where DescribePoints puts them.
#include "LasGenerator.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>
#include <vector>

#include "las/ByteOrder.h"

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

// Writes a value into a field of the layout, in the field's type; a field the
// format does not have (null) takes nothing.
void PutInt(uint8_t* rec, const PointField* f, int64_t v) {
    if (f == nullptr) return;
    uint8_t* p = rec + f->offset;
    switch (f->type) {
        case FieldType::U8:
        case FieldType::I8:
            *p = static_cast<uint8_t>(v);
            break;
        case FieldType::U16:
        case FieldType::I16:
            le::StoreU16(p, static_cast<uint16_t>(v));
            break;
        case FieldType::U32:
        case FieldType::I32:
            le::StoreU32(p, static_cast<uint32_t>(v));
            break;
        case FieldType::U64:
        case FieldType::I64:
            le::StoreU64(p, static_cast<uint64_t>(v));
            break;
        case FieldType::F32: {
            const float x = static_cast<float>(v);
            uint32_t bits;
            std::memcpy(&bits, &x, sizeof bits);
            le::StoreU32(p, bits);
            break;
        }
        case FieldType::F64:
            le::StoreF64(p, static_cast<double>(v));
            break;
        case FieldType::Bytes:
            break;
    }
}

void PutReal(uint8_t* rec, const PointField* f, double v) {
    if (f != nullptr && f->type == FieldType::F64) {
        le::StoreF64(rec + f->offset, v);
    } else if (f != nullptr && f->type == FieldType::F32) {
        const float x = static_cast<float>(v);
        uint32_t bits;
        std::memcpy(&bits, &x, sizeof bits);
        le::StoreU32(rec + f->offset, bits);
    } else {
        PutInt(rec, f, std::llround(v));
    }
}

// Bits of a one-byte field, found by name in whichever field has them.
struct BitSlot {
    const PointField* field = nullptr;
    uint8_t shift = 0, width = 0;
};

BitSlot FindBits(const PointLayout& layout, const char* name) {
    for (const PointField& f : layout.fields) {
        for (const BitField& b : f.bits) {
            if (b.name == name) return {&f, b.shift, b.width};
        }
    }
    return {};
}

void PutBits(uint8_t* rec, const BitSlot& b, unsigned v) {
    if (b.field == nullptr) return;
    const unsigned mask = ((1u << b.width) - 1) << b.shift;
    uint8_t& byte = rec[b.field->offset];
    byte = static_cast<uint8_t>((byte & ~mask) | ((v << b.shift) & mask));
}

// Every place the model writes to, resolved once.
struct Slots {
    explicit Slots(const PointLayout& l)
        : x(l.Find(FieldRole::X)), y(l.Find(FieldRole::Y)), z(l.Find(FieldRole::Z)),
          intensity(l.Find(FieldRole::Intensity)), classification(l.Find(FieldRole::Classification)),
          angleRank(l.Find(FieldRole::ScanAngleRank)), angle(l.Find(FieldRole::ScanAngle)),
          userData(l.Find(FieldRole::UserData)), source(l.Find(FieldRole::PointSourceId)),
          gps(l.Find(FieldRole::GpsTime)), red(l.Find(FieldRole::Red)), green(l.Find(FieldRole::Green)),
          blue(l.Find(FieldRole::Blue)), nir(l.Find(FieldRole::Nir)),
          waveIndex(l.Find(FieldRole::WavePacketIndex)), waveOffset(l.Find(FieldRole::WaveDataOffset)),
          waveSize(l.Find(FieldRole::WavePacketSize)), waveLocation(l.Find(FieldRole::WaveReturnLocation)),
          waveXt(l.Find(FieldRole::WaveXt)), waveYt(l.Find(FieldRole::WaveYt)), waveZt(l.Find(FieldRole::WaveZt)),
          returnNumber(FindBits(l, "return_number")), returns(FindBits(l, "number_of_returns")),
          direction(FindBits(l, "scan_direction_flag")), edge(FindBits(l, "edge_of_flight_line")),
          classBits(FindBits(l, "classification")), synthetic(FindBits(l, "synthetic")), keyPoint(FindBits(l, "key_point")),
          withheld(FindBits(l, "withheld")), overlap(FindBits(l, "overlap")), channel(FindBits(l, "scanner_channel")) {
        for (const PointField& f : l.fields) {
            if (f.role == FieldRole::Extra) extras.push_back(&f);
        }
    }
    const PointField *x, *y, *z, *intensity, *classification, *angleRank, *angle, *userData, *source, *gps;
    const PointField *red, *green, *blue, *nir;
    const PointField *waveIndex, *waveOffset, *waveSize, *waveLocation, *waveXt, *waveYt, *waveZt;
    BitSlot returnNumber, returns, direction, edge, classBits, synthetic, keyPoint, withheld, overlap, channel;
    std::vector<const PointField*> extras;
};

// One channel's lines across X while the aircraft moves along Y.
struct Sweep {
    int pulsesPerLine = 0;
    int32_t lineWidth = 60000;  // 600 m swath in centimetres
    int32_t xOffset = 0;
    int32_t lineY = 0;
    int pulse = 0;
    int line = 0;
    int direction = 0;
    uint16_t flightLine = 1;
};

// Half the speed of light, metres per picosecond: how far a return lies
// behind another per picosecond of its echo.
constexpr double kMetresPerPs = 0.000149896229;

// One pulse's waveform: a floor, and an echo for each return.
void AppendPacket(std::vector<uint8_t>& out, const WavePacketShape& shape, const std::vector<double>& echoPs,
                  const std::vector<int>& strength, uint64_t pulse) {
    const double top = shape.bitsPerSample == 8 ? 255.0 : 65535.0;
    for (uint32_t k = 0; k < shape.samples; ++k) {
        double v = top * 0.02 + static_cast<double>((pulse * 7 + k * 13) % 5);
        for (std::size_t e = 0; e < echoPs.size(); ++e) {
            const double d = (k * static_cast<double>(shape.spacingPs) - echoPs[e]) / 2500.0;
            v += top * 0.0025 * strength[e] * std::exp(-d * d);
        }
        const auto s = static_cast<uint32_t>(std::clamp(v, 0.0, top));
        out.push_back(static_cast<uint8_t>(s));
        if (shape.bitsPerSample == 16) out.push_back(static_cast<uint8_t>(s >> 8));
    }
}

}  // namespace

bool GenerateLasFile(const std::string& path, const LasGenOptions& opt) {
    LasFileWriter writer;
    if (!writer.Begin(path, opt)) return false;
    const PointLayout& layout = writer.Records();
    const std::size_t recordSize = layout.recordLength;
    const Slots slot(layout);
    const bool extended = layout.Extended();

    Rng rng(opt.seed);
    // What formats 0-3 never had draws from a generator of its own, so that
    // their files stay what they always were.
    Rng more(opt.seed ^ 0x6A09E667F3BCC908ull);
    std::vector<Sweep> sweeps(static_cast<std::size_t>(opt.channels));
    sweeps[0].pulsesPerLine = 180 + static_cast<int>(rng.Below(80));
    for (std::size_t c = 1; c < sweeps.size(); ++c) {
        Sweep& s = sweeps[c];
        s.pulsesPerLine = 150 + static_cast<int>(more.Below(120));
        s.lineWidth = 56000 + static_cast<int32_t>(more.Below(8000));
        s.xOffset = more.Noise(1500);
        s.lineY = static_cast<int32_t>(30 * c);
        s.direction = static_cast<int>(c & 1);
    }
    double gps = 245000.0 + static_cast<double>(opt.seed % 1000);
    uint64_t waveOffset = kWaveformHeaderBytes;
    std::vector<double> echoPs;
    std::vector<int> echoStrength;
    std::vector<uint8_t> packet;

    std::vector<uint8_t> block;
    const std::size_t blockPoints = 65536;
    block.reserve(blockPoints * recordSize);

    uint64_t written = 0;
    for (uint64_t pulses = 0; written < opt.points; ++pulses) {
        const std::size_t channel = pulses % sweeps.size();
        Sweep& s = sweeps[channel];
        // One pulse: position along the line, terrain height, returns.
        const double t = static_cast<double>(s.pulse) / s.pulsesPerLine;
        const double across = s.direction == 0 ? t : 1.0 - t;
        const int32_t x = static_cast<int32_t>(across * s.lineWidth) + rng.Noise(6) + s.xOffset;
        const int32_t y = s.lineY + static_cast<int32_t>(t * 40) + rng.Noise(4);
        const double terrain = 12000.0 + 900.0 * std::sin(x * 0.00021) + 650.0 * std::cos(y * 0.00017);
        const bool vegetated = std::sin(x * 0.0011) * std::cos(y * 0.0009) > 0.2;
        int returns = vegetated ? 1 + static_cast<int>(rng.Below(4)) : (rng.Below(10) == 0 ? 2 : 1);
        // Four bits of returns: now and then a tall canopy gives many.
        if (extended && vegetated && more.Below(20) == 0) returns += 3 + static_cast<int>(more.Below(9));
        const int8_t angle = static_cast<int8_t>(std::lround((across - 0.5) * 40.0));
        const double angleRad = (across - 0.5) * 40.0 * std::numbers::pi / 180.0;
        gps += 0.0000125 + (rng.Below(50) == 0 ? 0.00003 : 0.0);
        // Returns of one pulse share its waveform packet.
        const uint8_t packetIndex = vegetated ? 2 : 1;
        const WavePacketShape& shape = kWavePackets[packetIndex - 1];
        echoPs.clear();
        echoStrength.clear();
        double firstZ = 0.0;

        for (int r = 1; r <= returns && written < opt.points; ++r, ++written) {
            const bool last = r == returns;
            const double canopy = vegetated ? 1500.0 + 300.0 * rng.Unit() : 0.0;
            const double z = last ? terrain + rng.Noise(8)
                                  : terrain + canopy * (1.0 - static_cast<double>(r - 1) / returns) + rng.Noise(40);
            const int32_t zi = static_cast<int32_t>(z);
            const int32_t xi = x + (r - 1) * rng.Noise(3);
            const int32_t yi = y + (r - 1) * rng.Noise(3);

            const std::size_t at = block.size();
            block.resize(at + recordSize, 0);
            uint8_t* p = block.data() + at;
            PutInt(p, slot.x, xi);
            PutInt(p, slot.y, yi);
            PutInt(p, slot.z, zi);
            const int baseIntensity = last ? 260 : 140;
            const int intensity = std::max(0, baseIntensity / r + rng.Noise(25));
            PutInt(p, slot.intensity, static_cast<uint16_t>(intensity));
            PutBits(p, slot.returnNumber, static_cast<unsigned>(r));
            PutBits(p, slot.returns, static_cast<unsigned>(returns));
            PutBits(p, slot.direction, static_cast<unsigned>(s.direction));
            PutBits(p, slot.edge, s.pulse == s.pulsesPerLine - 1 ? 1 : 0);
            uint8_t cls = last ? (vegetated && rng.Below(3) == 0 ? 1 : 2) : static_cast<uint8_t>(3 + std::min(2, r));
            if (rng.Below(997) == 0) cls = 7;  // noise
            // A full byte of classes: now and then one of the user-defined ones.
            if (extended && more.Below(1500) == 0) cls = static_cast<uint8_t>(64 + more.Below(20));
            if (slot.classBits.field != nullptr) PutBits(p, slot.classBits, cls);
            else PutInt(p, slot.classification, cls);
            if (rng.Below(4001) == 0) PutBits(p, slot.withheld, 1);
            if (extended) {
                PutBits(p, slot.channel, static_cast<unsigned>(channel));
                // Swath edges overlap the next line's.
                PutBits(p, slot.overlap, across < 0.04 || across > 0.96 ? 1 : 0);
                if (more.Below(5000) == 0) PutBits(p, slot.synthetic, 1);
                if (last && more.Below(300) == 0) PutBits(p, slot.keyPoint, 1);
            }
            PutInt(p, slot.angleRank, angle);
            PutInt(p, slot.angle, std::lround((across - 0.5) * 40.0 / 0.006));
            PutInt(p, slot.userData, rng.Below(50) == 0 ? rng.Below(4) : 0);
            PutInt(p, slot.source, s.flightLine);
            PutReal(p, slot.gps, gps);
            const double shade = 0.5 + 0.5 * std::sin(xi * 0.0003 + yi * 0.0002);
            const int green = vegetated ? 40000 : 30000;
            PutInt(p, slot.red, std::clamp(static_cast<int>(shade * 36000) + rng.Noise(900), 0, 65535));
            PutInt(p, slot.green, std::clamp(static_cast<int>(shade * green) + rng.Noise(900), 0, 65535));
            PutInt(p, slot.blue, std::clamp(static_cast<int>(shade * 26000) + rng.Noise(900), 0, 65535));
            if (slot.nir != nullptr) {
                // Leaves shine in the near infrared.
                const int nir = static_cast<int>(shade * (vegetated ? 52000 : 21000)) + more.Noise(1200);
                PutInt(p, slot.nir, std::clamp(nir, 0, 65535));
            }
            if (slot.waveIndex != nullptr) {
                if (r == 1) firstZ = z;
                // The echo's time behind the window's start, a sixth of it
                // before the first return.
                const double ps = shape.samples * shape.spacingPs / 6.0 + (firstZ - z) / 100.0 / kMetresPerPs;
                PutInt(p, slot.waveIndex, packetIndex);
                PutInt(p, slot.waveOffset, static_cast<int64_t>(waveOffset));
                PutInt(p, slot.waveSize, shape.Bytes());
                PutReal(p, slot.waveLocation, ps);
                PutReal(p, slot.waveXt, std::sin(angleRad) * kMetresPerPs);
                PutReal(p, slot.waveYt, 0.02 * kMetresPerPs);
                PutReal(p, slot.waveZt, -std::cos(angleRad) * kMetresPerPs);
                echoPs.push_back(ps);
                echoStrength.push_back(intensity);
            }
            for (const PointField* f : slot.extras) {
                if (f->name == "height") PutReal(p, f, (z - terrain) / 100.0);
                else if (f->name == "echo_width") PutInt(p, f, 38 + more.Noise(6) + (last ? 0 : 9));
                else if (f->name == "amplitude") PutReal(p, f, (12.0 + intensity * 0.05 + more.Noise(40) * 0.01) / 0.01);
                else for (std::size_t k = 0; k < f->size; ++k) p[f->offset + k] = static_cast<uint8_t>(more.Next());
            }
            if (block.size() >= blockPoints * recordSize) {
                if (!writer.Add(block.data(), blockPoints)) return false;
                block.clear();
            }
        }
        if (slot.waveIndex != nullptr) {
            waveOffset += shape.Bytes();
            if (opt.internalWaveform) {
                packet.clear();
                AppendPacket(packet, shape, echoPs, echoStrength, pulses);
                writer.AddWaveform(packet.data(), packet.size());
            }
        }
        if (++s.pulse == s.pulsesPerLine) {
            s.pulse = 0;
            s.direction ^= 1;
            s.lineY += 90 + static_cast<int32_t>(rng.Below(20));
            if (++s.line % 400 == 0) {
                ++s.flightLine;
                s.lineY += 5000;
            }
        }
    }
    return writer.Add(block.data(), block.size() / recordSize) && writer.Finish();
}
