#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

class CFile;

// Reads an archive file forward through a sliding buffer, so the decoders
// can work on plain byte pointers and still look a few bytes back and ahead
// of where they are (the end marker of a stream is found that way). Memory
// stays bounded by the largest single request, whatever the entry's size.
class InputWindow {
public:
    // Reading starts at the file's current position.
    explicit InputWindow(CFile& file);

    int64_t Position() const { return bufStart_ + static_cast<int64_t>(pos_); }
    // Length of the file, fixed when the window was made.
    int64_t FileSize() const { return fileSize_; }
    int64_t Remaining() const { return fileSize_ - Position(); }

    // Makes up to n bytes at the current position available and returns how
    // many are (fewer only at the end of the file).
    std::size_t Ensure(std::size_t n);
    const uint8_t* Data() const { return buf_.data() + pos_; }
    void Skip(std::size_t n) {
        if (n <= len_ - pos_) {
            pos_ += n;
        } else {
            Seek(Position() + static_cast<int64_t>(n));
        }
    }
    bool ReadExact(void* dst, std::size_t n);
    // Moves to an absolute offset that lies at most a few bytes behind the
    // current position or anywhere ahead of it.
    void Seek(int64_t offset);
    // The byte at an absolute offset near the current position, or -1 when
    // it lies beyond the end of the file or before the kept history.
    int ByteAt(int64_t offset);

    // Puts the file itself at the window's position (for callers that go on
    // reading the file directly).
    void SyncFile();

    static constexpr std::size_t kHistory = 64;

private:
    CFile& file_;
    std::vector<uint8_t> buf_;
    int64_t bufStart_;     // file offset of buf_[0]
    std::size_t len_ = 0;  // valid bytes in buf_
    std::size_t pos_ = 0;  // current position inside buf_
    int64_t fileSize_;
};
