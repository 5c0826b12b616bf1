#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

// A buffered binary file that closes itself. Positions and sizes are 64-bit
// everywhere, whatever the stored formats allow, so limits can be checked
// before they are crossed rather than after they have wrapped.
class CFile {
public:
    CFile() = default;
    CFile(const std::string& path, const char* mode) { Open(path, mode); }
    ~CFile() { Close(); }
    CFile(const CFile&) = delete;
    CFile& operator=(const CFile&) = delete;
    CFile(CFile&& other) noexcept : f_(other.f_) { other.f_ = nullptr; }
    CFile& operator=(CFile&& other) noexcept;

    bool Open(const std::string& path, const char* mode);
    // Reads from a block of memory as from a file (for fuzzing and tests).
    bool OpenMemory(const void* data, std::size_t size);
    // Closes the file; false when buffered data could not be written.
    bool Close();
    bool IsOpen() const { return f_ != nullptr; }
    std::FILE* Handle() const { return f_; }

    bool Seek(int64_t offset, int whence = SEEK_SET);
    int64_t Tell() const;
    // Length of the file; the position is left where it was.
    int64_t Size();
    std::size_t Read(void* buf, std::size_t n);
    bool ReadExact(void* buf, std::size_t n) { return Read(buf, n) == n; }
    bool Write(const void* buf, std::size_t n);
    bool Flush();
    // Cuts the file at its current position.
    bool TruncateHere();

private:
    std::FILE* f_ = nullptr;
};

// Length of a file on disk, or -1 when it cannot be read.
int64_t FileSizeOf(const std::string& path);
bool FileExists(const std::string& path);
// Creates an empty file that did not exist before; false when the path is
// taken or cannot be created. Never truncates a file that is already there.
bool CreateNewFile(const std::string& path);
// The text after the last path separator, or the whole path when it has none.
std::string FileNamePart(const std::string& path);
