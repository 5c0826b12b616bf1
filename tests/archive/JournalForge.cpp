#include "JournalForge.h"

#include <sys/stat.h>
#include <xxhash.h>

#include <stdexcept>

#include "TestSupport.h"

namespace journalforge {

namespace {

void Put64(Bytes& b, std::size_t at, uint64_t v) {
    for (int i = 0; i < 8; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}
void Put32(Bytes& b, std::size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}
void PutText(Bytes& b, std::size_t at, const char* text) {
    for (std::size_t i = 0; text[i]; ++i) b[at + i] = static_cast<uint8_t>(text[i]);
}
uint64_t Hash(const uint8_t* data, std::size_t n) { return XXH3_64bits(data, n); }

// The archive's directory and count, as its last bytes say.
Bytes DirectoryOf(const Bytes& archive) {
    const std::size_t n = archive[archive.size() - 4] | archive[archive.size() - 3] << 8 |
                          archive[archive.size() - 2] << 16 | archive[archive.size() - 1] << 24;
    return Bytes(archive.end() - static_cast<std::ptrdiff_t>(n * 268 + 4), archive.end());
}

void Plant(const std::string& journalPath, Bytes journal, const Bytes& archive) {
    const Bytes directory = DirectoryOf(archive);
    const Bytes done = EncodeCompletion(archive.size() - directory.size(), directory);
    journal.insert(journal.end(), done.begin(), done.end());
    testsupport::WriteAll(journalPath, journal);
}

}  // namespace

Bytes Encode(const Fields& f, const Bytes& saved) {
    Bytes b(128, 0);
    PutText(b, 0, "VMRA-JNL");
    Put32(b, 8, 2);
    Put32(b, 12, f.created ? 1 : 0);
    Put64(b, 16, f.device);
    Put64(b, 24, f.inode);
    Put32(b, 32, f.owner);
    Put64(b, 40, f.restorePosition);
    Put64(b, 48, f.originalLength);
    Put64(b, 56, f.identityHash);
    Put64(b, 120, Hash(b.data(), 120));
    b.insert(b.end(), saved.begin(), saved.end());
    Bytes tail(16, 0);
    Put64(tail, 0, Hash(saved.data(), saved.size()));
    PutText(tail, 8, "VMRA-END");
    b.insert(b.end(), tail.begin(), tail.end());
    return b;
}

Bytes EncodeCompletion(uint64_t directoryStart, const Bytes& directory) {
    Bytes b(40, 0);
    PutText(b, 0, "VMRA-DON");
    Put64(b, 8, directoryStart + directory.size());
    Put64(b, 16, directoryStart);
    Put64(b, 24, Hash(directory.data(), directory.size()));
    Put64(b, 32, Hash(b.data(), 32));
    return b;
}

uint64_t IdentityHash(const Bytes& archive, uint64_t restorePosition) {
    constexpr uint64_t kMiB = 1 << 20;
    if (restorePosition <= 4 * kMiB) return Hash(archive.data(), restorePosition);
    Bytes sample(archive.begin(), archive.begin() + kMiB);
    const uint64_t step = (restorePosition - 2 * kMiB - 4096) / 63;
    for (uint64_t i = 0; i < 64; ++i) {
        const auto from = archive.begin() + static_cast<std::ptrdiff_t>(kMiB + i * step);
        sample.insert(sample.end(), from, from + 4096);
    }
    const auto last = archive.begin() + static_cast<std::ptrdiff_t>(restorePosition - kMiB);
    sample.insert(sample.end(), last, last + kMiB);
    return Hash(sample.data(), sample.size());
}

Fields FieldsOf(const std::string& archivePath, uint64_t restorePosition, uint64_t originalLength) {
    struct stat st {};
    if (stat(archivePath.c_str(), &st) != 0) throw std::runtime_error("no archive at " + archivePath);
    const Bytes bytes = testsupport::ReadAll(archivePath);
    if (restorePosition > bytes.size()) throw std::runtime_error("restore position out of reach");
    Fields f;
    f.device = st.st_dev;
    f.inode = st.st_ino;
    f.owner = st.st_uid;
    f.restorePosition = restorePosition;
    f.originalLength = originalLength;
    f.identityHash = IdentityHash(bytes, restorePosition);
    return f;
}

void PlantCreatedJournal(const std::string& archivePath, const std::string& journalPath) {
    Fields f = FieldsOf(archivePath, 0, 0);
    f.created = true;
    Plant(journalPath, Encode(f, {}), testsupport::ReadAll(archivePath));
}

void PlantJournalOfOther(const std::string& otherArchive, const std::string& archivePath,
                         const std::string& journalPath, uint64_t restorePosition) {
    const Bytes other = testsupport::ReadAll(otherArchive);
    const Fields f = FieldsOf(archivePath, restorePosition, other.size());
    const Bytes saved(other.begin() + static_cast<std::ptrdiff_t>(restorePosition), other.end());
    Plant(journalPath, Encode(f, saved), testsupport::ReadAll(archivePath));
}

}  // namespace journalforge
