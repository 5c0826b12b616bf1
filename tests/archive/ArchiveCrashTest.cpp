#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <map>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include "ArchiveTestSupport.h"
#include "TestSupport.h"
#include "archive/ArchiveFaults.h"
#include "archive/ArchiveMessages.h"
#include "archive/VMRAFile.h"
#include "las/FileIo.h"

using archtest::Bytes;
using archtest::EntryNames;
using archtest::GenerateLas;
using testsupport::ReadAll;
using testsupport::TempDir;
using testsupport::WriteAll;

namespace {

// How a child process that ran an operation ended.
enum class End { Completed, Failed, Killed };

// Runs op in a child process with the given fault planted, so that SIGKILL
// really ends a process in the middle of a change.
End RunInChild(const std::string& fault, const std::function<void()>& op) {
    const pid_t pid = fork();
    if (pid == 0) {
        setenv("VELMORA_FAULT", fault.c_str(), 1);
        try {
            op();
        } catch (...) {
            _exit(1);
        }
        _exit(0);
    }
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
    }
    if (WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) return End::Killed;
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? End::Completed : End::Failed;
}

// Sets a fault for this process for as long as the object lives.
class PlantedFault {
public:
    explicit PlantedFault(const std::string& fault) { setenv("VELMORA_FAULT", fault.c_str(), 1); }
    ~PlantedFault() { unsetenv("VELMORA_FAULT"); }
};

// The state an archive may legally be in after an interrupted change: its
// bytes, or no file at all.
struct State {
    bool exists = true;
    Bytes bytes;
};

State StateOf(const std::string& path) {
    State s;
    s.exists = FileExists(path);
    if (s.exists) s.bytes = ReadAll(path);
    return s;
}

bool Same(const State& a, const State& b) { return a.exists == b.exists && a.bytes == b.bytes; }

// The files entries are made from, by entry name.
using Sources = std::map<std::string, std::string>;

// Opens the archive the way every operation does (which finishes or undoes
// an interrupted change), then checks that it is exactly the state before or
// after, and that every entry comes back as the file it was made from: the
// one in sources, or once the change stands the one in afterSources where
// that names the entry (a replacement's new file). Returns 0 for "before",
// 1 for "after".
int CheckRecovered(const std::string& vmra, const State& before, const State& after, const Sources& sources,
                   const std::string& label, const Sources& afterSources = {}) {
    try {
        VMRAFile opener;
        opener.ListEntries(vmra);
    } catch (const CLasException& e) {
        // Only an archive that is not there may fail to open: an interrupted
        // first add leaves none.
        EXPECT_FALSE(FileExists(vmra)) << label << ": " << e.Message();
    }
    EXPECT_FALSE(FileExists(vmra + "-journal")) << label << ": journal left behind";
    const State now = StateOf(vmra);
    // Where there was no archive, an empty one (which holds nothing) is as good.
    const bool isBefore =
        Same(now, before) || (!before.exists && now.exists && now.bytes.empty());
    const bool isAfter = Same(now, after);
    EXPECT_TRUE(isBefore || isAfter) << label << ": the archive is neither as before nor as after";
    if (now.exists && !now.bytes.empty()) {
        TempDir out;
        VMRAFile extractor;
        for (const auto& name : EntryNames(vmra)) {
            extractor.ExtractEntry(vmra, name, out.Path().string() + "/");
            const Sources& from = isAfter && afterSources.count(name) ? afterSources : sources;
            const auto source = from.find(name);
            if (source == from.end()) continue;
            EXPECT_EQ(ReadAll(out.File(name)), ReadAll(source->second)) << label << ": " << name;
        }
    }
    return isAfter ? 1 : 0;
}

