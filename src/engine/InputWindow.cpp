#include "engine/InputWindow.h"

#include <algorithm>
#include <cstring>

#include "las/FileIo.h"

namespace {
constexpr std::size_t kBlock = 1 << 20;
}

InputWindow::InputWindow(CFile& file) : file_(file) {
    bufStart_ = file_.Tell();
    fileSize_ = file_.Size();
    if (bufStart_ < 0) bufStart_ = 0;
    if (fileSize_ < bufStart_) fileSize_ = bufStart_;
}

std::size_t InputWindow::Ensure(std::size_t n) {
    if (len_ - pos_ >= n) return n;
    // Slide: keep a little history for look-back, drop the rest.
    const std::size_t keepFrom = pos_ > kHistory ? pos_ - kHistory : 0;
    if (keepFrom > 0) {
        std::memmove(buf_.data(), buf_.data() + keepFrom, len_ - keepFrom);
        len_ -= keepFrom;
        pos_ -= keepFrom;
        bufStart_ += static_cast<int64_t>(keepFrom);
    }
    const int64_t fileEnd = bufStart_ + static_cast<int64_t>(len_);
    const int64_t available = fileSize_ - fileEnd;
    std::size_t want = std::max(n - (len_ - pos_), kBlock);
    if (available <= 0) return len_ - pos_;
    want = static_cast<std::size_t>(std::min<int64_t>(static_cast<int64_t>(want), available));
    if (buf_.size() < len_ + want) buf_.resize(len_ + want);
    if (file_.Tell() != fileEnd) file_.Seek(fileEnd);
    len_ += file_.Read(buf_.data() + len_, want);
    return std::min(n, len_ - pos_);
}

bool InputWindow::ReadExact(void* dst, std::size_t n) {
    if (n == 0) return true;
    if (Ensure(n) < n) return false;
    std::memcpy(dst, Data(), n);
    pos_ += n;
    return true;
}

void InputWindow::Seek(int64_t offset) {
    const int64_t rel = offset - bufStart_;
    if (rel >= 0 && static_cast<uint64_t>(rel) <= len_) {
        pos_ = static_cast<std::size_t>(rel);
        return;
    }
    // Outside what is held: start afresh there.
    bufStart_ = offset;
    len_ = 0;
    pos_ = 0;
}

int InputWindow::ByteAt(int64_t offset) {
    if (offset < bufStart_ || offset >= fileSize_) return -1;
    const int64_t rel = offset - bufStart_;
    if (static_cast<uint64_t>(rel) >= len_) {
        const int64_t ahead = offset - Position();
        if (ahead < 0 || Ensure(static_cast<std::size_t>(ahead) + 1) <= static_cast<std::size_t>(ahead)) {
            return -1;
        }
        return buf_[static_cast<std::size_t>(offset - bufStart_)];
    }
    return buf_[static_cast<std::size_t>(rel)];
}

void InputWindow::SyncFile() { file_.Seek(Position()); }
