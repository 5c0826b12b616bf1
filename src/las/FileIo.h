#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

// Lets a test make the writes of one file fail, or end the process, at a
// chosen step. Before every write, flush, truncation, sync and close of a
// file that has one, the file asks it, naming the step and the file's role
// ("write", "archive"); a non-zero answer is the system error the step then
// fails with.
class IFaultHook {
public:
    virtual ~IFaultHook() = default;
    virtual int BeforeStep(const char* action, const char* role) = 0;
};

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
    CFile(CFile&& other) noexcept
        : f(other.f), lastError(other.lastError), faultHook(other.faultHook), faultRole(other.faultRole) {
        other.f = nullptr;
        other.faultHook = nullptr;
    }
    CFile& operator=(CFile&& other) noexcept;

    bool Open(const std::string& path, const char* mode);
    // Takes over an open descriptor (closed with the file, also on failure).
    bool OpenDescriptor(int fd, const char* mode);
    // Reads from a block of memory as from a file (for fuzzing and tests).
    bool OpenMemory(const void* data, std::size_t size);
    // Closes the file; false when buffered data could not be written.
    bool Close();
    bool IsOpen() const { return f != nullptr; }
    std::FILE* Handle() const { return f; }

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
    // Cuts or extends the file to length bytes; the position is kept.
    bool Truncate(int64_t length);
    // Flushes and asks the system to put the file's data on the disk.
    bool Sync();
    // Asks the system to start writing what has been flushed to the disk,
    // without waiting for it: a later Sync then waits only for what is
    // still on its way. Changes no byte, so it is no step of the file.
    void StartWriteback();
    // The system error of the last step that failed (0 when none has).
    int LastError() const { return lastError; }
    // role names the file in the hook's questions.
    void SetFaultHook(IFaultHook* hook, const char* role = "file") {
        faultHook = hook;
        faultRole = role;
    }
    // True when path names this very open file (also through links), so a
    // file that was removed or replaced meanwhile is told apart.
    bool IsFileAt(const std::string& path) const;

private:
    // False (with lastError set) when the fault hook fails this step.
    bool StepAllowed(const char* action);
    bool Failed();

    std::FILE* f = nullptr;
    int lastError = 0;
    IFaultHook* faultHook = nullptr;
    const char* faultRole = "file";
};

// Length of a file on disk, or -1 when it cannot be read.
int64_t FileSizeOf(const std::string& path);
bool FileExists(const std::string& path);
// Creates an empty file that did not exist before; false when the path is
// taken or cannot be created. Never truncates a file that is already there.
bool CreateNewFile(const std::string& path);
// True for an existing path that is not a regular file (a folder, a FIFO, a
// device): such a path is refused before it is opened, since opening a FIFO
// for reading waits for a writer that may never come.
bool IsSpecialFile(const std::string& path);
// Asks the system to make the folder's list of names durable (after a file in
// it was created, renamed or removed). False when it cannot.
bool SyncFolderOf(const std::string& path);
// The text after the last path separator, or the whole path when it has none.
std::string FileNamePart(const std::string& path);
// A folder as the start of a path: "" stays "" (the current folder),
// anything else ends with the separator.
std::string WithSeparator(const std::string& folder);
// Letters A to Z in lower case, every other byte as it is (names and
// extensions are compared this way, whatever the locale).
std::string LowerAscii(std::string text);