// Kills the operation at every step it takes, one run per step, until a run
// gets through; each time the archive must be before or after. Returns the
// number of steps swept.
int SweepKills(const std::string& vmra, const std::function<void()>& prepare,
               const std::function<void()>& op, const Sources& sources, const std::string& name,
               const Sources& afterSources = {}) {
    prepare();
    const State before = StateOf(vmra);
    EXPECT_EQ(RunInChild("kill@1000000", op), End::Completed) << name;
    const State after = StateOf(vmra);
    EXPECT_FALSE(Same(before, after)) << name << ": the operation changed nothing";
    int step = 1;
    int afters = 0;
    for (;; ++step) {
        prepare();
        const End end = RunInChild("kill@" + std::to_string(step), op);
        if (end == End::Completed) break;
        EXPECT_EQ(end, End::Killed) << name << " step " << step;
        afters += CheckRecovered(vmra, before, after, sources, name + " killed at step " + std::to_string(step),
                                 afterSources);
        if (step > 400) {
            ADD_FAILURE() << name << ": the operation never completed";
            break;
        }
    }
    EXPECT_TRUE(Same(StateOf(vmra), after)) << name;
    // Killed at its very first step nothing has happened yet.
    EXPECT_LT(afters, step) << name;
    return step - 1;
}

class ArchiveCrash : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* n : {"a", "b", "c"}) {
            const uint64_t seed = static_cast<uint64_t>(n[0]);
            sources[std::string(n) + ".las"] = GenerateLas(dir, std::string(n) + ".las", 1200 + 300 * (seed % 3), 1 + seed % 3, seed);
        }
        newB = GenerateLas(staging, "b.las", 900, 2, 77);
    }
    // An archive holding the given entries, made afresh. A sweep asks for
    // the same one before every step: it is compressed once, and copied.
    void Make(const std::vector<std::string>& names) {
        std::remove(vmra.c_str());
        std::remove((vmra + "-journal").c_str());
        if (names.empty()) return;
        const auto made = images.find(names);
        if (made != images.end()) {
            WriteAll(vmra, made->second);
            return;
        }
        VMRAFile archive;
        for (const auto& n : names) archive.AddLasFile(sources[n], vmra);
        images[names] = ReadAll(vmra);
    }

    TempDir dir;
    TempDir staging;
    std::string vmra = dir.File("x.vmra");
    std::map<std::string, std::string> sources;
    std::string newB;
    std::map<std::vector<std::string>, Bytes> images;
};

TEST_F(ArchiveCrash, AnAddKilledAtAnyStepLeavesTheArchiveBeforeOrAfter) {
    const int steps = SweepKills(
        vmra, [&] { Make({"a.las", "b.las"}); },
        [&] {
            VMRAFile archive;
            archive.AddLasFile(sources["c.las"], vmra);
        },
        sources, "add");
    EXPECT_GE(steps, 6);
    std::printf("add: %d steps swept\n", steps);
}

TEST_F(ArchiveCrash, AFirstAddKilledAtAnyStepLeavesNoArchiveOrTheNewOne) {
    const int steps = SweepKills(
        vmra, [&] { Make({}); },
        [&] {
            VMRAFile archive;
            archive.AddLasFile(sources["a.las"], vmra);
        },
        sources, "first add");
    std::printf("first add: %d steps swept\n", steps);
}

TEST_F(ArchiveCrash, AReplacementKilledAtAnyStepNeverLeavesTwoEntriesOfOneName) {
    // The replacing file has the name of an entry but other points.
    const int steps = SweepKills(
        vmra, [&] { Make({"a.las", "b.las", "c.las"}); },
        [&] {
            VMRAFile archive;
            archive.AddLasFile(newB, vmra);
        },
        sources, "replace", {{"b.las", newB}});
    std::printf("replace: %d steps swept\n", steps);
    const auto names = EntryNames(vmra);
    EXPECT_EQ(names, (std::vector<std::string>{"a.las", "c.las", "b.las"}));
}

