#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "ArchiveTestSupport.h"
#include "TestSupport.h"
#include "archive/ExtractTarget.h"
#include "las/FileIo.h"

using archtest::Bytes;
using archtest::FolderContents;
using testsupport::ReadAll;
using testsupport::TempDir;

namespace {

const Bytes kNew = {'n', 'e', 'w'};

void WriteThrough(const CExtractTarget& target, const Bytes& bytes) {
    CFile f(target.WritePath(), "wb");
    ASSERT_TRUE(f.IsOpen()) << target.WritePath();
    ASSERT_TRUE(f.Write(bytes.data(), bytes.size()));
}

mode_t ModeOf(const std::string& path) {
    struct stat st {};
    EXPECT_EQ(lstat(path.c_str(), &st), 0) << path;
    EXPECT_TRUE(S_ISREG(st.st_mode)) << path;
    return st.st_mode & 07777;
}

// A umask for the life of the object.
class Umask {
public:
    explicit Umask(mode_t mask) : old(umask(mask)) {}
    ~Umask() { umask(old); }

private:
    mode_t old;
};

// Targets made while it lives are named hidden files.
class WithoutUnnamedFiles {
public:
    WithoutUnnamedFiles() { CExtractTarget::ForceNamedFile(true); }
    ~WithoutUnnamedFiles() { CExtractTarget::ForceNamedFile(false); }
};

TEST(ExtractTarget, AFileHasNoNameUntilItIsCommittedAndNoneWhenItIsNot) {
    TempDir dir;
    const Umask mask(027);
    {
        CExtractTarget dropped(dir.File("a.las"));
        WriteThrough(dropped, kNew);
    }
    CExtractTarget target(dir.File("a.las"));
    EXPECT_EQ(target.WritePath().rfind("/proc/self/fd/", 0), 0u) << "this system has unnamed files";
    WriteThrough(target, kNew);
    EXPECT_EQ(ReadAll(target.WritePath()), kNew);
    EXPECT_TRUE(FolderContents(dir.Path().string()).empty());
    target.Commit();
    EXPECT_EQ(FolderContents(dir.Path().string()), std::vector<std::string>{"a.las"});
    EXPECT_EQ(ReadAll(dir.File("a.las")), kNew);
    EXPECT_EQ(ModeOf(dir.File("a.las")), 0640u);
}

TEST(ExtractTarget, WithoutUnnamedFilesAHiddenFileIsUsedWithTheUmasksModeAndRemovedAgain) {
    TempDir dir;
    const Umask mask(027);
    const WithoutUnnamedFiles named;
    {
        CExtractTarget dropped(dir.File("a.las"));
        const auto contents = FolderContents(dir.Path().string());
        ASSERT_EQ(contents.size(), 1u);
        EXPECT_EQ(contents[0].rfind(".velmora-", 0), 0u) << contents[0];
        EXPECT_EQ(dropped.WritePath(), dir.File(contents[0]));
        EXPECT_EQ(ModeOf(dropped.WritePath()), 0640u);
    }
    EXPECT_TRUE(FolderContents(dir.Path().string()).empty()) << "a target given up leaves nothing";
    // Into the current folder as well as into a named one.
    archtest::CurrentFolder here(dir.Path());
    CExtractTarget target("a.las");
    WriteThrough(target, kNew);
    target.Commit();
    EXPECT_EQ(FolderContents(dir.Path().string()), std::vector<std::string>{"a.las"});
    EXPECT_EQ(ReadAll(dir.File("a.las")), kNew);
    EXPECT_EQ(ModeOf(dir.File("a.las")), 0640u);
}

TEST(ExtractTarget, AReplacedFileLendsItsPermissionsEitherWay) {
    for (const bool unnamed : {true, false}) {
        CExtractTarget::ForceNamedFile(!unnamed);
        TempDir dir;
        testsupport::WriteAll(dir.File("a.las"), {'o', 'l', 'd'});
        ASSERT_EQ(chmod(dir.File("a.las").c_str(), 02604), 0);
        CExtractTarget target(dir.File("a.las"));
        WriteThrough(target, kNew);
        EXPECT_EQ(ReadAll(dir.File("a.las")), (Bytes{'o', 'l', 'd'})) << "replaced only when complete";
        target.Commit();
        EXPECT_EQ(FolderContents(dir.Path().string()), std::vector<std::string>{"a.las"}) << unnamed;
        EXPECT_EQ(ReadAll(dir.File("a.las")), kNew) << unnamed;
        EXPECT_EQ(ModeOf(dir.File("a.las")), 0604u) << unnamed;
    }
    CExtractTarget::ForceNamedFile(false);
}

// A umask that takes away the owner's own write permission: the file is
// still written (it is opened again by path), then gets the umask's mode.
// Root is not held back by permissions, so the check runs as nobody.
TEST(ExtractTarget, AUmaskWithoutTheOwnersWritePermissionStillGivesTheFile) {
    TempDir dir;
    const std::string folder = dir.File("out");
    ASSERT_EQ(mkdir(folder.c_str(), 0777), 0);
    ASSERT_EQ(chmod(dir.Path().c_str(), 0755), 0);
    ASSERT_EQ(chmod(folder.c_str(), 0777), 0);
    for (const bool unnamed : {true, false}) {
        const pid_t pid = fork();
        if (pid == 0) {
            if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(3);
            umask(0277);
            CExtractTarget::ForceNamedFile(!unnamed);
            try {
                CExtractTarget target(folder + "/a.las");
                CFile f(target.WritePath(), "wb");
                if (!f.IsOpen() || !f.Write(kNew.data(), kNew.size()) || !f.Close()) _exit(2);
                target.Commit();
            } catch (...) {
                _exit(1);
            }
            _exit(0);
        }
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), 0) << (unnamed ? "unnamed" : "named");
        EXPECT_EQ(ReadAll(folder + "/a.las"), kNew);
        EXPECT_EQ(ModeOf(folder + "/a.las"), 0400u);
        ASSERT_EQ(unlink((folder + "/a.las").c_str()), 0);
    }
}

}  // namespace
