// Cost of decoding signals with a DBC database, per signal: the raw bits,
// the physical value and the value-table lookup, and separately the text of
// a signal line as the headless monitor prints it; beside it, the cost of one
// trace line as a reference measured in the same run.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <vector>

#include "signals/DbcDecoder.h"
#include "signals/DbcReader.h"
#include "views/TarvenixTrace.h"

namespace {

const TDbcDatabase& Database()
{
    static const TDbcDatabase db = [] {
        TDbcDatabase d;
        std::string error;
        if (!LoadDbcFile(TCM_DBC_FIXTURE, d, error))
            std::fprintf(stderr, "%s\n", error.c_str());
        return d;
    }();
    return db;
}

// Decodes one message's frames with changing data; counts signals decoded.
void DecodeMessage(benchmark::State& state, uint32_t id, bool extended)
{
    const TDbcMessage* m = Database().Find(id, extended);
    if (!m) {
        state.SkipWithError("fixture message missing");
        return;
    }
    uint8_t data[8] = {0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC, 0xDE, 0xF0};
    std::vector<TDbcDecoded> out;
    out.reserve(16);
    size_t signals = 0;
    for (auto _ : state) {
        out.clear();
        data[0] = static_cast<uint8_t>(data[0] + 1) & 3; // walks the multiplexor's pages too
        data[5] = static_cast<uint8_t>(data[5] + 7);
        signals += DecodeDbcFrame(*m, data, 8, out);
        benchmark::DoNotOptimize(out.data());
    }
    state.counters["ns_per_signal"] =
        benchmark::Counter(static_cast<double>(signals), benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    state.counters["signals_per_frame"] = static_cast<double>(signals) / static_cast<double>(state.iterations());
}

void BM_DecodeIntelAndValueTables(benchmark::State& state)
{
    DecodeMessage(state, 100, false);
}
void BM_DecodeMotorola(benchmark::State& state)
{
    DecodeMessage(state, 0x200, false);
}
void BM_DecodeMultiplexed(benchmark::State& state)
{
    DecodeMessage(state, 0x300, false);
}
void BM_Decode64BitExtended(benchmark::State& state)
{
    DecodeMessage(state, 0x18FEF1FE, true);
}

// Decoding plus the printed line of every signal.
void BM_DecodeAndFormatLines(benchmark::State& state)
{
    const TDbcMessage* m = Database().Find(100, false);
    if (!m) {
        state.SkipWithError("fixture message missing");
        return;
    }
    uint8_t data[8] = {0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC, 0xDE, 0xF0};
    std::vector<TDbcDecoded> out;
    size_t signals = 0;
    for (auto _ : state) {
        out.clear();
        data[1] = static_cast<uint8_t>(data[1] + 3);
        signals += DecodeDbcFrame(*m, data, 8, out);
        for (const auto& d : out) {
            std::string line = FormatDbcSignal(d);
            benchmark::DoNotOptimize(line.data());
        }
    }
    state.counters["ns_per_signal"] =
        benchmark::Counter(static_cast<double>(signals), benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

// Reading a file whose one message has N signals, each with a comment and a
// value table (the shape that was quadratic): time per signal must stay flat
// from 10,000 to 100,000 signals.
std::string LargeFile(int signals)
{
    std::string text = "VERSION \"\"\nBU_: ECU\nBO_ 1024 Big: 8 ECU\n";
    std::string tail;
    for (int i = 0; i < signals; ++i) {
        const std::string name = "Signal_" + std::to_string(i);
        text += " SG_ " + name + " : " + std::to_string(i % 56) + "|8@1+ (0.1,-40) [-40|215] \"degC\" ECU\n";
        tail += "CM_ SG_ 1024 " + name + " \"comment\";\nVAL_ 1024 " + name + " 0 \"Off\" 1 \"On\" ;\n";
    }
    return text + tail;
}

void BM_LoadSignals(benchmark::State& state)
{
    const std::string text = LargeFile(static_cast<int>(state.range(0)));
    size_t signals = 0;
    for (auto _ : state) {
        const TDbcDatabase db = ReadDbcText(text);
        signals += db.SignalCount();
        benchmark::DoNotOptimize(db.Messages.data());
    }
    state.counters["ns_per_signal"] =
        benchmark::Counter(static_cast<double>(signals), benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    state.counters["file_MB"] = static_cast<double>(text.size()) / 1e6;
}

// Reference in the same run: the trace line the headless monitor prints for
// every frame, with or without a database.
void BM_ReferenceTraceLine(benchmark::State& state)
{
    TCanFrame frame;
    frame.Id = 0x64;
    frame.Standard = true;
    frame.Length = 8;
    for (auto _ : state) {
        ++frame.Data[1];
        std::string line = TTarvenixTraceItem(frame, false).FormatLine();
        benchmark::DoNotOptimize(line.data());
    }
}

} // namespace

BENCHMARK(BM_ReferenceTraceLine);
BENCHMARK(BM_DecodeIntelAndValueTables);
BENCHMARK(BM_DecodeMotorola);
BENCHMARK(BM_DecodeMultiplexed);
BENCHMARK(BM_Decode64BitExtended);
BENCHMARK(BM_DecodeAndFormatLines);
BENCHMARK(BM_LoadSignals)->Arg(10000)->Arg(30000)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
