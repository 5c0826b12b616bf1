#include "lib/Dimensions.h"

#include <cstring>

#include "las/ByteOrder.h"

namespace velmora::detail {

Scaling ScalingOf(const LasFacts& facts) {
    Scaling s;
    for (int a = 0; a < 3; ++a) {
        s.scale[a] = facts.scale[a];
        s.offset[a] = facts.offset[a];
    }
    return s;
}

std::vector<Dimension> DimensionsOf(const PointLayout& layout) {
    std::vector<Dimension> dims;
    for (const PointField& f : layout.fields) {
        if (!f.bits.empty()) {
            for (const BitField& b : f.bits) {
                dims.push_back({{b.name, FieldType::U8, 1}, f.role, f.offset, b.shift, b.width, -1});
            }
            continue;
        }
        dims.push_back({{f.name, static_cast<FieldType>(f.type), f.size}, f.role, f.offset, 0, 0, -1});
    }
    const FieldRole axes[3] = {FieldRole::X, FieldRole::Y, FieldRole::Z};
    const char* names[3] = {"x", "y", "z"};
    for (int a = 0; a < 3; ++a) {
        const PointField* f = layout.Find(axes[a]);
        if (!f) break;
        dims.push_back({{names[a], FieldType::F64, 8}, axes[a], f->offset, 0, 0, a});
    }
    return dims;
}

void Extract(const Dimension& d, const Scaling& s, const uint8_t* records, std::size_t recordLength,
             std::size_t count, uint8_t* out) {
    const uint8_t* p = records + d.offset;
    if (d.axis >= 0) {
        const double scale = s.scale[d.axis], offset = s.offset[d.axis];
        for (std::size_t i = 0; i < count; ++i, p += recordLength) {
            const double v = static_cast<double>(static_cast<int32_t>(le::LoadU32(p))) * scale + offset;
            std::memcpy(out + i * 8, &v, 8);
        }
    } else if (d.width > 0) {
        const auto mask = static_cast<uint8_t>((1u << d.width) - 1);
        for (std::size_t i = 0; i < count; ++i, p += recordLength) out[i] = static_cast<uint8_t>(*p >> d.shift) & mask;
    } else {
        // Little-endian in the file and on every machine this builds for.
        const std::size_t n = d.info.size;
        for (std::size_t i = 0; i < count; ++i, p += recordLength) std::memcpy(out + i * n, p, n);
    }
}

}  // namespace velmora::detail
