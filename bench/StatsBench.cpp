// The statistics' cost on the reading thread: the bit length of a frame, and
// a whole update (bit length, lock, identifier look-up, period, load window)
// at 200 and 20,000 identifiers, beside the receive table's update as the
// reference in the same run; and the window's copy of the figures.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "TableUpdateBench.h"
#include "stats/ChannelStats.h"
#include "stats/FrameBits.h"
#include "stats/StatsFigures.h"

namespace {

std::vector<TCanFrame> RandomFrames(size_t n)
{
    std::vector<TCanFrame> frames(n);
    uint32_t seed = 7;
    for (size_t i = 0; i < n; ++i) {
        TCanFrame& f = frames[i];
        seed = seed * 1103515245u + 12345u;
        f.Id = seed >> 3;
        f.Standard = (seed & 1) != 0;
        f.Request = (seed & 6) == 6;
        f.Length = static_cast<int32_t>(i % 9);
        for (auto& d : f.Data)
            d = static_cast<uint8_t>(seed = seed * 1103515245u + 12345u);
    }
    return frames;
}

void BM_FrameBits(benchmark::State& state)
{
    const auto frames = RandomFrames(4096);
    size_t i = 0;
    for (auto _ : state)
        benchmark::DoNotOptimize(CanFrameBits(frames[i++ & 4095]));
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
    state.SetLabel("random standard/extended, data/remote frames of 0..8 bytes");
}
BENCHMARK(BM_FrameBits);

// One frame of a known identifier at 10,000 frames/s of stamps, through the
// channel's statistics as the reading thread feeds them (lock included).
void BM_StatsAddFrame(benchmark::State& state)
{
    const auto ids = static_cast<uint32_t>(state.range(0));
    tcm::TFrameClock clock;
    TChannelStats stats;
    stats.Start(1000000, &clock);
    const int64_t start = clock.NowUs();
    auto frames = RandomFrames(4096);
    for (auto& f : frames)
        f.Standard = false;
    TCanFrame f = frames[0];
    for (uint32_t id = 0; id < ids; ++id) {
        f.Id = id;
        stats.Add(f, false);
    }
    uint32_t i = 0;
    for (auto _ : state) {
        f = frames[i & 4095];
        f.Id = ScatteredId(i, ids);
        f.TimeUs = start + i * 100; // 10,000 frames/s
        ++i;
        stats.Add(f, false);
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
    state.SetLabel(std::to_string(ids) + " distinct extended identifiers, random data");
}
BENCHMARK(BM_StatsAddFrame)->Arg(200)->Arg(20000);

// The receive table's update of a known identifier, the reference.
void BM_TableAddFrameReference(benchmark::State& state)
{
    RunTableAddFrame(state);
}
BENCHMARK(BM_TableAddFrameReference)->Arg(200)->Arg(20000);

// What the window does per refresh of the Statistics page: copy the figures
// (letting the feeding thread in between blocks) and work them out, sorted.
void BM_StatsSnapshotAndFigures(benchmark::State& state)
{
    const auto ids = static_cast<uint32_t>(state.range(0));
    tcm::TFrameClock clock;
    TChannelStats stats;
    stats.Start(1000000, &clock);
    const int64_t start = clock.NowUs();
    TCanFrame f;
    f.Length = 8;
    for (uint32_t i = 0; i < ids * 4; ++i) {
        f.Id = i % ids;
        f.TimeUs = start + i * 100;
        stats.Add(f, false);
    }
    for (auto _ : state) {
        const TStatsSnapshot snapshot = stats.Snapshot();
        benchmark::DoNotOptimize(IdFigures(snapshot));
        benchmark::DoNotOptimize(ChannelFigures(snapshot));
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
    state.SetLabel(std::to_string(ids) + " identifiers per snapshot");
}
BENCHMARK(BM_StatsSnapshotAndFigures)->Arg(200)->Arg(20000)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
