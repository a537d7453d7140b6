#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "plot/PlotSeries.h"
#include "plot/PlotSource.h"

class TTarvenixTraceList;

// The plotted series of a capture: each source with its samples, decoded
// from the frames in the order they came. Frames of identifiers nobody plots
// cost one look-up. The samples of all series share one cache file. Used by one thread.
class TPlotFeed {
public:
    TPlotFeed();
    ~TPlotFeed();
    TPlotFeed(const TPlotFeed&) = delete;
    TPlotFeed& operator=(const TPlotFeed&) = delete;

    // Adds a series; its samples come from the frames fed after this.
    size_t Add(TPlotSource source);
    void Remove(size_t index);
    size_t Count() const { return Series.size(); }
    const TPlotSource& Source(size_t index) const { return Series[index]->Source; }
    const TPlotSeries& Samples(size_t index) const { return Series[index]->Samples; }
    // For writing samples that were decoded elsewhere (long captures made up in a benchmark).
    TPlotSeries& Samples(size_t index) { return Series[index]->Samples; }

    // Decodes a frame into every series that it carries, at `timeUs`.
    void AddFrame(uint32_t id, bool extended, bool request, const uint8_t* data, int length, int64_t timeUs);
    // Forgets every sample (the series stay).
    void ClearSamples();

    // Feeds the trace's entries from `next` on (at most `maxEntries` of
    // them) and moves `next` past them; the entries' times are the trace's
    // wall-clock times. Returns how many were fed.
    int64_t FeedFrom(const TTarvenixTraceList& trace, int64_t& next, int64_t maxEntries);

    // Why samples are kept in memory instead of the cache file, or that no
    // more could be kept; empty while all is well.
    std::string StorageProblem() const;

private:
    struct TEntry {
        TPlotSource Source;
        TPlotSeries Samples;
        bool Lost = false; // a sample could not be kept
    };
    void Reindex();
    static uint64_t Key(uint32_t id, bool extended) { return (static_cast<uint64_t>(extended) << 32) | id; }

    std::shared_ptr<tcm::TBackingStore> Store;
    std::vector<std::unique_ptr<TEntry>> Series;
    std::unordered_map<uint64_t, std::vector<size_t>> ById;
    TDbcDecoded Decoded;
};
