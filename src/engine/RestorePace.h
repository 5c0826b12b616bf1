#pragma once

#include <atomic>
#include <cstddef>
#include <limits>

// How far the restoring of one column has got, so a row whose predictor
// reads that column (Y reads X, Z reads X and Y, intensity reads Z) can
// restore a block behind it on another thread instead of waiting for the
// whole column: the chain of restores then takes about as long as its
// slowest link, not the sum of them.
class CRestorePace {
public:
    // Points are published in steps this long, from point 1 on: the blocks
    // the coordinate restores take their steps in.
    static constexpr std::size_t kStep = 4096;

    // Thrown to a follower whose column failed to be restored.
    struct Broken {};

    void Reset() { done.store(0, std::memory_order_relaxed); }

    // Points [0, n) of the column are restored.
    void Reached(std::size_t n) {
        done.store(n, std::memory_order_release);
        done.notify_all();
    }
    // The whole column is restored, whatever its length.
    void Finished() { Reached(kAll); }
    // The column will not be restored: followers stop.
    void Fail() { Reached(kFailed); }

    // Returns once points [0, n) are restored; throws Broken when the
    // column fails instead.
    void Await(std::size_t n) const {
        for (;;) {
            const std::size_t now = done.load(std::memory_order_acquire);
            if (now == kFailed) throw Broken{};
            if (now >= n) return;
            done.wait(now, std::memory_order_acquire);
        }
    }

private:
    static constexpr std::size_t kFailed = std::numeric_limits<std::size_t>::max();
    static constexpr std::size_t kAll = kFailed - 1;
    std::atomic<std::size_t> done{0};
};

// The pace a restore keeps: the column it reads (followed) and its own
// (published); either may be absent when the restore runs alone.
struct RestorePacing {
    const CRestorePace* follows = nullptr;
    CRestorePace* own = nullptr;

    void Await(std::size_t n) const {
        if (follows) follows->Await(n);
    }
    void Reached(std::size_t n) const {
        if (own) own->Reached(n);
    }
};
