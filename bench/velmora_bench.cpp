// velmora-bench: speed and memory of one LAS file's compression (into a new
// archive) and decompression (the entry extracted into a folder), as whole
// operations on files, against zstd on the same file: once with the default
// threads on every core, once with one engine thread pinned to the first
// core (zstd pinned likewise). velmora and zstd take turns, run by run, and
// each ratio is the median of the ratios of neighbouring runs. With
// --against SMALL.las, a smaller file is compressed and extracted in turn
// with the file too, for how the time grows with the size, measured the
// same way. With --extended the file is stored in the extended entry kind
// even where the classic kind could carry it. Prints one "name value" line
// per figure.
#include <sched.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <spawn.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "archive/VMRAFile.h"
#include "las/FileIo.h"
#include "las/LasException.h"
#include "las/LasFile.h"
#include "las/LasLayout.h"
#include "las/LasMessages.h"

extern char** environ;

namespace {

struct Run {
    double seconds = 0;
    double cpuSeconds = 0;
    long peakRssKb = 0;
};

double CpuSeconds(const struct rusage& ru) {
    auto s = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec * 1e-6; };
    return s(ru.ru_utime) + s(ru.ru_stime);
}

// The calling process (and what it starts) runs on the first core only.
void PinToFirstCore() {
    cpu_set_t set;
    CPU_ZERO(&set);
    CPU_SET(0, &set);
    if (sched_setaffinity(0, sizeof set, &set) != 0) {
        std::perror("velmora-bench: sched_setaffinity");
        std::exit(1);
    }
}

// Runs job in a child process, so each run's peak resident memory and CPU
// time are its own; the child reports its wall time through a pipe.
Run InChild(const std::function<void()>& job, bool pinned) {
    int fds[2];
    if (pipe(fds) != 0) std::exit(1);
    const pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        if (pinned) PinToFirstCore();
        int status = 0;
        const auto t0 = std::chrono::steady_clock::now();
        try {
            job();
        } catch (const CLasException& e) {
            std::fprintf(stderr, "velmora-bench: %s\n", e.Message());
            status = 1;
        }
        const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        if (write(fds[1], &s, sizeof s) != sizeof s) status = 1;
        _exit(status);
    }
    close(fds[1]);
    Run r;
    if (read(fds[0], &r.seconds, sizeof r.seconds) != sizeof r.seconds) r.seconds = -1;
    close(fds[0]);
    int status = 0;
    struct rusage ru {};
    wait4(pid, &status, 0, &ru);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::fprintf(stderr, "velmora-bench: a run failed\n");
        std::exit(1);
    }
    r.peakRssKb = ru.ru_maxrss;
    r.cpuSeconds = CpuSeconds(ru);
    return r;
}

