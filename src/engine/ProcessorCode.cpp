#include "engine/ProcessorCode.h"

ProcessorCode ProcessorCode::Plain() {
    return {coords::Kernels::Plain(), bytestream::EncoderLoops::Plain(), bytestream::DecoderLoops::Plain()};
}

const ProcessorCode& ProcessorCode::Detected() {
    static const ProcessorCode detected = {coords::Kernels::Available().back(),
                                           bytestream::EncoderLoops::Available().back(),
                                           bytestream::DecoderLoops::Available().back()};
    return detected;
}

std::string ProcessorCode::Name() const {
    return std::string("kernels ") + coords.name + ", encoder " + encoder.name + ", decoder " + decoder.name;
}
