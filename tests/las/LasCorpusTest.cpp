#include <gtest/gtest.h>

#include <map>
#include <string>

#include "LasCopy.h"
#include "TestSupport.h"
#include "las/FileIo.h"
#include "las/LasFacts.h"
#include "las/LasException.h"
#include "las/LasMessages.h"

using testsupport::ReadAll;
using testsupport::TempDir;

namespace {

// Files of the corpus known to be refused, with the reason.
const std::map<std::string, std::string>& KnownRefusals() {
    static const std::map<std::string, std::string> m = {
        {"garbage_vlr_count.las", lasmsg::kTruncated.text},
        {"no_points.las", lasmsg::kZeroPoints.text},
        {"v14_format6.las", lasmsg::kVersion.text},
        {"vegetation_v13.las", lasmsg::kVersion.text},
    };
    return m;
}

// Every file of the corpus, present and future: admitted files come back
// byte for byte through windows of 1,000 points; refused ones say why.
TEST(LasCorpus, EveryAdmittedFileComesBackIdentical) {
    VELMORA_REQUIRE_CORPUS(corpus);
    TempDir dir;
    int admitted = 0;
    for (const auto& path : testsupport::CorpusFiles()) {
        const std::string name = path.filename().string();
        const std::string out = dir.File("copy.las");
        try {
            CopyLasThroughWindows(path.string(), out, 1000);
        } catch (const CLasException& e) {
            EXPECT_TRUE(e.canContinue) << name << ": " << e.Message();
            const auto it = KnownRefusals().find(name);
            if (it != KnownRefusals().end()) {
                EXPECT_EQ(e.Message(), it->second) << name;
            } else {
                ADD_FAILURE() << name << " refused: " << e.Message();
            }
            continue;
        }
        EXPECT_EQ(KnownRefusals().count(name), 0u) << name << " should have been refused";
        EXPECT_EQ(ReadAll(path), ReadAll(out)) << name;
        ++admitted;
    }
    EXPECT_GE(admitted, 20);
}

}  // namespace

// The unit of x and y as a file's coordinate system names it: a WKT's own
// (not its geographic part's degrees), the GeoTIFF keys' (a geographic
// system's degrees), or none.
TEST(LasCorpus, TheCoordinateSystemsUnit) {
    VELMORA_REQUIRE_CORPUS(corpus);
    const std::map<std::string, std::string> expected = {
        {"autzen_trim.las", "foot"},
        {"beyond/v14_format6_evlr.las", "US survey foot"},
        {"epsg_4326.las", "degree"},
        {"100_points.las", ""},
    };
    for (const auto& [name, unit] : expected) {
        EXPECT_EQ(ReadLasFileFacts(corpus + "/" + name).linearUnit, unit) << name;
    }
}
