#include <algorithm>
#include <cerrno>
#include <functional>
#include <chrono>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <optional>
#include <thread>

#include "archive/ArchiveMessages.h"
#include "jobs/core/ArchiveJob.h"
#include "lib/LibraryErrors.h"
#include "velmora/velmora.hpp"

namespace velmora {

namespace {

Outcome OutcomeOf(ItemOutcome o) {
    switch (o) {
        case ItemOutcome::Added: return Outcome::Added;
        case ItemOutcome::Replaced: return Outcome::Replaced;
        case ItemOutcome::Extracted: return Outcome::Extracted;
        case ItemOutcome::Passed: return Outcome::Passed;
        case ItemOutcome::Unverified: return Outcome::Unverified;
        case ItemOutcome::Deleted: return Outcome::Deleted;
        case ItemOutcome::Declined: return Outcome::Declined;
        case ItemOutcome::Refused: return Outcome::Refused;
        case ItemOutcome::Damaged: return Outcome::Damaged;
        case ItemOutcome::Failed: return Outcome::Failed;
        case ItemOutcome::Stopped: return Outcome::Stopped;
    }
    return Outcome::Failed;
}

ErrorCode CodeOfItem(const ItemResult& r) {
    switch (r.outcome) {
        case ItemOutcome::Damaged: return ErrorCode::Damaged;
        case ItemOutcome::Stopped: return ErrorCode::Stopped;
        case ItemOutcome::Declined: return ErrorCode::Refused;
        case ItemOutcome::Refused:
        case ItemOutcome::Failed: {
            if (r.cause == ENOENT && r.failure.Is(archmsg::kErrorOpeningLas)) return ErrorCode::NotFound;
            return detail::CodeOf(r.failure.kind, r.outcome == ItemOutcome::Refused);
        }
        default: return ErrorCode::Ok;
    }
}

ItemReport ReportOfItem(const ItemResult& r) {
    ItemReport report;
    report.name = r.item.name;
    report.index = r.item.index;
    report.count = r.item.count;
    report.outcome = OutcomeOf(r.outcome);
    report.code = CodeOfItem(r);
    report.message = r.Describe();
    report.reason = r.message;
    report.subject = r.subject.empty() ? r.item.name : r.subject;
    report.aboutArchive = !r.subject.empty() && r.subject == r.item.archivePath;
    report.systemError = r.cause;
    report.lasBytes = static_cast<uint64_t>(std::max<int64_t>(0, r.item.lasBytes));
    report.storedBytes = static_cast<uint64_t>(std::max<int64_t>(0, r.storedBytes));
    report.storedIn = r.storedIn;
    return report;
}

}  // namespace

// ---- JobControl ---------------------------------------------------------

// The control's wishes outlive any one job; the job in hand, while there is
// one, hears them at once.
struct JobControl::Impl {
    mutable std::mutex mutex;
    std::condition_variable changed;  // a pause ended, or a stop came
    CArchiveJob* job = nullptr;
    bool stop = false;
    bool paused = false;
};

JobControl::JobControl() : impl(std::make_unique<Impl>()) {}
JobControl::~JobControl() = default;

void JobControl::Stop() {
    std::lock_guard<std::mutex> lock(impl->mutex);
    impl->stop = true;
    if (impl->job) impl->job->RequestStop();
    impl->changed.notify_all();
}

bool JobControl::Paused() const {
    std::lock_guard<std::mutex> lock(impl->mutex);
    return impl->paused;
}

bool JobControl::WaitWhilePaused() {
    // The control's own wishes, which the job in hand hears too: so a
    // caller's work outside the library's jobs pauses with them alike.
    std::unique_lock<std::mutex> lock(impl->mutex);
    impl->changed.wait(lock, [this] { return !impl->paused || impl->stop; });
    return !impl->stop;
}

bool JobControl::StopRequested() const {
    std::lock_guard<std::mutex> lock(impl->mutex);
    return impl->stop;
}

void JobControl::Pause() {
    std::lock_guard<std::mutex> lock(impl->mutex);
    impl->paused = true;
    if (impl->job) impl->job->RequestPause();
}

void JobControl::Resume() {
    std::lock_guard<std::mutex> lock(impl->mutex);
    impl->paused = false;
    if (impl->job) impl->job->Resume();
    impl->changed.notify_all();
}

void JobControl::Reset() {
    std::lock_guard<std::mutex> lock(impl->mutex);
    impl->stop = impl->paused = false;
    if (impl->job) impl->job->Reset();
    impl->changed.notify_all();
}

JobStatus JobControl::Status() const {
    std::lock_guard<std::mutex> lock(impl->mutex);
    JobStatus s;
    if (!impl->job) return s;
    const JobProgress p = impl->job->Progress();
    s.active = p.active;
    s.index = p.index;
    s.count = p.count;
    s.displayName = p.displayName;
    s.lasBytes = static_cast<uint64_t>(std::max<int64_t>(0, p.lasBytes));
    s.fraction = p.percent / 100.0;
    s.ratio = p.ratio;
    return s;
}

namespace detail {

// Binds a control to the job in hand for as long as it runs.
struct JobControlAccess {
    JobControlAccess(JobControl* control, CArchiveJob& job) : control(control) {
        if (!control) return;
        std::lock_guard<std::mutex> lock(control->impl->mutex);
        control->impl->job = &job;
        // Asked for before the job began: it begins stopped or paused.
        if (control->impl->stop) job.RequestStop();
        if (control->impl->paused) job.RequestPause();
    }
    ~JobControlAccess() {
        if (!control) return;
        std::lock_guard<std::mutex> lock(control->impl->mutex);
        control->impl->job = nullptr;
    }
    JobControlAccess(const JobControlAccess&) = delete;
    JobControlAccess& operator=(const JobControlAccess&) = delete;

