// What reading an entry's points through libvelmora costs: X, Y and Z alone,
// the scaled x, y and z, and every field, each the median of RUNS reads.
// Usage: velmora-lib-read ARCHIVE ENTRY [RUNS] [THREADS] [cpu]
#include <algorithm>
#include <chrono>
#include <ctime>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "velmora/velmora.hpp"

namespace {

// Wall time, or with cpu the process's processor time (all threads): on a
// machine other work shares, the one-thread figure that work does not blur.
double Seconds(const velmora::Archive& a, const std::string& entry, const std::vector<std::string>& fields,
               int threads, uint64_t& points, bool cpu) {
    const auto start = std::chrono::steady_clock::now();
    const std::clock_t startCpu = std::clock();
    velmora::PointReader r = a.Points(entry, fields, 0, threads);
    velmora::PointChunk chunk;
    points = 0;
    while (r.Next(chunk)) points += chunk.count;
    if (cpu) return static_cast<double>(std::clock() - startCpu) / CLOCKS_PER_SEC;
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s ARCHIVE ENTRY [RUNS] [THREADS]\n", argv[0]);
        return 2;
    }
    const int runs = argc > 3 ? std::atoi(argv[3]) : 5;
    const int threads = argc > 4 ? std::atoi(argv[4]) : 0;
    const bool cpu = argc > 5 && std::string(argv[5]) == "cpu";
    try {
        const velmora::Archive a = velmora::Archive::Open(argv[1]);
        const struct {
            const char* name;
            std::vector<std::string> fields;
        } reads[] = {{"read_XYZ_s", {"X", "Y", "Z"}}, {"read_xyz_scaled_s", {"x", "y", "z"}}, {"read_all_s", {}}};
        double all = 0, xyz = 0;
        for (const auto& read : reads) {
            std::vector<double> times;
            uint64_t points = 0;
            for (int i = 0; i < runs; ++i) times.push_back(Seconds(a, argv[2], read.fields, threads, points, cpu));
            std::sort(times.begin(), times.end());
            const double median = times[times.size() / 2];
            std::printf("%s %.3f (%llu points)\n", read.name, median, static_cast<unsigned long long>(points));
            if (read.fields.empty()) all = median;
            if (read.fields.size() == 3 && read.fields[0] == "X") xyz = median;
        }
        std::printf("read_XYZ_over_all %.2f\n", xyz / all);
    } catch (const velmora::Error& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
    return 0;
}
