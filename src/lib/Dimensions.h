#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "las/LasFacts.h"
#include "las/PointFormat.h"
#include "velmora/velmora.hpp"

// The dimensions a reader of points offers, derived from the point format's
// one description: each field, each bit field of a byte as its own small
// number, and the scaled coordinates.
namespace velmora::detail {

struct Dimension {
    FieldInfo info;
    FieldRole role = FieldRole::Extra;  // the field it is read from
    std::size_t offset = 0;             // of that field in the record
    uint8_t shift = 0, width = 0;       // a bit field when width > 0
    int axis = -1;                      // 0, 1, 2: scaled x, y, z
};

// What the header says of the coordinates.
struct Scaling {
    double scale[3] = {1, 1, 1};
    double offset[3] = {0, 0, 0};
};
// The scale and offset the file's header gives.
Scaling ScalingOf(const LasFacts& facts);

// Every dimension of records laid out so: the fields in record order, then
// "x", "y", "z" when the records have X, Y and Z.
std::vector<Dimension> DimensionsOf(const PointLayout& layout);

// The values of d for count records of recordLength bytes into out
// (count * d.info.size bytes).
void Extract(const Dimension& d, const Scaling& s, const uint8_t* records, std::size_t recordLength,
             std::size_t count, uint8_t* out);

}  // namespace velmora::detail
