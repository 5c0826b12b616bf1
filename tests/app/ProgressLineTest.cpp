#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <limits>
#include <mutex>
#include <thread>

#include "app/ProgressLine.h"
#include "app/TerminalText.h"

namespace {

using namespace std::chrono_literals;

ProgressFigures Figures(const std::string& name, int percent, double elapsed) {
    ProgressFigures f;
    f.name = name;
    f.lasBytes = 100'000'000;
    f.percent = percent;
    f.ratio = 0.124;
    f.elapsed = elapsed;
    return f;
}

TEST(ProgressLineText, FiguresGiveTheExactLine) {
    ProgressFigures f = Figures("a.las", 45, 3.0);
    f.index = 1;
    f.count = 24;
    // 45 MB in 3 s is 15 MB/s; the remaining 55 MB take 3.67 s at that rate.
    EXPECT_EQ(FormatProgressLine(f, 0), "[2/24] a.las  45%  15.0 MB/s  ratio 12.4%  0:03 elapsed  0:03 left");

    // One file alone has no batch position.
    ProgressFigures one = Figures("b.las", 10, 61.0);
    EXPECT_EQ(FormatProgressLine(one, 0), "b.las  10%  0.2 MB/s  ratio 12.4%  1:01 elapsed  9:09 left");

    // Final figures: the whole file over the whole time, no time left.
    ProgressFigures done = Figures("b.las", 63, 4.0);
    done.done = true;
    EXPECT_EQ(FormatProgressLine(done, 0), "b.las  100%  25.0 MB/s  ratio 12.4%  0:04 elapsed");
}

TEST(ProgressLineText, FiguresNotKnownYetAreShownAsDashes) {
    ProgressFigures f = Figures("a.las", 0, 0.0);
    f.ratio = 0;
    EXPECT_EQ(FormatProgressLine(f, 0), "a.las  0%  -- MB/s  ratio --  0:00 elapsed  --:-- left");
    // Out-of-range percentages are held to 0..100.
    f.percent = 250;
    f.elapsed = 2;
    EXPECT_EQ(FormatProgressLine(f, 0), "a.las  100%  50.0 MB/s  ratio --  0:02 elapsed  0:00 left");
}

TEST(ProgressLineText, DurationsInMinutesThenHours) {
    EXPECT_EQ(FormatDuration(0), "0:00");
    EXPECT_EQ(FormatDuration(59.99), "0:59");
    EXPECT_EQ(FormatDuration(600), "10:00");
    EXPECT_EQ(FormatDuration(3599), "59:59");
    EXPECT_EQ(FormatDuration(3723), "1:02:03");
    EXPECT_EQ(FormatDuration(360000), "100:00:00");
    EXPECT_EQ(FormatDuration(-1), "--:--");
    EXPECT_EQ(FormatDuration(std::numeric_limits<double>::infinity()), "--:--");
    EXPECT_EQ(FormatDuration(std::nan("")), "--:--");
}

TEST(ProgressLineText, ALongNameIsShortenedToTheTerminalWidth) {
    const std::string name = "survey_2023_block_A_flightline_0042_tile_00123.las";
    const ProgressFigures f = Figures(name, 45, 3.0);
    const std::string full = FormatProgressLine(f, 0);
    // Wide enough: unchanged.
    EXPECT_EQ(FormatProgressLine(f, full.size() + 1), full);
    // One column short: the name loses its middle, and the line stops one
    // column before the edge.
    const std::string cut = FormatProgressLine(f, full.size());
    EXPECT_EQ(ColumnsOf(cut), full.size() - 1);
    EXPECT_EQ(cut.substr(0, 10), name.substr(0, 10));
    EXPECT_NE(cut.find("..."), std::string::npos) << cut;
    EXPECT_NE(cut.find(name.substr(name.size() - 14) + "  45%"), std::string::npos) << cut;
    // Too narrow even for a short name: the line is cut at the edge.
    const std::string narrow = FormatProgressLine(f, 30);
    EXPECT_EQ(ColumnsOf(narrow), 29u);
    EXPECT_EQ(narrow.substr(0, 4), name.substr(0, 4));
}

TEST(ProgressLineText, NamesAreMadeSafeForTheTerminal) {
    EXPECT_EQ(FormatProgressLine(Figures("a\x1b[2Jb\r\xc2\x9b.las", 0, 0), 0).substr(0, 25),
              "a\\x1b[2Jb\\x0d\\u009b.las  ");
    // A multi-byte character is kept whole when a name is cut next to it.
    const std::string e = "\xc3\xa9";
    EXPECT_EQ(CutToColumns("abcdefg" + e + "0123456789" + e + "yyyyyyyy", 20),
              "abcdefg" + e + "..." + e + "yyyyyyyy");
    EXPECT_EQ(CutToColumns("\xc3\xa9\xc3\xa9\xc3\xa9\xc3\xa9\xc3\xa9\xc3\xa9", 4), "\xc3\xa9\xc3\xa9\xc3\xa9\xc3\xa9");
    EXPECT_EQ(CutToColumns("abcdefghijklmnop", 9), "abc...nop");
    EXPECT_EQ(TerminalSafe("tab\there\x7f"), "tab\\x09here\\x7f");
}

// Everything the line writes, and what the job reports.
class FakeTerminal {
public:
    void Write(const std::string& text) {
        std::lock_guard<std::mutex> lock(mutex);
        writes.push_back(text);
    }
    std::vector<std::string> Writes() {
        std::lock_guard<std::mutex> lock(mutex);
        return writes;
    }
    // Waits until more than n writes were made; false after a second.
    bool WaitForMoreThan(std::size_t n) {
        for (int i = 0; i < 1000; ++i) {
            if (Writes().size() > n) return true;
            std::this_thread::sleep_for(1ms);
        }
        return false;
    }
    velmora::JobStatus Poll() {
        velmora::JobStatus p;
        p.active = true;
        p.index = 0;
        p.fraction = percent.load() / 100.0;
        p.ratio = ratio.load();
        return p;
    }
    std::atomic<int> percent{40};
    std::atomic<double> ratio{0.5};

private:
    std::mutex mutex;
    std::vector<std::string> writes;
};

struct LineFixture {
    FakeTerminal term;
    CProgressLine line{[this] { return term.Poll(); }, [this](const std::string& s) { term.Write(s); },
                       [] { return std::size_t{200}; }, 5ms};
    velmora::ItemStart Item() {
        velmora::ItemStart item;
        item.displayName = "a.las";
        item.count = 1;
        item.lasBytes = 1000;
        return item;
    }
};

const std::string kErase = "\r\x1b[K";

TEST(ProgressLineDrawing, RedrawsInPlaceAndEndsWithTheFinalFigures) {
    LineFixture f;
    f.line.Start(f.Item());
    ASSERT_TRUE(f.term.WaitForMoreThan(1));
    const std::string first = f.term.Writes()[0];
    EXPECT_EQ(first.substr(0, 8), "\ra.las  ");
    EXPECT_NE(first.find("40%"), std::string::npos);
    EXPECT_EQ(first.substr(first.size() - 3), "\x1b[K");
    f.term.percent = 80;
    const std::size_t before = f.term.Writes().size();
    ASSERT_TRUE(f.term.WaitForMoreThan(before));
    EXPECT_NE(f.term.Writes().back().find("80%"), std::string::npos);

    f.line.Finish(true, 0.25);
    const auto writes = f.term.Writes();
    const std::string last = writes.back();
    EXPECT_EQ(last.substr(0, 14), "\ra.las  100%  ");
    EXPECT_NE(last.find("ratio 25.0%"), std::string::npos) << last;
    EXPECT_EQ(last.substr(last.size() - 4), "\x1b[K\n");
    // Nothing more once the file is done.
    std::this_thread::sleep_for(30ms);
    EXPECT_EQ(f.term.Writes().size(), writes.size());
}

TEST(ProgressLineDrawing, APauseClearsTheLineAndHoldsItUntilResumed) {
    LineFixture f;
    f.line.Start(f.Item());
    ASSERT_TRUE(f.term.WaitForMoreThan(0));
    f.line.Pause();
    const auto paused = f.term.Writes();
    EXPECT_EQ(paused.back(), kErase);
    std::this_thread::sleep_for(30ms);
    EXPECT_EQ(f.term.Writes().size(), paused.size()) << "drawn while a question was open";
    // A second pause has nothing left to clear.
    f.line.Pause();
    EXPECT_EQ(f.term.Writes().size(), paused.size());

    f.line.Resume();
    ASSERT_TRUE(f.term.WaitForMoreThan(paused.size()));
    // A failed file's line is cleared, not finished.
    f.line.Finish(false, 0);
    EXPECT_EQ(f.term.Writes().back(), kErase);
}

TEST(ProgressLineDrawing, TheLastRunningRatioStandsWhenNoFinalRatioIsKnown) {
    LineFixture f;
    f.line.Start(f.Item());
    ASSERT_TRUE(f.term.WaitForMoreThan(0));
    // The engine's ratio drops to 0 when it finishes the file.
    f.term.ratio = 0;
    const std::size_t drawn = f.term.Writes().size();
    ASSERT_TRUE(f.term.WaitForMoreThan(drawn));
    EXPECT_NE(f.term.Writes().back().find("ratio 50.0%"), std::string::npos);
    f.line.Finish(true, 0);
    EXPECT_NE(f.term.Writes().back().find("ratio 50.0%"), std::string::npos);
}

TEST(ProgressLineDrawing, ALineLeftUnfinishedIsClearedWhenTheDisplayEnds) {
    FakeTerminal term;
    {
        CProgressLine line([&] { return term.Poll(); }, [&](const std::string& s) { term.Write(s); },
                           [] { return std::size_t{200}; }, 5ms);
        velmora::ItemStart item;
        item.displayName = "a.las";
        line.Start(item);
        ASSERT_TRUE(term.WaitForMoreThan(0));
    }
    EXPECT_EQ(term.Writes().back(), kErase);
}

TEST(ProgressLineDrawing, NothingIsDrawnForAnotherItemOrBetweenItems) {
    FakeTerminal term;
    std::atomic<bool> active{false};
    std::atomic<std::size_t> index{3};
    CProgressLine line(
        [&] {
            velmora::JobStatus p = term.Poll();
            p.active = active.load();
            p.index = index.load();
            return p;
        },
        [&](const std::string& s) { term.Write(s); }, [] { return std::size_t{200}; }, 5ms);
    velmora::ItemStart item;
    item.displayName = "a.las";
    item.index = 3;
    item.count = 5;
    line.Start(item);
    std::this_thread::sleep_for(30ms);
    EXPECT_TRUE(term.Writes().empty()) << "drawn while the job had no item in hand";
    index = 2;
    active = true;
    std::this_thread::sleep_for(30ms);
    EXPECT_TRUE(term.Writes().empty()) << "drawn with the figures of the item before";
    index = 3;
    ASSERT_TRUE(term.WaitForMoreThan(0));
    EXPECT_EQ(term.Writes()[0].substr(0, 13), "\r[4/5] a.las ");
}

}  // namespace
