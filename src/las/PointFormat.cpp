#include "las/PointFormat.h"

#include <algorithm>
#include <cstring>

#include "las/ByteOrder.h"

namespace {

constexpr std::size_t kStandardLengths[] = {20, 28, 26, 34, 57, 63, 30, 36, 38, 59, 67};

// Bytes of one Extra Bytes descriptor, and where its type and name lie.
constexpr std::size_t kDescriptorBytes = 192;
constexpr std::size_t kDescriptorType = 2;
constexpr std::size_t kDescriptorOptions = 3;
constexpr std::size_t kDescriptorName = 4;
constexpr std::size_t kDescriptorNameBytes = 32;
// A VLR's header, and where its user id, record id and length lie.
constexpr std::size_t kVlrHeaderBytes = 54;
constexpr std::size_t kVlrUserId = 2;
constexpr std::size_t kVlrRecordId = 18;
constexpr std::size_t kVlrLength = 20;

class Builder {
public:
    explicit Builder(PointLayout& layout) : layout(layout) {}
    // A standard field: its role gives its type.
    Builder& Add(const char* name, FieldRole role, std::vector<BitField> bits = {}) {
        PointField f;
        f.name = name;
        f.role = role;
        f.type = TypeOfRole(role);
        f.offset = at;
        f.size = SizeOf(f.type);
        f.bits = std::move(bits);
        at += f.size;
        layout.fields.push_back(std::move(f));
        return *this;
    }
    std::size_t At() const { return at; }

private:
    PointLayout& layout;
    std::size_t at = 0;
};

void AddCore(Builder& b, bool extended) {
    b.Add("X", FieldRole::X)
        .Add("Y", FieldRole::Y)
        .Add("Z", FieldRole::Z)
        .Add("intensity", FieldRole::Intensity);
    if (!extended) {
        b.Add("return_byte", FieldRole::ReturnByte,
              {{"return_number", 0, 3}, {"number_of_returns", 3, 3}, {"scan_direction_flag", 6, 1},
               {"edge_of_flight_line", 7, 1}})
            .Add("classification", FieldRole::Classification,
                 {{"classification", 0, 5}, {"synthetic", 5, 1}, {"key_point", 6, 1}, {"withheld", 7, 1}})
            .Add("scan_angle_rank", FieldRole::ScanAngleRank)
            .Add("user_data", FieldRole::UserData)
            .Add("point_source_id", FieldRole::PointSourceId);
        return;
    }
    b.Add("returns_byte", FieldRole::ReturnsByte,
          {{"return_number", 0, 4}, {"number_of_returns", 4, 4}})
        .Add("flags_byte", FieldRole::FlagsByte,
             {{"synthetic", 0, 1}, {"key_point", 1, 1}, {"withheld", 2, 1}, {"overlap", 3, 1},
              {"scanner_channel", 4, 2}, {"scan_direction_flag", 6, 1}, {"edge_of_flight_line", 7, 1}})
        .Add("classification", FieldRole::Classification)
        .Add("user_data", FieldRole::UserData)
        .Add("scan_angle", FieldRole::ScanAngle)
        .Add("point_source_id", FieldRole::PointSourceId)
        .Add("gps_time", FieldRole::GpsTime);
}

void AddColour(Builder& b) {
    b.Add("red", FieldRole::Red)
        .Add("green", FieldRole::Green)
        .Add("blue", FieldRole::Blue);
}

void AddWavePacket(Builder& b) {
    b.Add("wavepacket_index", FieldRole::WavePacketIndex)
        .Add("wavepacket_offset", FieldRole::WaveDataOffset)
        .Add("wavepacket_size", FieldRole::WavePacketSize)
        .Add("return_point_wave_location", FieldRole::WaveReturnLocation)
        .Add("x_t", FieldRole::WaveXt)
        .Add("y_t", FieldRole::WaveYt)
        .Add("z_t", FieldRole::WaveZt);
}

// The standard fields of a known format, in record order.
void AddStandard(Builder& b, uint8_t format) {
    const bool extended = format >= 6;
    AddCore(b, extended);
    const bool time = format == 1 || format == 3 || format == 4 || format == 5;
    const bool colour = format == 2 || format == 3 || format == 5 || format == 7 || format == 8 || format == 10;
    if (time) b.Add("gps_time", FieldRole::GpsTime);
    if (colour) AddColour(b);
    if (format == 8 || format == 10) b.Add("nir", FieldRole::Nir);
    if (format == 4 || format == 5 || format == 9 || format == 10) AddWavePacket(b);
}

// The number type of an Extra Bytes data type (1 to 10), or Bytes.
FieldType TypeOfExtra(uint8_t base) {
    static constexpr FieldType kTypes[] = {FieldType::U8,  FieldType::I8,  FieldType::U16, FieldType::I16,
                                           FieldType::U32, FieldType::I32, FieldType::U64, FieldType::I64,
                                           FieldType::F32, FieldType::F64};
    return base >= 1 && base <= 10 ? kTypes[base - 1] : FieldType::Bytes;
}

std::string NameOf(const uint8_t* descriptor) {
    const char* name = reinterpret_cast<const char*>(descriptor + kDescriptorName);
    return std::string(name, strnlen(name, kDescriptorNameBytes));
}

// The fields the descriptors give, or none when they do not describe
// exactly `room` bytes with known types.
std::vector<PointField> DescribedExtras(const std::vector<uint8_t>& vlr, std::size_t start, std::size_t room) {
    std::vector<PointField> fields;
    std::size_t at = start;
    for (std::size_t d = 0; d + kDescriptorBytes <= vlr.size(); d += kDescriptorBytes) {
        const uint8_t* desc = vlr.data() + d;
        const uint8_t type = desc[kDescriptorType];
        const std::string name = NameOf(desc);
        if (type == 0) {
            // Bytes the writer chose not to describe further.
            const std::size_t n = desc[kDescriptorOptions];
            if (n == 0) return {};
            fields.push_back({name, FieldRole::Extra, FieldType::Bytes, at, n, {}});
            at += n;
            continue;
        }
        // 11-20 and 21-30 are pairs and triples of the types 1-10.
        if (type > 30) return {};
        const std::size_t count = type <= 10 ? 1 : type <= 20 ? 2 : 3;
        const FieldType base = TypeOfExtra(static_cast<uint8_t>((type - 1) % 10 + 1));
        for (std::size_t k = 0; k < count; ++k) {
            const std::string part = count == 1 ? name : name + "[" + std::to_string(k) + "]";
            fields.push_back({part, FieldRole::Extra, base, at, SizeOf(base), {}});
            at += SizeOf(base);
        }
    }
    if (at != start + room) return {};
    return fields;
}

}  // namespace

