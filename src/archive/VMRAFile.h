#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "engine/PointCodec.h"
#include "las/LasFile.h"

class CFile;

// One directory record of an archive: 268 bytes in the file, all integers
// little-endian, the name NUL-terminated within its 256 bytes.
struct EntryRecord {
    static constexpr std::size_t kSize = 268;
    static constexpr std::size_t kNameBytes = 256;

    uint32_t dataOffset = 0;
    uint32_t storedSize = 0;
    uint32_t uncompressedSize = 0;
    uint8_t name[kNameBytes] = {};

    // The name up to its terminator (or all 256 bytes when there is none).
    std::string Name() const;
    void SetName(const std::string& n);
    void Load(const uint8_t* bytes);
    void Store(uint8_t* bytes) const;
};

// The ".VMRA" archive: magic number, the entries' data back to back, the
// directory of EntryRecords and the entry count at the end. Every operation
// opens the archive by path, works and closes it again.
class VMRAFile {
public:
    static constexpr uint32_t kMagic = 0x4A3B2C1D;

    VMRAFile();
    ~VMRAFile();
    VMRAFile(const VMRAFile&) = delete;
    VMRAFile& operator=(const VMRAFile&) = delete;

    // Directory operations on an archive file open for reading.
    bool CheckMagic(CFile& file);
    int32_t ReadEntryCount(CFile& file);
    void ReadDirectory(CFile& file);
    bool FindEntry(CFile& file, const std::string& name);
    const std::vector<EntryRecord>& Directory() const { return directory; }
    int32_t EntryCount() const { return entryCount; }
    int FoundIndex() const { return foundIndex; }

    void AddLasFile(const std::string& lasPath, const std::string& archivePath);
    bool ContainsEntry(const std::string& archivePath, const std::string& lasPath);
    static std::string NextPartName(const std::string& archivePath);

    // outputFolder is empty (current folder) or ends with a path separator.
    void ExtractEntry(const std::string& archivePath, const std::string& entryName,
                      const std::string& outputFolder);
    void ExtractAll(const std::string& archivePath);

    void DeleteEntry(const std::string& archivePath, const std::string& entryName);

    // Stop requests from another thread: the running add or extraction
    // unwinds at the engine's next check and the archive is restored.
    void AbortCompression();
    void AbortDecompression();

    CPointCodec& Engine() { return engine; }

    // Percent of the data moved by a running DeleteEntry.
    std::atomic<int> DeleteProgress{0};

private:
    std::vector<EntryRecord> directory;
    int32_t entryCount = 0;
    int foundIndex = -1;
    std::string currentName;
    std::string outputPath;
    CPointCodec engine;
    CLasFile lasFile;
};
