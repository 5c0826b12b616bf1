// A second user in a shared folder, and files planted beside an archive: the
// real executable must never delete, rewrite, leak or write through what
// someone else put there. The tests that need a second user run it as
// "nobody" and are skipped (saying so) when the test does not run as root.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

#include "ArchiveTestSupport.h"
#include "ExeRunner.h"
#include "JournalForge.h"
#include "TestSupport.h"
#include "archive/ArchiveMessages.h"
#include "las/FileIo.h"

using archtest::Bytes;
using archtest::EntryNames;
using exetest::ExeResult;
using exetest::RunOptions;
using exetest::Spawned;
using exetest::Velmora;
using testsupport::ReadAll;
using testsupport::TempDir;
using testsupport::WriteAll;

namespace {

constexpr int kNobody = 65534;

bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

RunOptions Nobody() {
    RunOptions o;
    o.uid = kNobody;
    o.gid = kNobody;
    return o;
}

RunOptions WithFault(const std::string& fault) {
    RunOptions o;
    o.environment.emplace_back("VELMORA_FAULT", fault);
    o.program = exetest::FaultsExePath();
    return o;
}

mode_t ModeOf(const std::string& path) {
    struct stat st {};
    return lstat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
}

// A folder every user may write in (no sticky bit, as a group's project
// folder), with three LAS files and an archive of two of them.
class SharedFolder : public ::testing::Test {
protected:
    void SetUp() override {
        std::filesystem::permissions(box.Path(), std::filesystem::perms::all);
        for (const char* n : {"a", "b", "c"}) {
            archtest::GenerateLas(box, std::string(n) + ".las", 1500 + 400 * (n[0] - 'a'), 1 + (n[0] - 'a'),
                                  static_cast<uint64_t>(n[0]));
        }
        ASSERT_EQ(Velmora(Folder(), {"-c", "a.las", "b.las", "x.vmra"}).status, 0);
        base = ReadAll(vmra);
    }
    std::string Folder() const { return box.Path().string(); }
    bool NeedsRoot() {
        if (geteuid() == 0) return true;
        return false;
    }
    // Runs args with a kill planted at step 1, 2, ... until a run is killed
    // with the journal written and the archive already touched; the
    // archive is put back to `start` (in place) before every run.
    bool KillMidChange(const std::vector<std::string>& args, const Bytes& start) {
        for (int step = 1; step < 400; ++step) {
            WriteAll(vmra, start);
            std::remove(journal.c_str());
            const ExeResult r = Velmora(Folder(), args, WithFault("kill@" + std::to_string(step)));
            if (r.status == 0) return false;
            if (FileExists(journal) && ReadAll(vmra) != start) return true;
        }
        return false;
    }

