#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "las/LasLayout.h"

// One description of the point records of every LAS point format (0 to 10)
// and of the extra bytes that follow a record's standard fields. Coders,
// listings, generators and tests all take the layout of a record from here,
// so that what a format holds is written down once.

// What a field means; a coder predicts it by its role.
enum class FieldRole : uint8_t {
    X,
    Y,
    Z,
    Intensity,
    ReturnByte,    // formats 0-5: return number, number of returns, scan direction, edge
    ReturnsByte,   // formats 6-10: return number and number of returns, 4 bits each
    FlagsByte,     // formats 6-10: classification flags, scanner channel, scan direction, edge
    Classification,
    ScanAngleRank,  // formats 0-5: whole degrees, signed byte
    ScanAngle,      // formats 6-10: units of 0.006 degrees, signed 16 bits
    UserData,
    PointSourceId,
    GpsTime,
    Red,
    Green,
    Blue,
    Nir,
    WavePacketIndex,
    WaveDataOffset,
    WavePacketSize,
    WaveReturnLocation,
    WaveXt,
    WaveYt,
    WaveZt,
    Extra,  // a field of the extra bytes
};

// How a field's bytes are read (little-endian). Bytes: a run of bytes with no
// number type, described or not.
enum class FieldType : uint8_t { U8, I8, U16, I16, U32, I32, U64, I64, F32, F64, Bytes };

// Bits of a one-byte field that carry a value of their own.
struct BitField {
    std::string name;
    uint8_t shift = 0;
    uint8_t width = 0;
};

struct PointField {
    std::string name;
    FieldRole role = FieldRole::Extra;
    FieldType type = FieldType::Bytes;
    std::size_t offset = 0;  // from the start of the record
    std::size_t size = 0;    // bytes
    std::vector<BitField> bits;
};

// Bytes a value of the type takes (0 for Bytes).
std::size_t SizeOf(FieldType type);
// The type every standard field of a role has in every format (Bytes for
// Extra, whose fields have any type).
FieldType TypeOfRole(FieldRole role);

struct PointLayout {
    uint8_t format = 0;
    std::size_t standardLength = 0;  // bytes of the format's own fields
    std::size_t recordLength = 0;    // as the file declares; >= standardLength
    std::vector<PointField> fields;  // in record order, extra bytes included

    bool Extended() const { return format >= 6; }
    // The field with this role, or null.
    const PointField* Find(FieldRole role) const;
};

// Formats 0 to 10 are known; anything else has no layout.
bool IsKnownPointFormat(uint8_t format);
// Standard record length of a known format.
std::size_t StandardLength(uint8_t format);

// The layout of records of recordLength bytes in the format (known, and
// recordLength >= its standard length). Extra bytes are described by
// extraBytesVlr, the payload of an Extra Bytes VLR ("LASF_Spec", record 4),
// where it describes them exactly; otherwise (no VLR, or one that does not
// fit) they are one undescribed field of bytes.
PointLayout DescribePoints(uint8_t format, std::size_t recordLength,
                           const std::vector<uint8_t>& extraBytesVlr = {});

// The layout of a LAS file's records as its first bytes (head: the header
// block and the VLRs after it, as far as they are at hand) describe them: its
// format's description with the extra bytes its Extra Bytes VLR describes,
// or, where that does not cover the record exactly or takes more than
// maxFields fields, the whole record as one field of bytes.
PointLayout DescribeFileRecords(const LasFileLayout& layout, const std::vector<uint8_t>& head,
                                std::size_t maxFields);

// The payload of the Extra Bytes VLR among a file's VLRs, if there is one:
// vlrArea is the bytes between the header and the point data, which hold
// vlrCount VLRs. Empty when there is none (or the area is damaged).
std::vector<uint8_t> FindExtraBytesVlr(const uint8_t* vlrArea, std::size_t size, uint32_t vlrCount);
