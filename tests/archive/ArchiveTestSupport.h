#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "LasGenerator.h"
#include "TestSupport.h"
#include "las/LasException.h"

namespace archtest {

using Bytes = std::vector<uint8_t>;

// One entry of an archive built by hand: its data bytes and the figures of
// its directory record.
struct FakeEntry {
    std::string name;
    Bytes data;
    int64_t storedSize = -1;  // -1: the length of data
    uint32_t uncompressedSize = 0;
};

// The bytes of an archive holding these entries: magic number, data back to
// back, directory, count.
Bytes BuildArchive(const std::vector<FakeEntry>& entries);

// The entry a real add makes of the LAS file at lasPath, as BuildArchive takes
// it: its data, its whole 256-byte name field (checksum record included) as
// the name, and its LAS size.
FakeEntry EntryOf(const std::string& lasPath);

// Offsets into an archive image built by BuildArchive or written by VMRAFile.
int32_t CountOf(const Bytes& archive);
std::size_t RecordAt(const Bytes& archive, std::size_t i);  // file offset of record i
void PutU32(Bytes& bytes, std::size_t at, uint32_t v);
// Gives record i the name alone: the rest of its name field (and with it any
// checksum record) becomes zeros.
void SetEntryName(Bytes& archive, std::size_t i, const std::string& name);
uint32_t GetU32(const Bytes& bytes, std::size_t at);

// Makes a file of `size` bytes without writing them (a sparse file), then
// writes `tail` as its last bytes and `head` as its first.
void MakeSparseFile(const std::string& path, int64_t size, const Bytes& head, const Bytes& tail);

// Names of the files in a folder, sorted.
std::vector<std::string> FolderContents(const std::string& folder);

// Bytes that differ from seed to seed.
Bytes Filler(std::size_t n, uint8_t seed);

// A synthetic LAS file in dir; returns its path.
std::string GenerateLas(const testsupport::TempDir& dir, const std::string& name,
                        const LasGenOptions& options);
std::string GenerateLas(const testsupport::TempDir& dir, const std::string& name, uint64_t points,
                        int format, uint64_t seed);

// The entry names of an archive's directory, in order.
std::vector<std::string> EntryNames(const std::string& archivePath);

// Makes a folder the current folder for the life of the object.
class CurrentFolder {
public:
    explicit CurrentFolder(const std::filesystem::path& p);
    ~CurrentFolder();
    CurrentFolder(const CurrentFolder&) = delete;
    CurrentFolder& operator=(const CurrentFolder&) = delete;

private:
    std::filesystem::path old_;
};

}  // namespace archtest
