#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "las/LasLayout.h"

class CFile;

// What a LAS file says about itself in its header block, its VLRs and its
// extended VLRs: read from those bytes alone, no point decoded.

struct VlrFacts {
    std::string userId;
    uint16_t recordId = 0;
    std::string description;
    uint64_t length = 0;    // bytes after the record's header
    bool extended = false;  // an EVLR, after the points
};

struct LasFacts {
    LasFileLayout layout;
    uint16_t fileSourceId = 0;
    uint16_t globalEncoding = 0;
    std::string systemIdentifier;
    std::string generatingSoftware;
    uint16_t creationDay = 0;   // day of the year, 1-366 (0: not given)
    uint16_t creationYear = 0;
    // Points by return number: 5 counts, or LAS 1.4's 15.
    std::vector<uint64_t> pointsByReturn;
    double scale[3] = {0, 0, 0};
    double offset[3] = {0, 0, 0};
    double minimum[3] = {0, 0, 0};
    double maximum[3] = {0, 0, 0};
    std::vector<VlrFacts> vlrs;  // the VLRs in file order, then the EVLRs
    // The coordinate system: an EPSG code from GeoTIFF keys or from a WKT's
    // authority (0 when none), and the WKT's name.
    int epsg = 0;
    std::string crsName;
    // The unit of x and y as the coordinate system names it ("metre",
    // "foot", "US survey foot", "degree"); empty when it does not say.
    std::string linearUnit;
    bool vlrsComplete = true;  // false: the VLR area was cut short or damaged
};

// The facts of the file whose first bytes are head (the header block and
// the VLRs after it; fewer bytes than that give fewer VLRs and
// vlrsComplete false) and whose length is fileSize. Throws CLasException for
// a header that ReadLasLayout refuses.
LasFacts ReadLasFacts(const uint8_t* head, std::size_t size, int64_t fileSize);

// Reads EVLR headers from bytes of the file as they come, in file order
// from any offset: each EVLR's header is taken, its payload skipped.
class CEvlrScanner {
public:
    explicit CEvlrScanner(LasFacts& facts);
    // The file's bytes at offset (offsets only grow).
    void Take(uint64_t offset, const uint8_t* data, std::size_t n);
    // Where the next EVLR header begins (ULLONG_MAX: none left to read).
    uint64_t Next() const { return next; }

private:
    LasFacts& facts;
    uint64_t next;
    uint32_t left;
    std::vector<uint8_t> header;  // the part of the next header seen so far
};

// The facts of the LAS file at path, read from its header block, its VLRs
// (up to 16 MiB of them) and its EVLRs' headers. Throws CLasException when
// the file cannot be read or is not a LAS file.
LasFacts ReadLasFileFacts(const std::string& path);
// The same of a LAS file already open for reading, with the file's first
// bytes as the facts were read from them (header block and VLRs, at most
// 16 MiB) into head; the file's position is left anywhere.
LasFacts ReadLasFileFacts(CFile& file, std::vector<uint8_t>& head);
