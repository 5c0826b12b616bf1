// The files the real executable extracts: the permissions the user's umask
// gives, and a replaced file's own permissions and owner.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include "ArchiveTestSupport.h"
#include "ExeRunner.h"
#include "TestSupport.h"
#include "archive/VMRAFile.h"

using archtest::FolderContents;
using exetest::ExeResult;
using exetest::Velmora;
using testsupport::ReadAll;
using testsupport::TempDir;
using testsupport::WriteAll;

namespace {

mode_t ModeOf(const std::string& path) {
    struct stat st {};
    EXPECT_EQ(lstat(path.c_str(), &st), 0) << path;
    return st.st_mode & 07777;
}

// Runs velmora with the given umask (the child inherits it).
ExeResult VelmoraWithUmask(mode_t mask, const std::string& cwd, const std::vector<std::string>& args) {
    const mode_t old = umask(mask);
    ExeResult r = Velmora(cwd, args);
    umask(old);
    return r;
}

// A raw and a coded entry: both ways of writing a file.
struct TwoEntries {
    TempDir dir;
    std::string raw = archtest::GenerateLas(dir, "raw.las", 300, 1, 1);
    std::string coded = archtest::GenerateLas(dir, "coded.las", 2000, 3, 2);
    std::string vmra = dir.File("x.vmra");
    TwoEntries() {
        VMRAFile archive;
        archive.AddLasFile(raw, vmra);
        archive.AddLasFile(coded, vmra);
    }
};

TEST(ExtractedFiles, NewFilesGetTheModeTheUmaskGives) {
    TwoEntries a;
    for (const mode_t mask : {mode_t{022}, mode_t{077}, mode_t{002}}) {
        TempDir out;
        const ExeResult r = VelmoraWithUmask(mask, out.Path().string(), {"-d", a.vmra});
        ASSERT_EQ(r.status, 0) << r.err;
        for (const char* name : {"raw.las", "coded.las"}) {
            EXPECT_EQ(ModeOf(out.File(name)), 0666 & ~mask) << name << " under umask " << std::oct << mask;
        }
        EXPECT_EQ(ReadAll(out.File("coded.las")), ReadAll(a.coded));
    }
}

TEST(ExtractedFiles, AReplacedFileKeepsItsPermissionsButNeverSetIdBits) {
    TwoEntries a;
    TempDir out;
    const struct {
        const char* name;
        mode_t mode;
        mode_t expected;
    } cases[] = {{"raw.las", 0640, 0640}, {"coded.las", 04755, 0755}};
    for (const auto& c : cases) {
        WriteAll(out.File(c.name), {'o', 'l', 'd'});
        ASSERT_EQ(chmod(out.File(c.name).c_str(), c.mode), 0);
    }
    const bool root = geteuid() == 0;
    // Root hands a replaced file back to its owner.
    if (root) {
        ASSERT_EQ(chown(out.File("raw.las").c_str(), 4321, 4322), 0);
    }
    const ExeResult r = VelmoraWithUmask(077, out.Path().string(), {"-d", a.vmra});
    ASSERT_EQ(r.status, 0) << r.err;
    for (const auto& c : cases) EXPECT_EQ(ModeOf(out.File(c.name)), c.expected) << c.name;
    EXPECT_EQ(ReadAll(out.File("raw.las")), ReadAll(a.raw));
    EXPECT_EQ(ReadAll(out.File("coded.las")), ReadAll(a.coded));
    EXPECT_EQ(FolderContents(out.Path().string()), (std::vector<std::string>{"coded.las", "raw.las"}));
    if (root) {
        struct stat st {};
        ASSERT_EQ(stat(out.File("raw.las").c_str(), &st), 0);
        EXPECT_EQ(st.st_uid, 4321u);
        EXPECT_EQ(st.st_gid, 4322u);
    }
}

// A link in the output folder under an entry's name is replaced, never
// written through: the file it points to stays as it was.
TEST(ExtractedFiles, ALinkUnderTheEntrysNameIsReplacedNotFollowed) {
    TwoEntries a;
    TempDir out, elsewhere;
    WriteAll(elsewhere.File("target"), {'k', 'e', 'e', 'p'});
    ASSERT_EQ(chmod(elsewhere.File("target").c_str(), 0600), 0);
    ASSERT_EQ(symlink(elsewhere.File("target").c_str(), out.File("raw.las").c_str()), 0);
    const ExeResult r = VelmoraWithUmask(022, out.Path().string(), {"-d", a.vmra});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(ReadAll(elsewhere.File("target")), (archtest::Bytes{'k', 'e', 'e', 'p'}));
    EXPECT_EQ(ModeOf(out.File("raw.las")), 0644u) << "a regular file, with the umask's mode";
    EXPECT_EQ(ReadAll(out.File("raw.las")), ReadAll(a.raw));
    EXPECT_EQ(ModeOf(elsewhere.File("target")), 0600u);
}

}  // namespace
