#include "stats/StatsFigures.h"

#include <algorithm>
#include <cinttypes>
#include <cmath>
#include <cstdio>

#include "core/CanText.h"

namespace {

double Percent(double bits, double seconds, int32_t rate)
{
    return rate > 0 && seconds > 0 ? bits * 100.0 / (static_cast<double>(rate) * seconds) : 0.0;
}

int64_t EighthOf(const TStatsSnapshot& s)
{
    const int64_t since = s.NowUs - s.Channel.StartUs;
    return since < 0 ? 0 : since / TLastSecond<uint64_t>::kSlotUs;
}

// Sort key of a kind: standard first, then data before remote, received before sent.
int KindOrder(uint8_t kind)
{
    return ((kind & kStatsStandard) ? 0 : 4) | ((kind & kStatsRemote) ? 2 : 0) | ((kind & kStatsOutgoing) ? 1 : 0);
}

} // namespace

TChannelFigures ChannelFigures(const TStatsSnapshot& s)
{
    TChannelFigures f;
    const TChannelCounters& c = s.Channel;
    f.Seconds = static_cast<double>(std::max<int64_t>(s.NowUs - c.StartUs, 0)) / kUsPerSecond;
    f.Frames = c.In.Frames + c.Out.Frames;
    f.Bits = c.In.Bits + c.Out.Bits;
    const int64_t now = EighthOf(s);
    f.InFramesPerSecond = static_cast<double>(c.In.RecentFrames.Sum(now));
    f.OutFramesPerSecond = static_cast<double>(c.Out.RecentFrames.Sum(now));
    f.InBitsPerSecond = static_cast<double>(c.In.RecentBits.Sum(now));
    f.OutBitsPerSecond = static_cast<double>(c.Out.RecentBits.Sum(now));
    f.LoadPercent = Percent(f.InBitsPerSecond + f.OutBitsPerSecond, 1.0, c.Rate);
    f.RunLoadPercent = Percent(static_cast<double>(f.Bits), f.Seconds, c.Rate);
    f.PeakPercent = Percent(static_cast<double>(c.PeakBits), 1.0, c.Rate);
    // A run shorter than a second fits in one window: its own load is the
    // busiest second seen, not its bits spread over a whole second.
    if (f.Seconds < 1.0)
        f.PeakPercent = std::max(f.PeakPercent, f.RunLoadPercent);
    return f;
}

bool IdFiguresBefore(const TIdFigures& a, const TIdFigures& b)
{
    if (a.Id != b.Id)
        return a.Id < b.Id;
    return KindOrder(a.Kind) < KindOrder(b.Kind);
}

std::vector<TIdFigures> IdFigures(const TStatsSnapshot& s)
{
    const double seconds = static_cast<double>(std::max<int64_t>(s.NowUs - s.Channel.StartUs, 0)) / kUsPerSecond;
    const int64_t now = EighthOf(s);
    // The identifiers were copied a moment after the channel's totals: their
    // sum may be a little larger, and a share never goes past 100 %.
    uint64_t idBits = 0;
    for (const TIdCounters& c : s.Ids)
        idBits += c.Bits;
    const double allBits = static_cast<double>(std::max(idBits, s.Channel.In.Bits + s.Channel.Out.Bits));

    std::vector<TIdFigures> list;
    list.reserve(s.Ids.size());
    for (const TIdCounters& c : s.Ids) {
        TIdFigures f;
        f.Id = c.Id;
        f.Kind = c.Kind;
        f.Count = c.Count;
        f.RateLastSecond = static_cast<double>(c.Recent.Sum(now));
        f.RateRun = seconds > 0 ? static_cast<double>(c.Count) / seconds : 0.0;
        f.HasPeriod = c.Count >= 2;
        if (f.HasPeriod) {
            const double periods = static_cast<double>(c.Count - 1);
            const double meanDeviation = c.PeriodDevSum / periods;
            const double variance = std::max(c.PeriodDevSquares / periods - meanDeviation * meanDeviation, 0.0);
            f.PeriodMeanMs = (static_cast<double>(c.PeriodBaseUs) + meanDeviation) / 1000.0;
            f.PeriodMinMs = static_cast<double>(c.PeriodMinUs) / 1000.0;
            f.PeriodMaxMs = static_cast<double>(c.PeriodMaxUs) / 1000.0;
            f.JitterMs = std::sqrt(variance) / 1000.0;
        }
        f.LastLength = c.LastLength;
        f.LastBits = c.LastBits;
        f.SharePercent = allBits > 0 ? static_cast<double>(c.Bits) * 100.0 / allBits : 0.0;
        list.push_back(f);
    }
    std::sort(list.begin(), list.end(), IdFiguresBefore);
    return list;
}

std::string KindText(uint8_t kind)
{
    std::string text = (kind & kStatsStandard) ? "std " : "ext ";
    text += (kind & kStatsRemote) ? "rtr  " : "data ";
    text += (kind & kStatsOutgoing) ? "OUT" : "IN ";
    return text;
}

std::string IdText(const TIdFigures& f)
{
    return FormatCanId(f.Id, (f.Kind & kStatsStandard) != 0);
}

std::string IdLine(const TIdFigures& f)
{
    char head[160];
    std::snprintf(head, sizeof head, "%-8s %s count %" PRIu64 ", %.0f/s (run %.2f/s), ", IdText(f).c_str(),
                  KindText(f.Kind).c_str(), f.Count, f.RateLastSecond, f.RateRun);
    char period[160];
    if (f.HasPeriod)
        std::snprintf(period, sizeof period, "period %.3f ms (min %.3f, max %.3f, jitter %.3f), ", f.PeriodMeanMs,
                      f.PeriodMinMs, f.PeriodMaxMs, f.JitterMs);
    else
        std::snprintf(period, sizeof period, "period -, ");
    char tail[120];
    std::snprintf(tail, sizeof tail, "length %d, %u bits, share %.2f %%", static_cast<int>(f.LastLength), f.LastBits,
                  f.SharePercent);
    return std::string(head) + period + tail;
}

std::string TotalsLine(const TChannelFigures& f)
{
    char line[200];
    std::snprintf(line, sizeof line,
                  "bus: %" PRIu64 " frames, %" PRIu64 " bits in %.3f s, load %.2f %% (peak %.2f %% in one second)",
                  f.Frames, f.Bits, f.Seconds, f.RunLoadPercent, f.PeakPercent);
    return line;
}
