// A long capture: 50 million frames in one trace. Reports the process's
// resident memory as the trace grows and the time to format the last 1,000
// lines at the end (what one window tick does at most), and the same for the
// first 1,000 lines, whose blocks have left memory.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "views/TarvenixTrace.h"
#include "ProcStats.h"

namespace {

double FormatMs(const TTarvenixTraceList& trace, int32_t first, int32_t count, size_t& bytes)
{
    const auto t0 = std::chrono::steady_clock::now();
    std::string text;
    for (int32_t i = first; i < first + count; ++i) {
        text.clear();
        trace.Item(i)->AppendLine(text);
        bytes += text.size();
    }
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
}

} // namespace

int main(int argc, char** argv)
{
    const int32_t entries = argc > 1 ? std::atoi(argv[1]) : 50000000;
    std::printf("resident before: %ld KiB\n", StatusKiB("VmRSS:"));
    TTarvenixTraceList trace;
    TCanFrame f;
    f.Length = 8;
    const auto t0 = std::chrono::steady_clock::now();
    for (int32_t i = 0; i < entries; ++i) {
        f.Id = static_cast<uint32_t>(i);
        f.Time = static_cast<uint32_t>(i);
        f.Data[0] = static_cast<uint8_t>(i);
        trace.AddFrame(f, (i & 1) != 0);
        if ((i + 1) % 10000000 == 0)
            std::printf("%9d entries: resident %ld KiB\n", i + 1, StatusKiB("VmRSS:"));
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    const long resident = StatusKiB("VmRSS:");
    std::printf("adding %d entries took %.1f s (%.1f ns each)\n", entries, seconds, seconds * 1e9 / entries);
    std::printf("resident at the end: %ld KiB (%.1f MB)\n", resident, resident / 1024.0);

    size_t bytes = 0;
    std::vector<double> ticks;
    for (int k = 0; k < 20; ++k)
        ticks.push_back(FormatMs(trace, entries - 1000, 1000, bytes));
    const double firstTick = ticks.front();
    std::sort(ticks.begin(), ticks.end());
    std::printf("format the last 1000 lines: first %.3f ms, median %.3f ms, max %.3f ms\n", firstTick, ticks[10],
                ticks.back());
    const double oldest = FormatMs(trace, 0, 1000, bytes);
    std::printf("format the first 1000 lines (blocks out of the resident set): %.3f ms\n", oldest);
    const bool ok = resident < 300 * 1024 && ticks.back() < 20.0;
    std::printf("limits (resident under 300 MB, tick under 20 ms): %s\n", ok ? "met" : "NOT met");
    return 0;
}
