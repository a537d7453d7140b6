#include "plot/PlotFeed.h"

#include <cmath>

#include "views/TarvenixTrace.h"

TPlotFeed::TPlotFeed() : Store(std::make_shared<tcm::TBackingStore>(kPlotBlockBytes, kPlotFileName)) {}

TPlotFeed::~TPlotFeed()
{
    Series.clear(); // every block goes back before the store closes its file
}

size_t TPlotFeed::Add(TPlotSource source)
{
    Series.push_back(std::unique_ptr<TEntry>(new TEntry{std::move(source), TPlotSeries(Store)}));
    Reindex();
    return Series.size() - 1;
}

void TPlotFeed::Remove(size_t index)
{
    if (index >= Series.size())
        return;
    Series.erase(Series.begin() + static_cast<std::ptrdiff_t>(index));
    Reindex();
}

void TPlotFeed::Reindex()
{
    ById.clear();
    for (size_t i = 0; i < Series.size(); ++i)
        ById[Key(Series[i]->Source.Id(), Series[i]->Source.Extended())].push_back(i);
}

void TPlotFeed::AddFrame(uint32_t id, bool extended, bool request, const uint8_t* data, int length, int64_t timeUs)
{
    if (request)
        return;
    const auto found = ById.find(Key(id, extended));
    if (found == ById.end())
        return;
    for (const size_t index : found->second) {
        TEntry& entry = *Series[index];
        if (!entry.Source.Decode(id, extended, data, length, Decoded) || std::isnan(Decoded.Value))
            continue;
        if (!entry.Samples.Append(timeUs, Decoded.Value))
            entry.Lost = true;
    }
}

void TPlotFeed::ClearSamples()
{
    for (auto& entry : Series) {
        entry->Samples.Clear();
        entry->Lost = false;
    }
}

int64_t TPlotFeed::FeedFrom(const TTarvenixTraceList& trace, int64_t& next, int64_t maxEntries)
{
    const int64_t end = std::min(trace.Count(), next + maxEntries);
    const int64_t start = next;
    for (; next < end; ++next) {
        const TTarvenixTraceItem* item = trace.Item(next);
        if (!item)
            continue; // released from the trace's front
        AddFrame(item->Id, !item->Standard, item->Request, item->Data, CanDataBytes(item->Length),
                 trace.WallTimeUs(*item));
    }
    return next - start;
}

std::string TPlotFeed::StorageProblem() const
{
    for (const auto& entry : Series) {
        if (entry->Lost)
            return "Plot storage: no memory is left for new samples of " + entry->Source.Name() +
                   "; the plot keeps what it has.";
        if (!entry->Samples.StorageProblem().empty())
            return "Plot storage: " + entry->Samples.StorageProblem() + ". New samples are kept in memory.";
    }
    return std::string();
}
