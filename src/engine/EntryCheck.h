#pragma once

#include <cstdint>

class LasHeader;

// Whether an archive entry can be decoded, judged from its stored header
// image and the bytes the entry may take (from its first byte to where it
// must end). Throws the engine's CLasException when it cannot: a marker no
// encoder writes, a point format or record length entries never have, a
// VLR block that does not fit, too few bytes for the raw records or for the
// chunks the point count calls for. Decompress makes exactly these checks,
// before it sizes anything from the header.
void CheckEntry(const LasHeader& header, int64_t extent);
