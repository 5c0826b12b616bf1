// The frame of a generated LAS file: header of each version, VLRs, the
// records as they come, and what follows them.
#include <algorithm>
#include <cstring>
#include <numeric>
#include <vector>

#include "LasGenerator.h"
#include "las/ByteOrder.h"

namespace {

struct Vlr {
    std::string userId;
    uint16_t recordId;
    std::string description;
    std::vector<uint8_t> payload;
};

// Formats 6-10 must give their coordinate system as WKT; older ones had the
// GeoTIFF keys. Both name UTM zone 10N on NAD83.
constexpr char kWkt[] =
    "PROJCS[\"NAD83 / UTM zone 10N\",GEOGCS[\"NAD83\",DATUM[\"North_American_Datum_1983\","
    "SPHEROID[\"GRS 1980\",6378137,298.257222101]],PRIMEM[\"Greenwich\",0],"
    "UNIT[\"degree\",0.0174532925199433]],PROJECTION[\"Transverse_Mercator\"],"
    "PARAMETER[\"latitude_of_origin\",0],PARAMETER[\"central_meridian\",-123],"
    "PARAMETER[\"scale_factor\",0.9996],PARAMETER[\"false_easting\",500000],"
    "PARAMETER[\"false_northing\",0],UNIT[\"metre\",1],AUTHORITY[\"EPSG\",\"26910\"]]";

std::vector<Vlr> MakeVlrs(int count, bool wkt) {
    std::vector<Vlr> vlrs;
    for (int i = 0; i < count; ++i) {
        Vlr v;
        switch (i % 3) {
            case 0: {
                v.userId = "LASF_Projection";
                if (wkt) {
                    v.recordId = 2112;
                    v.description = "OGC coordinate system WKT";
                    v.payload.assign(kWkt, kWkt + sizeof kWkt);
                    break;
                }
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

// EVLRs hold what a VLR's 16-bit length cannot: every third one here is a
// trajectory larger than that.
std::vector<Vlr> MakeEvlrs(int count) {
    std::vector<Vlr> evlrs;
    for (int i = 0; i < count; ++i) {
        Vlr v;
        if (i % 3 == 0) {
            v = {"LASF_Projection", 2112, "OGC coordinate system WKT", {}};
            v.payload.assign(kWkt, kWkt + sizeof kWkt);
        } else if (i % 3 == 1) {
            v = {"Velmora", static_cast<uint16_t>(2000 + i), "Trajectory", {}};
            v.payload.resize(66000 + 8 * i);
            for (std::size_t k = 0; k < v.payload.size(); ++k) v.payload[k] = static_cast<uint8_t>(k % 251 + i);
        } else {
            v = {"LASF_Spec", 3, "Text area description", {}};
            const char text[] = "Processing history: strip adjustment, classification";
            v.payload.assign(text, text + sizeof text);
        }
        evlrs.push_back(std::move(v));
    }
    return evlrs;
}

constexpr double kScale = 0.01;
constexpr double kOffX = 635000.0, kOffY = 848000.0, kOffZ = 0.0;

// Offsets in the header of LAS 1.3 and 1.4 beyond the 227 bytes of older
// ones, counted from byte 227.
constexpr std::size_t kClassicHeader = 227;
constexpr std::size_t kWaveformStart = 0, kEvlrStart = 8, kEvlrCount = 16, kPointCount = 20, kByReturn = 28;
constexpr std::size_t kGlobalEncoding = 6;
constexpr uint16_t kWaveInternal = 1 << 1, kWaveExternal = 1 << 2, kWktBit = 1 << 4;

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

std::vector<uint8_t> EvlrHeader(const std::string& userId, uint16_t recordId, uint64_t length,
                                const std::string& description) {
    std::vector<uint8_t> out(60, 0);
    PutText(&out[2], 16, userId);
    le::StoreU16(&out[18], recordId);
    le::StoreU64(&out[20], length);
    PutText(&out[28], 32, description);
    return out;
}

bool HasWavePackets(int format) { return format == 4 || format == 5 || format == 9 || format == 10; }

// A header whose version's own fields follow the 227 bytes.
bool OwnHeader(const LasGenOptions& o) { return o.versionHeader || o.format >= 4; }
std::size_t HeaderSize(const LasGenOptions& o) {
    const std::size_t own = !OwnHeader(o) ? kClassicHeader : o.versionMinor >= 4 ? 375 : o.versionMinor == 3 ? 235 : 227;
    return own + static_cast<std::size_t>(o.headerExtraBytes);
}

// One Extra Bytes descriptor: type, options, name, and a scale if it has one.
std::vector<uint8_t> Descriptor(uint8_t type, uint8_t options, const char* name, const char* description,
                                double scale = 0.0) {
    std::vector<uint8_t> d(192, 0);
    d[2] = type;
    d[3] = options;
    PutText(&d[4], 32, name);
    PutText(&d[160], 32, description);
    if (scale != 0.0) le::StoreF64(&d[112], scale);  // offset (at 136) stays 0
    return d;
}

// The descriptors of n extra bytes: each of the typed fields that still fits,
// then the rest as runs of plain bytes.
std::vector<uint8_t> ExtraBytesDescriptors(int n) {
    std::vector<uint8_t> vlr;
    auto add = [&](const std::vector<uint8_t>& d) { vlr.insert(vlr.end(), d.begin(), d.end()); };
    int left = n;
    if (left >= 4) add(Descriptor(9, 0, "height", "Height above ground (m)")), left -= 4;
    if (left >= 2) add(Descriptor(4, 0, "echo_width", "Echo width (0.1 ns)")), left -= 2;
    // Options: scale and offset given.
    if (left >= 4) add(Descriptor(6, 0x18, "amplitude", "Amplitude (dB)", 0.01)), left -= 4;
    for (int k = 0; left > 0; ++k) {
        const int run = std::min(left, 255);
        add(Descriptor(0, static_cast<uint8_t>(run), ("raw" + std::to_string(k)).c_str(), "Scanner bytes"));
        left -= run;
    }
    return vlr;
}

Vlr WavePacketDescriptor(std::size_t k) {
    const WavePacketShape& s = kWavePackets[k];
    Vlr v{"LASF_Spec", static_cast<uint16_t>(100 + k), "Waveform packet descriptor", std::vector<uint8_t>(26, 0)};
    v.payload[0] = s.bitsPerSample;
    v.payload[1] = 0;  // not compressed
    le::StoreU32(&v.payload[2], s.samples);
    le::StoreU32(&v.payload[6], s.spacingPs);
    le::StoreF64(&v.payload[10], 0.0125);  // digitizer gain
    le::StoreF64(&v.payload[18], -1.5);    // digitizer offset
    return v;
}

}  // namespace

const char* LasGenProblem(const LasGenOptions& o) {
    if (o.format < 0 || o.format > 10) return "the point format must be 0 to 10";
    // The 227-byte header is written whatever the version byte says, as it
    // always was; the others only for the versions that have them.
    if (OwnHeader(o) && (o.versionMinor < 0 || o.versionMinor > 4)) return "the version must be 1.0 to 1.4";
    if ((o.format == 4 || o.format == 5) && o.versionMinor < 3) return "formats 4 and 5 need LAS 1.3 or 1.4";
    if (o.format >= 6 && o.versionMinor < 4) return "formats 6 to 10 need LAS 1.4";
    if (o.headerExtraBytes < 0 || o.extraBytes < 0 || o.evlrCount < 0 || o.tailBytes < 0) {
        return "byte counts cannot be negative";
    }
    if (HeaderSize(o) > 0xFFFF) return "the header cannot be longer than 65535 bytes";
    if (StandardLength(static_cast<uint8_t>(o.format)) + static_cast<std::size_t>(o.extraBytes) > 0xFFFF) {
        return "a record cannot be longer than 65535 bytes";
    }
    if (o.channels < 1 || o.channels > 4) return "there are 1 to 4 scanner channels";
    if (o.channels > 1 && o.format < 6) return "scanner channels need formats 6 to 10";
    const bool v14Header = OwnHeader(o) && o.versionMinor == 4;
    if (o.evlrCount > 0 && !v14Header) return "EVLRs need LAS 1.4 and its header";
    if (o.internalWaveform && !HasWavePackets(o.format)) return "waveform data needs format 4, 5, 9 or 10";
    if (!v14Header && o.points > 0xFFFFFFFFull) return "more than 4294967295 points need LAS 1.4 and its header";
    return nullptr;
}

bool LasFileWriter::Begin(const std::string& path, const LasGenOptions& layout) {
    if (LasGenProblem(layout)) return false;
    options = layout;
    const int format = layout.format;
    const uint8_t formatByte = static_cast<uint8_t>(format);
    const std::vector<uint8_t> extraBytes = ExtraBytesDescriptors(layout.extraBytes);
    records = DescribePoints(formatByte, StandardLength(formatByte) + layout.extraBytes, extraBytes);
    const PointField* returns = records.Find(records.Extended() ? FieldRole::ReturnsByte : FieldRole::ReturnByte);
    returnAt = returns->offset;
    returnMask = records.Extended() ? 0x0F : 0x07;

    std::vector<Vlr> vlrs = MakeVlrs(layout.vlrCount, format >= 6);
    if (layout.extraBytes > 0 && layout.describeExtraBytes) {
        vlrs.push_back({"LASF_Spec", 4, "Extra bytes", extraBytes});
    }
    if (HasWavePackets(format)) {
        for (std::size_t k = 0; k < std::size(kWavePackets); ++k) vlrs.push_back(WavePacketDescriptor(k));
    }
    std::vector<uint8_t> vlrBytes;
    for (const Vlr& v : vlrs) {
        const auto b = SerializeVlr(v);
        vlrBytes.insert(vlrBytes.end(), b.begin(), b.end());
    }
    vlrBytes.resize(vlrBytes.size() + static_cast<std::size_t>(std::max(0, layout.extraGapBytes)), 0);

    const std::size_t headerSize = HeaderSize(layout);
    headerMore.assign(headerSize - kClassicHeader, 0);
    // The bytes past the version's fields: something a reader can tell was kept.
    const std::size_t extraAt = headerMore.size() - static_cast<std::size_t>(layout.headerExtraBytes);
    for (std::size_t k = extraAt; k < headerMore.size(); ++k) headerMore[k] = static_cast<uint8_t>(0xA5 ^ (k * 13));

    std::memcpy(header.bytes.data(), "LASF", 4);
    uint16_t encoding = 0;
    if (HasWavePackets(format)) encoding |= layout.internalWaveform ? kWaveInternal : kWaveExternal;
    if (format >= 6) encoding |= kWktBit;
    header.SetU16(kGlobalEncoding, encoding);
    header.bytes[LasHeader::kVersionMajor] = 1;
    header.bytes[LasHeader::kVersionMinor] = static_cast<uint8_t>(layout.versionMinor);
    PutText(&header.bytes[26], 32, "VELMORA SYNTHETIC");
    PutText(&header.bytes[58], 32, "velmora-gen");
    header.SetU16(90, 123);
    header.SetU16(92, 2026);
    header.SetU16(LasHeader::kHeaderSize, static_cast<uint16_t>(headerSize));
    header.SetU32(LasHeader::kOffsetToPointData, static_cast<uint32_t>(headerSize + vlrBytes.size()));
    header.SetNumberOfVlrs(static_cast<uint32_t>(vlrs.size()));
    header.bytes[LasHeader::kPointDataFormat] = formatByte;
    header.SetU16(LasHeader::kPointDataRecordLength, static_cast<uint16_t>(records.recordLength));
    for (int k = 0; k < 3; ++k) header.SetDouble(LasHeader::kScaleX + 8 * k, kScale);
    header.SetDouble(LasHeader::kOffsetX, kOffX);
    header.SetDouble(LasHeader::kOffsetX + 8, kOffY);
    header.SetDouble(LasHeader::kOffsetX + 16, kOffZ);

    return file.Open(path, "wb") && WriteHeader() && file.Write(vlrBytes.data(), vlrBytes.size());
}

bool LasFileWriter::WriteHeader() {
    uint8_t image[LasHeader::kFileSize];
    header.ToFileImage(image);
    return file.Write(image, sizeof image) && file.Write(headerMore.data(), headerMore.size());
}

bool LasFileWriter::Add(const uint8_t* records_, std::size_t count) {
    const std::size_t r = records.recordLength;
    for (std::size_t i = 0; i < count; ++i) {
        const uint8_t* p = records_ + i * r;
        const int32_t x = le::LoadI32(p), y = le::LoadI32(p + 4), z = le::LoadI32(p + 8);
        minX = std::min(minX, x); maxX = std::max(maxX, x);
        minY = std::min(minY, y); maxY = std::max(maxY, y);
        minZ = std::min(minZ, z); maxZ = std::max(maxZ, z);
        const int ret = p[returnAt] & returnMask;
        if (ret >= 1) ++byReturn[ret - 1];
    }
    points += count;
    return file.Write(records_, count * r);
}

void LasFileWriter::AddWaveform(const uint8_t* samples, std::size_t n) {
    waveform.insert(waveform.end(), samples, samples + n);
}

bool LasFileWriter::Finish() {
    // What follows the points: the waveform data record (the first EVLR of
    // LAS 1.4), the other EVLRs, then bytes of no record.
    uint64_t at = header.OffsetToPointData() + points * records.recordLength;
    uint64_t waveformStart = 0, evlrStart = 0;
    uint32_t evlrs = 0;
    auto evlr = [&](const std::vector<uint8_t>& head, const std::vector<uint8_t>& payload) {
        if (evlrs++ == 0) evlrStart = at;
        at += head.size() + payload.size();
        return file.Write(head.data(), head.size()) && file.Write(payload.data(), payload.size());
    };
    if (options.internalWaveform) {
        waveformStart = at;
        if (!evlr(EvlrHeader("LASF_Spec", 65535, waveform.size(), "Waveform data"), waveform)) return false;
    }
    for (const Vlr& v : MakeEvlrs(options.evlrCount)) {
        if (!evlr(EvlrHeader(v.userId, v.recordId, v.payload.size(), v.description), v.payload)) return false;
    }
    std::vector<uint8_t> tail(static_cast<std::size_t>(options.tailBytes));
    for (std::size_t k = 0; k < tail.size(); ++k) tail[k] = static_cast<uint8_t>(k * 31 + 17);
    if (!file.Write(tail.data(), tail.size())) return false;

    // Counts and bounds are known only now: write the header again. A LAS
    // 1.4 header counts in 64 bits, and keeps the older 32-bit counts only
    // for formats 0-5 whose count fits them.
    const bool v13 = OwnHeader(options) && options.versionMinor >= 3;
    const bool v14 = OwnHeader(options) && options.versionMinor >= 4;
    const bool legacy = !v14 || (options.format < 6 && points <= 0xFFFFFFFFull);
    header.SetNumberOfPointRecords(legacy ? static_cast<uint32_t>(points) : 0);
    for (int k = 0; k < 5; ++k) {
        uint64_t n = byReturn[k];
        // Older headers have five counts: the fifth takes every later return.
        if (!v14 && k == 4) n = std::accumulate(byReturn + 4, byReturn + 15, uint64_t{0});
        header.SetU32(LasHeader::kPointsByReturn + 4 * k, legacy ? static_cast<uint32_t>(n) : 0);
    }
    if (v13) le::StoreU64(&headerMore[kWaveformStart], waveformStart);
    if (v14) {
        le::StoreU64(&headerMore[kEvlrStart], evlrStart);
        le::StoreU32(&headerMore[kEvlrCount], evlrs);
        le::StoreU64(&headerMore[kPointCount], points);
        for (int k = 0; k < 15; ++k) le::StoreU64(&headerMore[kByReturn + 8 * k], byReturn[k]);
    }
    if (points > 0) {
        header.SetDouble(LasHeader::kMaxX, maxX * kScale + kOffX);
        header.SetDouble(LasHeader::kMinX, minX * kScale + kOffX);
        header.SetDouble(LasHeader::kMaxY, maxY * kScale + kOffY);
        header.SetDouble(LasHeader::kMinY, minY * kScale + kOffY);
        header.SetDouble(LasHeader::kMaxZ, maxZ * kScale + kOffZ);
        header.SetDouble(LasHeader::kMinZ, minZ * kScale + kOffZ);
    }
    if (!file.Seek(0) || !WriteHeader()) return false;
    return file.Close();
}
