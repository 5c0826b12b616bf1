#include "LasCopy.h"

#include <algorithm>
#include <memory>

#include "las/FileIo.h"
#include "las/LasAdmission.h"
#include "las/LasFile.h"

void CopyLasThroughWindows(const std::string& inPath, const std::string& outPath,
                           uint32_t window) {
    CLasFile in;
    in.SetFileName(inPath);
    LasHeader* h = in.ReadHeader();
    CheckLasAdmission(*h, FileSizeOf(inPath));
    in.ReadVlrs();
    const uint32_t total = h->NumberOfPointRecords();

    CLasFile out;
    out.SetFileName(outPath);
    out.SetHeader(std::make_unique<LasHeader>(*h));
    if (in.HasVlrBlock()) out.SetVlrBlock(in.VlrBlock());
    out.WriteHeader();
    out.WriteVlrs();
    window = std::max<uint32_t>(window, 1);
    for (uint32_t first = 0; first < total; first += std::min(window, total - first)) {
        const uint32_t n = std::min(window, total - first);
        in.ReadPoints(n, first);
        out.Header()->SetNumberOfPointRecords(n);
        out.CreatePointObjects();
        for (uint32_t i = 0; i < n; ++i) {
            std::copy_n(in.Points()[i]->Record(), in.Points()[i]->RecordSize(),
                        out.Points()[i]->Record());
        }
        int progress = 0;
        out.WritePoints(&progress);
    }
}
