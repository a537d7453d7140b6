// tarvenix-seeed-sim: a simulated Seeed USB-CAN adapter on a pseudo-terminal.
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "SeeedSimulator.h"
#include "SimText.h"
#include "Version.h"
#include "platform/Tick.h"

namespace {

volatile std::sig_atomic_t StopRequested = 0;
volatile std::sig_atomic_t TotalsRequested = 0;

extern "C" void OnStopSignal(int)
{
    StopRequested = 1;
}

extern "C" void OnTotalsSignal(int)
{
    TotalsRequested = 1;
}

const char* const kUsage = "Usage: tarvenix-seeed-sim [options]\n"
                           "\n"
                           "Plays a Seeed USB-CAN adapter on a pseudo-terminal. The first line on stdout is\n"
                           "the path of the port to open (such as /dev/pts/3). Then one line for everything\n"
                           "the computer sends:\n"
                           "  settings: rate 250000 mode Standard working mode loopback\n"
                           "  frame: id 7A5 std data len 8 data 00 00 00 00 00 00 00 00\n"
                           "  frame: id 1FFFFFFF ext remote len 0\n"
                           "  packet: type 05 bytes AA 55 05 ...   (a valid packet of another type)\n"
                           "Identifiers are hexadecimal, 3 digits standard, 8 extended. An unknown speed code\n"
                           "shows as \"rate unknown (speed code 0D)\", an unknown working mode as\n"
                           "\"working mode 07 (unknown, idle)\".\n"
                           "\n"
                           "Before any settings packet the adapter is idle. In loopback mode it sends every\n"
                           "frame packet back unchanged; in normal mode it reports generated bus traffic.\n"
                           "Generated frames carry a 32-bit sequence number in data bytes 0..3 (least\n"
                           "significant first) and its complement in bytes 4..7; identifiers cycle. Every\n"
                           "frame takes its number when it falls due, also one dropped because the link or\n"
                           "the reader could not keep up, so a receiver sees each loss as a gap.\n"
                           "Runs until SIGINT, SIGTERM or SIGHUP (or --duration). SIGUSR1 prints the\n"
                           "totals line of --stats at once.\n"
                           "\n"
                           "Options:\n"
                           "  --fps N           generated frames per second in normal mode (default 0: none)\n"
                           "  --ids N           cycle through N made-up identifiers (default 8):\n"
                           "                    standard 100, 101, ...; extended 18000000, 18000001, ...\n"
                           "  --id-list A,B,..  cycle through these hexadecimal identifiers instead\n"
                           "  --extended        29-bit identifiers (default 11-bit)\n"
                           "  --mixed           alternate 11-bit and 29-bit identifiers\n"
                           "  --remote-share P  share of remote frames, 0..1 (default 0)\n"
                           "  --length N        data length code of generated frames, 0..8 (default 8)\n"
                           "  --garbage P       chance per packet, 0..1, of 1 to 8 garbage bytes before it\n"
                           "  --baud N          link limit in baud, 10 bits a byte (default 2000000)\n"
                           "  --unlimited       no link limit\n"
                           "  --silent          never answer anything (an adapter that does not respond)\n"
                           "  --seed N          seed of the random choices (default 1)\n"
                           "  --quiet           no frame lines (settings lines still shown)\n"
                           "  --duration S      stop after S seconds\n"
                           "  --stats           every second, generated and received counts on stderr; at\n"
                           "                    the end the totals: generated (every frame that fell due),\n"
                           "                    sent, overrun and abandoned (dropped before the link: too\n"
                           "                    long waiting, or waiting when normal mode ended), unwritten\n"
                           "                    (dropped with a write that failed)\n"
                           "  -h, --help        show this text and exit\n"
                           "  --version         show the version and exit\n"
                           "\n"
                           "Exit status: 0 on a normal end, 1 when no pseudo-terminal can be opened,\n"
                           "2 on bad arguments.\n";

int Usage(const std::string& problem)
{
    if (!problem.empty())
        std::fprintf(stderr, "tarvenix-seeed-sim: %s\n\n", problem.c_str());
    std::fputs(kUsage, stderr);
    return 2;
}

struct TArgs {
    TSeeedSimOptions Options;
    bool Quiet = false;
    bool Stats = false;
    double Duration = -1;
    bool Help = false;
    bool Version = false;
};

// Parses the command line; an empty result means success, otherwise the problem.
std::string ParseArgs(int argc, char** argv, TArgs& args)
{
    TSeeedSimOptions& o = args.Options;
    bool extended = false;
    bool mixed = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const auto value = [&](std::string& out) {
            if (i + 1 >= argc)
                return false;
            out = argv[++i];
            return true;
        };
        std::string v;
        if (arg == "--version") {
            args.Version = true;
        } else if (arg == "--help" || arg == "-h") {
            args.Help = true;
        } else if (arg == "--fps") {
            if (!value(v) || !ParseReal(v, 0, 1e9, o.FramesPerSecond))
                return "--fps needs a number of frames per second";
        } else if (arg == "--ids") {
            uint64_t n = 0;
            if (!value(v) || !ParseUnsigned(v, 10, 1, 0x1FFFFFFF, n))
                return "--ids needs a count of at least 1";
            o.IdCount = static_cast<int>(n);
        } else if (arg == "--id-list") {
            if (!value(v) || !ParseIdList(v, o.Ids))
                return "--id-list needs hexadecimal identifiers separated by commas, each at most 1FFFFFFF";
        } else if (arg == "--extended") {
            extended = true;
        } else if (arg == "--mixed") {
            mixed = true;
        } else if (arg == "--remote-share") {
            if (!value(v) || !ParseReal(v, 0, 1, o.RemoteShare))
                return "--remote-share needs a share from 0 to 1";
        } else if (arg == "--length") {
            uint64_t n = 0;
            if (!value(v) || !ParseUnsigned(v, 10, 0, 8, n))
                return "--length needs a data length from 0 to 8";
            o.Length = static_cast<int>(n);
        } else if (arg == "--garbage") {
            if (!value(v) || !ParseReal(v, 0, 1, o.GarbageShare))
                return "--garbage needs a chance from 0 to 1";
        } else if (arg == "--baud") {
            uint64_t n = 0;
            if (!value(v) || !ParseUnsigned(v, 10, 10, 0xFFFFFFFFu, n))
                return "--baud needs a rate of at least 10";
            o.Baud = static_cast<uint32_t>(n);
        } else if (arg == "--unlimited") {
            o.Baud = 0;
        } else if (arg == "--silent") {
            o.Silent = true;
        } else if (arg == "--seed") {
            uint64_t n = 0;
            if (!value(v) || !ParseUnsigned(v, 10, 0, 0xFFFFFFFFu, n))
                return "--seed needs a number";
            o.Seed = static_cast<uint32_t>(n);
        } else if (arg == "--quiet") {
            args.Quiet = true;
        } else if (arg == "--duration") {
            if (!value(v) || !ParseReal(v, 0, 1e9, args.Duration))
                return "--duration needs a number of seconds";
        } else if (arg == "--stats") {
            args.Stats = true;
        } else {
            return "unknown option " + arg;
        }
    }
    if (extended && mixed)
        return "--extended and --mixed exclude each other";
    o.IdKind = mixed ? TSimIdKind::Mixed : extended ? TSimIdKind::Extended : TSimIdKind::Standard;
    if (!o.Ids.empty() && o.IdKind == TSimIdKind::Standard)
        for (uint32_t id : o.Ids)
            if (id > 0x7FF)
                return "identifier " + std::to_string(id) + " does not fit 11 bits: add --extended or --mixed";
    return {};
}

