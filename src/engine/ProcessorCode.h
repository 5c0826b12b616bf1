#pragma once

#include <string>

#include "engine/ByteStreamCoder.h"
#include "engine/CoordinateCodec.h"

// Which version of each of the engine's hot loops a codec runs: the
// predictors' kernels and the byte-stream encoder's and decoder's lane
// loops. Every version of a loop computes the same results, so the choice
// changes the speed, never the bytes. Each codec object holds its own
// choice and hands it down to where the loops run; nothing is switched for
// the whole process, so codecs with different choices may run at once.
struct ProcessorCode {
    coords::Kernels coords;
    bytestream::EncoderLoops encoder;
    bytestream::DecoderLoops decoder;

    // The baseline version of every loop.
    static ProcessorCode Plain();
    // The fastest version of each loop that this processor runs; the
    // processor is looked at once, on the first call.
    static const ProcessorCode& Detected();

    // For messages: the versions, in the order of the members.
    std::string Name() const;
};
