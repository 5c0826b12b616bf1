#include "las/LasAdmission.h"

#include <algorithm>
#include <iterator>

#include "las/LasException.h"
#include "las/LasHeader.h"
#include "las/LasMessages.h"

void CheckLasAdmission(const LasHeader& h, int64_t fileSize) {
    auto refuse = [](const Failure& message) { throw CLasException(message, true); };

    // The first byte of the signature is where an entry keeps its marker:
    // any other signature could not come back as it was.
    static constexpr uint8_t kSignature[4] = {'L', 'A', 'S', 'F'};
    if (!std::equal(std::begin(kSignature), std::end(kSignature), h.bytes.begin())) {
        refuse(lasmsg::kSignature);
    }
    if (h.VersionMajor() != 1 || h.VersionMinor() > 2) refuse(lasmsg::kVersion);
    if (h.NumberOfPointRecords() == 0) refuse(lasmsg::kZeroPoints);
    if (h.PointDataFormat() > 3) refuse(lasmsg::kPointFormat);
    // Bytes between 227 and a larger header size are never stored.
    if (h.HeaderSize() != LasHeader::kFileSize) refuse(lasmsg::kHeaderSize);
    // Longer records carry bytes the codecs do not code.
    if (h.PointDataRecordLength() != StandardRecordLength(h.PointDataFormat())) {
        refuse(lasmsg::kRecordLength);
    }
    if (h.Gap() < 0 || static_cast<int64_t>(h.OffsetToPointData()) > fileSize) {
        refuse(lasmsg::kPointOffset);
    }
    const int64_t pointBytes =
        static_cast<int64_t>(h.NumberOfPointRecords()) * h.PointDataRecordLength();
    const int64_t expected = static_cast<int64_t>(h.OffsetToPointData()) + pointBytes;
    if (fileSize < expected) refuse(lasmsg::kTruncated);
    if (fileSize > expected) refuse(lasmsg::kTrailingBytes);
    // Gap bytes without VLRs travel as one block that the entry announces in
    // the header's first byte; a lone point would be stored uncompressed,
    // whose mark takes that same byte, so the file would come back declaring
    // one VLR.
    const bool gapBlock = h.NumberOfVlrs() == 0 && h.Gap() > 0;
    if (gapBlock && h.NumberOfPointRecords() == 1) refuse(lasmsg::kSinglePointGap);
}
