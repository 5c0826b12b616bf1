#include "jobs/core/ArchiveJob.h"

#include <algorithm>
#include <exception>
#include <set>

#include "archive/ArchiveMessages.h"
#include "archive/EntryNames.h"
#include "jobs/core/JobCoreMessages.h"
#include "las/FileIo.h"
#include "las/LasException.h"

bool Succeeded(ItemOutcome outcome) {
    switch (outcome) {
        case ItemOutcome::Added:
        case ItemOutcome::Replaced:
        case ItemOutcome::Extracted:
        case ItemOutcome::Passed:
        case ItemOutcome::Unverified:
        case ItemOutcome::Deleted:
            return true;
        default:
            return false;
    }
}

std::string ItemResult::Describe() const {
    if (message.empty()) return "";
    std::string text = EscapeName(subject.empty() ? item.name : subject) + ": " + message;
    if (cause != 0) text += std::string(" (") + CauseText(cause) + ")";
    return text;
}

std::size_t JobSummary::Count(ItemOutcome outcome) const {
    return static_cast<std::size_t>(std::count_if(
        items.begin(), items.end(), [outcome](const ItemResult& r) { return r.outcome == outcome; }));
}

bool JobSummary::AllSucceeded() const {
    if (stopped || ended) return false;
    return std::all_of(items.begin(), items.end(),
                       [](const ItemResult& r) { return Succeeded(r.outcome); });
}

std::string JobSummary::Text() const {
    using namespace jobcoremsg;
    static constexpr struct {
        ItemOutcome outcome;
        const char* word;
    } kOrder[] = {
        {ItemOutcome::Added, kAdded},         {ItemOutcome::Replaced, kReplaced},
        {ItemOutcome::Extracted, kExtracted}, {ItemOutcome::Passed, kPassed},
        {ItemOutcome::Unverified, kUnverified}, {ItemOutcome::Deleted, kDeleted},
        {ItemOutcome::Declined, kDeclined},   {ItemOutcome::Refused, kRefused},
        {ItemOutcome::Damaged, kDamaged},     {ItemOutcome::Failed, kFailed},
        {ItemOutcome::Stopped, kStopped},
    };
    std::string text;
    for (const auto& entry : kOrder) {
        const std::size_t n = Count(entry.outcome);
        if (n == 0) continue;
        if (text.empty()) {
            text = std::to_string(n) + " " + (n == 1 ? kFile : kFiles) + " " + entry.word;
        } else {
            text += ", " + std::to_string(n) + " " + entry.word;
        }
    }
    return text.empty() ? std::string(kNothing) : text;
}

std::string WithArchiveSuffix(const std::string& path) {
    static const std::string kSuffix = ".VMRA";
    if (path.size() >= kSuffix.size() &&
        LowerAscii(path.substr(path.size() - kSuffix.size())) == LowerAscii(kSuffix)) {
        return path;
    }
    return path + kSuffix;
}

NewArchiveOutcome CreateNewArchive(const std::string& folder, const std::string& name) {
    if (name.empty() || name == "." || name == ".." || name.find('/') != std::string::npos) {
        return NewArchiveOutcome::NotCreated;
    }
    const std::string path = WithSeparator(folder) + name;
    if (FileExists(path)) return NewArchiveOutcome::Exists;
    if (!CreateNewFile(path)) {
        // Made by someone else in the meantime, or the folder refuses.
        return FileExists(path) ? NewArchiveOutcome::Exists : NewArchiveOutcome::NotCreated;
    }
    SyncFolderOf(path);
    return NewArchiveOutcome::Created;
}

CArchiveJob::CArchiveJob(IJobHost& host) : host(host) {
    archive.onNotice = [this](const std::string& path, const char* text) {
        this->host.Notice(EscapeName(path) + ": " + text);
    };
}

void CArchiveJob::RequestStop() { archive.Engine().RequestStop(); }
void CArchiveJob::RequestPause() { archive.Engine().RequestPause(); }
void CArchiveJob::Resume() { archive.Engine().Resume(); }
bool CArchiveJob::StopRequested() const { return archive.Engine().StopRequested(); }

bool CArchiveJob::WaitWhilePaused() {
    try {
        archive.Engine().CheckPoint();
        return true;
    } catch (const CStopRequested&) {
        return false;
    }
}

void CArchiveJob::Reset() {
    archive.ClearStopRequest();
    Resume();
}
void CArchiveJob::SetThreadCount(int n) { archive.Engine().SetThreadCount(n); }