void PrintLine(const std::string& line)
{
    std::fputs(line.c_str(), stdout);
    std::fputc('\n', stdout);
}

void PrintTotals(const TSeeedSimulator::TCounters& c)
{
    std::fprintf(stderr,
                 "total: generated %llu sent %llu overrun %llu received %llu settings %llu abandoned %llu "
                 "unwritten %llu write failures %llu\n",
                 static_cast<unsigned long long>(c.FramesGenerated), static_cast<unsigned long long>(c.FramesSent),
                 static_cast<unsigned long long>(c.FramesOverrun), static_cast<unsigned long long>(c.FramesReceived),
                 static_cast<unsigned long long>(c.SettingsReceived),
                 static_cast<unsigned long long>(c.FramesAbandoned), static_cast<unsigned long long>(c.FramesUnwritten),
                 static_cast<unsigned long long>(c.WriteFailures));
}

} // namespace

int main(int argc, char** argv)
{
    TArgs args;
    const std::string problem = ParseArgs(argc, argv, args);
    if (!problem.empty())
        return Usage(problem);
    if (args.Version) {
        std::printf("tarvenix-seeed-sim %d.%d\n", TCM_VERSION_MAJOR, TCM_VERSION_MINOR);
        return 0;
    }
    if (args.Help) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    // Nothing here keeps the history: a long run would only grow it.
    args.Options.KeepHistory = false;

    TSeeedSimulator sim(args.Options);
    sim.SetOnSettings([](const TSeeedSimSettings& s) { PrintLine(SettingsLine(s)); });
    if (!args.Quiet) {
        sim.SetOnFrame([](const TCanFrame& f) { PrintLine(FrameLine(f)); });
        sim.SetOnOtherPacket([](const uint8_t* packet) { PrintLine(OtherPacketLine(packet)); });
    }

    std::signal(SIGINT, OnStopSignal);
    std::signal(SIGTERM, OnStopSignal);
    std::signal(SIGHUP, OnStopSignal);
    std::signal(SIGUSR1, OnTotalsSignal);
    if (!sim.Start()) {
        std::fprintf(stderr, "tarvenix-seeed-sim: %s\n", sim.LastError().c_str());
        return 1;
    }
    PrintLine(sim.PortPath());
    std::fflush(stdout);

    const auto started = std::chrono::steady_clock::now();
    auto lastStats = started;
    TSeeedSimulator::TCounters previous = sim.Counters();
    while (!StopRequested) {
        tcm::SleepMs(20);
        std::fflush(stdout);
        if (TotalsRequested) {
            TotalsRequested = 0;
            PrintTotals(sim.Counters());
        }
        const auto now = std::chrono::steady_clock::now();
        if (args.Duration >= 0 && std::chrono::duration<double>(now - started).count() >= args.Duration)
            break;
        if (args.Stats && now - lastStats >= std::chrono::seconds(1)) {
            const TSeeedSimulator::TCounters c = sim.Counters();
            std::fputs(StatsLine(previous, c, std::chrono::duration<double>(now - lastStats).count()).c_str(), stderr);
            std::fputc('\n', stderr);
            previous = c;
            lastStats = now;
        }
    }
    sim.Stop();
    std::fflush(stdout);
    if (args.Stats)
        PrintTotals(sim.Counters());
    return 0;
}