TEST_F(ArchiveCrash, ADeletionKilledAtAnyStepLeavesTheArchiveBeforeOrAfter) {
    int steps = SweepKills(
        vmra, [&] { Make({"a.las", "b.las", "c.las"}); },
        [&] {
            VMRAFile archive;
            archive.DeleteEntry(vmra, "a.las");
        },
        sources, "delete first");
    std::printf("delete: %d steps swept\n", steps);
    steps = SweepKills(
        vmra, [&] { Make({"a.las"}); },
        [&] {
            VMRAFile archive;
            archive.DeleteEntry(vmra, "a.las");
        },
        sources, "delete only");
    EXPECT_EQ(FileSizeOf(vmra), 0);
}

TEST_F(ArchiveCrash, ASpillIntoAPartFileKilledAtAnyStepLeavesBothFilesBeforeOrAfter) {
    const std::string full = dir.File("big.vmra");
    archtest::MakeSparseFile(full, VMRAFile::kPartLimit + 1, {0x1D, 0x2C, 0x3B, 0x4A}, {0, 0, 0, 0});
    const std::string part = dir.File("big_part1.VMRA");
    SweepKills(
        part, [&] { std::remove(part.c_str()); },
        [&] {
            VMRAFile archive;
            archive.AddLasFile(sources["c.las"], full);
        },
        sources, "spill");
    EXPECT_EQ(FileSizeOf(full), VMRAFile::kPartLimit + 1);
    EXPECT_EQ(EntryNames(part), std::vector<std::string>{"c.las"});
}

TEST_F(ArchiveCrash, ARecoveryKilledAtAnyStepIsFinishedByTheNextOpen) {
    Make({"a.las", "b.las"});
    const State before = StateOf(vmra);
    auto add = [&] {
        VMRAFile archive;
        archive.AddLasFile(sources["c.las"], vmra);
    };
    ASSERT_EQ(RunInChild("kill@1000000", add), End::Completed);
    const State after = StateOf(vmra);
    // Killed deep inside the add, then killed again at each step of the
    // recovery that the next open runs.
    for (int step = 1;; ++step) {
        Make({"a.las", "b.las"});
        ASSERT_EQ(RunInChild("kill@9", add), End::Killed);
        ASSERT_TRUE(FileExists(vmra + "-journal"));
        const End end = RunInChild("kill@" + std::to_string(step), [&] {
            VMRAFile opener;
            opener.ListEntries(vmra);
        });
        CheckRecovered(vmra, before, after, sources, "recovery killed at " + std::to_string(step));
        if (end == End::Completed || step > 50) break;
    }
}

TEST_F(ArchiveCrash, AFailedWriteAtAnyStepLeavesTheArchiveByteForByte) {
    for (const char* error : {"", ":ENOSPC"}) {
        for (int step = 1;; ++step) {
            Make({"a.las", "b.las"});
            const Bytes before = ReadAll(vmra);
            bool threw = false;
            std::string message;
            int cause = 0;
            {
                PlantedFault fault("fail@" + std::to_string(step) + error);
                VMRAFile archive;
                try {
                    archive.AddLasFile(newB, vmra);
                } catch (const CLasException& e) {
                    threw = true;
                    message = e.Message();
                    cause = e.cause;
                }
            }
            if (!threw) break;
            const std::string label = std::string("fail") + error + " at step " + std::to_string(step);
            EXPECT_FALSE(FileExists(vmra + "-journal")) << label;
            // Once the journal is gone the change stands; only making that
            // durable can still fail, and the user is told so.
            if (message == archmsg::kNotDurable.text) {
                EXPECT_EQ(EntryNames(vmra), (std::vector<std::string>{"a.las", "b.las"})) << label;
                TempDir out;
                VMRAFile extractor;
                extractor.ExtractEntry(vmra, "b.las", out.Path().string() + "/");
                EXPECT_EQ(ReadAll(out.File("b.las")), ReadAll(newB)) << label;
                continue;
            }
            EXPECT_EQ(ReadAll(vmra), before) << label;
            // The user learns why in their own terms.
            EXPECT_EQ(cause, *error ? ENOSPC : EIO) << label << ": " << message;
            ASSERT_LT(step, 400);
        }
    }
}

