// Both bridges at the link's limit: the simulated adapter reports 10,000
// frames a second (its 2 Mbaud link carries no more) and every frame must come
// out of tarvenix-slcan's terminal and tarvenix-extcap's fifo, in order, none
// lost, none invented (the simulator's sequence numbers tell). The same run
// measures tarvenix-can-dump (the engine with nothing after it) as the CPU
// reference.
//
//   bench_bridges [--seconds S]      (default 60 s per program)
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "../tests/support/ChildProcess.h"
#include "SeeedSimulator.h"
#include "TrafficGenerator.h"
#include "core/CanText.h"
#include "ProcStats.h"

namespace {

using TClock = std::chrono::steady_clock;

// Checks frames by sequence number as they come.
struct TTally {
    long Received = 0;
    long Lost = 0;
    long Invented = 0;
    bool HavePrevious = false;
    uint32_t Previous = 0;

    void Add(const TCanFrame& f)
    {
        uint32_t seq = 0;
        if (!TTrafficGenerator::SequenceOf(f, seq)) {
            ++Invented;
            return;
        }
        ++Received;
        if (HavePrevious) {
            if (seq <= Previous)
                ++Invented;
            else
                Lost += static_cast<long>(seq - Previous - 1);
        }
        HavePrevious = true;
        Previous = seq;
    }
};

struct TResult {
    std::string Name;
    double Seconds = 0;
    TTally Tally;
    double CpuPercent = 0;
    long PeakKb = 0;
    bool Ok = false;
};

// Reads `fd` for `seconds` after a warm-up, handing the bytes to `parse`;
// measures the CPU of `pid` over the counted time.
void Drain(int fd, pid_t pid, double seconds, TResult& r, const std::function<void(const char*, size_t, bool)>& parse)
{
    char buffer[65536];
    const auto warmEnd = TClock::now() + std::chrono::milliseconds(500);
    auto start = warmEnd;
    double cpu0 = 0;
    bool counting = false;
    for (;;) {
        const auto now = TClock::now();
        if (!counting && now >= warmEnd) {
            counting = true;
            start = now;
            cpu0 = ProcessCpuSeconds(pid);
        }
        if (counting && now - start >= std::chrono::duration<double>(seconds))
            break;
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 100) <= 0)
            continue;
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n <= 0)
            break;
        parse(buffer, static_cast<size_t>(n), counting);
    }
    r.Seconds = std::chrono::duration<double>(TClock::now() - start).count();
    r.CpuPercent = 100.0 * (ProcessCpuSeconds(pid) - cpu0) / r.Seconds;
    r.PeakKb = StatusKiB("VmHWM:", pid);
}

