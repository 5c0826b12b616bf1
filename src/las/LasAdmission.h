#pragma once

#include <cstdint>

class LasHeader;

// Decides, from the header and the file's length alone, whether a LAS file
// can be compressed and later given back byte for byte. Throws CLasException
// with canContinue true and a message that names the reason when it cannot;
// nothing has been written at that point.
void CheckLasAdmission(const LasHeader& header, int64_t fileSize);
