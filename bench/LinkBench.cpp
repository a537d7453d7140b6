// End-to-end receive and send figures over a pseudo-terminal: the simulated
// adapter runs as its own process, so this process's CPU time is the receiving
// side only (read thread, parser, trace, table, task thread).
//
//   bench_link [--seconds S] [--skip-unlimited] [--skip-latency]
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "../tests/support/ChildProcess.h"
#include "TrafficGenerator.h"
#include "core/CanSettings.h"
#include "platform/ProgramDir.h"
#include "platform/PseudoTerminal.h"
#include "seeed/SeeedManager.h"
#include "views/TarvenixTable.h"
#include "views/TarvenixTrace.h"

namespace {

using TClock = std::chrono::steady_clock;

double CpuSeconds()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

struct TRunResult {
    double Seconds = 0;
    long Received = 0;
    long Lost = 0;
    long Invented = 0;
    double CpuPercent = 0;
    bool Opened = false;
};

// Receives the simulator's traffic for `seconds` through a running manager and
// checks the sequence numbers of every trace entry.
TRunResult Receive(const std::vector<std::string>& simArgs, double seconds)
{
    TRunResult r;
    std::vector<std::string> args = {TCM_SEEED_SIM_EXE, "--quiet", "--ids", "64", "--mixed"};
    args.insert(args.end(), simArgs.begin(), simArgs.end());
    TChild sim(args);
    const std::string port = sim.ReadLine(3000);
    if (port.empty())
        return r;
    TSeeedManager manager(TSeeedManagerOptions{std::string()});
    manager.GetSettings()->Rate = 1000000;
    if (!manager.OpenPort(port) || !manager.Start())
        return r;
    r.Opened = true;
    std::this_thread::sleep_for(std::chrono::milliseconds(300)); // traffic under way
    TTarvenixTraceList& trace = *manager.GetTrace();
    const int32_t first = trace.Count();
    const double cpu0 = CpuSeconds();
    const auto t0 = TClock::now();
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    const int32_t last = trace.Count();
    r.Seconds = std::chrono::duration<double>(TClock::now() - t0).count();
    r.CpuPercent = 100.0 * (CpuSeconds() - cpu0) / r.Seconds;
    manager.Stop();
    manager.ClosePort();

    bool havePrevious = false;
    uint32_t previous = 0;
    for (int32_t i = first; i < last; ++i) {
        uint32_t seq = 0;
        TCanFrame f;
        const TTarvenixTraceItem* item = trace.Item(i);
        f.Length = item->Length;
        std::memcpy(f.Data, item->Data, 8);
        if (!TTrafficGenerator::SequenceOf(f, seq)) {
            ++r.Invented;
            continue;
        }
        if (havePrevious) {
            if (seq <= previous)
                ++r.Invented;
            else
                r.Lost += static_cast<long>(seq - previous - 1);
        }
        previous = seq;
        havePrevious = true;
        ++r.Received;
    }
    return r;
}

void PrintRun(const char* what, const TRunResult& r)
{
    std::printf("%s: %.1f s, %ld frames received (%.0f frames/s), lost %ld, invented %ld, receiving side CPU %.2f %% "
                "of one core\n",
                what, r.Seconds, r.Received, static_cast<double>(r.Received) / r.Seconds, r.Lost, r.Invented,
                r.CpuPercent);
}

// Time from QueueFrame until the 20 bytes arrive at the far side of the
// terminal, with a hand-made adapter that answers the probe.
void MeasureLatency(int samples)
{
    tcm::TPseudoTerminal pty;
    if (!pty.Open())
        return;
    std::thread device([&] {
        std::vector<uint8_t> got;
        uint8_t buf[64];
        while (got.size() < 40) {
            const int n = pty.Read(buf, sizeof(buf), 50);
            if (n > 0)
                got.insert(got.end(), buf, buf + n);
        }
        pty.Write(got.data() + 20, 20);
    });
    TSeeedManager manager(TSeeedManagerOptions{std::string()});
    manager.GetSettings()->Rate = 500000;
    if (!manager.OpenPort(pty.SlavePath()) || !manager.Start()) {
        device.join();
        return;
    }
    device.join();
    uint8_t buf[64];
    while (pty.Read(buf, sizeof(buf), 50) > 0) {} // the normal-mode settings packet
    std::vector<double> micros;
    TCanFrame f;
    f.Standard = true;
    f.Length = 8;
    for (int i = 0; i < samples; ++i) {
        std::this_thread::sleep_for(std::chrono::microseconds(2000 + (i * 7919) % 3000));
        f.Id = static_cast<uint32_t>(i & 0x7FF);
        const auto t0 = TClock::now();
        manager.QueueFrame(f);
        int have = 0;
        while (have < 20) {
            const int n = pty.Read(buf + have, 20 - have, 200);
            if (n <= 0)
                break;
            have += n;
        }
        micros.push_back(std::chrono::duration<double, std::micro>(TClock::now() - t0).count());
    }
    manager.Stop();
    manager.ClosePort();
    std::sort(micros.begin(), micros.end());
    std::printf("QueueFrame to packet at the far side of the port: %d frames one at a time, median %.0f us, "
                "99th percentile %.0f us, max %.0f us\n",
                samples, micros[micros.size() / 2], micros[micros.size() * 99 / 100], micros.back());
}

} // namespace

int main(int argc, char** argv)
{
    double seconds = 60;
    bool unlimited = true;
    bool latency = true;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--seconds" && i + 1 < argc)
            seconds = std::atof(argv[++i]);
        else if (a == "--skip-unlimited")
            unlimited = false;
        else if (a == "--skip-latency")
            latency = false;
    }

    std::printf("Conditions: simulator as a separate process on a pseudo-terminal, 64 identifiers mixed 11/29-bit,\n"
                "8 data bytes, manager running with trace and table on, no window.\n");
    const TRunResult limit = Receive({"--fps", "20000"}, seconds);
    if (!limit.Opened) {
        std::printf("could not open the simulated adapter\n");
        return 1;
    }
    PrintRun("At the link limit (2,000,000 baud, 10 bits a byte: 10,000 frames/s)", limit);

    if (unlimited) {
        long best = 0;
        for (int fps : {20000, 40000, 80000, 160000, 320000}) {
            const TRunResult r = Receive({"--fps", std::to_string(fps), "--unlimited"}, 5);
            char what[96];
            std::snprintf(what, sizeof(what), "No baud limit, %d frames/s asked", fps);
            PrintRun(what, r);
            if (r.Lost != 0 || r.Invented != 0 || static_cast<double>(r.Received) < 0.95 * fps * r.Seconds)
                break;
            best = fps;
        }
        std::printf("Highest rate held with no loss, no baud limit: %ld frames/s\n", best);
    }
    if (latency)
        MeasureLatency(1000);
    return limit.Lost == 0 && limit.Invented == 0 ? 0 : 1;
}