    JobControl* control;
};

}  // namespace detail

namespace {

// Runs a job on a thread of its own while the caller's thread answers its
// questions, hears of its items and reports its progress, so that every
// callback comes on the thread that started the job (a Python caller holds
// no lock for it) and the job waits for each to return.
class JobRunner : public IJobHost {
public:
    explicit JobRunner(const JobOptions& options) : options(options), job(*this) {
        job.SetThreadCount(options.threads);
        job.Archive().extendedForAll = options.extendedForAll;
    }

    template <class Work>
    JobReport Run(Work work) {
        detail::JobControlAccess bound(options.control, job);
        std::optional<JobSummary> summary;
        std::exception_ptr failure;
        std::thread worker([&] {
            try {
                summary = work(job);
            } catch (...) {
                failure = std::current_exception();
            }
            std::lock_guard<std::mutex> lock(mutex);
            finished = true;
            changed.notify_all();
        });
        Serve();
        worker.join();
        if (failure) std::rethrow_exception(failure);
        return ReportOf(*summary);
    }

    void ItemStarted(const JobItem& item) override {
        if (!options.itemStarted) return;
        ItemStart start;
        start.name = item.name;
        start.displayName = item.displayName;
        start.index = item.index;
        start.count = item.count;
        start.lasBytes = static_cast<uint64_t>(std::max<int64_t>(0, item.lasBytes));
        OnCaller([&] {
            options.itemStarted(start);
            return true;
        });
    }
    bool ConfirmReplace(const JobItem& item) override {
        return options.confirmReplace && OnCaller([&] { return options.confirmReplace(item.displayName); });
    }
    bool ConfirmOverwrite(const JobItem&, const std::string& outputPath) override {
        return options.confirmOverwrite && OnCaller([&] { return options.confirmOverwrite(outputPath); });
    }
    bool ItemFinished(const ItemResult& r) override {
        if (!options.itemFinished) return true;
        const ItemReport report = ReportOfItem(r);
        return OnCaller([&] { return options.itemFinished(report); });
    }
    void Notice(const std::string& text) override {
        if (!options.notice) return;
        OnCaller([&] {
            options.notice(text);
            return true;
        });
    }

private:
    // On the job's thread: has the caller's thread run call and waits for
    // its answer. A callback that fails answers no, and the job stops.
    bool OnCaller(const std::function<bool()>& call) {
        std::unique_lock<std::mutex> lock(mutex);
        pending = &call;
        changed.notify_all();
        changed.wait(lock, [&] { return pending == nullptr; });
        return answer;
    }

    // On the caller's thread until the job has finished.
    void Serve() {
        std::unique_lock<std::mutex> lock(mutex);
        while (!finished) {
            changed.wait_for(lock, std::chrono::milliseconds(100), [&] { return finished || pending != nullptr; });
            if (pending) {
                const std::function<bool()>& call = *pending;
                lock.unlock();
                bool yes = false;
                try {
                    yes = call();
                } catch (...) {
                    job.RequestStop();
                }
                lock.lock();
                answer = yes;
                pending = nullptr;
                changed.notify_all();
                continue;
            }
            if (finished) break;
            lock.unlock();
            Report();
            lock.lock();
        }
        lock.unlock();
        Report();
    }

    void Report() {
        try {
            if (options.cancelled && options.cancelled()) job.RequestStop();
            if (options.progress) {
                const JobProgress p = job.Progress();
                const std::size_t done = p.active ? p.index : p.count;
                options.progress(done, p.count, p.active ? p.percent / 100.0 : 0.0);
            }
        } catch (...) {
            job.RequestStop();
        }
    }

    static JobReport ReportOf(const JobSummary& s) {
        JobReport report;
        report.stopped = s.stopped;
        report.ended = s.ended;
        report.createdArchive = s.createdArchive;
        report.allSucceeded = s.AllSucceeded();
        report.summary = s.Text();
        for (const ItemResult& r : s.items) report.items.push_back(ReportOfItem(r));
        return report;
    }

    const JobOptions& options;
    CArchiveJob job;
    std::mutex mutex;
    std::condition_variable changed;
    bool finished = false;
    const std::function<bool()>* pending = nullptr;  // a call waiting for the caller's thread
    bool answer = false;
};

}  // namespace

JobReport Archive::Compress(const std::vector<std::string>& lasFiles, const std::string& archivePath,
                            const JobOptions& options) {
    JobRunner runner(options);
    return runner.Run([&](CArchiveJob& job) { return job.Add(lasFiles, archivePath); });
}

JobReport Archive::Add(const std::vector<std::string>& lasFiles, const JobOptions& options) {
    return Compress(lasFiles, Path(), options);
}

JobReport Archive::Extract(const std::vector<std::string>& entries, const std::string& folder,
                           const JobOptions& options) const {
    JobRunner runner(options);
    return runner.Run([&](CArchiveJob& job) { return job.Extract(Path(), entries, folder); });
}

JobReport Archive::Test(const std::vector<std::string>& entries, const JobOptions& options) const {
    JobRunner runner(options);
    return runner.Run([&](CArchiveJob& job) { return job.Test(Path(), entries); });
}

JobReport Archive::Delete(const std::vector<std::string>& entries, const JobOptions& options) {
    JobRunner runner(options);
    return runner.Run([&](CArchiveJob& job) { return job.Delete(Path(), entries); });
}

}  // namespace velmora
