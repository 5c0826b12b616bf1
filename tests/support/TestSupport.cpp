#include "TestSupport.h"

#include "engine/ByteStreamCore.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <unistd.h>

namespace fs = std::filesystem;

namespace testsupport {

std::string CorpusDir() {
    const char* env = std::getenv("VELMORA_LASDATA");
    const std::string dir = (env && *env) ? env : VELMORA_LASDATA_DEFAULT;
    std::error_code ec;
    return fs::is_directory(dir, ec) ? dir : std::string();
}

bool CorpusRequired() {
    const char* env = std::getenv("VELMORA_REQUIRE_CORPUS");
    return env && std::string(env) == "1";
}

namespace {

std::vector<fs::path> LasFilesIn(const fs::path& dir) {
    std::vector<fs::path> files;
    std::error_code ec;
    if (dir.empty() || !fs::is_directory(dir, ec)) return files;
    for (const auto& e : fs::directory_iterator(dir)) {
        std::string ext = e.path().extension().string();
        std::transform(ext.begin(), ext.end(), ext.begin(), ::tolower);
        if (e.is_regular_file() && ext == ".las") files.push_back(e.path());
    }
    std::sort(files.begin(), files.end());
    return files;
}

}  // namespace

std::vector<fs::path> CorpusFiles() { return LasFilesIn(CorpusDir()); }

std::vector<fs::path> EveryCorpusFile() {
    const std::string dir = CorpusDir();
    std::vector<fs::path> files = LasFilesIn(dir);
    if (dir.empty()) return files;
    const std::vector<fs::path> beyond = LasFilesIn(fs::path(dir) / "beyond");
    files.insert(files.end(), beyond.begin(), beyond.end());
    return files;
}

std::vector<uint8_t> ReadAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

void WriteAll(const fs::path& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

TempDir::TempDir() {
    static std::atomic<int> counter{0};
    const std::string name = "velmora-test-" + std::to_string(getpid()) + "-" +
                             std::to_string(counter++);
    path_ = fs::temp_directory_path() / name;
    fs::remove_all(path_);
    fs::create_directories(path_);
}

TempDir::~TempDir() {
    std::error_code ec;
    // Restore rights a test may have taken away, so removal succeeds.
    fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(path_, ec);
}

void ForEachEncoderWay(const std::function<void(const std::string&)>& f) {
    struct Restore {
        ~Restore() { bytestream::UseVectorEncoder(true); }
    } restore;
    bytestream::UseVectorEncoder(false);
    f("plain encoder");
    if (bytestream::VectorEncoderAvailable()) {
        bytestream::UseVectorEncoder(true);
        f("vector encoder");
    }
}

}  // namespace testsupport
