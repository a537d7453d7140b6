#include "plot/PlotSeries.h"

#include <algorithm>

void TPlotSpan::Add(const TPlotSample& sample)
{
    if (Count == 0) {
        FirstUs = LastUs = sample.TimeUs;
        Min = Max = First = Last = sample.Value;
    } else {
        LastUs = sample.TimeUs;
        Min = std::min(Min, sample.Value);
        Max = std::max(Max, sample.Value);
        Last = sample.Value;
    }
    ++Count;
}

void TPlotSpan::Add(const TPlotSpan& later)
{
    if (later.Count == 0)
        return;
    if (Count == 0) {
        *this = later;
        return;
    }
    LastUs = later.LastUs;
    Min = std::min(Min, later.Min);
    Max = std::max(Max, later.Max);
    Last = later.Last;
    Count += later.Count;
}

TPlotSeries::TPlotSeries(std::shared_ptr<tcm::TBackingStore> store) : Store(store), Samples(std::move(store)) {}

int64_t TPlotSeries::SpanSamples(int level)
{
    int64_t n = 1;
    for (int i = 0; i <= level; ++i)
        n *= kFanout;
    return n;
}

bool TPlotSeries::Append(int64_t timeUs, double value)
{
    if (Failed)
        return false;
    if (Count() > 0)
        timeUs = std::max(timeUs, Samples.Back().TimeUs);
    const TPlotSample sample{timeUs, value};
    if (!Samples.Push(sample)) {
        Failed = true;
        return false;
    }
    if (Pending.empty())
        Pending.emplace_back();
    Pending[0].Add(sample);
    // A span that has all its samples goes into its level and into the span above it.
    for (size_t level = 0; level < Pending.size() && Pending[level].Count == SpanSamples(static_cast<int>(level));
         ++level) {
        if (Levels.size() == level)
            Levels.push_back(std::make_unique<TPlotBlocks<TPlotSpan>>(Store));
        if (!Levels[level]->Push(Pending[level])) {
            Failed = true; // the summary would no longer match the samples
            return false;
        }
        if (Pending.size() == level + 1)
            Pending.emplace_back();
        Pending[level + 1].Add(Pending[level]);
        Pending[level] = TPlotSpan();
    }
    return true;
}

void TPlotSeries::Clear()
{
    Samples.Clear();
    Levels.clear();
    Pending.clear();
    Failed = false;
}

int64_t TPlotSeries::Find(int64_t timeUs, int finest) const
{
    // Down from the top level: among the (at most 64) spans below the one found
    // a level higher, the first whose last time reaches `timeUs`. Past the
    // complete spans of a level, the search goes on in the incomplete rest
    // below it, down to the samples.
    int64_t start = 0;
    for (int level = static_cast<int>(Levels.size()) - 1; level >= 0; --level) {
        const TPlotBlocks<TPlotSpan>& spans = *Levels[static_cast<size_t>(level)];
        const int64_t end =
            level + 1 == static_cast<int>(Levels.size()) ? spans.Size() : std::min(start + kFanout, spans.Size());
        int64_t j = start;
        while (j < end && spans[j].LastUs < timeUs)
            ++j;
        if (level <= finest && j < spans.Size())
            return j * SpanSamples(level);
        start = j * kFanout;
    }
    const int64_t end = std::min(start + kFanout, Count());
    while (start < end && Samples[start].TimeUs < timeUs)
        ++start;
    return start;
}

int64_t TPlotSeries::LowerBound(int64_t timeUs) const
{
    return Find(timeUs, -1);
}

TPlotSpan TPlotSeries::Summary(int64_t first, int64_t end) const
{
    TPlotSpan sum;
    first = std::max<int64_t>(first, 0);
    end = std::min(end, Count());
    for (int64_t i = first; i < end;) {
        // The largest complete span that starts at i and ends by `end`, else one sample.
        int level = static_cast<int>(Levels.size()) - 1;
        for (; level >= 0; --level) {
            const int64_t size = SpanSamples(level);
            if (i % size == 0 && i + size <= end && i / size < Levels[static_cast<size_t>(level)]->Size())
                break;
        }
        if (level < 0) {
            sum.Add(Samples[i]);
            ++i;
        } else {
            sum.Add((*Levels[static_cast<size_t>(level)])[i / SpanSamples(level)]);
            i += SpanSamples(level);
        }
    }
    return sum;
}

void TPlotSeries::Columns(int64_t fromUs, int64_t toUs, int columns, std::vector<TPlotSpan>& out) const
{
    out.assign(static_cast<size_t>(std::max(columns, 0)), TPlotSpan());
    if (columns <= 0 || toUs <= fromUs || Count() == 0)
        return;
    const int64_t first = Find(fromUs, -1);
    const int64_t last = Find(toUs, -1);
    // The finest level whose spans are at most half a column's samples: the
    // borders move by less than a pixel and the edges touch few pages of the file.
    const double perColumn = static_cast<double>(last - first) / columns;
    int finest = -1;
    while (finest + 1 < static_cast<int>(Levels.size()) &&
           static_cast<double>(SpanSamples(finest + 1) * 2) <= perColumn)
        ++finest;
    int64_t begin = finest < 0 ? first : Find(fromUs, finest);
    const int64_t width = toUs - fromUs;
    for (int c = 0; c < columns; ++c) {
        const int64_t edge = fromUs + static_cast<int64_t>(static_cast<double>(width) * (c + 1) / columns);
        const int64_t end = c + 1 == columns ? last : std::max(begin, Find(edge, finest));
        out[static_cast<size_t>(c)] = Summary(begin, end);
        begin = end;
    }
}
