#pragma once

#include <condition_variable>
#include <cstddef>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

// Items worked on by a few threads, each taking the next item as soon as it
// is free, and handed back to the caller in the order they were put in. The
// caller fills an item (reads its input) and puts it in; it takes the items
// back, oldest first, once their work is done (writes their output). A
// thread that finishes early starts on the next item instead of waiting for
// the slowest of a batch, and the caller's reading and writing overlap the
// work. At most `slots` items are in at once, so memory stays bounded.
//
// With no worker threads, Put does the work at once on the caller.
template <class Item>
class CInOrderWork {
public:
    // work(item, worker): worker (0 .. workers - 1, 0 with none) names the
    // thread, for working memory of its own.
    using Work = std::function<void(Item&, std::size_t worker)>;

    CInOrderWork(std::size_t workers, std::size_t slots, Work work)
        : items(slots < 1 ? 1 : slots), errors(items.size()), done(items.size(), false), work(std::move(work)) {
        for (std::size_t w = 0; w < workers; ++w) threads.emplace_back([this, w] { Worker(w); });
    }
    // Waits for the items being worked on; those not yet begun are dropped.
    ~CInOrderWork() {
        {
            std::lock_guard<std::mutex> lock(mutex);
            stopping = true;
        }
        wake.notify_all();
        for (std::thread& t : threads) t.join();
    }
    CInOrderWork(const CInOrderWork&) = delete;
    CInOrderWork& operator=(const CInOrderWork&) = delete;

    // Whether an item can be put in now.
    bool Room() const { return put - taken < items.size(); }
    // The item to fill next (only when there is Room).
    Item& Next() { return items[put % items.size()]; }
    // Puts in the item Next gave, filled.
    void Put() {
        const std::size_t k = put % items.size();
        errors[k] = nullptr;
        if (threads.empty()) {
            Run(k, 0);
            ++put;
            return;
        }
        {
            std::lock_guard<std::mutex> lock(mutex);
            done[k] = false;
            ++put;
        }
        wake.notify_one();
    }
    // Whether an item is in that has not been taken back.
    bool Pending() const { return taken < put; }
    // The oldest item in, once its work is done; rethrows what the work
    // threw. Only when Pending. The item stays the caller's until Release.
    Item& Oldest() {
        const std::size_t k = taken % items.size();
        if (!threads.empty()) {
            std::unique_lock<std::mutex> lock(mutex);
            finished.wait(lock, [&] { return done[k]; });
        }
        if (errors[k]) std::rethrow_exception(errors[k]);
        return items[k];
    }
    // Gives the oldest item's slot back for another.
    void Release() { ++taken; }

private:
    void Run(std::size_t k, std::size_t worker) {
        try {
            work(items[k], worker);
        } catch (...) {
            errors[k] = std::current_exception();
        }
    }
    void Worker(std::size_t worker) {
        std::unique_lock<std::mutex> lock(mutex);
        for (;;) {
            wake.wait(lock, [&] { return stopping || claimed < put; });
            if (stopping) return;
            const std::size_t k = claimed++ % items.size();
            lock.unlock();
            Run(k, worker);
            lock.lock();
            done[k] = true;
            finished.notify_all();
        }
    }

    std::vector<Item> items;
    std::vector<std::exception_ptr> errors;
    std::vector<bool> done;  // per slot, under mutex
    Work work;
    // Items put in, begun by a worker, and taken back, counted from the start.
    std::size_t put = 0, claimed = 0, taken = 0;
    std::vector<std::thread> threads;
    std::mutex mutex;
    std::condition_variable wake, finished;
    bool stopping = false;
};
