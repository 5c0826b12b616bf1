#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "velmora/velmora.hpp"

// The figures of one file's progress line.
struct ProgressFigures {
    std::string name;
    std::size_t index = 0;  // of the file in the batch, from 0
    std::size_t count = 1;  // files in the batch
    int64_t lasBytes = 0;   // length of the file's LAS form
    int percent = 0;
    double ratio = 0;    // stored bytes per LAS byte; 0 while unknown
    double elapsed = 0;  // seconds since the file's work began
    bool done = false;   // the final figures: no time left is shown
};

// "[2/24] a.las  45%  38.1 MB/s  ratio 12.4%  0:03 elapsed  0:04 left": the
// batch position only for a batch of more than one file; MB/s are millions
// of LAS bytes per second (percent x LAS size / elapsed), and the time left
// follows from that rate. At most columns - 1 columns wide (a full last
// column would wrap on some terminals): the name is shortened first. 0 columns
// means no limit.
std::string FormatProgressLine(const ProgressFigures& figures, std::size_t columns);

// "0:07", "12:34", "1:02:03"; "--:--" for a time that cannot be told.
std::string FormatDuration(double seconds);

// One line per file that updates in place: a small thread polls the job and
// redraws at most once per period; the job's thread starts and finishes
// each file's line. Whatever else is printed must come after Pause() or
// Finish(), which leave the cursor at the start of an empty line, so a
// message never lands inside a progress line.
class CProgressLine {
public:
    using Poll = std::function<velmora::JobStatus()>;
    using Write = std::function<void(const std::string&)>;
    using Columns = std::function<std::size_t()>;

    CProgressLine(Poll poll, Write write, Columns columns,
                  std::chrono::milliseconds period = std::chrono::milliseconds(200));
    // Erases a line left unfinished (a job that threw).
    ~CProgressLine();
    CProgressLine(const CProgressLine&) = delete;
    CProgressLine& operator=(const CProgressLine&) = delete;

    // A file's work begins; its line appears at the next redraw.
    void Start(const velmora::ItemStart& item);
    // Erases the line and draws nothing until Resume(): a question or a
    // message is about to be printed.
    void Pause();
    // The work goes on; the clock starts again, so time spent answering is
    // not counted against the rate.
    void Resume();
    // Ends the file's line: its final figures on a line of their own when it
    // succeeded (finalRatio 0 keeps the last running ratio), else erased.
    void Finish(bool succeeded, double finalRatio);

private:
    void Run();
    void Draw(const std::string& line, bool end);
    void Erase();
    ProgressFigures FiguresNow(bool done) const;

    Poll poll;
    Write write;
    Columns columns;
    std::chrono::milliseconds period;
    std::mutex mutex;
    std::condition_variable wake;
    bool stopping = false;
    bool active = false;
    bool paused = false;
    bool drawn = false;  // something of a line is on the terminal
    ProgressFigures figures;
    std::chrono::steady_clock::time_point started;
    std::thread ticker;
};
