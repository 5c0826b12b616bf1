#include "LasTiler.h"

#include <algorithm>
#include <limits>
#include <vector>

#include "las/ByteOrder.h"
#include "las/FileIo.h"
#include "las/LasException.h"
#include "las/LasMessages.h"

namespace {

// Header fields, at their offsets in the file.
constexpr std::size_t kLegacyCount = 107, kLegacyByReturn = 111, kScaleX = 131, kMaxX = 179;
constexpr std::size_t kWaveformStart = 227, kEvlrStart = 235, kPointCount = 247, kByReturn = 255;
constexpr std::size_t kLas14Header = 375;

bool HasLas14Counts(const LasFileLayout& l) {
    return l.versionMajor == 1 && l.versionMinor >= 4 && l.headerSize >= kLas14Header;
}

// A start that lay behind the points moves with them; one that did not
// (absent, or pointing elsewhere) is left as it was.
void MoveStart(uint8_t* at, int64_t pointsEnd, uint64_t moved) {
    const uint64_t start = le::LoadU64(at);
    if (start != 0 && start >= static_cast<uint64_t>(pointsEnd)) le::StoreU64(at, start + moved);
}

}  // namespace

bool TileCountFits(const LasFileLayout& layout, long count) {
    const uint64_t n = layout.pointCount;
    const uint64_t limit =
        HasLas14Counts(layout) ? std::numeric_limits<uint64_t>::max() : std::numeric_limits<uint32_t>::max();
    return count >= 1 && (n == 0 || static_cast<uint64_t>(count) <= limit / n);
}

void TileHeader(uint8_t* header, const LasFileLayout& layout, uint64_t copies, int64_t shift) {
    const uint64_t total = layout.pointCount * copies;
    // LAS 1.4 keeps its 32-bit counts only while the total fits them.
    const bool legacyFits = total <= std::numeric_limits<uint32_t>::max();
    const bool las14 = HasLas14Counts(layout);
    const uint64_t legacyCopies = las14 && !legacyFits ? 0 : copies;
    le::StoreU32(header + kLegacyCount, static_cast<uint32_t>(le::LoadU32(header + kLegacyCount) * legacyCopies));
    for (std::size_t k = 0; k < 5; ++k) {
        uint8_t* at = header + kLegacyByReturn + 4 * k;
        le::StoreU32(at, static_cast<uint32_t>(le::LoadU32(at) * legacyCopies));
    }
    if (las14) {
        le::StoreU64(header + kPointCount, total);
        for (std::size_t k = 0; k < 15; ++k) {
            uint8_t* at = header + kByReturn + 8 * k;
            le::StoreU64(at, le::LoadU64(at) * copies);
        }
    }
    const uint64_t moved = (copies - 1) * layout.pointCount * layout.recordLength;
    if (layout.waveformStart != 0) MoveStart(header + kWaveformStart, layout.PointsEnd(), moved);
    if (layout.evlrStart != 0) MoveStart(header + kEvlrStart, layout.PointsEnd(), moved);
    const double scale = le::LoadF64(header + kScaleX);
    const long lastCopy = static_cast<long>(copies) - 1;
    le::StoreF64(header + kMaxX, le::LoadF64(header + kMaxX) + scale * shift * lastCopy);
}

TileResult TileLasFile(const std::string& inPath, long count, const std::string& outPath) {
    CFile src;
    if (!src.Open(inPath, "rb")) throw CLasException(lasmsg::kReadOpen);
    const int64_t fileSize = src.Size();
    std::vector<uint8_t> head(static_cast<std::size_t>(std::min<int64_t>(fileSize, kLasLayoutBytes)));
    if (!src.ReadExact(head.data(), head.size())) throw CLasException(lasmsg::kReadHeader);
    const LasFileLayout layout = ReadLasLayout(head.data(), head.size(), fileSize);
    if (!TileCountFits(layout, count)) return TileResult::CountOutOfRange;
    const uint64_t n = layout.pointCount;
    const std::size_t r = layout.recordLength;

    std::vector<uint8_t> prefix(layout.offsetToPoints);
    std::vector<uint8_t> points(n * r);
    std::vector<uint8_t> tail(static_cast<std::size_t>(layout.TailBytes()));
    if (!src.Seek(0) || !src.ReadExact(prefix.data(), prefix.size()) || !src.ReadExact(points.data(), points.size()) ||
        !src.ReadExact(tail.data(), tail.size())) {
        throw CLasException(lasmsg::kReadPoints);
    }
    int32_t minX = std::numeric_limits<int32_t>::max(), maxX = std::numeric_limits<int32_t>::min();
    for (uint64_t i = 0; i < n; ++i) {
        const int32_t x = le::LoadI32(&points[i * r]);
        minX = std::min(minX, x);
        maxX = std::max(maxX, x);
    }
    // Copies of no points lie nowhere: their bounds stay as they were.
    const int64_t shift = n == 0 ? 0 : static_cast<int64_t>(maxX) - minX + 1;
    TileHeader(prefix.data(), layout, static_cast<uint64_t>(count), shift);

    CFile dst(outPath, "wb");
    if (!dst.Write(prefix.data(), prefix.size())) throw CLasException(lasmsg::kWriteHeader);
    std::vector<uint8_t> copy(points.size());
    for (long c = 0; c < count; ++c) {
        copy = points;
        for (uint64_t i = 0; i < n; ++i) {
            uint8_t* p = &copy[i * r];
            le::StoreI32(p, static_cast<int32_t>(le::LoadI32(p) + shift * c));
        }
        if (!dst.Write(copy.data(), copy.size())) throw CLasException(lasmsg::kWritePoint);
    }
    if (!dst.Write(tail.data(), tail.size()) || !dst.Close()) throw CLasException(lasmsg::kWritePoint);
    return TileResult::Done;
}