JobProgress CArchiveJob::Progress() const {
    JobProgress p;
    {
        std::lock_guard<std::mutex> lock(progressMutex);
        p = current;
    }
    if (!p.active) return p;
    if (kind.load() == Kind::Delete) {
        p.percent = archive.DeleteProgress.load();
        return p;
    }
    const CPointCodec& engine = archive.Engine();
    const int64_t total = engine.streamsTotal.load();
    const int64_t done = engine.streamsDone.load();
    p.percent = total > 0 ? static_cast<int>(std::min<int64_t>(100, done * 100 / total)) : 0;
    p.ratio = engine.ratio.load();
    return p;
}

void CArchiveJob::Begin(Kind k, const JobItem& item) {
    kind.store(k);
    std::lock_guard<std::mutex> lock(progressMutex);
    current = JobProgress{};
    current.active = true;
    current.index = item.index;
    current.count = item.count;
    current.displayName = item.displayName;
    current.lasBytes = item.lasBytes;
}

void CArchiveJob::End() {
    std::lock_guard<std::mutex> lock(progressMutex);
    current.active = false;
}

namespace {

// Called inside a catch block: what the exception in flight means for the
// item.
void ClassifyFailure(ItemResult& result) {
    try {
        throw;
    } catch (const CStopRequested&) {
        result.outcome = ItemOutcome::Stopped;
    } catch (const CDamagedEntry& e) {
        result.failure = e.What();
        result.message = e.Message();
        result.outcome = ItemOutcome::Damaged;
    } catch (const CLasException& e) {
        result.failure = e.What();
        result.message = e.Message();
        result.cause = e.cause;
        result.canContinue = e.canContinue;
        result.outcome = e.canContinue ? ItemOutcome::Refused : ItemOutcome::Failed;
        if (e.What().subject == FailureSubject::Archive) result.subject = result.item.archivePath;
    } catch (const std::exception& e) {
        result.message = e.what();
        result.outcome = ItemOutcome::Failed;
    }
}

}  // namespace

bool CArchiveJob::Finish(JobSummary& summary, const ItemResult& result) {
    End();
    summary.items.push_back(result);
    if (result.outcome == ItemOutcome::Stopped) {
        summary.stopped = true;
        host.ItemFinished(result);
        return false;
    }
    if (!host.ItemFinished(result)) {
        summary.ended = true;
        return false;
    }
    return true;
}

template <class F>
bool CArchiveJob::RunItem(JobSummary& summary, const JobItem& item, F&& work) {
    ItemResult result;
    result.item = item;
    host.ItemStarted(item);
    try {
        result.outcome = work(result);
    } catch (...) {
        ClassifyFailure(result);
    }
    return Finish(summary, result);
}

JobItem CArchiveJob::ItemOf(const std::string& name, std::size_t index, std::size_t count,
                            const std::string& archivePath) {
    JobItem item;
    item.index = index;
    item.count = count;
    item.name = name;
    item.displayName = FileNamePart(name);
    item.archivePath = archivePath;
    return item;
}

JobSummary CArchiveJob::Add(const std::vector<std::string>& lasPaths,
                            const std::string& archivePath) {
    JobSummary summary;
    const bool existed = FileExists(archivePath);
    for (std::size_t i = 0; i < lasPaths.size(); ++i) {
        JobItem item = ItemOf(lasPaths[i], i, lasPaths.size(), archivePath);
        item.lasBytes = std::max<int64_t>(0, FileSizeOf(lasPaths[i]));
        Begin(Kind::Add, item);
        const bool goOn = RunItem(summary, item, [&](ItemResult& r) { return AddOne(item, r); });
        if (!goOn) break;
    }
    summary.createdArchive = !existed && FileExists(archivePath);
    return summary;
}

ItemOutcome CArchiveJob::AddOne(const JobItem& item, ItemResult& result) {
    // Made here when missing, so that a job stopped in its first file leaves
    // the empty archive it began with (a failure removes it again).
    archive.ContainsEntry(item.archivePath, item.name);
    // The question is asked with the archive locked for the change, so the
    // answer is about the entry the change will replace, not one another
    // program may have added after a look.
    const VMRAFile::AddOutcome outcome =
        archive.AddLasFile(item.name, item.archivePath, [&] { return host.ConfirmReplace(item); });
    if (outcome == VMRAFile::AddOutcome::Declined) return ItemOutcome::Declined;
    result.storedIn = archive.LastArchivePath();
    result.storedBytes = archive.LastStoredBytes();
    return outcome == VMRAFile::AddOutcome::Replaced ? ItemOutcome::Replaced : ItemOutcome::Added;
}

