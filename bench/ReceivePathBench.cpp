// Receive-side hot paths on one core: the packet parser fed byte by byte, the
// receive table with 200 to 20,000 distinct identifiers, and the trace.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "TableUpdateBench.h"
#include "seeed/SeeedPacket.h"
#include "seeed/SeeedPacketParser.h"
#include "views/TarvenixTrace.h"

namespace {

// A stream of frame packets with a few garbage bytes now and then, as a busy bus gives.
std::vector<uint8_t> MakeStream(size_t packets)
{
    std::vector<uint8_t> stream;
    uint32_t seed = 1;
    for (size_t i = 0; i < packets; ++i) {
        TCanFrame f;
        f.Id = static_cast<uint32_t>(i % 2000);
        f.Standard = (i & 1) != 0;
        f.Length = 8;
        for (auto& d : f.Data)
            d = static_cast<uint8_t>(seed = seed * 1103515245u + 12345u);
        TSeeedPacketFrame p(f);
        stream.insert(stream.end(), p.Wire(), p.Wire() + p.Size());
        if (i % 64 == 0)
            stream.push_back(0x5A);
    }
    return stream;
}

void BM_ParserBytes(benchmark::State& state)
{
    const auto stream = MakeStream(50000);
    TSeeedPacketParser parser;
    uint64_t frames = 0;
    parser.SetOnFrame([&](const TCanFrame& f) { frames += f.Length; });
    for (auto _ : state) {
        for (uint8_t b : stream)
            parser.PutByte(b);
    }
    benchmark::DoNotOptimize(frames);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(stream.size()));
    state.SetLabel("frame packets with a garbage byte every 64 packets; link maximum 200000 B/s");
}
BENCHMARK(BM_ParserBytes)->Unit(benchmark::kMillisecond);

// A frame of a known identifier.
void BM_TableAddFrame(benchmark::State& state)
{
    RunTableAddFrame(state);
}
BENCHMARK(BM_TableAddFrame)->Arg(200)->Arg(2000)->Arg(20000);

// Filling an empty table with `ids` new identifiers in scattered order; the
// figure is per new row.
void BM_TableNewIdentifiers(benchmark::State& state)
{
    const auto ids = static_cast<uint32_t>(state.range(0));
    TTarvenixTable table;
    table.SetOnRowChanged([](const TTarvenixTableItem&, int32_t, bool) {});
    TCanFrame f;
    f.Standard = false;
    f.Length = 8;
    for (auto _ : state) {
        for (uint32_t i = 0; i < ids; ++i) {
            f.Id = ScatteredId(i, ids);
            table.AddFrame(f);
        }
        state.PauseTiming();
        table.Clear();
        state.ResumeTiming();
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * ids);
    state.SetLabel(std::to_string(ids) + " new extended identifiers per iteration");
}
BENCHMARK(BM_TableNewIdentifiers)->Arg(200)->Arg(2000)->Arg(20000)->Unit(benchmark::kMillisecond);

void BM_TraceAddFrame(benchmark::State& state)
{
    TTarvenixTraceList trace;
    TCanFrame f;
    f.Length = 8;
    int64_t added = 0;
    for (auto _ : state) {
        f.Id = static_cast<uint32_t>(added);
        trace.AddFrame(f, false);
        if (++added == 2000000) {
            state.PauseTiming();
            trace.Clear();
            added = 0;
            state.ResumeTiming();
        }
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
}
BENCHMARK(BM_TraceAddFrame);

void BM_TraceFormatLine(benchmark::State& state)
{
    TCanFrame f;
    f.Id = 0x1ABCDEF;
    f.Length = 8;
    f.Time = 123456789;
    TTarvenixTraceItem item(f, false);
    for (auto _ : state)
        benchmark::DoNotOptimize(item.FormatLine());
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
}
BENCHMARK(BM_TraceFormatLine);

} // namespace

BENCHMARK_MAIN();
