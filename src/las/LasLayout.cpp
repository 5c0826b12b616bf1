#include "las/LasLayout.h"

#include <algorithm>

#include "las/ByteOrder.h"
#include "las/LasException.h"
#include "las/LasMessages.h"
#include "las/PointFormat.h"

namespace {

// Offsets of the public header block's fields, the same in every version.
constexpr std::size_t kVersionMajor = 24;
constexpr std::size_t kVersionMinor = 25;
constexpr std::size_t kHeaderSize = 94;
constexpr std::size_t kOffsetToPoints = 96;
constexpr std::size_t kVlrCount = 100;
constexpr std::size_t kPointFormat = 104;
constexpr std::size_t kRecordLength = 105;
constexpr std::size_t kLegacyCount = 107;
// Fields that LAS 1.3 and 1.4 added after the 227 bytes of older headers.
constexpr std::size_t kOldHeaderBytes = 227;
constexpr std::size_t kWaveformStart = 227;
constexpr std::size_t kEvlrStart = 235;
constexpr std::size_t kEvlrCount = 243;
constexpr std::size_t kPointCount = 247;

[[noreturn]] void Refuse(const Failure& message) { throw CLasException(message, true); }

}  // namespace

int64_t LasFileLayout::PointsEnd() const {
    // Checked by ReadLasLayout to stay within the file, so it cannot wrap.
    return static_cast<int64_t>(offsetToPoints) + static_cast<int64_t>(pointCount * recordLength);
}

LasFileLayout ReadLasLayout(const uint8_t* head, std::size_t headBytes, int64_t fileSize) {
    static constexpr uint8_t kSignature[4] = {'L', 'A', 'S', 'F'};
    if (headBytes < sizeof kSignature || !std::equal(kSignature, kSignature + 4, head)) {
        Refuse(lasmsg::kSignature);
    }
    if (headBytes < kOldHeaderBytes || fileSize < static_cast<int64_t>(kOldHeaderBytes)) {
        Refuse(lasmsg::kShortHeader);
    }
    LasFileLayout l;
    l.fileSize = fileSize;
    l.versionMajor = head[kVersionMajor];
    l.versionMinor = head[kVersionMinor];
    l.headerSize = le::LoadU16(head + kHeaderSize);
    l.offsetToPoints = le::LoadU32(head + kOffsetToPoints);
    l.vlrCount = le::LoadU32(head + kVlrCount);
    l.pointFormatByte = head[kPointFormat];
    l.recordLength = le::LoadU16(head + kRecordLength);
    l.legacyPointCount = le::LoadU32(head + kLegacyCount);
    l.pointCount = l.legacyPointCount;
    // A header's own size says which of the later fields it carries.
    if (l.headerSize < kOldHeaderBytes || fileSize < l.headerSize) Refuse(lasmsg::kShortHeader);
    const bool v13 = l.versionMajor == 1 && l.versionMinor >= 3;
    const bool v14 = l.versionMajor == 1 && l.versionMinor >= 4;
    if (v13 && l.headerSize >= kEvlrStart && headBytes >= kEvlrStart) {
        l.waveformStart = le::LoadU64(head + kWaveformStart);
    }
    if (v14 && l.headerSize >= kLasLayoutBytes && headBytes >= kLasLayoutBytes) {
        l.evlrStart = le::LoadU64(head + kEvlrStart);
        l.evlrCount = le::LoadU32(head + kEvlrCount);
        l.pointCount = le::LoadU64(head + kPointCount);
    }
    if (l.offsetToPoints < l.headerSize || l.offsetToPoints > fileSize) Refuse(lasmsg::kPointOffset);
    const uint8_t format = l.PointFormat();
    if (IsKnownPointFormat(format) && l.recordLength < StandardLength(format)) {
        Refuse(lasmsg::kShortRecords);
    }
    if (l.pointCount > 0 && l.recordLength == 0) Refuse(lasmsg::kShortRecords);
    // In 64 bits the records' bytes cannot wrap before they are compared.
    const uint64_t room = static_cast<uint64_t>(fileSize - l.offsetToPoints);
    if (l.recordLength > 0 && l.pointCount > room / l.recordLength) Refuse(lasmsg::kTruncated);
    return l;
}
