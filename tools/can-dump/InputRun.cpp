#include "InputRun.h"

#include <algorithm>
#include <cstdio>
#include <exception>
#include <string>

#include "DumpOutput.h"
#include "DumpStats.h"
#include "ToolOptions.h"
#include "record/RecordMerge.h"
#include "stats/ChannelStats.h"
#include "views/TarvenixTrace.h"

namespace {

// Stop signals and SIGUSR1 are looked at once per this many frames.
constexpr uint64_t kStopCheck = 4096;

void Tell(const std::string& text)
{
    std::fprintf(stderr, "tarvenix-can-dump: %s\n", text.c_str());
}

} // namespace

int RunInput(TRecordMerge& input, TDumpOutput& output, const TInputRun& run)
{
    input.OnError = Tell;
    TStatsAccumulator stats;
    bool started = false;
    int64_t lastUs = 0;
    int exitCode = 0;
    try {
        TRecordFrame frame;
        for (uint64_t n = 1; input.Next(frame); ++n) {
            if (run.Stats) {
                if (!started) {
                    stats.Start(run.Rate, frame.WallUs);
                    started = true;
                }
                stats.Add(frame.Frame, frame.Outgoing, frame.WallUs);
                lastUs = std::max(lastUs, frame.WallUs);
            }
            if (output.Put(frame, TTarvenixTraceItem(frame.Frame, frame.Outgoing), run.FrameLimit))
                break;
            if (n % kStopCheck == 0) {
                if (StopRequested())
                    break;
                // SIGUSR1: the figures so far, as a run on a port prints them.
                if (TDumpStats::TakeSignal() && started)
                    TDumpStats::Print(stats.Snapshot(lastUs), stderr);
            }
        }
        output.Finish();
    } catch (const std::exception& e) {
        Tell(e.what());
        exitCode = 1;
    }
    for (const std::string& text : input.LeftOut())
        Tell(text);
    std::fprintf(stderr, "frames in: %ld, frames out: %ld\n", output.FramesIn, output.FramesOut);
    if (run.Stats) {
        if (!started)
            stats.Start(run.Rate, 0);
        stats.Stop(lastUs);
        TDumpStats::Print(stats.Snapshot(lastUs), stderr);
    }
    return exitCode;
}
