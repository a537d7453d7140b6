// tarvenix-can-dump --stats against the candump recording of the same run:
// the same frames, the same bits on the wire (worked out bit by bit here), the
// load and its peak from the recording's own times.
#include <gtest/gtest.h>

#include <signal.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <sstream>

#include "SeeedSimulator.h"
#include "core/CanText.h"
#include "support/ChildProcess.h"
#include "support/TempDir.h"
#include "support/WireFrame.h"

namespace {

struct TTotals {
    unsigned long long Frames = 0;
    unsigned long long Bits = 0;
    double Seconds = 0;
    double Load = 0;
    double Peak = 0;
};

bool ParseTotals(const std::string& line, TTotals& t)
{
    char tail = 0;
    return std::sscanf(line.c_str(), "bus: %llu frames, %llu bits in %lf s, load %lf %% (peak %lf %% in one second%c",
                       &t.Frames, &t.Bits, &t.Seconds, &t.Load, &t.Peak, &tail) == 6 &&
           tail == ')';
}

std::vector<std::string> ErrLines(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

} // namespace

// 10,000 frames/s of 8-byte frames (some remote, a few garbage bytes) at
// 1 Mbit/s, one frame sent, totals every 0.2 s and SIGUSR1 in the middle. The
// run lasts 1.2 s, so that the busiest second is a window that slides: a run
// of about one second could end a fraction short of it, and a run shorter
// than a second is its own busiest second.
TEST(CanDumpStats, TotalsMatchTheRecordingOfTheSameRun)
{
    TSeeedSimOptions options;
    options.FramesPerSecond = 10000;
    options.IdCount = 12;
    options.RemoteShare = 0.1;
    options.GarbageShare = 0.01;
    TSeeedSimulator sim(options);
    ASSERT_TRUE(sim.Start()) << sim.LastError();
    TempDir dir;
    const std::string log = dir.File("run.log");
    TChild dump({TCM_CAN_DUMP_EXE, "--port", sim.PortPath(), "--rate", "1000000", "--format", "candump", "--output",
                 log, "--stats-interval", "0.2", "--duration", "1.2", "--send", "123#1122"});
    ASSERT_TRUE(dump.WaitForErrText("bus: ", 5000)) << dump.ErrText;
    ::kill(dump.Id(), SIGUSR1);
    ASSERT_TRUE(dump.WaitForErrText("std data IN  count", 2000)) << dump.ErrText;
    ASSERT_EQ(dump.WaitExit(10000), 0) << dump.ErrText;

    // stderr: interval lines, the block SIGUSR1 asked for, more interval lines,
    // the summary, then the whole statistics once more.
    const std::vector<std::string> lines = ErrLines(dump.ErrText);
    const auto summary =
        std::find_if(lines.begin(), lines.end(), [](const std::string& l) { return l.rfind("frames in: ", 0) == 0; });
    ASSERT_NE(summary, lines.end()) << dump.ErrText;
    const auto asked = std::find_if(
        lines.begin(), summary, [](const std::string& l) { return l.find(" data IN  count ") != std::string::npos; });
    EXPECT_NE(asked, summary) << "SIGUSR1 printed nothing before the end:\n" << dump.ErrText;
    EXPECT_GE(std::count_if(lines.begin(), summary, [](const std::string& l) { return l.rfind("bus: ", 0) == 0; }), 3);

    TTotals totals;
    ASSERT_TRUE(ParseTotals(lines.back(), totals)) << lines.back();
    unsigned long long listed = 0;
    uint32_t previousId = 0;
    for (auto l = summary + 1; l + 1 != lines.end(); ++l) {
        uint32_t id = 0;
        unsigned long long count = 0;
        char width[4], type[5], direction[4];
        if (std::sscanf(l->c_str(), "%x %3s %4s %3s count %llu,", &id, width, type, direction, &count) != 5)
            continue; // the parser's and the adapter's lines
        EXPECT_GE(id, previousId) << "not sorted by identifier: " << *l;
        previousId = id;
        listed += count;
    }
    EXPECT_EQ(listed, totals.Frames);

    // The recording: the same frames, their bits worked out bit by bit.
    std::ifstream in(log);
    std::vector<std::pair<int64_t, int>> frames; // time in microseconds, bits
    unsigned long long bits = 0;
    for (std::string line; std::getline(in, line);) {
        long long seconds = 0;
        long micro = 0;
        char compact[64];
        ASSERT_EQ(std::sscanf(line.c_str(), "(%lld.%ld) can0 %63s", &seconds, &micro, compact), 3) << line;
        const auto frame = ParseCompactFrame(compact);
        ASSERT_TRUE(frame) << line;
        const int b = wire::WireLength(*frame);
        bits += static_cast<unsigned long long>(b);
        frames.emplace_back(seconds * 1000000 + micro, b);
    }
    EXPECT_GT(frames.size(), 5000u);
    EXPECT_EQ(totals.Frames, frames.size());
    EXPECT_EQ(totals.Bits, bits);
    const double load = static_cast<double>(bits) * 100.0 / (1000000.0 * totals.Seconds);
    // The printed seconds are rounded to the millisecond and the load to 0.01.
    EXPECT_NEAR(totals.Load, load, 0.0051 + load * 0.0005 / totals.Seconds) << lines.back();

    // The busiest second of the recording's own times.
    std::sort(frames.begin(), frames.end());
    unsigned long long window = 0;
    unsigned long long peak = 0;
    for (size_t first = 0, last = 0; last < frames.size(); ++last) {
        window += static_cast<unsigned long long>(frames[last].second);
        while (frames[first].first <= frames[last].first - 1000000)
            window -= static_cast<unsigned long long>(frames[first++].second);
        peak = std::max(peak, window);
    }
    // The one frame sent is stamped on the sending thread: when the reading
    // thread has counted a later frame first, the window takes it at that later
    // time, which can move one frame (at most 160 bits) across the window's edge.
    EXPECT_NEAR(totals.Peak, static_cast<double>(peak) * 100.0 / 1000000.0, 0.006 + 0.016) << lines.back();
}
