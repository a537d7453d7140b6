#include "plot/PlotSeries.h"

#include <algorithm>

TPlotSeries::TPlotSeries(std::shared_ptr<tcm::TBackingStore> store) : Store(store), Samples(std::move(store)) {}

bool TPlotSeries::Append(int64_t timeUs, double value)
{
    if (Failed)
        return false;
    if (Count() > 0)
        timeUs = std::max(timeUs, LastUs);
    else
        FirstUs = timeUs;
    LastUs = timeUs;
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
            Levels.push_back(std::make_unique<TPlotBlocks<TPlotSpan>>(Store, true));
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
    FirstUs = LastUs = 0;
}

int64_t TPlotSeries::LowerBound(int64_t timeUs) const
{
    // Down from the top level: among the (at most kFanout) spans below the one found
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
        start = j * kFanout;
    }
    const int64_t end = std::min(start + kFanout, Count());
    while (start < end && Samples[start].TimeUs < timeUs)
        ++start;
    return start;
}

int TPlotSeries::SpanLevelAt(int64_t i, int64_t end, int coarsest) const
{
    int level = std::min(coarsest, static_cast<int>(Levels.size()) - 1);
    for (; level >= 0; --level) {
        const int64_t size = SpanSamples(level);
        if (i % size == 0 && i + size <= end && i / size < Levels[static_cast<size_t>(level)]->Size())
            break;
    }
    return level;
}

TPlotSpan TPlotSeries::Summary(int64_t first, int64_t end) const
{
    TPlotSpan sum;
    first = std::max<int64_t>(first, 0);
    end = std::min(end, Count());
    for (int64_t i = first; i < end;) {
        const int level = SpanLevelAt(i, end, static_cast<int>(Levels.size()) - 1);
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
    const int64_t first = LowerBound(fromUs);
    const int64_t end = LowerBound(toUs);
    // The coarsest level whose spans hold at most a column's samples: a span
    // counted in the column of its middle is then at most half a pixel off.
    const double perColumn = static_cast<double>(end - first) / columns;
    int coarsest = -1;
    while (coarsest + 1 < static_cast<int>(Levels.size()) &&
           static_cast<double>(SpanSamples(coarsest + 1)) <= perColumn)
        ++coarsest;
    // Column c begins at fromUs + width * c / columns, rounded down; the
    // spans come in time order, so the column only moves to the right.
    const int64_t width = toUs - fromUs;
    int column = 0;
    int64_t edge = fromUs + width / columns; // where the next column begins
    for (int64_t i = first; i < end;) {
        const int level = SpanLevelAt(i, end, coarsest);
        const TPlotSpan span =
            level < 0 ? TPlotSpan(Samples[i]) : (*Levels[static_cast<size_t>(level)])[i / SpanSamples(level)];
        const int64_t middle = span.FirstUs + (span.LastUs - span.FirstUs) / 2;
        while (middle >= edge && column + 1 < columns) {
            ++column;
            edge = fromUs + width * (column + 1) / columns;
        }
        out[static_cast<size_t>(column)].Add(span);
        i += level < 0 ? 1 : SpanSamples(level);
    }
}