double RunCommand(std::vector<std::string> args, bool pinned) {
    if (pinned) args.insert(args.begin(), {"taskset", "-c", "0"});
    std::vector<char*> argv;
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    const auto t0 = std::chrono::steady_clock::now();
    pid_t pid;
    if (posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) return -1;
    int status = 0;
    waitpid(pid, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return -1;
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

double LoadAverage() {
    double load[1] = {0};
    return getloadavg(load, 1) == 1 ? load[0] : -1;
}

// Compression is adding the LAS file to a new archive; decompression is
// extracting that entry into a folder: the whole operations a user runs.
bool extendedForAll = false;

void Compress(const std::string& las, const std::string& archive, int threads) {
    VMRAFile vmra;
    vmra.extendedForAll = extendedForAll;
    vmra.Engine().SetThreadCount(threads);
    vmra.AddLasFile(las, archive);
}

void Decompress(const std::string& archive, const std::string& entryName, const std::string& folder,
                int threads) {
    VMRAFile vmra;
    vmra.Engine().SetThreadCount(threads);
    vmra.ExtractEntry(archive, entryName, folder);
}

bool SameFiles(const std::string& a, const std::string& b) {
    std::ifstream fa(a, std::ios::binary), fb(b, std::ios::binary);
    return std::equal(std::istreambuf_iterator<char>(fa), {}, std::istreambuf_iterator<char>(fb), {});
}

template <class T>
T Median(std::vector<T> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// Wall and CPU times of one kind of run, and the largest peak memory.
struct Series {
    std::vector<double> seconds, cpuSeconds;
    long rssKb = 0;

    void Add(const Run& r) {
        seconds.push_back(r.seconds);
        cpuSeconds.push_back(r.cpuSeconds);
        rssKb = std::max(rssKb, r.peakRssKb);
    }
};

// The median of a[i] / b[i]: each of velmora's runs against zstd's run
// next to it, so a machine that gets faster or slower during the bench
// moves both sides of every ratio alike.
double MedianRatio(const std::vector<double>& a, const std::vector<double>& b) {
    std::vector<double> r;
    for (std::size_t i = 0; i < a.size() && i < b.size(); ++i) r.push_back(a[i] / b[i]);
    return Median(r);
}

int Usage(const char* program) {
    std::fprintf(stderr, "usage: %s FILE.las [--runs N] [--workdir DIR] [--no-zstd] [--against SMALL.las] [--extended]\n",
                 program);
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    std::string las, small, work = "/tmp";
    int runs = 5;
    bool zstd = true;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--runs" && i + 1 < argc) runs = std::max(1, std::atoi(argv[++i]));
        else if (a == "--workdir" && i + 1 < argc) work = argv[++i];
        else if (a == "--no-zstd") zstd = false;
        else if (a == "--against" && i + 1 < argc) small = argv[++i];
        else if (a == "--extended") extendedForAll = true;
        else if (las.empty() && a[0] != '-') las = a;
        else {
            return Usage(argv[0]);
        }
    }
    if (las.empty()) {
        return Usage(argv[0]);
    }
    const std::string tag = std::to_string(getpid());
    const std::string entry = work + "/velmora-bench-" + tag + ".vmra";
    const std::string outFolder = work + "/velmora-bench-" + tag + "-out/";
    const std::string back = outFolder + FileNamePart(las);
    const std::string zst = work + "/velmora-bench-" + tag + ".zst";
    const std::string unz = work + "/velmora-bench-" + tag + ".unzst";
    const std::string smallEntry = work + "/velmora-bench-" + tag + "-small.vmra";
    const std::string smallFolder = work + "/velmora-bench-" + tag + "-small-out/";

    // Any version's count: LAS 1.4 keeps it in 64 bits.
    auto pointsOf = [](const std::string& file) -> uint64_t {
        CFile probe;
        uint8_t head[kLasLayoutBytes] = {};
        const int64_t size = FileSizeOf(file);
        const std::size_t n = static_cast<std::size_t>(std::min<int64_t>(size, sizeof head));
        try {
            if (size < 0 || !probe.Open(file, "rb") || !probe.ReadExact(head, n)) throw CLasException(lasmsg::kReadOpen);
            return ReadLasLayout(head, n, size).pointCount;
        } catch (const CLasException& e) {
            std::fprintf(stderr, "velmora-bench: %s: %s\n", file.c_str(), e.Message());
            std::exit(1);
        }
    };
    const uint64_t points = pointsOf(las);
    const int64_t lasBytes = FileSizeOf(las);
    mkdir(outFolder.c_str(), 0755);
    if (!small.empty()) mkdir(smallFolder.c_str(), 0755);

    std::printf("file %s\n", las.c_str());
    std::printf("points %llu\n", static_cast<unsigned long long>(points));
    std::printf("las_bytes %lld\n", static_cast<long long>(lasBytes));
    std::fflush(stdout);

    std::printf("load_average_before %.2f\n", LoadAverage());
    struct Mode {
        const char* suffix;      // of velmora's figures
        const char* zstdSuffix;  // of zstd's
        const char* ratioName;   // of the ratios
        int threads;
        bool pinned;
    } modes[] = {{"", "", "", 0, false}, {"_1thread", "_1core", "_1thread", 1, true}};
    const std::vector<std::string> zcmd = {"zstd", "-3", "-T1", "-q", "-f", las, "-o", zst};
    const std::vector<std::string> dcmd = {"zstd", "-d", "-q", "-f", zst, "-o", unz};
    for (const Mode& m : modes) {
        // Every run writes a file that is not there yet, as a user's run
        // does: removing the last run's result (a gigabyte for the large
        // file) is not timed, neither for velmora nor for zstd.
        auto compress = [&] {
            std::remove(entry.c_str());
            return InChild([&] { Compress(las, entry, m.threads); }, m.pinned);
        };
        auto decompress = [&] {
            std::remove(back.c_str());
            return InChild([&] { Decompress(entry, FileNamePart(las), outFolder, m.threads); }, m.pinned);
        };
        auto smallCompress = [&] {
            std::remove(smallEntry.c_str());
            return InChild([&] { Compress(small, smallEntry, m.threads); }, m.pinned);
        };
        auto smallDecompress = [&] {
            std::remove((smallFolder + FileNamePart(small)).c_str());
            return InChild([&] { Decompress(smallEntry, FileNamePart(small), smallFolder, m.threads); }, m.pinned);
        };
        auto zstdCompress = [&] {
            std::remove(zst.c_str());
            return RunCommand(zcmd, m.pinned);
        };
        auto zstdDecompress = [&] {
            std::remove(unz.c_str());
            return RunCommand(dcmd, m.pinned);
        };
        // A warm-up of each, then rounds of velmora and zstd taking turns.
        compress();
        decompress();
        if (!small.empty()) {
            smallCompress();
            smallDecompress();
        }
        if (zstd && (zstdCompress() < 0 || zstdDecompress() < 0)) {
            std::fprintf(stderr, "velmora-bench: zstd did not run (install zstd)\n");
            return 1;
        }
        Series c, d;
        std::vector<double> zc, zd, sc, sd;
        for (int i = 0; i < runs; ++i) {
            c.Add(compress());
            if (zstd) zc.push_back(zstdCompress());
            if (!small.empty()) sc.push_back(smallCompress().seconds);
            d.Add(decompress());
            if (zstd) zd.push_back(zstdDecompress());
            if (!small.empty()) sd.push_back(smallDecompress().seconds);
        }
        if (!SameFiles(las, back)) {
            std::fprintf(stderr, "velmora-bench: the decompressed file differs from the original\n");
            return 1;
        }
        if (m.threads == 0) {
            const int64_t entryBytes = FileSizeOf(entry);
            std::printf("archive_bytes %lld\n", static_cast<long long>(entryBytes));
            std::printf("archive_over_las %.4f\n", static_cast<double>(entryBytes) / static_cast<double>(lasBytes));
        }
        const double cs = Median(c.seconds), ds = Median(d.seconds);
        std::printf("velmora_compress%s_s %.3f\n", m.suffix, cs);
        std::printf("velmora_decompress%s_s %.3f\n", m.suffix, ds);
        std::printf("velmora_compress%s_cpu_s %.3f\n", m.suffix, Median(c.cpuSeconds));
        std::printf("velmora_decompress%s_cpu_s %.3f\n", m.suffix, Median(d.cpuSeconds));
        std::printf("velmora_compress%s_points_per_s %.0f\n", m.suffix, static_cast<double>(points) / cs);
        std::printf("velmora_decompress%s_points_per_s %.0f\n", m.suffix, static_cast<double>(points) / ds);
        std::printf("velmora_compress%s_peak_rss_mb %.1f\n", m.suffix, c.rssKb / 1024.0);
        std::printf("velmora_decompress%s_peak_rss_mb %.1f\n", m.suffix, d.rssKb / 1024.0);
        if (zstd) {
            if (std::find_if(zc.begin(), zc.end(), [](double t) { return t < 0; }) != zc.end() ||
                std::find_if(zd.begin(), zd.end(), [](double t) { return t < 0; }) != zd.end()) {
                std::fprintf(stderr, "velmora-bench: a zstd run failed\n");
                return 1;
            }
            std::printf("zstd_compress%s_s %.3f\n", m.zstdSuffix, Median(zc));
            std::printf("zstd_decompress%s_s %.3f\n", m.zstdSuffix, Median(zd));
            std::printf("compress%s_over_zstd%s %.3f\n", m.ratioName, m.zstdSuffix, MedianRatio(c.seconds, zc));
            std::printf("decompress%s_over_zstd%s %.3f\n", m.ratioName, m.zstdSuffix, MedianRatio(d.seconds, zd));
        }
        if (!small.empty()) {
            // This file's time over the small one's, run next to it, and
            // the ratio of their points that a linear growth would give.
            std::printf("points_over_small %.3f\n", static_cast<double>(points) / static_cast<double>(pointsOf(small)));
            std::printf("compress%s_growth_over_small %.3f\n", m.ratioName, MedianRatio(c.seconds, sc));
            std::printf("decompress%s_growth_over_small %.3f\n", m.ratioName, MedianRatio(d.seconds, sd));
        }
        std::fflush(stdout);
    }
    if (zstd) std::printf("zstd_bytes %lld\n", static_cast<long long>(FileSizeOf(zst)));
    std::printf("load_average_after %.2f\n", LoadAverage());
    for (const auto& f : {entry, back, zst, unz, smallEntry}) std::remove(f.c_str());
    if (!small.empty()) std::remove((smallFolder + FileNamePart(small)).c_str());
    rmdir(outFolder.c_str());
    rmdir(smallFolder.c_str());
    return 0;
}
