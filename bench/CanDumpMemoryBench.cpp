// Resident memory of tarvenix-can-dump while it records the simulator's traffic
// at full speed (no link limit) into a file: it must stay flat however many
// frames go by, since the monitor releases every trace entry once written.
//
//   bench_can_dump_memory [--frames N] [--format F] [--output FILE] [--fps N]
// Defaults: 10,000,000 frames, candump, a file in the temporary folder (removed),
// 2,000,000 frames/s asked of the simulator (it gives what it can). A format
// whose writer is slower than the traffic falls behind: the entries not yet
// written then wait in the trace and memory grows with that backlog.
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "../tests/support/ChildProcess.h"
#include "ProcStats.h"

namespace {

using TClock = std::chrono::steady_clock;

long FileSize(const std::string& path)
{
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    return in ? static_cast<long>(in.tellg()) : -1;
}

} // namespace

int main(int argc, char** argv)
{
    long frames = 10000000;
    std::string format = "candump";
    std::string output;
    std::string fps = "2000000";
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string a = argv[i];
        if (a == "--frames")
            frames = std::atol(argv[i + 1]);
        else if (a == "--format")
            format = argv[i + 1];
        else if (a == "--output")
            output = argv[i + 1];
        else if (a == "--fps")
            fps = argv[i + 1];
    }
    const bool removeOutput = output.empty();
    if (output.empty())
        output = "/tmp/tcm-bench-can-dump-" + std::to_string(::getpid()) + "." + format;

    TChild sim({TCM_SEEED_SIM_EXE, "--unlimited", "--fps", fps, "--quiet", "--ids", "64", "--mixed"});
    const std::string port = sim.ReadLine(3000);
    if (port.empty()) {
        std::fprintf(stderr, "the simulator did not start\n");
        return 1;
    }
    const auto start = TClock::now();
    TChild dump(
        {TCM_CAN_DUMP_EXE, "--port", port, "--format", format, "--output", output, "--frames", std::to_string(frames)});
    // Samples every 250 ms (printed once a second); the first one after a second
    // is the baseline, once
    // the channel is open and traffic flows.
    long baseline = -1;
    long peak = 0;
    long last = 0;
    double baselineAt = 0;
    std::vector<std::pair<double, long>> samples;
    for (;;) {
        const long rss = StatusKiB("VmRSS:", dump.Id());
        const long hwm = StatusKiB("VmHWM:", dump.Id());
        const double t = std::chrono::duration<double>(TClock::now() - start).count();
        if (rss < 0 || hwm < 0) // ended (a zombie has no memory lines)
            break;
        if (baseline < 0 && t >= 1.0) {
            baseline = rss;
            baselineAt = t;
        }
        peak = std::max(peak, hwm);
        last = rss;
        if (samples.empty() || t - samples.back().first >= 1.0)
            samples.emplace_back(t, rss);
        std::this_thread::sleep_for(std::chrono::milliseconds(250));
    }
    const int status = dump.WaitExit(600000);
    const double seconds = std::chrono::duration<double>(TClock::now() - start).count();
    const long size = FileSize(output);
    if (removeOutput)
        std::remove(output.c_str());

    std::printf("tarvenix-can-dump --format %s --frames %ld from tarvenix-seeed-sim --unlimited --fps %s --mixed\n",
                format.c_str(), frames, fps.c_str());
    std::printf("  exit %d, %s", status, dump.ErrText.c_str());
    std::printf("  %.1f s, about %.0f frames/s, file %.1f MB\n", seconds, frames / seconds, size / 1e6);
    for (const auto& [t, rss] : samples)
        std::printf("  t=%5.1f s  RSS %6.1f MB\n", t, rss / 1024.0);
    std::printf("  RSS at %.1f s %.1f MB, last sample %.1f MB, peak (VmHWM) %.1f MB, growth after the "
                "baseline %.1f MB\n",
                baselineAt, baseline / 1024.0, last / 1024.0, peak / 1024.0, (last - baseline) / 1024.0);
    return status == 0 ? 0 : 1;
}