TEST_F(ArchiveCrash, ADiskThatFailsForGoodLeavesTheJournalForTheNextOpen) {
    int sawRollbackFailure = 0;
    for (int step = 1;; ++step) {
        Make({"a.las", "b.las"});
        const Bytes before = ReadAll(vmra);
        bool threw = false;
        bool stands = false;
        {
            PlantedFault fault("failfrom@" + std::to_string(step));
            VMRAFile archive;
            try {
                archive.AddLasFile(sources["c.las"], vmra);
            } catch (const CLasException& e) {
                threw = true;
                if (std::string(e.Message()) == archmsg::kRollbackFailed.text) ++sawRollbackFailure;
                stands = std::string(e.Message()) == archmsg::kNotDurable.text;
            }
        }
        if (!threw) break;
        // Without the fault the next open puts the archive back, unless the
        // change already stood when the disk failed.
        VMRAFile opener;
        const auto names = opener.ListEntries(vmra);
        if (stands) {
            EXPECT_EQ(names.size(), 3u);
        } else {
            EXPECT_EQ(ReadAll(vmra), before) << "failing from step " << step;
        }
        EXPECT_FALSE(FileExists(vmra + "-journal"));
        ASSERT_LT(step, 400);
    }
    EXPECT_GT(sawRollbackFailure, 0);
}

TEST_F(ArchiveCrash, AJournalKilledWhileWrittenLeavesNothingAndOneForAnotherFileIsRefused) {
    Make({"a.las", "b.las"});
    const Bytes before = ReadAll(vmra);
    auto add = [&] {
        VMRAFile archive;
        archive.AddLasFile(sources["c.las"], vmra);
    };
    // Killed while the journal is being written: it never had its name, and
    // nothing else is left beside the archive.
    for (int step = 1; step <= 3; ++step) {
        ASSERT_EQ(RunInChild("kill@" + std::to_string(step), add), End::Killed);
        EXPECT_FALSE(FileExists(vmra + "-journal")) << step;
        EXPECT_EQ(archtest::FolderContents(dir.Path().string()),
                  (std::vector<std::string>{"a.las", "b.las", "c.las", "x.vmra"}))
            << step;
        EXPECT_EQ(ReadAll(vmra), before) << step;
    }

    // A whole journal of another archive is left alone, and said so.
    ASSERT_EQ(RunInChild("kill@9", add), End::Killed);
    const Bytes journal = ReadAll(vmra + "-journal");
    Make({"b.las", "a.las"});
    WriteAll(vmra + "-journal", journal);
    VMRAFile opener;
    EXPECT_EQ(testsupport::MessageOf([&] { opener.ListEntries(vmra); }), archmsg::kJournalForeign.text);
    EXPECT_EQ(ReadAll(vmra + "-journal"), journal);
}

TEST_F(ArchiveCrash, ARollbackKilledAtAnyStepIsFinishedByTheNextOpen) {
    Make({"a.las", "b.las", "c.las"});
    const State before = StateOf(vmra);
    auto replace = [&] {
        VMRAFile archive;
        archive.AddLasFile(newB, vmra);
    };
    ASSERT_EQ(RunInChild("kill@1000000", replace), End::Completed);
    const State after = StateOf(vmra);
    int killedWhileUndoing = 0;
    // The change fails at step n, and the process dies a step or three into
    // putting the archive back.
    for (int n = 1; n < 400; ++n) {
        bool ranToTheEnd = false;
        for (const int later : {1, 3}) {
            Make({"a.las", "b.las", "c.las"});
            const std::string plan = "fail@" + std::to_string(n) + ",kill@" + std::to_string(n + later);
            const End end = RunInChild(plan, replace);
            if (end == End::Completed) ranToTheEnd = true;
            if (end == End::Killed) ++killedWhileUndoing;
            CheckRecovered(vmra, before, after, {{"a.las", sources["a.las"]}, {"c.las", sources["c.las"]}},
                           plan);
        }
        if (ranToTheEnd) break;
    }
    EXPECT_GT(killedWhileUndoing, 0);
}

