#include "las/FileIo.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

CFile& CFile::operator=(CFile&& other) noexcept {
    if (this != &other) {
        Close();
        f_ = other.f_;
        other.f_ = nullptr;
    }
    return *this;
}

bool CFile::Open(const std::string& path, const char* mode) {
    Close();
    f_ = std::fopen(path.c_str(), mode);
    return f_ != nullptr;
}

bool CFile::OpenMemory(const void* data, std::size_t size) {
    Close();
    if (size == 0) return false;
    f_ = fmemopen(const_cast<void*>(data), size, "rb");
    return f_ != nullptr;
}

bool CFile::Close() {
    if (!f_) return true;
    const bool ok = std::fclose(f_) == 0;
    f_ = nullptr;
    return ok;
}

bool CFile::Seek(int64_t offset, int whence) {
    return f_ && fseeko(f_, static_cast<off_t>(offset), whence) == 0;
}

int64_t CFile::Tell() const { return f_ ? static_cast<int64_t>(ftello(f_)) : -1; }

int64_t CFile::Size() {
    if (!f_) return -1;
    const int64_t here = Tell();
    if (!Seek(0, SEEK_END)) return -1;
    const int64_t size = Tell();
    Seek(here, SEEK_SET);
    return size;
}

std::size_t CFile::Read(void* buf, std::size_t n) {
    if (!f_ || n == 0) return 0;
    return std::fread(buf, 1, n, f_);
}

bool CFile::Write(const void* buf, std::size_t n) {
    if (!f_) return false;
    return n == 0 || std::fwrite(buf, 1, n, f_) == n;
}

bool CFile::Flush() { return f_ && std::fflush(f_) == 0; }

bool CFile::TruncateHere() {
    if (!f_ || std::fflush(f_) != 0) return false;
    const int64_t here = Tell();
    return here >= 0 && ftruncate(fileno(f_), static_cast<off_t>(here)) == 0;
}

int64_t FileSizeOf(const std::string& path) {
    struct stat st {};
    if (stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return -1;
    return static_cast<int64_t>(st.st_size);
}

bool FileExists(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0;
}

bool CreateNewFile(const std::string& path) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) return false;
    return ::close(fd) == 0;
}

std::string FileNamePart(const std::string& path) {
    const auto pos = path.find_last_of('/');
    return pos == std::string::npos ? path : path.substr(pos + 1);
}
