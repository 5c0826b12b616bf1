#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "las/FileIo.h"
#include "las/LasFacts.h"
#include "las/PointFormat.h"

// Where a point reader's records come from: an entry of an archive, decoded,
// or a LAS file on disk, read as it lies. The reader cuts either into chunks
// and columns the same way.
namespace velmora::detail {

class RecordSource {
public:
    virtual ~RecordSource() = default;
    // The LAS file's first bytes (header block and VLRs, as far as they are
    // kept) and the layout read from them.
    virtual const std::vector<uint8_t>& Head() const = 0;
    virtual const LasFileLayout& Layout() const = 0;
    // The next records (count of them, Layout().recordLength bytes each)
    // into records; false at the end. Throws CLasException for records
    // that cannot be given as the file holds them.
    virtual bool Next(std::vector<uint8_t>& records, std::size_t& count) = 0;
};

// The records of an entry (index: its place in the directory, which must
// bear the name; -1 for the first of the name), exact in the fields of
// roles (every field when empty). When every field is read the entry's
// length and checksum are checked at the end.
std::unique_ptr<RecordSource> EntryRecords(const std::string& archivePath, const std::string& entryName,
                                           const std::vector<FieldRole>& roles, int threads, int64_t index);

// The records of the LAS file at path, and what the file says of itself.
// A file that is not a LAS file, or too short for the records its header
// declares, is refused here; one cut short while it is read fails in Next.
std::unique_ptr<RecordSource> LasRecords(const std::string& path, LasFacts& facts);

// Opens the LAS file at path for reading; a FIFO or a device, which an
// open may wait on for ever, is refused first.
void OpenLasFile(CFile& file, const std::string& path);

// Bytes of records a LAS file's reads take at a time (one record at the
// least): a file's declared records are never held at once.
inline constexpr std::size_t kLasSliceBytes = 4u << 20;

}  // namespace velmora::detail
