#pragma once

#include <atomic>
#include <condition_variable>
#include <mutex>

// Where a running job learns that its user wants it to stop or to wait. A
// stop is final until cleared; a pause holds every thread of the job at its
// next check point until it is resumed or turned into a stop, so a question
// put to the user ("quit?") is answered before any more work is done.
class CStopGate {
public:
    void RequestStop();
    void ClearStop();
    bool StopRequested() const { return stopRequested.load(); }

    void RequestPause();
    void Resume();
    bool Paused() const { return paused.load(); }

    // Waits while paused; throws CStopRequested when a stop is pending.
    void CheckPoint();

private:
    std::atomic<bool> stopRequested{false};
    std::atomic<bool> paused{false};
    std::mutex mutex;
    std::condition_variable wake;
};
