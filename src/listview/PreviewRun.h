#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "listview/PointPreview.h"
#include "velmora/velmora.hpp"

// The work behind the details pane, without Qt: what a LAS file or an
// archive entry says of itself, and a sample of its points, read on a
// worker thread while the window goes on. The window looks at what has come
// in whenever it likes, and may cancel at any time.
namespace preview {

// What the pane shows: a LAS file, or an entry of an archive.
struct Target {
    std::string path;    // the LAS file, or the archive
    std::string entry;   // the entry's own name; empty for a LAS file
    int64_t index = -1;  // the entry's place in the directory (-1: the first of its name)
    bool IsEntry() const { return !entry.empty(); }
    bool operator==(const Target&) const = default;
};

class CPreviewRun {
public:
    enum class State { Running, Done, Cancelled, Failed };

    explicit CPreviewRun(Target target, std::size_t maxSamples = kMaxSamples);
    CPreviewRun(const CPreviewRun&) = delete;
    CPreviewRun& operator=(const CPreviewRun&) = delete;

    const Target& What() const { return target; }

    // The worker's part: the facts, then the points a slice at a time,
    // every stride-th kept. Checks for a cancel between slices; whatever it
    // opened (an archive stays locked while its entry is read) is closed
    // before it returns. Never throws: a failure ends the run with its text.
    void Run();

    void Cancel() { cancelled = true; }
    bool CancelRequested() const { return cancelled; }

    // What came in since the last look.
    struct News {
        std::optional<velmora::HeaderFacts> facts;  // once, when they have been read
        bool colour = false;            // with the facts: the records carry RGB
        std::vector<Sample> samples;    // taken since the last look
        State state = State::Running;
        std::string error;              // why the run failed
        bool damaged = false;           // because the entry's stored data is damaged
        uint64_t pointsRead = 0;        // records read so far
        uint64_t pointsTotal = 0;       // records the header declares
    };
    News Take();

    State CurrentState() const;
    // Waits until Run has returned, at most ms milliseconds; true when it has.
    bool WaitEnded(int ms);

private:
    void Work();
    void PublishFacts(const velmora::HeaderFacts& facts, bool colour);
    void End(State how, std::string why = {}, bool damage = false);
    void Fail(std::string why, bool damage = false);
    // Keeps the chunk's samples; false once enough are kept.
    bool TakeChunk(const velmora::PointChunk& chunk);

    const Target target;
    const std::size_t maxSamples;
    std::atomic<bool> cancelled{false};

    // The worker's own, while it reads.
    uint64_t stride = 1, nextTaken = 0, seen = 0, taken = 0;

    mutable std::mutex lock;
    std::condition_variable ended;
    std::optional<velmora::HeaderFacts> newFacts;
    bool newColour = false;
    std::vector<preview::Sample> pending;
    State state = State::Running;
    std::string error;
    bool damaged = false;
    uint64_t pointsRead = 0, pointsTotal = 0;
};

}  // namespace preview
