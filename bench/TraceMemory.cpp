// Memory of a trace holding 10 million entries, container included: the
// resident set growth of the process and the trace's own count of bytes.
#include <chrono>
#include <memory>
#include <cstdio>
#include <fstream>
#include <string>

#include "views/TarvenixTrace.h"
#include "ProcStats.h"

namespace {

} // namespace

int main()
{
    constexpr int kEntries = 10000000;
    const long before = StatusKiB("VmRSS:");
    auto trace = std::make_unique<TTarvenixTraceList>();
    TCanFrame f;
    f.Length = 8;
    const auto t0 = std::chrono::steady_clock::now();
    for (int i = 0; i < kEntries; ++i) {
        f.Id = static_cast<uint32_t>(i);
        f.Time = static_cast<uint32_t>(i);
        trace->AddFrame(f, (i & 1) != 0);
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    const long after = StatusKiB("VmRSS:");
    std::printf("trace entries: %lld\n", static_cast<long long>(trace->Count()));
    std::printf("sizeof(TTarvenixTraceItem): %zu bytes\n", sizeof(TTarvenixTraceItem));
    std::printf("trace's own bytes per entry: %.2f\n", static_cast<double>(trace->MemoryUsed()) / kEntries);
    std::printf("resident set growth per entry: %.2f bytes (%ld KiB in all)\n",
                static_cast<double>(after - before) * 1024.0 / kEntries, after - before);
    std::printf("adding took %.3f s (%.1f ns per entry, one thread)\n", seconds, seconds * 1e9 / kEntries);
    const bool ok = static_cast<double>(after - before) * 1024.0 / kEntries <= 48.0;
    std::printf("limit 48 bytes per entry: %s\n", ok ? "met" : "NOT met");
    return 0;
}
