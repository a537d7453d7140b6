// tarvenix-seeed-sim: a simulated Seeed USB-CAN adapter on a pseudo-terminal.
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "CommandLine.h"
#include "SeeedSimulator.h"
#include "SimText.h"
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

void PrintUsage(std::FILE* to)
{
    std::fputs(kUsage, to);
}

struct TArgs {
    TSeeedSimOptions Options;
    bool Extended = false;
    bool Mixed = false;
    bool Quiet = false;
    bool Stats = false;
    double Duration = -1;
};

TCommandLine MakeCommandLine(TArgs& args)
{
    TSeeedSimOptions& o = args.Options;
    TCommandLine line("tarvenix-seeed-sim", PrintUsage);
    auto takeIdList = [&o](const std::string& value) {
        return ParseIdList(value, o.Ids) ? std::string()
                                         : BadValueText("--id-list", value,
                                                        "hexadecimal identifiers separated by commas, each at "
                                                        "most 1FFFFFFF");
    };
    auto takeUnlimited = [&o](const std::string&) {
        o.Baud = 0;
        return std::string();
    };
    line.Add({
        RealOption("--fps", 0, 1e9, o.FramesPerSecond, "a number of frames per second"),
        CountOption("--ids", 1, 0x1FFFFFFF, o.IdCount, "a count of at least 1"),
        {"--id-list", TOptionValue::Required, takeIdList},
        SwitchOption("--extended", args.Extended),
        SwitchOption("--mixed", args.Mixed),
        RealOption("--remote-share", 0, 1, o.RemoteShare, "a share from 0 to 1"),
        CountOption("--length", 0, 8, o.Length, "a data length from 0 to 8"),
        RealOption("--garbage", 0, 1, o.GarbageShare, "a chance from 0 to 1"),
        CountOption("--baud", 10, 0xFFFFFFFFu, o.Baud, "a rate of at least 10"),
        {"--unlimited", TOptionValue::None, takeUnlimited},
        SwitchOption("--silent", o.Silent),
        CountOption("--seed", 0, 0xFFFFFFFFu, o.Seed, "a number from 0 to 4294967295"),
        SwitchOption("--quiet", args.Quiet),
        RealOption("--duration", 0, 1e9, args.Duration, "a number of seconds"),
        SwitchOption("--stats", args.Stats),
    });
    return line;
}

// The choices that depend on each other; an empty result means they fit.
std::string CheckArgs(TArgs& args)
{
    TSeeedSimOptions& o = args.Options;
    if (args.Extended && args.Mixed)
        return "--extended and --mixed exclude each other";
    o.IdKind = args.Mixed ? TSimIdKind::Mixed : args.Extended ? TSimIdKind::Extended : TSimIdKind::Standard;
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
    const TCommandLine commandLine = MakeCommandLine(args);
    if (const auto exitCode = commandLine.Parse(argc, argv))
        return *exitCode;
    if (const std::string problem = CheckArgs(args); !problem.empty())
        return commandLine.Fail(problem);
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
