// End-to-end receive and send figures over a pseudo-terminal: the simulated
// adapter runs as its own process, so this process's CPU time is the receiving
// side only (read thread, parser, trace, table, task thread).
//
// Frames are counted by the sequence numbers the receiver sees. The simulator
// gives every frame that falls due the next number, also one it has to drop
// (the link full, a write that nobody takes), so each loss is a gap wherever it
// happens. The window counted is that of the numbers handed out between two
// readings of the simulator's totals (SIGUSR1) at the start and the end of the
// timed part, once the channel runs; the totals tell how many it dropped itself.
// The rest of the loss happened after the simulator: in the terminal or in the
// receiver. A run with a receiver stopped for a while shows that the figure moves.
//
//   bench_link [--seconds S] [--skip-unlimited] [--skip-latency] [--skip-stall]
#include <signal.h>
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
#include "SequenceCount.h"
#include "core/CanSettings.h"
#include "core/CanText.h"
#include "platform/PseudoTerminal.h"
#include "seeed/SeeedManager.h"
#include "views/TarvenixTable.h"
#include "views/TarvenixTrace.h"

namespace {

using TClock = std::chrono::steady_clock;

// After the simulator is asked for its totals, the frames it had numbered by
// then reach the receiver within this time.
constexpr auto kSettle = std::chrono::milliseconds(500);
constexpr double kSettleSeconds = 0.5;

double CpuSeconds()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

struct TRunResult {
    double Seconds = 0;
    double FramesPerSecond = 0; // received during the timed part
    double CpuPercent = -1;     // receiving side; -1 when not measured
    bool Opened = false;
    TSeqCount Count;
    TSimTotals Sim;

    // Loss the simulator does not account for: in the terminal or the receiver.
    long long LostAfterSimulator() const
    {
        return static_cast<long long>(Count.Lost) - static_cast<long long>(Sim.DroppedBeforeLink());
    }
    bool Clean() const { return Count.Lost == 0 && Count.OutOfOrder == 0 && Count.Duplicated == 0; }
};

TChild StartSim(const std::vector<std::string>& simArgs)
{
    std::vector<std::string> args = {TCM_SEEED_SIM_EXE, "--quiet", "--ids", "64", "--mixed"};
    args.insert(args.end(), simArgs.begin(), simArgs.end());
    return TChild(args);
}

// Asks the simulator for its totals now; its standard error keeps them until it ends.
void AskTotals(TChild& sim)
{
    ::kill(sim.Id(), SIGUSR1);
}

// Ends the simulator and counts the frames the receiver got against the
// numbers it handed out between the first two readings of its totals.
void Settle(TChild& sim, const std::vector<TCanFrame>& frames, TRunResult& r)
{
    ::kill(sim.Id(), SIGTERM);
    sim.WaitExit(5000);
    const std::vector<TSimTotals> totals = TSimTotals::AllIn(sim.ErrText);
    if (totals.size() < 2)
        return;
    r.Sim = totals[1].Since(totals[0]);
    TSeqTally tally(totals[0].Generated, totals[1].Generated);
    for (const TCanFrame& f : frames)
        tally.Add(f);
    r.Count = tally.Result();
}

// Receives the simulator's traffic for `seconds` through a running manager,
// then counts every trace entry by its sequence number.
TRunResult Receive(const std::vector<std::string>& simArgs, double seconds)
{
    TRunResult r;
    TChild sim = StartSim(simArgs);
    const std::string port = sim.ReadLine(3000);
    if (port.empty())
        return r;
    TSeeedManager manager(TSeeedManagerOptions{std::string()});
    manager.GetSettings()->Rate = 1000000;
    if (!manager.OpenPort(port) || !manager.Start())
        return r;
    r.Opened = true;
    std::this_thread::sleep_for(std::chrono::milliseconds(300)); // traffic under way
    AskTotals(sim);
    TTarvenixTraceList& trace = *manager.GetTrace();
    const int32_t first = trace.Count();
    const double cpu0 = CpuSeconds();
    const auto t0 = TClock::now();
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    const int32_t last = trace.Count();
    r.Seconds = std::chrono::duration<double>(TClock::now() - t0).count();
    r.CpuPercent = 100.0 * (CpuSeconds() - cpu0) / r.Seconds;
    r.FramesPerSecond = static_cast<double>(last - first) / r.Seconds;
    AskTotals(sim);
    std::this_thread::sleep_for(kSettle);
    manager.Stop();
    manager.ClosePort();

    std::vector<TCanFrame> frames(static_cast<size_t>(trace.Count()));
    for (int32_t i = 0; i < trace.Count(); ++i) {
        const TTarvenixTraceItem* item = trace.Item(i);
        frames[static_cast<size_t>(i)].Length = item->Length;
        std::memcpy(frames[static_cast<size_t>(i)].Data, item->Data, 8);
    }
    Settle(sim, frames, r);
    return r;
}

// The frame of a candump log line ("(1700000000.123456) can0 123#0011..."); none
// for another line.
std::optional<TCanFrame> CandumpFrame(const std::string& line)
{
    const size_t a = line.find(") ");
    const size_t b = a == std::string::npos ? a : line.find(' ', a + 2);
    if (b == std::string::npos)
        return std::nullopt;
    const size_t end = line.find(' ', b + 1);
    return ParseCompactFrame(std::string_view(line).substr(b + 1, end == std::string::npos ? end : end - b - 1));
}

// tarvenix-can-dump as the receiver, stopped (SIGSTOP) for `stall` seconds in
// the middle of the run: its engine reads nothing meanwhile, the terminal fills,
// the simulator's writes time out and its backlog overruns.
TRunResult ReceiveStalled(double fps, double before, double stall, double after)
{
    TRunResult r;
    TChild sim = StartSim({"--fps", std::to_string(static_cast<long>(fps))});
    const std::string port = sim.ReadLine(3000);
    if (port.empty())
        return r;
    TChild dump({TCM_CAN_DUMP_EXE, "--port", port, "--rate", "1000000", "--format", "candump"});
    std::vector<TCanFrame> frames;
    const auto readFor = [&](double seconds) {
        const auto end =
            TClock::now() + std::chrono::duration_cast<TClock::duration>(std::chrono::duration<double>(seconds));
        while (TClock::now() < end) {
            const std::string line = dump.ReadLine(20);
            if (auto f = CandumpFrame(line))
                frames.push_back(*f);
        }
    };
    readFor(1);
    r.Opened = !frames.empty();
    AskTotals(sim);
    readFor(before);
    ::kill(dump.Id(), SIGSTOP);
    std::this_thread::sleep_for(std::chrono::duration<double>(stall));
    ::kill(dump.Id(), SIGCONT);
    readFor(after);
    AskTotals(sim);
    readFor(kSettleSeconds);
    ::kill(dump.Id(), SIGTERM);
    dump.WaitExit(5000);
    for (const std::string& line : Lines(dump.OutText))
        if (auto f = CandumpFrame(line))
            frames.push_back(*f);
    r.Seconds = before + stall + after;
    Settle(sim, frames, r);
    r.FramesPerSecond = static_cast<double>(r.Count.Received) / r.Seconds;
    return r;
}

void PrintRun(const char* what, const TRunResult& r)
{
    const TSeqCount& c = r.Count;
    std::printf("%s: %.1f s, %.0f frames/s received", what, r.Seconds, r.FramesPerSecond);
    if (r.CpuPercent >= 0)
        std::printf(", receiving side CPU %.2f %% of one core", r.CpuPercent);
    std::printf("\n  receiver, by sequence number: expected %llu, received %llu, lost %llu (%.2f %%), out of order "
                "%llu, duplicated %llu, without a number %llu\n",
                static_cast<unsigned long long>(c.Expected), static_cast<unsigned long long>(c.Received),
                static_cast<unsigned long long>(c.Lost),
                c.Expected ? 100.0 * static_cast<double>(c.Lost) / static_cast<double>(c.Expected) : 0.0,
                static_cast<unsigned long long>(c.OutOfOrder), static_cast<unsigned long long>(c.Duplicated),
                static_cast<unsigned long long>(c.Foreign));
    if (!r.Sim.Valid) {
        std::printf("  simulator: no totals (it did not answer)\n");
        return;
    }
    std::printf("  simulator: generated %llu, sent %llu; dropped before the link: overrun %llu, abandoned %llu, "
                "unwritten %llu (%llu failed writes)\n  lost after the simulator (terminal or receiver): %lld\n",
                r.Sim.Generated, r.Sim.Sent, r.Sim.Overrun, r.Sim.Abandoned, r.Sim.Unwritten, r.Sim.WriteFailures,
                r.LostAfterSimulator());
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
    bool stall = true;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--seconds" && i + 1 < argc)
            seconds = std::atof(argv[++i]);
        else if (a == "--skip-unlimited")
            unlimited = false;
        else if (a == "--skip-latency")
            latency = false;
        else if (a == "--skip-stall")
            stall = false;
    }

