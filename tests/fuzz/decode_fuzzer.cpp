// libFuzzer target for the decoding side of the engine: byte streams, value
// blocks, classic entries, extended entries, and an entry of either kind
// read as points and as header facts. The first input byte picks which one
// (its value modulo 5: corpora made when there were fewer modes keep the
// meaning of the first bytes their seeds have, 0 to 3); the next two give
// the length the stream decoders are asked for (for the point reader, which
// fields it wants), the rest is what the decoder reads. Every outcome must be
// a result or a CLasException.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "engine/ByteStreamCoder.h"
#include "engine/EntryPoints.h"
#include "engine/ExtEntry.h"
#include "engine/InputWindow.h"
#include "engine/PointCodec.h"
#include "engine/ProcessorCode.h"
#include "engine/ValueBlockCoder.h"
#include "las/FileIo.h"
#include "las/LasException.h"
#include "las/LasDigest.h"
#include "las/LasFacts.h"
#include "las/LasFile.h"
#include "las/LasLayout.h"

namespace {

// A chunk of a few dozen bytes may stand for 262,144 equal points, so a
// small entry can claim gigabytes and really decode them. Past this much
// output the decoder is stopped: a timeout then means work out of
// proportion to what comes out, not a file of that size.
constexpr uint64_t kMaxOutput = 64u << 20;
constexpr Failure kOutputCapped = failures::Of(921, FailureKind::Failed, "fuzz: output cap reached");

// An extended entry of the whole input: decoded with the output discarded
// (but for its first bytes and its length), and its head read the way a
// listing reads it. When the entry decodes, the listing must agree with what
// came out: the same file length, and a head that begins the file.
void DecodeExtended(CFile& file, const uint8_t* data, std::size_t size) {
    const int64_t extent = static_cast<int64_t>(size);
    uint64_t given = 0;
    std::vector<uint8_t> first;
    bool decoded = false;
    try {
        extentry::Decompress(file, extent,
                             [&](const uint8_t* p, std::size_t n) {
                                 given += n;
                                 if (given > kMaxOutput) throw CLasException(kOutputCapped);
                                 const std::size_t keep = std::min(n, kLasLayoutBytes - first.size());
                                 first.insert(first.end(), p, p + keep);
                             },
                             extentry::Progress{});
        decoded = true;
    } catch (const CLasException&) {
    }
    CFile again;
    if (!again.OpenMemory(data, size)) return;
    uint64_t fileLength = 0;
    std::vector<uint8_t> head;
    const bool listed = extentry::ReadHead(again, extent, fileLength, head);
    if (head.size() > kLasLayoutBytes) std::abort();
    if (!decoded) return;
    if (!listed || fileLength != given || head.size() > first.size() ||
        !std::equal(head.begin(), head.end(), first.begin())) {
        std::abort();
    }
}

// An entry read as a library reads it: its points a slice at a time (only
// some fields, as `wanted` picks them among the roles), then again for what
// its header, VLRs and EVLRs say, passing over its points.
void ReadPoints(const uint8_t* data, std::size_t size, unsigned wanted) {
    const int64_t extent = static_cast<int64_t>(size);
    std::vector<FieldRole> roles;
    for (unsigned r = 0; r <= static_cast<unsigned>(FieldRole::Blue); ++r) {
        if (wanted >> r & 1) roles.push_back(static_cast<FieldRole>(r));
    }
    try {
        CFile file;
        if (!file.OpenMemory(data, size)) return;
        CLasDigest digest("");
        CEntryPoints points(file, extent, roles, &digest, 1);
        std::vector<uint8_t> records;
        std::size_t count = 0;
        uint64_t given = 0;
        while (points.Next(records, count)) {
            if (records.size() != count * points.Layout().recordLength) std::abort();
            given += records.size();
            if (given > kMaxOutput) throw CLasException(kOutputCapped);
        }
    } catch (const CLasException&) {
    }
    CFile again;
    if (!again.OpenMemory(data, size)) return;
    CEntryPoints head(again, extent, {FieldRole::X}, nullptr, 1);
    LasFacts facts = ReadLasFacts(head.Head().data(), head.Head().size(), head.Layout().fileSize);
    CEvlrScanner evlrs(facts);
    head.ScanTail([&evlrs](uint64_t offset, const uint8_t* p, std::size_t n) { evlrs.Take(offset, p, n); });
    if (facts.vlrs.size() > static_cast<std::size_t>(facts.layout.vlrCount) + facts.layout.evlrCount) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    if (size < 3) return 0;
    const int mode = data[0] % 5;
    const unsigned wanted = static_cast<unsigned>(data[1]) << 8 | data[2];
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
                bytestream::DecodeByteStream(in, out.data(), out.size(), ProcessorCode::Detected().decoder);
                break;
            }
            case 1: {
                InputWindow in(file);
                std::vector<int32_t> out(length + 1);
                valueblock::DecodeValueBlock(in, out.data(), out.size(), ProcessorCode::Detected().decoder);
                break;
            }
            case 2: {
                CPointCodec codec;
                CLasFile las;
                las.SetOutputDiscarded(true);
                int progress = 0;
                codec.Decompress(&file, &las, &progress);
                break;
            }
            case 3:
                DecodeExtended(file, data, size);
                break;
            default:
                ReadPoints(data, size, wanted);
                break;
        }
    } catch (const CLasException&) {
    }
    return 0;
}
