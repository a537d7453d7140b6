#pragma once
#include <algorithm>
#include <cstdint>
#include <memory>
#include <vector>

#include "plot/PlotBlocks.h"

// One value of a plotted series at a frame's time (UTC microseconds).
struct TPlotSample {
    int64_t TimeUs = 0;
    double Value = 0;
};

// What a run of consecutive samples spans: its first and last times, its
// lowest and highest values and its first and last values. Empty when Count is 0.
struct TPlotSpan {
    int64_t FirstUs = 0;
    int64_t LastUs = 0;
    double Min = 0;
    double Max = 0;
    double First = 0;
    double Last = 0;
    int64_t Count = 0;

    TPlotSpan() = default;
    explicit TPlotSpan(const TPlotSample& sample)
        : FirstUs(sample.TimeUs), LastUs(sample.TimeUs), Min(sample.Value), Max(sample.Value), First(sample.Value),
          Last(sample.Value), Count(1)
    {
    }

    void Add(const TPlotSample& sample) { Add(TPlotSpan(sample)); }
    // `later` follows this span in time.
    void Add(const TPlotSpan& later)
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
};

// The samples of one plotted series in time order, file-backed, with a min/max
// summary pyramid: level 0 holds one span per 16 samples, level 1 one per 16
// level-0 spans (256 samples), and so on. Any time range of the series is
// then summed up from at most 15 spans per pixel column, so drawing an hour
// of samples costs about what drawing a second costs. The fan-out bounds that
// worst case; 16 keeps it to a few milliseconds for eight series of an hour
// at 10,000 samples/s (64 had it near 16 ms), for a summary a fifth the size
// of the samples. Used by one thread.
class TPlotSeries {
public:
    static constexpr int kFanoutBits = 4;
    static constexpr int64_t kFanout = int64_t{1} << kFanoutBits;

    explicit TPlotSeries(std::shared_ptr<tcm::TBackingStore> store);

    // Appends a sample; a time before the last one counts as the last one, so
    // the series stays ordered. False when no memory is left for it.
    bool Append(int64_t timeUs, double value);
    int64_t Count() const { return Samples.Size(); }
    TPlotSample Sample(int64_t index) const { return Samples[index]; }
    // The first and newest samples' times (0 while there are none), without a read of the file.
    int64_t FirstTimeUs() const { return FirstUs; }
    int64_t LastTimeUs() const { return LastUs; }
    void Clear();

    // Index of the first sample at or after `timeUs` (Count() when none).
    int64_t LowerBound(int64_t timeUs) const;
    // Index of the last sample at or before `timeUs`, -1 when none.
    int64_t AtOrBefore(int64_t timeUs) const { return LowerBound(timeUs + 1) - 1; }
    // The span of samples [first, end).
    TPlotSpan Summary(int64_t first, int64_t end) const;

    // Sums up [fromUs, toUs) in `columns` equal columns (a pixel column each),
    // in one pass from left to right. Where a column holds many samples it is
    // made of summary spans of at most a column's samples, each counted in
    // the column of its middle, so a wide range reads only the coarse levels
    // of the pyramid: a few spans per column, whatever the range.
    void Columns(int64_t fromUs, int64_t toUs, int columns, std::vector<TPlotSpan>& out) const;

    // Why samples are kept in memory instead of the cache file; empty while they are not.
    const std::string& StorageProblem() const { return Samples.Problem(); }

private:
    // Samples one span of `level` covers (level -1: a sample).
    static constexpr int64_t SpanSamples(int level) { return int64_t{1} << (kFanoutBits * (level + 1)); }
    // The level of the largest complete span that starts at sample `i`, ends
    // by `end` and is of level `coarsest` or below; -1 for a single sample.
    int SpanLevelAt(int64_t i, int64_t end, int coarsest) const;

    std::shared_ptr<tcm::TBackingStore> Store;
    TPlotBlocks<TPlotSample> Samples;
    std::vector<std::unique_ptr<TPlotBlocks<TPlotSpan>>> Levels;
    std::vector<TPlotSpan> Pending; // per level, the span still gathering its samples
    bool Failed = false;            // a sample or span could not be kept: no more are taken
    int64_t FirstUs = 0;            // the first sample's time
    int64_t LastUs = 0;             // the newest sample's time
};
