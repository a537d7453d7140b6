#pragma once
// The receive table's update of a known identifier, shared by the benchmarks
// that time it and those that show it as the reference in the same run.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>

#include "views/TarvenixTable.h"

// A stride through `ids` identifiers so that rows are hit in scattered order
// (7919 is prime and shares no factor with the identifier counts used here).
inline uint32_t ScatteredId(uint32_t i, uint32_t ids)
{
    return static_cast<uint32_t>((static_cast<uint64_t>(i) * 7919u) % ids);
}

// Every row exists before the timing starts; state.range(0) identifiers.
inline void RunTableAddFrame(benchmark::State& state)
{
    const auto ids = static_cast<uint32_t>(state.range(0));
    TTarvenixTable table;
    table.SetOnRowChanged([](const TTarvenixTableItem&, int32_t, bool) {});
    TCanFrame f;
    f.Standard = false;
    f.Length = 8;
    for (uint32_t id = 0; id < ids; ++id) {
        f.Id = id;
        table.AddFrame(f);
    }
    uint32_t i = 0;
    for (auto _ : state) {
        f.Id = ScatteredId(i, ids);
        f.Time = i++;
        table.AddFrame(f);
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
    state.SetLabel(std::to_string(ids) + " distinct extended identifiers, hook attached");
}
