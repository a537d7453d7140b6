#include "DumpStats.h"

#include <atomic>
#include <csignal>
#include <string>

#include "platform/Tick.h"
#include "stats/ChannelStats.h"
#include "stats/StatsFigures.h"

namespace {

std::atomic<bool> g_statsAsked{false};

void OnStatsSignal(int)
{
    g_statsAsked.store(true);
}

} // namespace

TDumpStats::TDumpStats(const TChannelStats& stats, double intervalSeconds, std::FILE* out)
    : Stats(stats), IntervalMs(intervalSeconds > 0 ? static_cast<uint32_t>(intervalSeconds * 1000.0 + 0.5) : 0),
      LastTick(tcm::TickCount()), Out(out)
{
    if (intervalSeconds > 0 && IntervalMs == 0)
        IntervalMs = 1;
}

void TDumpStats::InstallSignal()
{
    struct sigaction action = {};
    action.sa_handler = OnStatsSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGUSR1, &action, nullptr);
}

bool TDumpStats::TakeSignal()
{
    return g_statsAsked.exchange(false);
}

void TDumpStats::Poll(uint32_t nowTick)
{
    if (g_statsAsked.exchange(false))
        PrintAll();
    if (IntervalMs > 0 && nowTick - LastTick >= IntervalMs) {
        // The next line is due one interval after this one was due, so lines
        // keep their rhythm however late the loop woke.
        LastTick += (nowTick - LastTick) / IntervalMs * IntervalMs;
        PrintTotals();
    }
}

uint32_t TDumpStats::MsUntilDue(uint32_t nowTick) const
{
    if (IntervalMs == 0)
        return UINT32_MAX;
    const uint32_t since = nowTick - LastTick;
    return since >= IntervalMs ? 0 : IntervalMs - since;
}

void TDumpStats::PrintTotals() const
{
    const std::string line = TotalsLine(ChannelFigures(Stats.Snapshot())) + "\n";
    std::fputs(line.c_str(), Out);
    std::fflush(Out);
}

void TDumpStats::PrintAll() const
{
    Print(Stats.Snapshot(), Out);
}

void TDumpStats::Print(const TStatsSnapshot& snapshot, std::FILE* out)
{
    std::string text;
    for (const TIdFigures& figures : IdFigures(snapshot))
        text += IdLine(figures) + "\n";
    const TChannelCounters& c = snapshot.Channel;
    if (c.Untracked > 0)
        text += "frames of identifiers beyond the first " + std::to_string(TStatsAccumulator::kMaxIdentifiers) +
                " (in the totals only): " + std::to_string(c.Untracked) + "\n";
    if (c.ParserDamaged > 0 || c.ParserSkipped > 0)
        text += "dropped by the parser: " + std::to_string(c.ParserDamaged) + " damaged packets, " +
                std::to_string(c.ParserSkipped) + " bytes skipped\n";
    if (c.NotTaken > 0)
        text += "frames the adapter could not take: " + std::to_string(c.NotTaken) + "\n";
    text += TotalsLine(ChannelFigures(snapshot)) + "\n";
    std::fputs(text.c_str(), out);
    std::fflush(out);
}
