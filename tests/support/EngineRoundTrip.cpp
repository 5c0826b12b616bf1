#include "EngineRoundTrip.h"

#include "engine/PointCodec.h"
#include "las/FileIo.h"
#include "las/LasAdmission.h"
#include "las/LasException.h"
#include "las/LasFile.h"

namespace testsupport {

namespace {
constexpr Failure kNoEntryFile = failures::Of(911, FailureKind::Failed, "cannot create entry file");
constexpr Failure kEntryNotClosed = failures::Of(912, FailureKind::Output, "cannot close entry file");
constexpr Failure kEntryNotOpened = failures::Of(913, FailureKind::Failed, "cannot open entry file");
}  // namespace

int64_t CompressToFile(CPointCodec& codec, const std::string& lasPath, const std::string& entryPath) {
    CLasFile las;
    las.SetFileName(lasPath);
    CheckLasAdmission(*las.ReadHeader(), FileSizeOf(lasPath));
    las.ReadVlrs();
    CFile out(entryPath, "wb");
    if (!out.IsOpen()) throw CLasException(kNoEntryFile);
    const int64_t n = codec.Compress(&out, &las);
    if (!out.Close()) throw CLasException(kEntryNotClosed);
    return n;
}

void DecompressFromFile(CPointCodec& codec, const std::string& entryPath, const std::string& lasPath) {
    CLasFile las;
    las.SetFileName(lasPath);
    CFile in(entryPath, "rb");
    if (!in.IsOpen()) throw CLasException(kEntryNotOpened);
    int progress = 0;
    codec.Decompress(&in, &las, &progress);
}

}  // namespace testsupport
