#include "engine/TaskPool.h"

#include <algorithm>

TaskPool::TaskPool(int threadCount) : threads(std::max(1, threadCount)) {
    // The caller's thread works too (as worker 0), so one fewer is started.
    for (int i = 1; i < threads; ++i) workers.emplace_back([this, i] { Worker(i); });
}

TaskPool::~TaskPool() {
    {
        std::lock_guard<std::mutex> lock(mutex);
        stopping = true;
    }
    wake.notify_all();
    for (auto& t : workers) t.join();
}

bool TaskPool::RunOne(std::unique_lock<std::mutex>& lock, int index) {
    if (!batch || next >= batch->size()) return false;
    Task& task = (*batch)[next++];
    ++running;
    lock.unlock();
    std::exception_ptr error;
    try {
        task(index);
    } catch (...) {
        error = std::current_exception();
    }
    lock.lock();
    if (error && !firstError) firstError = error;
    --running;
    // After a failure the remaining tasks are skipped.
    if (firstError) next = batch->size();
    if (next >= batch->size() && running == 0) done.notify_all();
    return true;
}

void TaskPool::Worker(int index) {
    std::unique_lock<std::mutex> lock(mutex);
    for (;;) {
        wake.wait(lock, [this] { return stopping || (batch && next < batch->size()); });
        if (stopping) return;
        while (RunOne(lock, index)) {
        }
    }
}

void TaskPool::Run(std::vector<Task>& tasks) {
    std::unique_lock<std::mutex> lock(mutex);
    batch = &tasks;
    next = 0;
    running = 0;
    firstError = nullptr;
    wake.notify_all();
    while (RunOne(lock, 0)) {
    }
    done.wait(lock, [this] { return next >= batch->size() && running == 0; });
    batch = nullptr;
    const std::exception_ptr error = firstError;
    firstError = nullptr;
    lock.unlock();
    if (error) std::rethrow_exception(error);
}