TEST_F(ArchiveCrash, ARecoveryThatCannotFinishLeavesTheJournalForTheNextOpen) {
    Make({"a.las", "b.las"});
    const Bytes before = ReadAll(vmra);
    ASSERT_EQ(RunInChild("kill@9", [&] {
                  VMRAFile archive;
                  archive.AddLasFile(sources["c.las"], vmra);
              }),
              End::Killed);
    {
        PlantedFault disk("failfrom@1");
        VMRAFile opener;
        EXPECT_EQ(testsupport::MessageOf([&] { opener.ListEntries(vmra); }), archmsg::kCannotRecover.text);
    }
    EXPECT_TRUE(FileExists(vmra + "-journal"));
    VMRAFile opener;
    opener.ListEntries(vmra);
    EXPECT_EQ(ReadAll(vmra), before);
    EXPECT_FALSE(FileExists(vmra + "-journal"));
}

// The same sweeps over archives that hold both entry kinds: x.las is a LAS
// 1.4 file the classic kind cannot carry (format 7, two scanner channels,
// extra bytes, EVLRs), so it goes into an extended entry beside the classic
// ones, and an extended entry's bytes are written, moved and cut like any
// other's.
class ArchiveCrashMixed : public ArchiveCrash {
protected:
    void SetUp() override {
        ArchiveCrash::SetUp();
        sources["x.las"] = GenerateLas(dir, "x.las", V14(3000, 7, 5));
        // Files named like entries of the other kind, to replace them.
        classicX = GenerateLas(staging, "x.las", 1000, 1, 21);
        LasGenOptions b = V14(2000, 8, 33);
        b.extraBytes = 0;
        b.evlrCount = 1;
        b.tailBytes = 7;
        extendedB = GenerateLas(staging, "b.las", b);
    }

    static LasGenOptions V14(uint64_t points, int format, uint64_t seed) {
        LasGenOptions o;
        o.points = points;
        o.format = format;
        o.seed = seed;
        o.versionMinor = 4;
        o.versionHeader = true;
        o.channels = 2;
        o.extraBytes = 10;
        o.evlrCount = 2;
        return o;
    }

    // Which entries of the archive, in order, are of the extended kind.
    std::vector<bool> Kinds() {
        VMRAFile lister;
        std::vector<bool> kinds;
        for (const EntryInfo& e : lister.ListEntries(vmra)) kinds.push_back(e.extended);
        return kinds;
    }

    // Puts noise in the last bytes of the file (its records), and returns
    // what the file then holds.
    static Bytes WithNoisyRecords(const std::string& path, std::size_t bytes) {
        Bytes noisy = ReadAll(path);
        uint64_t seed = 7;
        for (std::size_t at = noisy.size() - bytes; at < noisy.size(); ++at) {
            seed = seed * 6364136223846793005ull + 1442695040888963407ull;
            noisy[at] = static_cast<uint8_t>(seed >> 56);
        }
        WriteAll(path, noisy);
        return noisy;
    }

    // Adds the file with a failing write at each step in turn (what says
    // which file, in failures): a failed add leaves the archive as it was,
    // one that reports success holds the file whole.
    void SweepFailedWrites(const std::string& big, const std::string& what);

    std::string classicX;
    std::string extendedB;
};

