// libFuzzer target for the decoding side of the engine: byte streams, value
// blocks and whole entries. The first input byte picks which one; the rest is
// what the decoder reads. Every outcome must be a result or a CLasException.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "engine/ByteStreamCoder.h"
#include "engine/InputWindow.h"
#include "engine/PointCodec.h"
#include "engine/ValueBlockCoder.h"
#include "las/FileIo.h"
#include "las/LasException.h"
#include "las/LasFile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    if (size < 3) return 0;
    const int mode = data[0] % 3;
    const std::size_t length = 1 + ((static_cast<std::size_t>(data[1]) << 8 | data[2]) % 8192);
    data += 3;
    size -= 3;
    CFile file;
    if (!file.OpenMemory(data, size)) return 0;
    try {
        switch (mode) {
            case 0: {
                InputWindow in(file);
                std::vector<uint8_t> out(length);
                bytestream::DecodeByteStream(in, out.data(), out.size());
                break;
            }
            case 1: {
                InputWindow in(file);
                std::vector<int32_t> out(length + 1);
                valueblock::DecodeValueBlock(in, out.data(), out.size());
                break;
            }
            default: {
                CPointCodec codec;
                CLasFile las;
                las.SetOutputDiscarded(true);
                int progress = 0;
                codec.Decompress(&file, &las, &progress);
                break;
            }
        }
    } catch (const CLasException&) {
    }
    return 0;
}
