#pragma once

#include <cstddef>
#include <cstdint>

#include "engine/ByteStreamCoder.h"

class CFile;

// Reads an archive file forward through a sliding buffer, so the decoders
// can work on plain byte pointers and still look a few bytes back and ahead
// of where they are (the end marker of a stream is found that way). Memory
// stays bounded by the largest single request, whatever the entry's size.
class InputWindow {
public:
    // Reading starts at the file's current position.
    explicit InputWindow(CFile& file);
    InputWindow(const InputWindow&) = delete;
    InputWindow& operator=(const InputWindow&) = delete;

    int64_t Position() const { return bufferStart + static_cast<int64_t>(pos); }
    // Length of the file, fixed when the window was made.
    int64_t FileSize() const { return fileSize; }
    int64_t Remaining() const { return fileSize - Position(); }

    // Makes up to n bytes at the current position available and returns how
    // many are (fewer only at the end of the file).
    std::size_t Ensure(std::size_t n);
    const uint8_t* Data() const { return held.Data() + pos; }
    void Skip(std::size_t n) {
        if (n <= held.Size() - pos) {
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
    // The bytes held, from bufferStart on. They are read into in full, so
    // they take large pages; a growth copies only what is held after the
    // slide (what is not read yet, and the history).
    CByteBuffer held;
    int64_t bufferStart;  // file offset of held's first byte
    std::size_t pos = 0;  // current position inside held
    int64_t fileSize;
};
