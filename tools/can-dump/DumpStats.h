#pragma once
#include <cstdint>
#include <cstdio>

class TChannelStats;
struct TStatsSnapshot;

// The headless monitor's statistics: every identifier and kind with its
// figures and the channel's totals line, after the run and at once on
// SIGUSR1; with an interval, the totals line every so often as well. They go
// to standard error, beside the end-of-run summary, so that a recording on
// standard output stays whole.
class TDumpStats {
public:
    // `intervalSeconds` <= 0: no totals line on a clock.
    TDumpStats(const TChannelStats& stats, double intervalSeconds, std::FILE* out);

    // SIGUSR1 asks for the whole statistics without stopping.
    static void InstallSignal();
    // A SIGUSR1 came since the last call (for a run that prints its figures itself).
    static bool TakeSignal();

    // Prints what is due: everything after a SIGUSR1, the totals line when the
    // interval has passed. Called from the tool's loop.
    void Poll(uint32_t nowTick);
    // How long until the next totals line is due, for the loop's sleep.
    uint32_t MsUntilDue(uint32_t nowTick) const;
    // One line per identifier and kind, sorted by identifier, then the totals line.
    void PrintAll() const;
    // The same lines for any run's figures (a recording read with --input).
    static void Print(const TStatsSnapshot& snapshot, std::FILE* out);

private:
    void PrintTotals() const;

    const TChannelStats& Stats;
    uint32_t IntervalMs;
    uint32_t LastTick;
    std::FILE* Out;
};
