#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "engine/ProcessorCode.h"
#include "las/LasException.h"

namespace testsupport {

// Folder of the real LAS files: $VELMORA_LASDATA, else the build's default.
// Empty when it does not exist.
std::string CorpusDir();
// True when a missing corpus must fail the run instead of skipping.
bool CorpusRequired();
// Every *.las file of the corpus, sorted by name.
std::vector<std::filesystem::path> CorpusFiles();
// Those and every *.las file of its beyond/ folder (LAS 1.3/1.4, formats
// 4-10, extra bytes, EVLRs, odd headers), the folder's own first.
std::vector<std::filesystem::path> EveryCorpusFile();

std::vector<uint8_t> ReadAll(const std::filesystem::path& path);
void WriteAll(const std::filesystem::path& path, const std::vector<uint8_t>& bytes);

// The message of the CLasException f throws, or "" when it throws none.
template <class F>
std::string MessageOf(F&& f) {
    try {
        f();
    } catch (const CLasException& e) {
        return e.Message();
    }
    return "";
}

// A fresh folder below the system's temporary folder, removed with its
// contents when the object goes.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& Path() const { return path_; }
    std::string File(const std::string& name) const { return (path_ / name).string(); }

private:
    std::filesystem::path path_;
};

// Mixes of the versions of the hot loops this processor runs, for tests
// that check that every version writes and reads the same bytes: each
// version of the predictors' loops with each version of the byte-stream
// encoder's (EveryEncodingCode) or decoder's (EveryDecodingCode), the
// other coder's as detected; the plain versions first.
std::vector<ProcessorCode> EveryEncodingCode();
std::vector<ProcessorCode> EveryDecodingCode();
// One mix a level, from ProcessorCode::Plain() up to ProcessorCode::Detected():
// mix i takes each loop's version i, or its last where it has fewer.
std::vector<ProcessorCode> ProcessorCodeLevels();

}  // namespace testsupport

// Declares `var` as the corpus folder, or skips the test with a visible
// message (fails instead when VELMORA_REQUIRE_CORPUS=1).
#define VELMORA_REQUIRE_CORPUS(var)                                                        \
    const std::string var = testsupport::CorpusDir();                                      \
    if (var.empty()) {                                                                     \
        if (testsupport::CorpusRequired()) {                                               \
            FAIL() << "LAS corpus not found (set VELMORA_LASDATA); required by "           \
                      "VELMORA_REQUIRE_CORPUS=1";                                          \
        }                                                                                  \
        GTEST_SKIP() << "LAS corpus not found (set VELMORA_LASDATA): skipping";            \
    }
