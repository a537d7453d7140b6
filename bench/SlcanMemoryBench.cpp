// tarvenix-slcan under misuse, side by side on three simulated adapters at
// 10,000 frames/s: one client opens the channel and never reads a frame; one
// turns auto poll off (X0), opens and never polls; the third floods commands
// and frames (each extended one with an identifier not sent before) and never
// reads an answer. Each bridge's resident memory is sampled every second and
// must stay under 16 MB for the whole run, whatever its client does. Exits 0
// when every bridge was measured for the whole run (whether or not the bound
// was met), 1 otherwise.
//
//   bench_slcan_memory [--seconds S]      (default 60 s)
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "../tests/support/ChildProcess.h"
#include "ProcStats.h"
#include "SeeedSimulator.h"

namespace {

using TClock = std::chrono::steady_clock;
constexpr long kLimitKiB = 16 * 1024;

// The client side of a bridge's terminal, in raw mode, written without blocking.
struct TClient {
    int Fd = -1;
    explicit TClient(const std::string& terminal)
    {
        Fd = ::open(terminal.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        termios tio{};
        if (Fd >= 0 && ::tcgetattr(Fd, &tio) == 0) {
            ::cfmakeraw(&tio);
            ::tcsetattr(Fd, TCSANOW, &tio);
        }
    }
    ~TClient()
    {
        if (Fd >= 0)
            ::close(Fd);
    }
    // Bytes the terminal took from `from` on (none while the bridge does not read).
    size_t Write(const std::string& bytes, size_t from = 0) const
    {
        const ssize_t n = ::write(Fd, bytes.data() + from, bytes.size() - from);
        return n > 0 ? static_cast<size_t>(n) : 0;
    }
};

struct TBridgeRun {
    const char* Name;
    const char* Opening; // what the client writes first
    std::unique_ptr<TSeeedSimulator> Sim;
    std::unique_ptr<TChild> Bridge;
    std::unique_ptr<TClient> Client;
    long PeakKiB = 0; // the largest sample
    long LastKiB = 0;
    long EndKiB = 0;
    long HwmKiB = 0;
    int Samples = 0;
    int ExitCode = -1;
    unsigned long long Written = 0;
};

bool StartRun(TBridgeRun& run)
{
    TSeeedSimOptions traffic;
    traffic.FramesPerSecond = 10000;
    run.Sim = std::make_unique<TSeeedSimulator>(traffic);
    if (!run.Sim->Start())
        return false;
    run.Bridge = std::make_unique<TChild>(std::vector<std::string>{TCM_SLCAN_EXE, "--port", run.Sim->PortPath()});
    const std::string terminal = run.Bridge->ReadLine(5000);
    if (terminal.empty())
        return false;
    run.Client = std::make_unique<TClient>(terminal);
    const std::string opening = run.Opening;
    return run.Client->Fd >= 0 && run.Client->Write(opening) == opening.size();
}

// About 64 KiB of commands and frames; every extended frame has an identifier
// not used before, counting on from `id`.
std::string FloodPiece(uint32_t& id)
{
    std::string piece;
    char frame[16];
    while (piece.size() < 65536) {
        std::snprintf(frame, sizeof frame, "T%08X0\r", id++ & 0x1FFFFFFF);
        piece += "V\rt1232AABB\rN\rF\r";
        piece += frame;
    }
    return piece;
}

} // namespace

int main(int argc, char** argv)
{
    double seconds = 60;
    for (int i = 1; i + 1 < argc; ++i)
        if (std::string(argv[i]) == "--seconds")
            seconds = std::atof(argv[i + 1]);

    TBridgeRun silent{"client that never reads (10,000 frames/s received)", "O\r"};
    TBridgeRun polling{"client that turns auto poll off (X0) and never polls", "X0\rZ1\rO\r"};
    TBridgeRun flood{"client that floods commands and frames with ever new identifiers, never reading", "O\r"};
    const std::vector<TBridgeRun*> runs = {&silent, &polling, &flood};
    for (TBridgeRun* run : runs)
        if (!StartRun(*run)) {
            std::fprintf(stderr, "could not start tarvenix-slcan with its client\n");
            return 1;
        }
    uint32_t nextId = 0;
    std::string piece = FloodPiece(nextId);
    size_t pieceTaken = 0;

    const auto start = TClock::now();
    auto nextSample = start;
    while (TClock::now() - start < std::chrono::duration<double>(seconds)) {
        const size_t n = flood.Client->Write(piece, pieceTaken);
        flood.Written += n;
        pieceTaken += n;
        if (pieceTaken == piece.size()) {
            piece = FloodPiece(nextId);
            pieceTaken = 0;
        }
        if (TClock::now() < nextSample) {
            if (n == 0)
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
            continue;
        }
        nextSample += std::chrono::seconds(1);
        const double t = std::chrono::duration<double>(TClock::now() - start).count();
        for (TBridgeRun* run : runs) {
            run->LastKiB = StatusKiB("VmRSS:", run->Bridge->Id());
            run->PeakKiB = std::max(run->PeakKiB, run->LastKiB);
            run->Samples += run->LastKiB > 0 ? 1 : 0;
        }
        std::printf("t=%4.0f s  resident: never reads %5.1f MB, never polls %5.1f MB, floods %5.1f MB (%.1f MB "
                    "taken)\n",
                    t, silent.LastKiB / 1024.0, polling.LastKiB / 1024.0, flood.LastKiB / 1024.0, flood.Written / 1e6);
        std::fflush(stdout);
    }
    // Each bridge's own account of what it passed on and dropped, from the
    // last line it writes at its end.
    std::vector<std::string> accounts(runs.size());
    size_t index = 0;
    for (TBridgeRun* run : runs) {
        run->EndKiB = StatusKiB("VmRSS:", run->Bridge->Id());
        run->HwmKiB = StatusKiB("VmHWM:", run->Bridge->Id());
        run->Client.reset();
        ::kill(run->Bridge->Id(), SIGTERM);
        run->ExitCode = run->Bridge->WaitExit(5000);
        const auto lines = Lines(run->Bridge->ErrText);
        for (const std::string& line : lines)
            if (line.rfind("frames in:", 0) == 0)
                accounts[index] = line;
        ++index;
    }
    std::printf("\nConditions: three tarvenix-slcan bridges, each on its own simulated adapter generating 10,000 "
                "frames/s,\nfor %.0f s; resident memory sampled every second and the kernel's high-water mark "
                "(VmHWM)\nover the bridge's whole life.\n",
                seconds);
    bool measured = true;
    bool met = true;
    index = 0;
    for (TBridgeRun* run : runs) {
        // Every sample taken, the bridge alive to the end and ended cleanly:
        // otherwise the figures are not those of the whole run.
        const bool whole = run->Samples >= static_cast<int>(seconds) && run->EndKiB > 0 && run->HwmKiB > 0 &&
                           run->ExitCode == 0 && !accounts[index].empty();
        measured = measured && whole;
        const long maxKiB = std::max(run->HwmKiB, run->PeakKiB);
        met = met && maxKiB < kLimitKiB;
        std::printf("%s:\n  resident at most %.1f MB, at the end %.1f MB%s\n  bridge: %s\n", run->Name, maxKiB / 1024.0,
                    run->EndKiB / 1024.0, whole ? "" : " (NOT measured for the whole run)",
                    accounts[index].empty() ? "(no account)" : accounts[index].c_str());
        ++index;
    }
    std::printf("  %.1f MB of commands and frames taken from the flooding client\n", flood.Written / 1e6);
    std::printf("resident memory under 16 MB for the whole run: %s\n", !measured ? "not measured"
                                                                       : met     ? "met"
                                                                                 : "NOT met");
    return measured ? 0 : 1;
}
