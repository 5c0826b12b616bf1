#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "archive/VMRAFile.h"
#include "jobs/core/JobTypes.h"

// The progress of a running job, for a display that polls it.
struct JobProgress {
    bool active = false;      // an item is being worked on
    std::size_t index = 0;    // of the current item, from 0
    std::size_t count = 0;
    std::string displayName;
    int64_t lasBytes = 0;     // length of the current item's LAS file
    int percent = 0;          // of the current item
    double ratio = 0;         // running compression ratio of the current item
};

// The policy of every batch the window and the command line run on an
// archive: which questions to ask, what to do with each file or entry, what
// to report. The host answers the questions and decides after each item
// whether the batch goes on; stopping, pausing and progress work from any
// thread. One job object runs one batch at a time.
class CArchiveJob {
public:
    explicit CArchiveJob(IJobHost& host);
    CArchiveJob(const CArchiveJob&) = delete;
    CArchiveJob& operator=(const CArchiveJob&) = delete;

    // Compresses the LAS files into the archive (created when missing),
    // asking before an entry of the same name is replaced.
    JobSummary Add(const std::vector<std::string>& lasPaths, const std::string& archivePath);
    // Extracts the named entries (every entry when none is named) into
    // outputFolder ("" for the current folder), asking before a file is
    // overwritten.
    JobSummary Extract(const std::string& archivePath, const std::vector<std::string>& entries,
                       const std::string& outputFolder);
    // Decodes the named entries (every entry when none is named) in memory
    // and checks them, writing nothing.
    JobSummary Test(const std::string& archivePath, const std::vector<std::string>& entries);
    // Removes the named entries from the archive.
    JobSummary Delete(const std::string& archivePath, const std::vector<std::string>& entries);

    // From any thread. A stop ends the job at the engine's next check, and the
    // archive is put back as it was before the item in hand.
    void RequestStop();
    void RequestPause();
    void Resume();
    bool StopRequested() const;
    // The host's safe point, on the job's thread: waits while the job is
    // paused, and says false once a stop is pending.
    bool WaitWhilePaused();
    // Before another batch: a stop or a pause left by the last one is
    // forgotten.
    void Reset();
    JobProgress Progress() const;
    // Engine threads; 0 means one per core.
    void SetThreadCount(int n);

    VMRAFile& Archive() { return archive; }

private:
    enum class Kind { Add, Extract, Test, Delete };
    static JobItem ItemOf(const std::string& name, std::size_t index, std::size_t count,
                          const std::string& archivePath);
    void Begin(Kind kind, const JobItem& item);
    void End();
    // Runs one item and hands the result to the host; false ends the batch.
    template <class F>
    bool RunItem(JobSummary& summary, const JobItem& item, F&& work);
    // Records an item's result and tells the host; false ends the batch.
    bool Finish(JobSummary& summary, const ItemResult& result);
    ItemOutcome AddOne(const JobItem& item, ItemResult& result);
    // repeated: an earlier entry of the batch has the same name.
    ItemOutcome ExtractOne(const JobItem& item, const std::string& folder, bool repeated);
    // The entry names of the archive, or an item naming what went wrong.
    bool ListNames(const std::string& archivePath, std::vector<std::string>& names,
                   JobSummary& summary);
    // One item per name, each run by work; the LAS size is taken from the
    // directory where it can be read. byPosition: names is the whole
    // directory, and item i is the entry at place i.
    template <class F>
    JobSummary ForEachEntry(Kind kind, const std::string& archivePath,
                            const std::vector<std::string>& names, bool byPosition, F&& work);

    IJobHost& host;
    VMRAFile archive;
    mutable std::mutex progressMutex;
    JobProgress current;
    std::atomic<Kind> kind{Kind::Add};
};

// A path chosen for a new archive, with ".VMRA" appended unless it already
// ends in ".vmra" (any case).
std::string WithArchiveSuffix(const std::string& path);

// Makes a new, empty archive (a file of length 0) named name in folder.
enum class NewArchiveOutcome { Created, Exists, NotCreated };
// name must be a plain file name (no folder, not "." or ".."); an existing
// file is never touched. The new file's name is made durable in its folder.
NewArchiveOutcome CreateNewArchive(const std::string& folder, const std::string& name);