    TempDir box;
    std::string vmra = box.File("x.vmra");
    std::string journal = vmra + "-journal";
    Bytes base;
};

#define REQUIRE_ROOT()                                                                  \
    if (!NeedsRoot()) GTEST_SKIP() << "a second user needs the tests to run as root"

TEST_F(SharedFolder, APlantedJournalNeitherDeletesNorRewritesTheArchive) {
    REQUIRE_ROOT();
    // The attacker's own archive, whose bytes a forged journal carries.
    ASSERT_EQ(Velmora(Folder(), {"-c", "c.las", "evil.vmra"}).status, 0);
    struct Case {
        const char* what;
        std::function<void()> plant;
    };
    const Case cases[] = {
        {"a journal that says the change made the archive",
         [&] { journalforge::PlantCreatedJournal(vmra, journal); }},
        {"a journal of another archive that matches this one's first bytes",
         [&] { journalforge::PlantJournalOfOther(box.File("evil.vmra"), vmra, journal, 4); }},
    };
    for (const Case& c : cases) {
        for (const bool attackerRuns : {true, false}) {
            WriteAll(vmra, base);
            ::chmod(vmra.c_str(), 0644);
            c.plant();
            ASSERT_EQ(::chown(journal.c_str(), kNobody, kNobody), 0);
            const ExeResult r = Velmora(Folder(), {"-l", "x.vmra"}, attackerRuns ? Nobody() : RunOptions{});
            const std::string label = std::string(c.what) + (attackerRuns ? ", listed by its author" : ", listed by the owner");
            ASSERT_TRUE(FileExists(vmra)) << label << ": the archive was deleted";
            EXPECT_EQ(ReadAll(vmra), base) << label;
            EXPECT_TRUE(FileExists(journal)) << label << ": the planted journal should stay for the owner to see";
            EXPECT_EQ(r.status, 255) << label << r.err;
            std::remove(journal.c_str());
        }
    }
}

TEST_F(SharedFolder, NothingIsWrittenThroughALinkInTheJournalsPlace) {
    // A folder only root may write in, and a file in it the link points at.
    TempDir closed;
    const std::string target = closed.File("target");
    const std::string existing = closed.File("existing");
    WriteAll(existing, Bytes(100, 7));
    for (const std::string& to : {target, existing}) {
        WriteAll(vmra, base);
        ASSERT_EQ(::symlink(to.c_str(), journal.c_str()), 0);
        const ExeResult r = Velmora(Folder(), {"-y", "-c", "c.las", "x.vmra"});
        EXPECT_EQ(r.status, 255) << to << r.err;
        EXPECT_FALSE(FileExists(target)) << "a file was made through the link";
        EXPECT_EQ(ReadAll(existing), Bytes(100, 7)) << "a file was written through the link";
        EXPECT_EQ(ReadAll(vmra), base);
        std::remove(journal.c_str());
    }
}

TEST_F(SharedFolder, AJournalTheOpenerCannotReadIsKeptForItsOwner) {
    REQUIRE_ROOT();
    ::chmod(vmra.c_str(), 0666);
    ASSERT_TRUE(KillMidChange({"-c", "c.las", "x.vmra"}, base));
    ::chmod(journal.c_str(), 0600);
    const ExeResult r = Velmora(Folder(), {"-l", "x.vmra"}, Nobody());
    EXPECT_EQ(r.status, 255) << r.err;
    EXPECT_TRUE(FileExists(journal)) << "a colleague's listing removed the journal it could not read";
    // The owner's next open still undoes the interrupted add.
    EXPECT_EQ(Velmora(Folder(), {"-l", "x.vmra"}).status, 0);
    EXPECT_EQ(ReadAll(vmra), base);
    EXPECT_FALSE(FileExists(journal));
}

TEST_F(SharedFolder, ALeftoverJournalIsNotAppliedToAnotherCopyOfTheArchive) {
    // A newer copy of the archive, with one entry more than the original.
    ASSERT_EQ(Velmora(Folder(), {"-c", "c.las", "x.vmra"}).status, 0);
    const Bytes newer = ReadAll(vmra);
    // A killed add, then the newer copy written over the archive (the same
    // file, as cp does it).
    ASSERT_TRUE(KillMidChange({"-c", "c.las", "x.vmra"}, base));
    WriteAll(vmra, newer);
    ExeResult r = Velmora(Folder(), {"-t", "x.vmra"});
    EXPECT_EQ(ReadAll(vmra), newer) << "the newer copy was rolled back: " << r.err;
    EXPECT_EQ(r.status, 255);
    EXPECT_TRUE(FileExists(journal));

    // A first add killed, then a backup copied over the new archive.
    std::remove(journal.c_str());
    std::remove(vmra.c_str());
    bool killed = false;
    for (int step = 1; step < 400 && !killed; ++step) {
        std::remove(vmra.c_str());
        std::remove(journal.c_str());
        r = Velmora(Folder(), {"-c", "a.las", "x.vmra"}, WithFault("kill@" + std::to_string(step)));
        ASSERT_NE(r.status, 0) << "the first add was never caught with its journal";
        killed = FileExists(journal) && FileSizeOf(vmra) > 0;
    }
    WriteAll(vmra, base);
    r = Velmora(Folder(), {"-l", "x.vmra"});
    ASSERT_TRUE(FileExists(vmra)) << "the backup was deleted: " << r.err;
    EXPECT_EQ(ReadAll(vmra), base);
    EXPECT_EQ(r.status, 255);
}

TEST_F(SharedFolder, TheJournalIsAsPrivateAsTheArchive) {
    ASSERT_EQ(Velmora(Folder(), {"-c", "c.las", "x.vmra"}).status, 0);
    const Bytes three = ReadAll(vmra);
    ::chmod(vmra.c_str(), 0600);
    // A replacement saves everything from the replaced entry on.
    ASSERT_TRUE(KillMidChange({"-y", "-c", "a.las", "x.vmra"}, three));
    EXPECT_EQ(ModeOf(journal) & 0077, 0u) << std::oct << ModeOf(journal);
}

TEST_F(SharedFolder, AFifoInTheJournalsPlaceIsRefusedAtOnce) {
    ASSERT_EQ(::mkfifo(journal.c_str(), 0666), 0);
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"-l", "x.vmra"}, {"-c", "c.las", "x.vmra"}, {"-d", "x.vmra"}}) {
        Spawned p(Folder(), args);
        ExeResult r;
        ASSERT_TRUE(p.EndsWithin(20, r)) << args[0] << " hangs on the FIFO";
        EXPECT_EQ(r.status, 255) << args[0];
        EXPECT_FALSE(r.err.empty()) << args[0];
    }
    struct stat st {};
    EXPECT_TRUE(lstat(journal.c_str(), &st) == 0 && S_ISFIFO(st.st_mode));
    EXPECT_EQ(ReadAll(vmra), base);
}

