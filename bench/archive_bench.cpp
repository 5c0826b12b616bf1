// velmora-archive-bench: what a change of an archive costs beyond the coding
// of its data. Two figures, each the median of several runs:
//   replace_s   adding FILE.las to an archive that already holds it (so the
//               old entry is replaced), the whole operation;
//   small_ms    adding small LAS files one by one to one archive, per file.
// Usage: velmora-archive-bench FILE.las SMALL_DIR [--runs N] [--workdir DIR]
// SMALL_DIR's .las files are added under 100 distinct names, in turn; files
// that are refused are left out. Prints one "name value" line per figure.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "archive/VMRAFile.h"
#include "las/FileIo.h"
#include "las/LasException.h"

namespace fs = std::filesystem;

namespace {

double Seconds(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

// The small files that an archive takes, copied under 100 names.
std::vector<std::string> SmallFiles(const std::string& folder, const fs::path& work) {
    std::vector<fs::path> sources;
    for (const auto& e : fs::directory_iterator(folder)) {
        if (e.path().extension() == ".las" && e.file_size() < 1000000) sources.push_back(e.path());
    }
    std::sort(sources.begin(), sources.end());
    std::vector<fs::path> admitted;
    for (const auto& p : sources) {
        const std::string probe = (work / "probe.vmra").string();
        fs::remove(probe);
        try {
            VMRAFile archive;
            archive.AddLasFile(p.string(), probe);
            admitted.push_back(p);
        } catch (const CLasException&) {
        }
        fs::remove(probe);
    }
    std::vector<std::string> copies;
    const fs::path copyDir = work / "small";
    fs::create_directories(copyDir);
    for (std::size_t i = 0; i < 100 && !admitted.empty(); ++i) {
        const fs::path to = copyDir / ("tile" + std::to_string(i) + ".las");
        fs::copy_file(admitted[i % admitted.size()], to, fs::copy_options::overwrite_existing);
        copies.push_back(to.string());
    }
    return copies;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s FILE.las SMALL_DIR [--runs N] [--workdir DIR]\n", argv[0]);
        return 2;
    }
    const std::string las = argv[1];
    const std::string smallDir = argv[2];
    int runs = 5;
    fs::path work = fs::temp_directory_path() / "velmora-archive-bench";
    for (int i = 3; i + 1 < argc; i += 2) {
        const std::string opt = argv[i];
        if (opt == "--runs") runs = std::max(1, std::atoi(argv[i + 1]));
        if (opt == "--workdir") work = argv[i + 1];
    }
    fs::create_directories(work);
    try {
        const std::string vmra = (work / "replace.vmra").string();
        fs::remove(vmra);
        VMRAFile archive;
        archive.AddLasFile(las, vmra);
        std::vector<double> replace;
        for (int r = 0; r < runs + 1; ++r) {
            const auto t0 = std::chrono::steady_clock::now();
            archive.AddLasFile(las, vmra);
            if (r > 0) replace.push_back(Seconds(t0));  // the first one warms up
        }
        std::printf("replace_s %.3f\n", Median(replace));
        fs::remove(vmra);

        const auto files = SmallFiles(smallDir, work);
        std::vector<double> perFile;
        for (int r = 0; r < runs; ++r) {
            const std::string small = (work / "small.vmra").string();
            fs::remove(small);
            const auto t0 = std::chrono::steady_clock::now();
            for (const auto& f : files) archive.AddLasFile(f, small);
            perFile.push_back(Seconds(t0) * 1000 / static_cast<double>(files.size()));
            fs::remove(small);
        }
        std::printf("small_files %zu\n", files.size());
        std::printf("small_ms %.2f\n", Median(perFile));
    } catch (const CLasException& e) {
        std::fprintf(stderr, "velmora-archive-bench: %s\n", e.Message());
        return 1;
    }
    fs::remove_all(work);
    return 0;
}