TEST_F(ArchiveCrashMixed, AnExtendedAddKilledAtAnyStepLeavesTheArchiveBeforeOrAfter) {
    auto add = [&] {
        VMRAFile archive;
        archive.AddLasFile(sources["x.las"], vmra);
    };
    int steps = SweepKills(vmra, [&] { Make({"a.las", "b.las"}); }, add, sources, "extended add");
    EXPECT_GE(steps, 6);
    std::printf("extended add: %d steps swept\n", steps);
    EXPECT_EQ(Kinds(), (std::vector<bool>{false, false, true}));

    steps = SweepKills(vmra, [&] { Make({}); }, add, sources, "extended first add");
    std::printf("extended first add: %d steps swept\n", steps);
    EXPECT_EQ(Kinds(), (std::vector<bool>{true}));
}

// An extended entry of more than 4 MiB is written chunk by chunk, each
// chunk a write of its own: a kill at any of them is undone too.
TEST_F(ArchiveCrashMixed, AnExtendedEntryWrittenChunkByChunkKilledAtAnyWriteLeavesTheArchiveBeforeOrAfter) {
    LasGenOptions o = V14(270000, 6, 41);
    o.channels = 1;
    o.extraBytes = 0;
    o.evlrCount = 0;
    sources["big.las"] = GenerateLas(dir, "big.las", o);
    auto add = [&] {
        VMRAFile archive;
        archive.Engine().SetThreadCount(1);  // one chunk a write
        archive.AddLasFile(sources["big.las"], vmra);
    };
    const int small = SweepKills(vmra, [&] { Make({"a.las"}); }, [&] {
        VMRAFile archive;
        archive.AddLasFile(sources["x.las"], vmra);
    }, sources, "small extended add");
    const int steps = SweepKills(vmra, [&] { Make({"a.las"}); }, add, sources, "chunked extended add");
    std::printf("chunked extended add: %d steps swept, %d for a small one\n", steps, small);
    EXPECT_GE(steps, small + 2) << "each of the two chunks is a write of its own";
    EXPECT_EQ(Kinds(), (std::vector<bool>{false, true}));

    // Noise in the records: each chunk is written from the records as they
    // are, in fewer bytes than coded.
    const Bytes noisy = WithNoisyRecords(sources["big.las"], 270000 * 30);
    const int stored = SweepKills(vmra, [&] { Make({"a.las"}); }, add, sources, "stored extended add");
    std::printf("stored extended add: %d steps swept\n", stored);
    EXPECT_GE(stored, small + 2) << "each of the two chunks is a write of its own";
    const std::vector<EntryInfo> listed = VMRAFile().ListEntries(vmra);
    ASSERT_EQ(listed.size(), 2u);
    EXPECT_LT(listed[1].extent, static_cast<int64_t>(noisy.size()) + 200) << "the records kept as they are";
}

// A write that fails, at any step of adding such an entry, fails the add and
// leaves the archive as it was; an add that reports success holds the file
// whole (a chunk whose write failed unnoticed would be missing from it).
// Swept twice: with chunks of symbols, and with noise in the records, whose
// chunks are written from the records as they are.
TEST_F(ArchiveCrashMixed, AFailedWriteOfAnExtendedEntryChunkByChunkLeavesTheArchiveByteForByte) {
    LasGenOptions o = V14(270000, 6, 41);
    o.channels = 1;
    o.extraBytes = 0;
    o.evlrCount = 0;
    const std::string big = GenerateLas(dir, "big.las", o);
    for (const bool noisy : {false, true}) {
        if (noisy) WithNoisyRecords(big, 270000 * 30);
        SweepFailedWrites(big, noisy ? "noisy records" : "survey");
    }
}

