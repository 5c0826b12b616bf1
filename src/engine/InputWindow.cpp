#include "engine/InputWindow.h"

#include <algorithm>
#include <cstring>

#include "las/FileIo.h"

namespace {
constexpr std::size_t kBlock = 1 << 20;
}

InputWindow::InputWindow(CFile& file) : file(file) {
    bufferStart = file.Tell();
    fileSize = file.Size();
    if (bufferStart < 0) bufferStart = 0;
    if (fileSize < bufferStart) fileSize = bufferStart;
}

std::size_t InputWindow::Ensure(std::size_t n) {
    if (held.Size() - pos >= n) return n;
    // Slide: keep a little history for look-back, drop the rest.
    const std::size_t keepFrom = pos > kHistory ? pos - kHistory : 0;
    if (keepFrom > 0) {
        const std::size_t kept = held.Size() - keepFrom;
        std::memmove(held.Data(), held.Data() + keepFrom, kept);
        held.Shrink(held.Data() + kept);
        pos -= keepFrom;
        bufferStart += static_cast<int64_t>(keepFrom);
    }
    const int64_t fileEnd = bufferStart + static_cast<int64_t>(held.Size());
    const int64_t available = fileSize - fileEnd;
    std::size_t want = std::max(n - (held.Size() - pos), kBlock);
    if (available <= 0) return held.Size() - pos;
    want = static_cast<std::size_t>(std::min<int64_t>(static_cast<int64_t>(want), available));
    if (file.Tell() != fileEnd) file.Seek(fileEnd);
    uint8_t* at = held.Grow(want);
    held.Shrink(at + file.Read(at, want));
    return std::min(n, held.Size() - pos);
}

bool InputWindow::ReadExact(void* dst, std::size_t n) {
    if (n == 0) return true;
    if (Ensure(n) < n) return false;
    std::memcpy(dst, Data(), n);
    pos += n;
    return true;
}

void InputWindow::Seek(int64_t offset) {
    const int64_t rel = offset - bufferStart;
    if (rel >= 0 && static_cast<uint64_t>(rel) <= held.Size()) {
        pos = static_cast<std::size_t>(rel);
        return;
    }
    // Outside what is held: start afresh there.
    bufferStart = offset;
    held.Clear();
    pos = 0;
}

int InputWindow::ByteAt(int64_t offset) {
    if (offset < bufferStart || offset >= fileSize) return -1;
    const int64_t rel = offset - bufferStart;
    if (static_cast<uint64_t>(rel) >= held.Size()) {
        const int64_t ahead = offset - Position();
        if (ahead < 0 || Ensure(static_cast<std::size_t>(ahead) + 1) <= static_cast<std::size_t>(ahead)) {
            return -1;
        }
        return held.Data()[static_cast<std::size_t>(offset - bufferStart)];
    }
    return held.Data()[static_cast<std::size_t>(rel)];
}

void InputWindow::SyncFile() { file.Seek(Position()); }
