#include <gtest/gtest.h>

#include "EngineRoundTrip.h"
#include "LasGenerator.h"
#include "TestSupport.h"
#include "engine/PointCodec.h"
#include "las/FileIo.h"
#include "las/LasException.h"

using testsupport::ReadAll;
using testsupport::TempDir;

namespace {

TEST(EngineCorpus, EveryAdmittedFileComesBackIdentical) {
    VELMORA_REQUIRE_CORPUS(corpus);
    TempDir dir;
    CPointCodec codec;
    int coded = 0;
    for (const auto& path : testsupport::CorpusFiles()) {
        const std::string name = path.filename().string();
        int64_t written = 0;
        try {
            written = testsupport::CompressToFile(codec, path.string(), dir.File("entry"));
        } catch (const CLasException& e) {
            EXPECT_TRUE(e.canContinue) << name << " refused with " << e.Message();
            continue;
        }
        EXPECT_EQ(written, FileSizeOf(dir.File("entry"))) << name;
        coded += codec.rawMode ? 0 : 1;
        testsupport::DecompressFromFile(codec, dir.File("entry"), dir.File("back.las"));
        EXPECT_EQ(ReadAll(path), ReadAll(dir.File("back.las"))) << name;
    }
    EXPECT_GE(coded, 8);
}

}  // namespace