void ArchiveCrashMixed::SweepFailedWrites(const std::string& big, const std::string& what) {
    int failed = 0;
    for (int step = 1;; ++step) {
        Make({"a.las"});
        const Bytes before = ReadAll(vmra);
        bool threw = false;
        std::string message;
        {
            PlantedFault fault("fail@" + std::to_string(step));
            VMRAFile archive;
            archive.Engine().SetThreadCount(1);  // one chunk a write
            try {
                archive.AddLasFile(big, vmra);
            } catch (const CLasException& e) {
                threw = true;
                message = e.Message();
            }
        }
        const std::string label = what + ", fail at step " + std::to_string(step);
        if (threw && message != archmsg::kNotDurable.text) {
            EXPECT_EQ(ReadAll(vmra), before) << label << ": " << message;
            ++failed;
            ASSERT_LT(step, 400);
            continue;
        }
        TempDir out;
        VMRAFile extractor;
        extractor.ExtractEntry(vmra, "big.las", out.Path().string() + "/");
        EXPECT_EQ(ReadAll(out.File("big.las")), ReadAll(big)) << label;
        if (!threw) break;
    }
    EXPECT_GE(failed, 4) << what << ": the head, two chunks and the tail are writes of their own";
}

TEST_F(ArchiveCrashMixed, AnExtendedEntryReplacedByAClassicFileKilledAtAnyStepIsTheOldEntryOrTheNewOne) {
    // The extended entry lies in the middle: the classic one after it moves.
    const int steps = SweepKills(
        vmra, [&] { Make({"a.las", "x.las", "c.las"}); },
        [&] {
            VMRAFile archive;
            archive.AddLasFile(classicX, vmra);
        },
        sources, "extended replaced by classic", {{"x.las", classicX}});
    std::printf("extended replaced by classic: %d steps swept\n", steps);
    EXPECT_EQ(EntryNames(vmra), (std::vector<std::string>{"a.las", "c.las", "x.las"}));
    EXPECT_EQ(Kinds(), (std::vector<bool>{false, false, false}));
}

TEST_F(ArchiveCrashMixed, AClassicEntryReplacedByAnExtendedFileKilledAtAnyStepIsTheOldEntryOrTheNewOne) {
    // The classic entry lies after an extended one, which stays.
    const int steps = SweepKills(
        vmra, [&] { Make({"x.las", "b.las", "c.las"}); },
        [&] {
            VMRAFile archive;
            archive.AddLasFile(extendedB, vmra);
        },
        sources, "classic replaced by extended", {{"b.las", extendedB}});
    std::printf("classic replaced by extended: %d steps swept\n", steps);
    EXPECT_EQ(EntryNames(vmra), (std::vector<std::string>{"x.las", "c.las", "b.las"}));
    EXPECT_EQ(Kinds(), (std::vector<bool>{true, false, true}));
}

TEST_F(ArchiveCrashMixed, DeletingAnExtendedEntryBetweenClassicOnesKilledAtAnyStepLeavesTheArchiveBeforeOrAfter) {
    Make({"a.las", "x.las", "c.las"});
    ASSERT_EQ(Kinds(), (std::vector<bool>{false, true, false}));
    const int steps = SweepKills(
        vmra, [&] { Make({"a.las", "x.las", "c.las"}); },
        [&] {
            VMRAFile archive;
            archive.DeleteEntry(vmra, "x.las");
        },
        sources, "delete extended");
    std::printf("delete extended: %d steps swept\n", steps);
    EXPECT_EQ(EntryNames(vmra), (std::vector<std::string>{"a.las", "c.las"}));
}

TEST(FaultPlan, ReadsOneOrSeveralFaultsAndRefusesAnythingElse) {
    for (const char* bad : {"", "kill", "kill@0", "kill@-2", "fail@3:EBADF", "stop@2", "fail@2,",
                            "fail@x"}) {
        EXPECT_EQ(CFaultPlan::Parse(bad), nullptr) << bad;
    }
    auto plan = CFaultPlan::Parse("fail@2:ENOSPC,failfrom@4");
    ASSERT_NE(plan, nullptr);
    std::vector<int> errors;
    for (int i = 0; i < 6; ++i) errors.push_back(plan->BeforeStep("write", "archive"));
    EXPECT_EQ(errors, (std::vector<int>{0, ENOSPC, 0, EIO, EIO, EIO}));
}

}  // namespace

