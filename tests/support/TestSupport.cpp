#include "TestSupport.h"

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
    // Read at once, not a character at a time: unoptimised, as in the
    // sanitizers' build, that took up to half a test's time.
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    const std::streamoff size = in ? std::streamoff(in.tellg()) : -1;
    if (size < 0) return {};
    std::vector<uint8_t> bytes(static_cast<std::size_t>(size));
    in.seekg(0);
    in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return bytes;
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

std::vector<ProcessorCode> EveryEncodingCode() {
    std::vector<ProcessorCode> all;
    for (const coords::Kernels& k : coords::Kernels::Available()) {
        for (const bytestream::EncoderLoops& e : bytestream::EncoderLoops::Available()) {
            all.push_back({k, e, ProcessorCode::Detected().decoder});
        }
    }
    return all;
}

std::vector<ProcessorCode> EveryDecodingCode() {
    std::vector<ProcessorCode> all;
    for (const coords::Kernels& k : coords::Kernels::Available()) {
        for (const bytestream::DecoderLoops& d : bytestream::DecoderLoops::Available()) {
            all.push_back({k, ProcessorCode::Detected().encoder, d});
        }
    }
    return all;
}

std::vector<ProcessorCode> ProcessorCodeLevels() {
    const auto kernels = coords::Kernels::Available();
    const auto encoders = bytestream::EncoderLoops::Available();
    const auto decoders = bytestream::DecoderLoops::Available();
    const std::size_t levels = std::max({kernels.size(), encoders.size(), decoders.size()});
    std::vector<ProcessorCode> all;
    for (std::size_t i = 0; i < levels; ++i) {
        all.push_back({kernels[std::min(i, kernels.size() - 1)], encoders[std::min(i, encoders.size() - 1)],
                       decoders[std::min(i, decoders.size() - 1)]});
    }
    return all;
}

}  // namespace testsupport