bool CArchiveJob::ListNames(const std::string& archivePath, std::vector<std::string>& names,
                            JobSummary& summary) {
    ItemResult result;
    result.item.name = archivePath;
    result.item.displayName = FileNamePart(archivePath);
    result.item.archivePath = archivePath;
    try {
        for (const EntryRecord& r : archive.ReadDirectoryOf(archivePath)) names.push_back(r.Name());
        return true;
    } catch (...) {
        ClassifyFailure(result);
    }
    // The whole archive failed: one item says so, about the archive.
    names.clear();
    if (result.subject.empty()) result.subject = archivePath;
    Finish(summary, result);
    return false;
}

template <class F>
JobSummary CArchiveJob::ForEachEntry(Kind k, const std::string& archivePath,
                                     const std::vector<std::string>& names, bool byPosition,
                                     F&& work) {
    JobSummary summary;
    std::vector<EntryRecord> records;
    try {
        records = archive.ReadDirectoryOf(archivePath);
    } catch (const CStopRequested&) {
        // Stopped while waiting for another program: nothing was begun.
        summary.stopped = true;
        return summary;
    } catch (const CLasException&) {
        // Reported for each entry, where it is met again.
    }
    for (std::size_t i = 0; i < names.size(); ++i) {
        JobItem item = ItemOf(names[i], i, names.size(), archivePath);
        if (byPosition) {
            item.entryIndex = static_cast<int64_t>(i);
            if (i < records.size()) item.lasBytes = records[i].uncompressedSize;
        } else {
            for (const EntryRecord& r : records) {
                if (r.Name() == names[i]) {
                    item.lasBytes = r.uncompressedSize;
                    break;
                }
            }
        }
        Begin(k, item);
        if (!RunItem(summary, item, [&](ItemResult&) { return work(item); })) break;
    }
    return summary;
}

JobSummary CArchiveJob::Extract(const std::string& archivePath,
                                const std::vector<std::string>& entries,
                                const std::string& outputFolder) {
    JobSummary failed;
    std::vector<std::string> names = entries;
    const bool all = names.empty();
    if (all && !ListNames(archivePath, names, failed)) return failed;
    const std::string folder = WithSeparator(outputFolder);
    std::set<std::string> seen;
    return ForEachEntry(Kind::Extract, archivePath, names, all, [&](const JobItem& item) {
        const bool repeated = !seen.insert(item.name).second;
        return ExtractOne(item, folder, all && repeated);
    });
}

JobSummary CArchiveJob::Test(const std::string& archivePath,
                             const std::vector<std::string>& entries) {
    JobSummary failed;
    std::vector<std::string> names = entries;
    const bool all = names.empty();
    if (all && !ListNames(archivePath, names, failed)) return failed;
    return ForEachEntry(Kind::Test, archivePath, names, all, [&](const JobItem& item) {
        const auto at = static_cast<std::size_t>(item.entryIndex);
        const bool checked = item.entryIndex >= 0 ? archive.TestEntryAt(archivePath, at, item.name)
                                                  : archive.TestEntry(archivePath, item.name);
        return checked ? ItemOutcome::Passed : ItemOutcome::Unverified;
    });
}

ItemOutcome CArchiveJob::ExtractOne(const JobItem& item, const std::string& folder, bool repeated) {
    // Refused by its name alone, before anything is asked about a file of
    // that name (which may lie outside the folder, or be the one the
    // earlier entry of that name just became).
    if (const Failure* why = WhyNotExtractable(item.name)) throw CLasException(*why, true);
    if (repeated) throw CLasException(archmsg::kDuplicateEntry, true);
    const std::string outputPath = folder + item.name;
    if (FileExists(outputPath) && !host.ConfirmOverwrite(item, outputPath)) {
        return ItemOutcome::Declined;
    }
    if (item.entryIndex >= 0) {
        const auto at = static_cast<std::size_t>(item.entryIndex);
        archive.ExtractEntryAt(item.archivePath, at, item.name, folder);
    } else {
        archive.ExtractEntry(item.archivePath, item.name, folder);
    }
    return ItemOutcome::Extracted;
}

JobSummary CArchiveJob::Delete(const std::string& archivePath,
                               const std::vector<std::string>& entries) {
    return ForEachEntry(Kind::Delete, archivePath, entries, false, [&](const JobItem& item) {
        archive.DeleteEntry(archivePath, item.name);
        return ItemOutcome::Deleted;
    });
}
