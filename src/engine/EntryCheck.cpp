#include "engine/EntryCheck.h"
#include "engine/EntryMarkers.h"

#include "engine/ByteStreamCoder.h"
#include "engine/ChunkPlan.h"
#include "engine/EngineMessages.h"
#include "las/LasException.h"
#include "las/LasHeader.h"

void CheckEntry(const LasHeader& h, int64_t extent) {
    const int64_t head = static_cast<int64_t>(LasHeader::kImageSize);
    if (extent < head) throw CLasException(enginemsg::kEntryHeader);
    const uint8_t marker = h.Marker();
    if (marker != entrymarker::kLas && marker != entrymarker::kGap && marker != entrymarker::kRaw) {
        throw CLasException(enginemsg::kEntryHeader);
    }
    const uint8_t format = h.PointDataFormat();
    if (format > 3) throw CLasException(enginemsg::kEntryFormat);
    // Only files with the standard record length are taken in, and coding
    // keeps only the standard fields; any other length would also size a
    // chunk from two arbitrary bytes.
    const uint16_t r = h.PointDataRecordLength();
    if (r != StandardRecordLength(format)) throw CLasException(enginemsg::kEntryRecordLength);
    const int64_t vlrBytes = h.NumberOfVlrs() != 0 ? h.Gap() : 0;
    if (vlrBytes < 0 || vlrBytes > extent - head) throw CLasException(enginemsg::kEntryHeader);
    const int64_t pointBytes = extent - head - vlrBytes;
    const uint32_t n = h.NumberOfPointRecords();
    if (marker == entrymarker::kRaw) {
        if (static_cast<int64_t>(n) * r > pointBytes) throw CLasException(enginemsg::kReadPoints);
        return;
    }
    // A value block needs at least two values, so fewer points cannot have
    // been coded; every codec run of a chunk is at least one byte stream of
    // its counts, a coded byte and the end marker.
    const int64_t smallestRun = static_cast<int64_t>(bytestream::kCountBytes) + 1 + 3;
    if (n < 2 || int64_t{chunkplan::ChunkCount(n)} * chunkplan::RowsPerChunk(format) * smallestRun > pointBytes) {
        throw CLasException(enginemsg::kStreamNotFound);
    }
}
