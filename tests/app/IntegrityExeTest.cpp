// What the command line does with inputs it must not trust.
#include <gtest/gtest.h>

#include <chrono>
#include <sys/stat.h>

#include "ArchiveTestSupport.h"
#include "ExeRunner.h"
#include "ExeSpawn.h"
#include "LasGenerator.h"
#include "TestSupport.h"
#include "app/CommandLine.h"
#include "archive/ArchiveMessages.h"
#include "las/FileIo.h"

using exetest::ExeResult;
using exetest::Velmora;
using testsupport::ReadAll;
using testsupport::TempDir;
using testsupport::WriteAll;

namespace {

TEST(VelmoraUntrusted, PipesGivenAsFilesEndAtOnce) {
    TempDir dir;
    ASSERT_EQ(mkfifo(dir.File("fifo.vmra").c_str(), 0600), 0);
    ASSERT_EQ(mkfifo(dir.File("fifo.las").c_str(), 0600), 0);
    LasGenOptions o;
    o.points = 1200;
    ASSERT_TRUE(GenerateLasFile(dir.File("a.las"), o));
    for (const auto& args : {std::vector<std::string>{"-d", "fifo.vmra"},
                             std::vector<std::string>{"-c", "fifo.las", "x.vmra"},
                             std::vector<std::string>{"-c", "a.las", "fifo.vmra"}}) {
        exetest::Spawned p(dir.Path().string(), args);
        ExeResult r;
        EXPECT_TRUE(p.EndsWithin(1.0, r)) << args[1] << " still waits on the pipe";
        EXPECT_EQ(r.status, 255) << args[1];
        EXPECT_FALSE(r.err.empty()) << args[1];
    }
    EXPECT_FALSE(FileExists(dir.File("x.vmra")));
}

TEST(VelmoraUntrusted, AnArchiveWhoseDirectoryDoesNotHoldIsNamedAndNothingIsExtracted) {
    TempDir dir;
    LasGenOptions o;
    o.points = 1500;
    ASSERT_TRUE(GenerateLasFile(dir.File("a.las"), o));
    ASSERT_EQ(Velmora(dir.Path().string(), {"-c", "a.las", "x.vmra"}).status, 0);
    auto bytes = ReadAll(dir.File("x.vmra"));
    bytes.push_back(0);
    WriteAll(dir.File("x.vmra"), bytes);
    TempDir out;
    const ExeResult r = Velmora(out.Path().string(), {"-d", dir.File("x.vmra")});
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.err.rfind(dir.File("x.vmra") + ": " + archmsg::kCannotReadHeaders, 0), 0u) << r.err;
    EXPECT_TRUE(archtest::FolderContents(out.Path().string()).empty());
}

}  // namespace
