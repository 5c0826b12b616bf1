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
// on the caller. Each task learns which of the pool's threads runs it
// (0 .. Threads() - 1), so it can use that thread's working memory.
class TaskPool {
public:
    using Task = std::function<void(int worker)>;

    explicit TaskPool(int threadCount);
    ~TaskPool();
    TaskPool(const TaskPool&) = delete;
    TaskPool& operator=(const TaskPool&) = delete;

    int Threads() const { return threads; }
    // Tasks are started in the order given. A task may wait for one given
    // before it (and only for such), which then has already started.
    void Run(std::vector<Task>& tasks);

private:
    void Worker(int index);
    bool RunOne(std::unique_lock<std::mutex>& lock, int index);

    int threads;
    std::vector<std::thread> workers;
    std::mutex mutex;
    std::condition_variable wake;
    std::condition_variable done;
    std::vector<Task>* batch = nullptr;
    std::size_t next = 0;
    std::size_t running = 0;
    std::exception_ptr firstError;
    bool stopping = false;
};
