#include "las/FileIo.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

CFile& CFile::operator=(CFile&& other) noexcept {
    if (this != &other) {
        Close();
        f = other.f;
        lastError = other.lastError;
        faultHook = other.faultHook;
        faultRole = other.faultRole;
        other.f = nullptr;
        other.faultHook = nullptr;
    }
    return *this;
}

bool CFile::Open(const std::string& path, const char* mode) {
    Close();
    lastError = 0;
    f = std::fopen(path.c_str(), mode);
    if (!f) lastError = errno;
    return f != nullptr;
}

bool CFile::OpenDescriptor(int fd, const char* mode) {
    Close();
    lastError = 0;
    f = fdopen(fd, mode);
    if (!f) {
        lastError = errno;
        ::close(fd);
    }
    return f != nullptr;
}

bool CFile::OpenMemory(const void* data, std::size_t size) {
    Close();
    if (size == 0) return false;
    f = fmemopen(const_cast<void*>(data), size, "rb");
    return f != nullptr;
}

bool CFile::Close() {
    if (!f) return true;
    // Buffered data is written here: a fault meant for it is met here too.
    const bool allowed = StepAllowed("close");
    const bool ok = std::fclose(f) == 0;
    if (!ok) lastError = errno;
    f = nullptr;
    return allowed && ok;
}

bool CFile::StepAllowed(const char* action) {
    if (!faultHook) return true;
    const int error = faultHook->BeforeStep(action, faultRole);
    if (error == 0) return true;
    lastError = error;
    errno = error;
    return false;
}

bool CFile::Failed() {
    lastError = errno;
    return false;
}

bool CFile::Seek(int64_t offset, int whence) {
    return f && fseeko(f, static_cast<off_t>(offset), whence) == 0;
}

int64_t CFile::Tell() const { return f ? static_cast<int64_t>(ftello(f)) : -1; }

int64_t CFile::Size() {
    if (!f) return -1;
    const int64_t here = Tell();
    if (!Seek(0, SEEK_END)) return -1;
    const int64_t size = Tell();
    Seek(here, SEEK_SET);
    return size;
}

std::size_t CFile::Read(void* buf, std::size_t n) {
    if (!f || n == 0) return 0;
    const std::size_t got = std::fread(buf, 1, n, f);
    if (got < n && std::ferror(f)) lastError = errno;
    return got;
}

bool CFile::Write(const void* buf, std::size_t n) {
    if (!f) return false;
    if (n == 0) return true;
    if (!StepAllowed("write")) return false;
    return std::fwrite(buf, 1, n, f) == n || Failed();
}

bool CFile::Flush() {
    if (!f || !StepAllowed("flush")) return false;
    return std::fflush(f) == 0 || Failed();
}

bool CFile::TruncateHere() {
    if (!f) return false;
    const int64_t here = Tell();
    return here >= 0 && Truncate(here);
}

bool CFile::Truncate(int64_t length) {
    if (!f || !Flush() || !StepAllowed("truncate")) return false;
    return ftruncate(fileno(f), static_cast<off_t>(length)) == 0 || Failed();
}

bool CFile::Sync() {
    if (!f || !Flush() || !StepAllowed("sync")) return false;
    return fsync(fileno(f)) == 0 || Failed();
}

void CFile::StartWriteback() {
#ifdef __linux__
    // Only a hint: where it is not supported, Sync does all the work.
    if (f) (void)sync_file_range(fileno(f), 0, 0, SYNC_FILE_RANGE_WRITE);
#endif
}

bool CFile::IsFileAt(const std::string& path) const {
    struct stat atPath {}, opened {};
    return f && ::stat(path.c_str(), &atPath) == 0 && fstat(fileno(f), &opened) == 0 &&
           atPath.st_dev == opened.st_dev && atPath.st_ino == opened.st_ino;
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

bool IsSpecialFile(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode);
}

bool SyncFolderOf(const std::string& path) {
    const auto slash = path.find_last_of('/');
    const std::string folder =
        slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return false;
    const bool ok = fsync(fd) == 0;
    ::close(fd);
    return ok;
}

std::string FileNamePart(const std::string& path) {
    const auto pos = path.find_last_of('/');
    return pos == std::string::npos ? path : path.substr(pos + 1);
}

std::string WithSeparator(const std::string& folder) {
    if (folder.empty() || folder.back() == '/') return folder;
    return folder + '/';
}

std::string LowerAscii(std::string text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return text;
}
