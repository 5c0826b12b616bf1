#pragma once

#include <condition_variable>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

// A few worker threads that run batches of independent tasks. Run() returns
// when every task of the batch has finished; the first exception a task
// threw is rethrown there, after the others have finished, so nothing a
// task uses is freed while it still runs. With one thread, tasks run inline
// on the caller.
class TaskPool {
public:
    explicit TaskPool(int threads);
    ~TaskPool();
    TaskPool(const TaskPool&) = delete;
    TaskPool& operator=(const TaskPool&) = delete;

    int Threads() const { return threads_; }
    // Tasks are started in the order given (put the longest first).
    void Run(std::vector<std::function<void()>>& tasks);

    // Threads to use for a requested count: 0 means one per core.
    static int Resolve(int requested);

private:
    void Worker();
    bool RunOne(std::unique_lock<std::mutex>& lock);

    int threads_;
    std::vector<std::thread> workers_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable done_;
    std::vector<std::function<void()>>* batch_ = nullptr;
    std::size_t next_ = 0;
    std::size_t running_ = 0;
    std::exception_ptr error_;
    bool stopping_ = false;
};