    std::printf("Conditions: simulator as a separate process on a pseudo-terminal, 64 identifiers mixed 11/29-bit,\n"
                "8 data bytes, manager running with trace and table on, no window. Counted by sequence number:\n"
                "the frames the simulator numbered during the timed part, sent or dropped.\n");
    const TRunResult limit = Receive({"--fps", "20000"}, seconds);
    if (!limit.Opened) {
        std::printf("could not open the simulated adapter\n");
        return 1;
    }
    PrintRun("At the link limit (2,000,000 baud, 10 bits a byte: 10,000 frames/s), 20,000 frames/s asked", limit);
    const TRunResult below = Receive({"--fps", "9500"}, std::min(seconds, 20.0));
    PrintRun("Just below the link limit, 9,500 frames/s asked", below);

    if (unlimited) {
        long best = 0;
        for (int fps : {20000, 40000, 80000, 160000, 320000}) {
            const TRunResult r = Receive({"--fps", std::to_string(fps), "--unlimited"}, 5);
            char what[96];
            std::snprintf(what, sizeof(what), "No baud limit, %d frames/s asked", fps);
            PrintRun(what, r);
            if (!r.Clean() || r.FramesPerSecond < 0.95 * fps)
                break;
            best = fps;
        }
        std::printf("Highest rate held with no loss, no baud limit: %ld frames/s\n", best);
    }
    bool stallShows = true;
    if (stall) {
        const TRunResult r = ReceiveStalled(8000, 3, 2, 3);
        PrintRun("Receiver stopped (tarvenix-can-dump, SIGSTOP) for 2 s of 8 s, 8,000 frames/s asked", r);
        stallShows = r.Opened && r.Count.Lost > 0;
        if (!stallShows)
            std::printf("  THE STOPPED RECEIVER'S LOSS DID NOT SHOW\n");
    }
    if (latency)
        MeasureLatency(1000);
    // At the limit the simulator drops what the link cannot carry; nothing more may be lost.
    const bool limitClean = limit.LostAfterSimulator() == 0 && limit.Count.OutOfOrder == 0 &&
                            limit.Count.Duplicated == 0 && limit.Count.Foreign == 0;
    return limitClean && below.Clean() && stallShows ? 0 : 1;
}
