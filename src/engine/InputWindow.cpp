#include "engine/InputWindow.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "engine/LargePages.h"
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

InputWindow::~InputWindow() { largepages::Give(buffer, capacity); }

std::size_t InputWindow::Ensure(std::size_t n) {
    if (length - pos >= n) return n;
    // Slide: keep a little history for look-back, drop the rest.
    const std::size_t keepFrom = pos > kHistory ? pos - kHistory : 0;
    if (keepFrom > 0) {
        std::memmove(buffer, buffer + keepFrom, length - keepFrom);
        length -= keepFrom;
        pos -= keepFrom;
        bufferStart += static_cast<int64_t>(keepFrom);
    }
    const int64_t fileEnd = bufferStart + static_cast<int64_t>(length);
    const int64_t available = fileSize - fileEnd;
    std::size_t want = std::max(n - (length - pos), kBlock);
    if (available <= 0) return length - pos;
    want = static_cast<std::size_t>(std::min<int64_t>(static_cast<int64_t>(want), available));
    if (capacity < length + want) {
        // The window is read into in full: large pages suit it.
        const std::size_t larger = largepages::Mapped(std::max(length + want, capacity + capacity / 2));
        auto* moved = static_cast<uint8_t*>(largepages::Take(larger));
        if (length) std::memcpy(moved, buffer, length);
        largepages::Give(buffer, capacity);
        buffer = moved;
        capacity = larger;
    }
    if (file.Tell() != fileEnd) file.Seek(fileEnd);
    length += file.Read(buffer + length, want);
    return std::min(n, length - pos);
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
    if (rel >= 0 && static_cast<uint64_t>(rel) <= length) {
        pos = static_cast<std::size_t>(rel);
        return;
    }
    // Outside what is held: start afresh there.
    bufferStart = offset;
    length = 0;
    pos = 0;
}

int InputWindow::ByteAt(int64_t offset) {
    if (offset < bufferStart || offset >= fileSize) return -1;
    const int64_t rel = offset - bufferStart;
    if (static_cast<uint64_t>(rel) >= length) {
        const int64_t ahead = offset - Position();
        if (ahead < 0 || Ensure(static_cast<std::size_t>(ahead) + 1) <= static_cast<std::size_t>(ahead)) {
            return -1;
        }
        return buffer[static_cast<std::size_t>(offset - bufferStart)];
    }
    return buffer[static_cast<std::size_t>(rel)];
}

void InputWindow::SyncFile() { file.Seek(Position()); }
