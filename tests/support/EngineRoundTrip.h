#pragma once

#include <cstdint>
#include <string>

class CPointCodec;

namespace testsupport {

// Compresses a LAS file (admission checked) into a new file holding just the
// entry's data; returns what Compress returned.
int64_t CompressToFile(CPointCodec& codec, const std::string& lasPath, const std::string& entryPath);
// Rebuilds a LAS file from a file holding one entry's data at offset 0.
void DecompressFromFile(CPointCodec& codec, const std::string& entryPath, const std::string& lasPath);

}  // namespace testsupport
