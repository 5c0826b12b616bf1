#include "app/ProgressLine.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "app/CommandLineMessages.h"
#include "app/TerminalText.h"

namespace {

// Back to the start of the line, and everything right of the cursor cleared.
constexpr const char* kReturn = "\r";
constexpr const char* kClearToEnd = "\x1b[K";
// A name is never cut shorter than this to fit a narrow terminal.
constexpr std::size_t kShortestName = 12;

std::string Fixed(double value, int decimals) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.*f", decimals, value);
    return buf;
}

}  // namespace

std::string FormatDuration(double seconds) {
    if (!std::isfinite(seconds) || seconds < 0 || seconds >= 1e8) return climsg::kUnknownTime;
    const auto total = static_cast<long long>(seconds);
    const long long h = total / 3600, m = total / 60 % 60, s = total % 60;
    char buf[48];
    if (h > 0) {
        std::snprintf(buf, sizeof buf, "%lld:%02lld:%02lld", h, m, s);
    } else {
        std::snprintf(buf, sizeof buf, "%lld:%02lld", m, s);
    }
    return buf;
}

std::string FormatProgressLine(const ProgressFigures& f, std::size_t columns) {
    const int percent = f.done ? 100 : std::clamp(f.percent, 0, 100);
    const double bytesDone = static_cast<double>(f.lasBytes) * percent / 100.0;
    const double rate = f.elapsed > 0 ? bytesDone / f.elapsed : 0;

    std::string prefix;
    if (f.count > 1) {
        prefix += '[';
        prefix += std::to_string(f.index + 1);
        prefix += '/';
        prefix += std::to_string(f.count);
        prefix += "] ";
    }
    std::string rest = "  ";
    rest += std::to_string(percent);
    rest += "%  ";
    rest += (rate > 0 ? Fixed(rate / 1e6, 1) : std::string(climsg::kUnknownFigure)) +
            climsg::kMegabytesPerSecond;
    rest += std::string("  ") + climsg::kRatioWord +
            (f.ratio > 0 ? Fixed(f.ratio * 100, 1) + "%" : std::string(climsg::kUnknownFigure));
    rest += "  " + FormatDuration(f.elapsed) + climsg::kElapsed;
    if (!f.done) {
        const double left = percent > 0 && f.elapsed > 0 ? f.elapsed * (100 - percent) / percent : -1;
        rest += "  " + FormatDuration(left) + climsg::kLeft;
    }

    std::string name = TerminalSafe(f.name);
    if (columns == 0) return prefix + name + rest;
    const std::size_t limit = columns - 1;
    const std::size_t fixed = ColumnsOf(prefix) + ColumnsOf(rest);
    if (fixed + ColumnsOf(name) > limit) {
        name = CutToColumns(name, std::max(kShortestName, limit > fixed ? limit - fixed : 0));
    }
    return HeadOfColumns(prefix + name + rest, limit);
}

CProgressLine::CProgressLine(Poll poll, Write write, Columns columns,
                             std::chrono::milliseconds period)
    : poll(std::move(poll)), write(std::move(write)), columns(std::move(columns)), period(period) {
    ticker = std::thread([this] { Run(); });
}

CProgressLine::~CProgressLine() {
    {
        std::lock_guard<std::mutex> lock(mutex);
        stopping = true;
        Erase();
    }
    wake.notify_all();
    ticker.join();
}

void CProgressLine::Start(const velmora::ItemStart& item) {
    std::lock_guard<std::mutex> lock(mutex);
    Erase();
    figures = ProgressFigures{};
    figures.name = item.displayName;
    figures.index = item.index;
    figures.count = item.count;
    figures.lasBytes = static_cast<int64_t>(item.lasBytes);
    started = std::chrono::steady_clock::now();
    active = true;
    paused = false;
}

void CProgressLine::Pause() {
    std::lock_guard<std::mutex> lock(mutex);
    Erase();
    paused = true;
}

void CProgressLine::Resume() {
    std::lock_guard<std::mutex> lock(mutex);
    paused = false;
    started = std::chrono::steady_clock::now();
}

void CProgressLine::Finish(bool succeeded, double finalRatio) {
    std::lock_guard<std::mutex> lock(mutex);
    if (!active) return;
    active = false;
    paused = false;
    if (!succeeded) {
        Erase();
        return;
    }
    if (finalRatio > 0) figures.ratio = finalRatio;
    Draw(FormatProgressLine(FiguresNow(true), columns()), true);
}

ProgressFigures CProgressLine::FiguresNow(bool done) const {
    ProgressFigures f = figures;
    f.done = done;
    f.elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    return f;
}

void CProgressLine::Run() {
    std::unique_lock<std::mutex> lock(mutex);
    while (!stopping) {
        wake.wait_for(lock, period);
        if (stopping || !active || paused) continue;
        const velmora::JobStatus p = poll();
        // Between two files the job reports nothing; the new file's line
        // starts with its own figures.
        if (!p.active || p.index != figures.index) continue;
        figures.percent = static_cast<int>(std::lround(p.fraction * 100));
        // The engine's running ratio drops to 0 once a file is done; the
        // last one seen stands until the final figure comes.
        if (p.ratio > 0) figures.ratio = p.ratio;
        Draw(FormatProgressLine(FiguresNow(false), columns()), false);
    }
}

void CProgressLine::Draw(const std::string& line, bool end) {
    write(kReturn + line + kClearToEnd + (end ? "\n" : ""));
    drawn = !end;
}

void CProgressLine::Erase() {
    if (!drawn) return;
    write(std::string(kReturn) + kClearToEnd);
    drawn = false;
}
