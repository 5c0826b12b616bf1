#include "TestLas.h"

#include <cstring>

namespace testsupport {

namespace {
void Put16(std::vector<uint8_t>& v, std::size_t at, uint32_t x) {
    v[at] = static_cast<uint8_t>(x);
    v[at + 1] = static_cast<uint8_t>(x >> 8);
}
void Put32(std::vector<uint8_t>& v, std::size_t at, uint32_t x) {
    for (int k = 0; k < 4; ++k) v[at + k] = static_cast<uint8_t>(x >> (8 * k));
}
int StandardLength(int format) {
    return format == 0 ? 20 : format == 1 ? 28 : format == 2 ? 26 : 34;
}
}  // namespace

std::vector<uint8_t> BuildLas(const LasBuild& b) {
    const int r = b.recordLength >= 0 ? b.recordLength : StandardLength(b.format);
    std::vector<uint8_t> out(b.headerSize, 0);
    std::memcpy(out.data(), "LASF", 4);
    out[24] = static_cast<uint8_t>(b.versionMajor);
    out[25] = static_cast<uint8_t>(b.versionMinor);
    std::memcpy(&out[26], "TEST", 4);
    Put16(out, 94, b.headerSize);
    Put32(out, 96, static_cast<uint32_t>(b.headerSize + b.gap.size()));
    Put32(out, 100, b.declaredVlrs);
    out[104] = static_cast<uint8_t>(b.format);
    Put16(out, 105, static_cast<uint32_t>(r));
    Put32(out, 107, static_cast<uint32_t>(b.declaredPoints >= 0 ? b.declaredPoints : b.points));
    const double scale = 0.01;
    for (int k = 0; k < 3; ++k) std::memcpy(&out[131 + 8 * k], &scale, 8);
    out.insert(out.end(), b.gap.begin(), b.gap.end());
    uint32_t s = b.seed * 2654435761u + 1;
    for (uint64_t i = 0; i < static_cast<uint64_t>(b.points) * r; ++i) {
        s = s * 1664525u + 1013904223u;
        out.push_back(static_cast<uint8_t>(s >> 24));
    }
    out.insert(out.end(), b.trailing.begin(), b.trailing.end());
    return out;
}

std::vector<uint8_t> MakeVlr(uint16_t recordId, std::size_t payloadBytes, uint8_t fill) {
    std::vector<uint8_t> v(54 + payloadBytes, fill);
    std::memset(v.data(), 0, 54);
    std::memcpy(&v[2], "TESTVLR", 7);
    Put16(v, 18, recordId);
    Put16(v, 20, static_cast<uint32_t>(payloadBytes));
    return v;
}

LasBuild UnstorableLas(uint32_t points) {
    LasBuild b;
    b.versionMinor = 3;
    b.format = 1;
    b.recordLength = 20;
    b.points = points;
    return b;
}

}  // namespace testsupport
