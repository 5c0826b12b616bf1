// coder-micro: nanoseconds per symbol of the byte-stream coder on skewed
// data: the thread's CPU time, best of several runs (little disturbed by a
// busy machine).
#include <time.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "engine/ByteStreamCoder.h"
#include "engine/ProcessorCode.h"

namespace {
struct CpuClock {
    using time_point = double;
    static double now() {
        timespec ts{};
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
        return static_cast<double>(ts.tv_sec) * 1e9 + static_cast<double>(ts.tv_nsec);
    }
};
}  // namespace

int main() {
    std::vector<uint8_t> data(4000000);
    uint64_t s = 1;
    for (auto& b : data) {
        s = s * 6364136223846793005ull + 1442695040888963407ull;
        const unsigned r = static_cast<unsigned>(s >> 33) % 1000;
        b = static_cast<uint8_t>(r < 500 ? 0 : r < 750 ? 1 : r < 880 ? 2 : r < 950 ? 3 : (s >> 50) % 40);
    }
    const ProcessorCode& detected = ProcessorCode::Detected();
    std::vector<uint8_t> coded, back(data.size());
    double bestEnc = 1e9, bestDec = 1e9;
    for (int run = 0; run < 7; ++run) {
        coded.clear();
        auto t0 = CpuClock::now();
        bytestream::EncodeByteStream(data.data(), data.size(), coded, detected.encoder);
        auto t1 = CpuClock::now();
        bytestream::DecodeByteStreamAt(coded.data(), coded.size(), 0, back.data(), back.size(), detected.decoder);
        auto t2 = CpuClock::now();
        bestEnc = std::min(bestEnc, (t1 - t0) / data.size());
        bestDec = std::min(bestDec, (t2 - t1) / data.size());
    }
    // Streams decoded side by side, 1 to 8 at a time: the same symbols cut
    // into that many streams, laid one after another.
    for (std::size_t lanes : {1, 2, 3, 4, 6, 8}) {
        const std::size_t part = data.size() / lanes;
        std::vector<uint8_t> all;
        std::vector<bytestream::DecodeRequest> req(lanes);
        std::vector<std::vector<uint8_t>> outs(lanes, std::vector<uint8_t>(part));
        for (std::size_t l = 0; l < lanes; ++l) {
            const std::size_t at = all.size();
            bytestream::EncodeByteStream(data.data() + l * part, part, all, detected.encoder);
            req[l] = {at, outs[l].data(), part};
        }
        double best = 1e9;
        for (int run = 0; run < 15; ++run) {
            const double t0 = CpuClock::now();
            bytestream::DecodeByteStreamsAt(all.data(), all.size(), req.data(), lanes, detected.decoder);
            best = std::min(best, (CpuClock::now() - t0) / (part * lanes));
        }
        bool same = true;
        for (std::size_t l = 0; l < lanes; ++l) {
            same = same && !req[l].failed && std::equal(outs[l].begin(), outs[l].end(), data.begin() + l * part);
        }
        std::printf("decode_%zu_lanes_ns_per_symbol %.2f%s\n", lanes, best, same ? "" : " (WRONG)");
    }
    // Streams coded side by side, 1 to 8 at a time: the same symbols cut
    // into that many streams; with each version of the encoder's loops the
    // processor runs (the bytes of all compared).
    bool versionsSame = true;
    for (std::size_t lanes : {1, 2, 3, 4, 6, 8}) {
        const std::size_t part = data.size() / lanes;
        std::vector<uint8_t> firstBytes;
        for (const bytestream::EncoderLoops& loops : bytestream::EncoderLoops::Available()) {
            std::vector<CByteBuffer> outs(lanes);
            std::vector<bytestream::EncodeRequest> req(lanes);
            double best = 1e9;
            for (int run = 0; run < 7; ++run) {
                for (std::size_t l = 0; l < lanes; ++l) {
                    outs[l].Clear();
                    req[l] = {data.data() + l * part, part, &outs[l], nullptr};
                }
                const double t0 = CpuClock::now();
                bytestream::EncodeByteStreams(req.data(), lanes, loops);
                best = std::min(best, (CpuClock::now() - t0) / (part * lanes));
            }
            std::vector<uint8_t> bytes;
            for (const auto& o : outs) bytes.insert(bytes.end(), o.Data(), o.Data() + o.Size());
            if (firstBytes.empty()) {
                firstBytes = bytes;
            } else {
                versionsSame = versionsSame && bytes == firstBytes;
            }
            std::string name = loops.name;
            for (char& ch : name) {
                if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
            }
            std::printf("encode_%zu_lanes_%s_ns_per_symbol %.2f\n", lanes, name.c_str(), best);
        }
    }
    std::printf("encoder_versions_identical %d\n", versionsSame ? 1 : 0);
    std::printf("encode_ns_per_symbol %.2f\ndecode_ns_per_symbol %.2f\nbits_per_symbol %.3f\nidentical %d\n",
                bestEnc, bestDec, 8.0 * coded.size() / data.size(), back == data ? 1 : 0);
    return back == data && versionsSame ? 0 : 1;
}
