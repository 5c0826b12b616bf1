#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "ArchiveTestSupport.h"
#include "LasGenerator.h"
#include "TestSupport.h"
#include "archive/VMRAFile.h"
#include "las/FileIo.h"

using archtest::Bytes;
using archtest::GenerateLas;
using archtest::FolderContents;
using testsupport::ReadAll;
using testsupport::TempDir;
using testsupport::WriteAll;

namespace {

// From another thread, as a job dialog does: asks for a stop as soon as the
// engine has finished a codec run of the operation now running.
class StopOnceCoding {
public:
    explicit StopOnceCoding(VMRAFile& archive)
        : thread_([this, &archive] {
              while (!quit_ && archive.Engine().streamsDone.load() == 0) std::this_thread::yield();
              if (quit_) return;
              archive.Abort();
              requested_ = true;
          }) {}
    ~StopOnceCoding() {
        quit_ = true;
        thread_.join();
    }
    bool Requested() const { return requested_; }

private:
    std::atomic<bool> quit_{false};
    std::atomic<bool> requested_{false};
    std::thread thread_;
};

// The job dialog's loop: one failed file never ends the batch.
void RunBatch(VMRAFile& archive, const std::vector<std::string>& files, const std::string& vmra,
              std::vector<std::string>& failures) {
    for (const auto& f : files) {
        try {
            archive.ContainsEntry(vmra, f);
            archive.AddLasFile(f, vmra);
        } catch (const CStopRequested&) {
            failures.push_back("stopped " + FileNamePart(f));
        } catch (const CLasException& e) {
            failures.push_back(e.Message());
        }
    }
}

TEST(ArchiveStop, AStopDuringTheSecondFileOfABatchLeavesTheArchiveOfTheFirst) {
    TempDir dir;
    const std::string first = GenerateLas(dir, "first.las", 1200, 1, 1);
    const std::string second = GenerateLas(dir, "second.las", 400000, 3, 2);
    const std::string third = GenerateLas(dir, "third.las", 300, 0, 3);
    VMRAFile archive;
    archive.AddLasFile(GenerateLas(dir, "old.las", 50, 0, 4), dir.File("x.vmra"));
    std::vector<std::string> failures;
    RunBatch(archive, {first}, dir.File("x.vmra"), failures);
    const Bytes afterFirst = ReadAll(dir.File("x.vmra"));
    {
        StopOnceCoding stop(archive);
        RunBatch(archive, {second, third}, dir.File("x.vmra"), failures);
        EXPECT_TRUE(stop.Requested());
    }
    // The request stays in force, so the third file is not added either,
    // although the batch went on after the stopped file.
    EXPECT_EQ(failures, (std::vector<std::string>{"stopped second.las", "stopped third.las"}));
    EXPECT_EQ(ReadAll(dir.File("x.vmra")), afterFirst);

    archive.ClearStopRequest();
    archive.AddLasFile(third, dir.File("x.vmra"));
    EXPECT_TRUE(archive.ContainsEntry(dir.File("x.vmra"), third));
}

// The job made the archive (as an empty file) before its first add: a stop
// leaves it so, as the user saw it appear.
TEST(ArchiveStop, AStopDuringTheFirstFileOfANewArchiveLeavesItEmpty) {
    TempDir dir;
    const std::string big = GenerateLas(dir, "big.las", 400000, 1, 2);
    VMRAFile archive;
    std::vector<std::string> failures;
    {
        StopOnceCoding stop(archive);
        RunBatch(archive, {big}, dir.File("x.vmra"), failures);
    }
    EXPECT_EQ(failures, std::vector<std::string>{"stopped big.las"});
    EXPECT_EQ(FileSizeOf(dir.File("x.vmra")), 0);
}

// A stop that comes while the add is still looking at the archive, before
// anything is written: the archive is exactly as the call found it, and one
// the call itself would have made is not left behind.
TEST(ArchiveStop, AStopBeforeTheDirectoryIsLoadedChangesNothing) {
    TempDir dir;
    const std::string las = GenerateLas(dir, "a.las", 30, 0, 1);
    VMRAFile archive;
    archive.AddLasFile(las, dir.File("x.vmra"));
    const Bytes before = ReadAll(dir.File("x.vmra"));
    archive.Abort();
    EXPECT_THROW(archive.AddLasFile(las, dir.File("x.vmra")), CStopRequested);
    EXPECT_EQ(ReadAll(dir.File("x.vmra")), before);

    EXPECT_FALSE(archive.ContainsEntry(dir.File("job.vmra"), las));
    EXPECT_THROW(archive.AddLasFile(las, dir.File("job.vmra")), CStopRequested);
    EXPECT_EQ(FileSizeOf(dir.File("job.vmra")), 0);
    EXPECT_THROW(archive.AddLasFile(las, dir.File("other.vmra")), CStopRequested);
    EXPECT_FALSE(FileExists(dir.File("other.vmra")));
}

TEST(ArchiveStop, AStopDuringExtractionKeepsTheFileItWouldHaveReplaced) {
    TempDir dir, out;
    const std::string big = GenerateLas(dir, "big.las", 200000, 3, 5);
    VMRAFile archive;
    archive.AddLasFile(big, dir.File("x.vmra"));
    WriteAll(out.File("big.las"), {'o', 'l', 'd'});
    {
        StopOnceCoding stop(archive);
        EXPECT_THROW(archive.ExtractEntry(dir.File("x.vmra"), "big.las", out.Path().string() + "/"),
                     CStopRequested);
    }
    EXPECT_EQ(FolderContents(out.Path().string()), std::vector<std::string>{"big.las"})
        << "no partly written file is left";
    EXPECT_EQ(ReadAll(out.File("big.las")), (Bytes{'o', 'l', 'd'}));
}

}  // namespace
