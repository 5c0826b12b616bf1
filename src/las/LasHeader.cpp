#include "las/LasHeader.h"

#include <cstring>

#include "las/ByteOrder.h"

namespace {
// The three runs of the file image and where they go in the aligned image.
constexpr std::size_t kRun1File = 0, kRun1Image = 0, kRun1Len = 105;
constexpr std::size_t kRun2File = 105, kRun2Image = 106, kRun2Len = 26;
constexpr std::size_t kRun3File = 131, kRun3Image = 136, kRun3Len = 96;
static_assert(kRun1Len + kRun2Len + kRun3Len == LasHeader::kFileSize);
static_assert(kRun3Image + kRun3Len == LasHeader::kImageSize);
}  // namespace

LasHeader LasHeader::FromFileImage(const uint8_t* file227) {
    LasHeader h;
    std::memcpy(h.bytes.data() + kRun1Image, file227 + kRun1File, kRun1Len);
    std::memcpy(h.bytes.data() + kRun2Image, file227 + kRun2File, kRun2Len);
    std::memcpy(h.bytes.data() + kRun3Image, file227 + kRun3File, kRun3Len);
    return h;
}

void LasHeader::ToFileImage(uint8_t* out227) const {
    std::memcpy(out227 + kRun1File, bytes.data() + kRun1Image, kRun1Len);
    std::memcpy(out227 + kRun2File, bytes.data() + kRun2Image, kRun2Len);
    std::memcpy(out227 + kRun3File, bytes.data() + kRun3Image, kRun3Len);
}

uint16_t LasHeader::HeaderSize() const { return le::LoadU16(&bytes[kHeaderSize]); }
uint32_t LasHeader::OffsetToPointData() const { return le::LoadU32(&bytes[kOffsetToPointData]); }
uint32_t LasHeader::NumberOfVlrs() const { return le::LoadU32(&bytes[kNumberOfVlrs]); }
void LasHeader::SetNumberOfVlrs(uint32_t n) { le::StoreU32(&bytes[kNumberOfVlrs], n); }
uint16_t LasHeader::PointDataRecordLength() const {
    return le::LoadU16(&bytes[kPointDataRecordLength]);
}
uint32_t LasHeader::NumberOfPointRecords() const {
    return le::LoadU32(&bytes[kNumberOfPointRecords]);
}
void LasHeader::SetNumberOfPointRecords(uint32_t n) {
    le::StoreU32(&bytes[kNumberOfPointRecords], n);
}
double LasHeader::GetDouble(std::size_t offset) const { return le::LoadF64(&bytes[offset]); }
void LasHeader::SetDouble(std::size_t offset, double v) { le::StoreF64(&bytes[offset], v); }
void LasHeader::SetU16(std::size_t offset, uint16_t v) { le::StoreU16(&bytes[offset], v); }
void LasHeader::SetU32(std::size_t offset, uint32_t v) { le::StoreU32(&bytes[offset], v); }

uint16_t StandardRecordLength(uint8_t pointFormat) {
    switch (pointFormat) {
        case 0: return 20;
        case 1: return 28;
        case 2: return 26;
        case 3: return 34;
        default: return 0;
    }
}
