#include <cerrno>
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

// Runs a job on a thread of its own while the caller's thread answers its
// questions and reports its progress, so that every callback comes on the
// thread that started the job (a Python caller holds no lock for it).
class JobRunner : public IJobHost {
public:
    explicit JobRunner(const JobOptions& options) : options(options), job(*this) {
        job.SetThreadCount(options.threads);
        job.Archive().extendedForAll = options.extendedForAll;
    }

    template <class Work>
    JobReport Run(Work work) {
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

    bool ConfirmReplace(const JobItem& item) override { return Ask(Question::Replace, item.displayName); }
    bool ConfirmOverwrite(const JobItem&, const std::string& outputPath) override {
        return Ask(Question::Overwrite, outputPath);
    }
    bool ItemFinished(const ItemResult&) override { return true; }

private:
    enum class Question { None, Replace, Overwrite };

    // On the job's thread: hands the question to the caller's thread and
    // waits for the answer.
    bool Ask(Question q, const std::string& subject) {
        std::unique_lock<std::mutex> lock(mutex);
        question = q;
        questionSubject = subject;
        changed.notify_all();
        changed.wait(lock, [&] { return question == Question::None; });
        return answer;
    }

    // On the caller's thread until the job has finished.
    void Serve() {
        std::unique_lock<std::mutex> lock(mutex);
        while (!finished) {
            changed.wait_for(lock, std::chrono::milliseconds(100), [&] { return finished || question != Question::None; });
            if (question != Question::None) {
                const Question q = question;
                const std::string subject = questionSubject;
                lock.unlock();
                bool yes = false;
                try {
                    const auto& ask = q == Question::Replace ? options.confirmReplace : options.confirmOverwrite;
                    yes = ask && ask(subject);
                } catch (...) {
                    // A callback that fails says no, and the job stops.
                    job.RequestStop();
                }
                lock.lock();
                answer = yes;
                question = Question::None;
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
        report.allSucceeded = s.AllSucceeded();
        report.summary = s.Text();
        for (const ItemResult& r : s.items) {
            report.items.push_back({r.item.name, OutcomeOf(r.outcome), CodeOfItem(r), r.Describe()});
        }
        return report;
    }

    const JobOptions& options;
    CArchiveJob job;
    std::mutex mutex;
    std::condition_variable changed;
    bool finished = false;
    Question question = Question::None;
    std::string questionSubject;
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
