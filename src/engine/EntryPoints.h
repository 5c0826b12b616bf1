#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "las/LasLayout.h"
#include "las/PointFormat.h"

class CFile;
class CLasDigest;

// An entry's points handed out a chunk of records at a time, for readers
// that want the points rather than a LAS file; either entry kind.
class CEntryPoints {
public:
    // file is positioned at the entry's first byte and the entry takes
    // `extent` bytes. wanted: the roles of the fields the caller will read;
    // the records handed out are exact in those fields (and, in a classic
    // entry, the fields that share their streams), the rest unspecified.
    // Empty: every field, and every byte of the LAS file goes to digest (if
    // given) in file order. threads: 0 for the default.
    CEntryPoints(CFile& file, int64_t extent, const std::vector<FieldRole>& wanted, CLasDigest* digest,
                 int threads = 0);
    ~CEntryPoints();
    CEntryPoints(const CEntryPoints&) = delete;
    CEntryPoints& operator=(const CEntryPoints&) = delete;

    // The LAS file's first bytes (header block and VLRs, at most 16 MiB) and
    // the layout read from them.
    const std::vector<uint8_t>& Head() const;
    const LasFileLayout& Layout() const;
    // The next chunk's records (count of them, Layout().recordLength bytes
    // each). False at the end, once the entry has been read whole and found
    // sound. Throws CLasException when the entry is damaged.
    bool Next(std::vector<uint8_t>& records, std::size_t& count);
    // Bytes of the LAS file given back so far (all of it at the end, when
    // every field was wanted).
    uint64_t BytesGiven() const;
    // True when every byte of the LAS file goes to the digest: every field
    // was wanted, or the entry is of a kind that decodes them all anyway.
    bool Whole() const;
    // Hands every byte after the point records to sink with its file
    // offset, passing over the points without decoding them; nothing for a
    // classic entry, which has none. Next is not to be called afterwards.
    using TailSink = std::function<void(uint64_t offset, const uint8_t* data, std::size_t n)>;
    void ScanTail(const TailSink& sink);

    struct Impl;

private:
    std::unique_ptr<Impl> impl;
};
