#include "ArchiveTestSupport.h"

#include <algorithm>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <stdexcept>
#include <unistd.h>

#include "archive/VMRAFile.h"
#include "las/FileIo.h"

namespace archtest {

void PutU32(Bytes& bytes, std::size_t at, uint32_t v) {
    for (int k = 0; k < 4; ++k) bytes[at + k] = static_cast<uint8_t>(v >> (8 * k));
}

uint32_t GetU32(const Bytes& bytes, std::size_t at) {
    uint32_t v = 0;
    for (int k = 3; k >= 0; --k) v = (v << 8) | bytes[at + k];
    return v;
}

Bytes BuildArchive(const std::vector<FakeEntry>& entries) {
    Bytes out = {0x1D, 0x2C, 0x3B, 0x4A};
    std::vector<uint32_t> offsets;
    for (const auto& e : entries) {
        offsets.push_back(static_cast<uint32_t>(out.size()));
        out.insert(out.end(), e.data.begin(), e.data.end());
    }
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const auto& e = entries[i];
        Bytes rec(268, 0);
        PutU32(rec, 0, offsets[i]);
        PutU32(rec, 4, static_cast<uint32_t>(e.storedSize >= 0 ? e.storedSize : e.data.size()));
        PutU32(rec, 8, e.uncompressedSize);
        std::memcpy(rec.data() + 12, e.name.data(), std::min<std::size_t>(e.name.size(), 256));
        out.insert(out.end(), rec.begin(), rec.end());
    }
    Bytes count(4);
    PutU32(count, 0, static_cast<uint32_t>(entries.size()));
    out.insert(out.end(), count.begin(), count.end());
    return out;
}

FakeEntry EntryOf(const std::string& lasPath) {
    testsupport::TempDir scratch;
    VMRAFile archive;
    archive.AddLasFile(lasPath, scratch.File("one.vmra"));
    const Bytes image = testsupport::ReadAll(scratch.File("one.vmra"));
    const std::size_t record = RecordAt(image, 0);
    FakeEntry e;
    e.data.assign(image.begin() + 4, image.begin() + static_cast<std::ptrdiff_t>(record));
    e.name.assign(reinterpret_cast<const char*>(image.data() + record + 12), 256);
    e.uncompressedSize = GetU32(image, record + 8);
    return e;
}

void SetEntryName(Bytes& archive, std::size_t i, const std::string& name) {
    uint8_t* field = archive.data() + RecordAt(archive, i) + 12;
    std::fill_n(field, 256, 0);
    std::memcpy(field, name.data(), std::min<std::size_t>(name.size(), 256));
}

int32_t CountOf(const Bytes& archive) {
    return static_cast<int32_t>(GetU32(archive, archive.size() - 4));
}

std::size_t RecordAt(const Bytes& archive, std::size_t i) {
    return archive.size() - 4 - 268 * static_cast<std::size_t>(CountOf(archive)) + 268 * i;
}

void MakeSparseFile(const std::string& path, int64_t size, const Bytes& head, const Bytes& tail) {
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0644);
    if (fd < 0) throw std::runtime_error("cannot create " + path);
    bool ok = ::ftruncate(fd, size) == 0;
    ok = ok && (head.empty() || ::pwrite(fd, head.data(), head.size(), 0) ==
                                    static_cast<ssize_t>(head.size()));
    ok = ok && (tail.empty() || ::pwrite(fd, tail.data(), tail.size(),
                                         size - static_cast<int64_t>(tail.size())) ==
                                    static_cast<ssize_t>(tail.size()));
    ::close(fd);
    if (!ok) throw std::runtime_error("cannot write " + path);
}

std::vector<std::string> FolderContents(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(folder)) {
        names.push_back(e.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

Bytes Filler(std::size_t n, uint8_t seed) {
    Bytes b(n);
    uint32_t s = seed * 2654435761u + 1;
    for (auto& x : b) {
        s = s * 1664525u + 1013904223u;
        x = static_cast<uint8_t>(s >> 24);
    }
    return b;
}

std::string GenerateLas(const testsupport::TempDir& dir, const std::string& name,
                        const LasGenOptions& options) {
    const std::string path = dir.File(name);
    if (!GenerateLasFile(path, options)) throw std::runtime_error("cannot write " + path);
    return path;
}

std::string GenerateLas(const testsupport::TempDir& dir, const std::string& name, uint64_t points,
                        int format, uint64_t seed) {
    LasGenOptions o;
    o.points = points;
    o.format = format;
    o.seed = seed;
    return GenerateLas(dir, name, o);
}

std::vector<std::string> EntryNames(const std::string& archivePath) {
    CFile f(archivePath, "rb");
    VMRAFile archive;
    archive.ReadDirectory(f);
    std::vector<std::string> names;
    for (const auto& r : archive.Directory()) names.push_back(r.Name());
    return names;
}

CurrentFolder::CurrentFolder(const std::filesystem::path& p) : old_(std::filesystem::current_path()) {
    std::filesystem::current_path(p);
}

CurrentFolder::~CurrentFolder() { std::filesystem::current_path(old_); }

}  // namespace archtest
