#pragma once

#include <cstdint>
#include <string>

// Reads a LAS file through CLasFile (header, VLR block, points in windows of
// `window` records) and writes it to `outPath` the way extraction does.
// Refuses, by throwing CLasException, a file that the admission check refuses.
void CopyLasThroughWindows(const std::string& inPath, const std::string& outPath,
                           uint32_t window);