FieldType TypeOfRole(FieldRole role) {
    switch (role) {
        case FieldRole::X:
        case FieldRole::Y:
        case FieldRole::Z:
            return FieldType::I32;
        case FieldRole::Intensity:
        case FieldRole::PointSourceId:
        case FieldRole::Red:
        case FieldRole::Green:
        case FieldRole::Blue:
        case FieldRole::Nir:
            return FieldType::U16;
        case FieldRole::ScanAngleRank:
            return FieldType::I8;
        case FieldRole::ScanAngle:
            return FieldType::I16;
        case FieldRole::GpsTime:
            return FieldType::F64;
        case FieldRole::WaveDataOffset:
            return FieldType::U64;
        case FieldRole::WavePacketSize:
            return FieldType::U32;
        case FieldRole::WaveReturnLocation:
        case FieldRole::WaveXt:
        case FieldRole::WaveYt:
        case FieldRole::WaveZt:
            return FieldType::F32;
        case FieldRole::Extra:
            return FieldType::Bytes;
        default:  // the bytes of returns, flags and classification, user data, wave packet index
            return FieldType::U8;
    }
}

std::size_t SizeOf(FieldType type) {
    switch (type) {
        case FieldType::U8:
        case FieldType::I8:
            return 1;
        case FieldType::U16:
        case FieldType::I16:
            return 2;
        case FieldType::U32:
        case FieldType::I32:
        case FieldType::F32:
            return 4;
        case FieldType::U64:
        case FieldType::I64:
        case FieldType::F64:
            return 8;
        case FieldType::Bytes:
            return 0;
    }
    return 0;
}

const PointField* PointLayout::Find(FieldRole role) const {
    for (const PointField& f : fields) {
        if (f.role == role) return &f;
    }
    return nullptr;
}

bool IsKnownPointFormat(uint8_t format) { return format < std::size(kStandardLengths); }

std::size_t StandardLength(uint8_t format) { return IsKnownPointFormat(format) ? kStandardLengths[format] : 0; }

PointLayout DescribePoints(uint8_t format, std::size_t recordLength, const std::vector<uint8_t>& extraBytesVlr) {
    PointLayout layout;
    layout.format = format;
    layout.standardLength = StandardLength(format);
    layout.recordLength = recordLength;
    if (!IsKnownPointFormat(format) || recordLength < layout.standardLength) return layout;
    Builder b(layout);
    AddStandard(b, format);
    const std::size_t room = recordLength - layout.standardLength;
    if (room == 0) return layout;
    std::vector<PointField> extras = DescribedExtras(extraBytesVlr, b.At(), room);
    if (extras.empty()) extras.push_back({"extra_bytes", FieldRole::Extra, FieldType::Bytes, b.At(), room, {}});
    layout.fields.insert(layout.fields.end(), extras.begin(), extras.end());
    return layout;
}

std::vector<uint8_t> FindExtraBytesVlr(const uint8_t* vlrArea, std::size_t size, uint32_t vlrCount) {
    static constexpr char kUserId[] = "LASF_Spec";
    std::size_t at = 0;
    for (uint32_t v = 0; v < vlrCount && at + kVlrHeaderBytes <= size; ++v) {
        const uint8_t* h = vlrArea + at;
        const std::size_t length = le::LoadU16(h + kVlrLength);
        const bool standardRecord = std::memcmp(h + kVlrUserId, kUserId, sizeof kUserId) == 0;
        if (standardRecord && le::LoadU16(h + kVlrRecordId) == 4 && at + kVlrHeaderBytes + length <= size) {
            return std::vector<uint8_t>(h + kVlrHeaderBytes, h + kVlrHeaderBytes + length);
        }
        at += kVlrHeaderBytes + length;
    }
    return {};
}

PointLayout DescribeFileRecords(const LasFileLayout& l, const std::vector<uint8_t>& head, std::size_t maxFields) {
    std::vector<uint8_t> vlr;
    if (head.size() > l.headerSize) {
        vlr = FindExtraBytesVlr(head.data() + l.headerSize, head.size() - l.headerSize, l.vlrCount);
    }
    PointLayout layout = DescribePoints(l.PointFormat(), l.recordLength, vlr);
    if (layout.fields.empty() || layout.fields.size() > maxFields) {
        layout.fields.clear();
        layout.fields.push_back({"record", FieldRole::Extra, FieldType::Bytes, 0, l.recordLength, {}});
    }
    return layout;
}