TResult RunSlcan(TSeeedSimulator& sim, double seconds)
{
    TResult r{"tarvenix-slcan"};
    TChild bridge({TCM_SLCAN_EXE, "--port", sim.PortPath(), "--rate", "1000000"});
    const std::string terminal = bridge.ReadLine(5000);
    const int fd = ::open(terminal.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return r;
    termios t{};
    ::tcgetattr(fd, &t);
    ::cfmakeraw(&t);
    ::tcsetattr(fd, TCSANOW, &t);
    if (::write(fd, "O\r", 2) != 2)
        return r;
    std::string line;
    bool opened = false;
    Drain(fd, bridge.Id(), seconds, r, [&](const char* data, size_t size, bool counting) {
        for (size_t i = 0; i < size; ++i) {
            if (data[i] != '\r') {
                line += data[i];
                continue;
            }
            opened = opened || line.empty(); // the answer to O
            const bool extended = !line.empty() && line[0] == 'T';
            const size_t idDigits = extended ? 8 : 3;
            if (counting && !line.empty() && (line[0] == 't' || line[0] == 'T') && line.size() >= idDigits + 2) {
                TCanFrame f;
                f.Standard = !extended;
                ParseHexField(std::string_view(line).substr(1, idDigits), idDigits, f.Id);
                f.Length = line[idDigits + 1] - '0';
                for (int b = 0; b < f.Length && idDigits + 2 + 2 * static_cast<size_t>(b) + 2 <= line.size(); ++b) {
                    uint32_t v = 0;
                    ParseHexField(std::string_view(line).substr(idDigits + 2 + 2 * static_cast<size_t>(b), 2), 2, v);
                    f.Data[b] = static_cast<uint8_t>(v);
                }
                r.Tally.Add(f);
            }
            line.clear();
        }
    });
    (void)!::write(fd, "C\r", 2);
    ::kill(bridge.Id(), SIGTERM);
    r.Ok = opened && bridge.WaitExit(10000) == 0 && bridge.ErrText.find("frames dropped: 0") != std::string::npos;
    if (!r.Ok)
        std::fprintf(stderr, "tarvenix-slcan: %s\n", bridge.ErrText.c_str());
    ::close(fd);
    return r;
}

TResult RunExtcap(TSeeedSimulator& sim, double seconds)
{
    TResult r{"tarvenix-extcap"};
    const std::string fifo = "/tmp/bench-bridges-" + std::to_string(::getpid()) + ".fifo";
    ::unlink(fifo.c_str());
    if (::mkfifo(fifo.c_str(), 0600) != 0)
        return r;
    TChild capture({TCM_EXTCAP_EXE, "--capture", "--extcap-interface", "tarvenix_seeed", "--fifo", fifo, "--port",
                    sim.PortPath(), "--rate", "1000000"});
    const int fd = ::open(fifo.c_str(), O_RDONLY | O_CLOEXEC);
    ::unlink(fifo.c_str());
    if (fd < 0)
        return r;
    std::string bytes;
    size_t at = 24; // past the file header
    Drain(fd, capture.Id(), seconds, r, [&](const char* data, size_t size, bool counting) {
        bytes.append(data, size);
        while (bytes.size() >= at + 32) {
            const auto* p = reinterpret_cast<const uint8_t*>(bytes.data() + at + 16);
            const uint32_t id = (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3];
            TCanFrame f;
            f.Id = id & 0x1FFFFFFF;
            f.Standard = (id & 0x80000000u) == 0;
            f.Length = p[4];
            std::memcpy(f.Data, p + 8, 8);
            if (counting)
                r.Tally.Add(f);
            at += 32;
        }
        if (at > 1u << 20) {
            bytes.erase(0, at);
            at = 0;
        }
    });
    ::close(fd); // the end of a capture as Wireshark ends it
    r.Ok = capture.WaitExit(10000) == 0;
    if (!r.Ok)
        std::fprintf(stderr, "tarvenix-extcap: %s\n", capture.ErrText.c_str());
    return r;
}

// The reference: the headless monitor prints every frame to a pipe that this
// program reads and discards.
TResult RunCanDump(TSeeedSimulator& sim, double seconds)
{
    TResult r{"tarvenix-can-dump (reference)"};
    TChild dump({TCM_CAN_DUMP_EXE, "--port", sim.PortPath(), "--rate", "1000000"});
    TClock::time_point start;
    const auto warmEnd = TClock::now() + std::chrono::milliseconds(500);
    double cpu0 = 0;
    bool counting = false;
    for (;;) {
        const auto now = TClock::now();
        if (!counting && now >= warmEnd) {
            counting = true;
            start = now;
            cpu0 = ProcessCpuSeconds(dump.Id());
        }
        if (counting && now - start >= std::chrono::duration<double>(seconds))
            break;
        const std::string line = dump.ReadLine(100);
        const size_t data = line.find("  data: ");
        if (!counting || line.rfind("IN ", 0) != 0 || data == std::string::npos)
            continue;
        TCanFrame f; // "data: 01 AB ...": the sequence number's eight bytes
        for (size_t b = 0; b < 8 && data + 8 + b * 3 + 2 <= line.size(); ++b) {
            uint32_t v = 0;
            ParseHexField(std::string_view(line).substr(data + 8 + b * 3, 2), 2, v);
            f.Data[b] = static_cast<uint8_t>(v);
        }
        r.Tally.Add(f);
    }
    r.Seconds = std::chrono::duration<double>(TClock::now() - start).count();
    r.CpuPercent = 100.0 * (ProcessCpuSeconds(dump.Id()) - cpu0) / r.Seconds;
    r.PeakKb = StatusKiB("VmHWM:", dump.Id());
    ::kill(dump.Id(), SIGTERM);
    r.Ok = dump.WaitExit(10000) == 0;
    return r;
}

void Print(const TResult& r, const TSeeedSimulator::TCounters& before, const TSeeedSimulator::TCounters& after)
{
    std::printf("%-30s %5.1f s  %8ld frames  %6.0f frames/s  lost %ld  invented %ld  CPU %4.1f %%  peak RSS %5ld KiB"
                "  %s  (simulator overrun %llu)\n",
                r.Name.c_str(), r.Seconds, r.Tally.Received, static_cast<double>(r.Tally.Received) / r.Seconds,
                r.Tally.Lost, r.Tally.Invented, r.CpuPercent, r.PeakKb, r.Ok ? "clean end" : "FAILED END",
                static_cast<unsigned long long>(after.FramesOverrun - before.FramesOverrun));
}

} // namespace

int main(int argc, char** argv)
{
    double seconds = 60;
    for (int i = 1; i + 1 < argc; ++i)
        if (std::strcmp(argv[i], "--seconds") == 0)
            seconds = std::atof(argv[++i]);

    TSeeedSimOptions options;
    options.FramesPerSecond = 10000;
    options.IdCount = 64;
    options.IdKind = TSimIdKind::Mixed;
    options.KeepHistory = false;
    TSeeedSimulator sim(options);
    if (!sim.Start()) {
        std::fprintf(stderr, "no simulator: %s\n", sim.LastError().c_str());
        return 1;
    }
    std::printf("Bridges at the link limit: simulated adapter at 10,000 frames/s (2,000,000 baud,\n"
                "64 identifiers, standard and extended, 8 data bytes), 1 Mbit/s, %.0f s per program.\n"
                "CPU: the bridge process alone (the simulator runs in this process). Simulator overrun:\n"
                "frames it dropped before the link (they take sequence numbers, so they count as lost\n"
                "too), counted from the program's start, so also while no channel was open yet.\n"
                "Machine: %ld cores, shared\n"
                "with other work while measuring.\n\n",
                seconds, sysconf(_SC_NPROCESSORS_ONLN));
    bool clean = true;
    for (const auto& run : {RunCanDump, RunSlcan, RunExtcap}) {
        const auto before = sim.Counters();
        const TResult r = run(sim, seconds);
        const auto after = sim.Counters();
        Print(r, before, after);
        const bool checked = r.Name.find("reference") == std::string::npos;
        if (checked && (!r.Ok || r.Tally.Lost != 0 || r.Tally.Invented != 0 ||
                        static_cast<double>(r.Tally.Received) < 0.95 * options.FramesPerSecond * r.Seconds))
            clean = false;
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
    }
    sim.Stop();
    std::printf("\n%s\n",
                clean ? "Every frame passed both bridges." : "A BRIDGE LOST, INVENTED OR FELL BEHIND FRAMES.");
    return clean ? 0 : 1;
}
