#pragma once

#include <cstddef>
#include <cstdint>

class CFile;

// Reads an archive file forward through a sliding buffer, so the decoders
// can work on plain byte pointers and still look a few bytes back and ahead
// of where they are (the end marker of a stream is found that way). Memory
// stays bounded by the largest single request, whatever the entry's size.
class InputWindow {
public:
    // Reading starts at the file's current position.
    explicit InputWindow(CFile& file);
    ~InputWindow();
    InputWindow(const InputWindow&) = delete;
    InputWindow& operator=(const InputWindow&) = delete;

    int64_t Position() const { return bufferStart + static_cast<int64_t>(pos); }
    // Length of the file, fixed when the window was made.
    int64_t FileSize() const { return fileSize; }
    int64_t Remaining() const { return fileSize - Position(); }

    // Makes up to n bytes at the current position available and returns how
    // many are (fewer only at the end of the file).
    std::size_t Ensure(std::size_t n);
    const uint8_t* Data() const { return buffer + pos; }
    void Skip(std::size_t n) {
        if (n <= length - pos) {
            pos += n;
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
    CFile& file;
    // Grown with realloc: a large block is moved by remapping its pages, not
    // copied, and room is not cleared before the file's bytes fill it. (The
    // window of a chunk's streams grows in steps to megabytes, and every
    // copy and clearing of it was time before the chunk could start.)
    uint8_t* buffer = nullptr;
    std::size_t capacity = 0;
    int64_t bufferStart;     // file offset of buffer[0]
    std::size_t length = 0;  // valid bytes in buffer
    std::size_t pos = 0;  // current position inside buffer
    int64_t fileSize;
};
