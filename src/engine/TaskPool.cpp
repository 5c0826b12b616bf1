#include "engine/TaskPool.h"

#include <algorithm>

int TaskPool::Resolve(int requested) {
    if (requested > 0) return requested;
    // Every running task holds a few working arrays of a chunk's size, so
    // more threads mean more memory; eight keep a job well inside 400 MB.
    const unsigned n = std::thread::hardware_concurrency();
    return static_cast<int>(std::clamp(n, 1u, 8u));
}

TaskPool::TaskPool(int threads) : threads_(std::max(1, threads)) {
    // The caller's thread works too, so one fewer is started.
    for (int i = 1; i < threads_; ++i) workers_.emplace_back([this] { Worker(); });
}

TaskPool::~TaskPool() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    for (auto& t : workers_) t.join();
}

bool TaskPool::RunOne(std::unique_lock<std::mutex>& lock) {
    if (!batch_ || next_ >= batch_->size()) return false;
    std::function<void()>& task = (*batch_)[next_++];
    ++running_;
    lock.unlock();
    std::exception_ptr error;
    try {
        task();
    } catch (...) {
        error = std::current_exception();
    }
    lock.lock();
    if (error && !error_) error_ = error;
    --running_;
    // After a failure the remaining tasks are skipped.
    if (error_) next_ = batch_->size();
    if (next_ >= batch_->size() && running_ == 0) done_.notify_all();
    return true;
}

void TaskPool::Worker() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        wake_.wait(lock, [this] { return stopping_ || (batch_ && next_ < batch_->size()); });
        if (stopping_) return;
        while (RunOne(lock)) {
        }
    }
}

void TaskPool::Run(std::vector<std::function<void()>>& tasks) {
    std::unique_lock<std::mutex> lock(mutex_);
    batch_ = &tasks;
    next_ = 0;
    running_ = 0;
    error_ = nullptr;
    wake_.notify_all();
    while (RunOne(lock)) {
    }
    done_.wait(lock, [this] { return next_ >= batch_->size() && running_ == 0; });
    batch_ = nullptr;
    std::exception_ptr error = error_;
    error_ = nullptr;
    lock.unlock();
    if (error) std::rethrow_exception(error);
}
