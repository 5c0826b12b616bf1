#include "engine/StopGate.h"

#include "las/LasException.h"

void CStopGate::RequestStop() {
    {
        std::lock_guard<std::mutex> lock(mutex);
        stopRequested.store(true);
    }
    // A paused job must wake up to notice the stop.
    wake.notify_all();
}

void CStopGate::ClearStop() {
    std::lock_guard<std::mutex> lock(mutex);
    stopRequested.store(false);
}

void CStopGate::RequestPause() {
    std::lock_guard<std::mutex> lock(mutex);
    paused.store(true);
}

void CStopGate::Resume() {
    {
        std::lock_guard<std::mutex> lock(mutex);
        paused.store(false);
    }
    wake.notify_all();
}

void CStopGate::CheckPoint() {
    if (paused.load()) {
        std::unique_lock<std::mutex> lock(mutex);
        wake.wait(lock, [this] { return !paused.load() || stopRequested.load(); });
    }
    if (stopRequested.load()) throw CStopRequested();
}