TEST_F(SharedFolder, AnEmptyFileOfAnotherUserIsNotTakenAsTheArchive) {
    REQUIRE_ROOT();
    // Made beforehand by someone else, waiting for a victim's files.
    const std::string trap = box.File("survey.vmra");
    WriteAll(trap, {});
    ::chmod(trap.c_str(), 0666);
    const ExeResult r = Velmora(Folder(), {"-c", "a.las", "survey.vmra"}, Nobody());
    EXPECT_EQ(r.status, 255) << r.err;
    EXPECT_EQ(FileSizeOf(trap), 0);
    // The user's own empty archive is still one to add to.
    const std::string own = box.File("own.vmra");
    WriteAll(own, {});
    EXPECT_EQ(Velmora(Folder(), {"-c", "a.las", "own.vmra"}).status, 0);
}

TEST_F(SharedFolder, AnArchiveWithTheLongestNamesIsChangedAndPutRight) {
    for (const std::size_t length : {247u, 248u, 255u}) {
        const std::string name = std::string(length - 5, 'n') + ".vmra";
        const ExeResult r = Velmora(Folder(), {"-c", "a.las", name});
        EXPECT_EQ(r.status, 0) << length << ": " << r.err;
        EXPECT_EQ(EntryNames(box.File(name)), std::vector<std::string>{"a.las"}) << length;
        // Killed in the middle of the next add, the next open undoes it.
        const Bytes one = ReadAll(box.File(name));
        bool killed = false;
        for (int step = 1; step < 400 && !killed; ++step) {
            WriteAll(box.File(name), one);
            const ExeResult k = Velmora(Folder(), {"-c", "b.las", name}, WithFault("kill@" + std::to_string(step)));
            ASSERT_NE(k.status, 0) << length << ": never killed mid-change";
            killed = ReadAll(box.File(name)) != one;
        }
        EXPECT_EQ(Velmora(Folder(), {"-l", name}).status, 0) << length;
        EXPECT_EQ(ReadAll(box.File(name)), one) << length;
        const auto left = archtest::FolderContents(Folder());
        EXPECT_EQ(std::count_if(left.begin(), left.end(),
                                [](const std::string& n) { return Contains(n, "journal") || Contains(n, "jnl"); }),
                  0)
            << length;
        std::remove(box.File(name).c_str());
    }
}

}  // namespace
