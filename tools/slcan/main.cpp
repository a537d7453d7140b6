// tarvenix-slcan: the adapter as a LAWICEL (slcan) device on a pseudo-terminal,
// for python-can, slcand and other tools that speak that protocol.
#include <cstdio>
#include <string>

#include "SlcanBridge.h"
#include "platform/FastSleepClock.h"

namespace {

const char kUsage[] = "usage: tarvenix-slcan --port NAME [options]\n"
                      "Opens the adapter's port, creates a pseudo-terminal, prints its path on the\n"
                      "first line of standard output and speaks the LAWICEL (slcan) protocol on it\n"
                      "until SIGINT, SIGTERM or SIGHUP. Once a client has opened the terminal, other\n"
                      "processes cannot open it (root excepted) until the client closes it.\n"
                      "\n"
                      "Options:\n"
                      "%s"
                      "  --link PATH      also make PATH a symbolic link to the terminal (replaced\n"
                      "                   at start, removed at the end)\n"
                      "  --verbose        every frame's trace line and the engine's log on stderr\n"
                      "  --format NAME    every frame on stderr in this form instead of trace lines:\n"
                      "                   %s\n"
                      "                   (2> file; the engine's log only with --verbose)\n"
                      "  -h, --help       show this text and exit\n"
                      "  --version        show the version and exit\n"
                      "\n"
                      "Commands (each ends with CR; the answer ends with CR, or is BEL on error):\n"
                      "  S0..S8           bit rate 10k 20k 50k 100k 125k 250k 500k 800k 1M (closed)\n"
                      "  O                open the channel: settings, loopback probe, normal mode\n"
                      "  L                the same as O: the adapter has no listen-only mode\n"
                      "  C                close the channel\n"
                      "  tiiiLdd..        send a standard frame, answered z; Tiiiiiiiildd.. an\n"
                      "                   extended one, answered Z; riiiL and RiiiiiiiiL remote frames\n"
                      "                   (BEL while 10000 frames wait for the adapter)\n"
                      "  Z0 / Z1          received frames without / with a 4-digit hex time stamp in\n"
                      "                   milliseconds, wrapping each minute (closed)\n"
                      "  V, v, N          version Vhhss, vmami; serial number (NSEED)\n"
                      "  F                status flags Fxx: 08 frames were lost because the client did\n"
                      "                   not read, 02 frames answered z/Z never reached the adapter\n"
                      "                   (told once, also after the channel was opened again), 01 the\n"
                      "                   poll queue is full (open)\n"
                      "  X0 / X1          auto poll off (frames wait for P or A) / on (closed)\n"
                      "  P, A             poll one frame / all frames then A (open, X0)\n"
                      "  W0/W1, Mxxxxxxxx, mxxxxxxxx\n"
                      "                   filter mode, acceptance code and mask: checked and answered,\n"
                      "                   but the adapter has no acceptance filter: every frame passes\n"
                      "Received frames come in the same forms as the send commands.\n"
                      "\n"
                      "Exit: 0 normal end, 1 the port or the terminal cannot be opened, 2 bad arguments.\n";

const char kRateNote[] = "                   (the rate of O until an S command chooses another; 5000,\n"
                         "                   200000 and 400000 are reachable only here)\n";

void PrintUsage(std::FILE* out)
{
    std::fprintf(out, kUsage, ChannelOptionsHelp(kRateNote).c_str(), RecordFormatNames(false).c_str());
}

} // namespace

int main(int argc, char** argv)
{
    tcm::UseFastSleepClockWhenAsked();
    TSlcanOptions options;
    TCommandLine commandLine("tarvenix-slcan", PrintUsage);
    commandLine.Add(ChannelOptionTable(options.Channel));
    commandLine.Add({
        TextOption("--link", options.Link),
        SwitchOption("--verbose", options.Verbose),
        RecordFormatOption([&options](TRecordFormat format) { options.Format = format; }),
    });
    if (const auto exitCode = commandLine.Parse(argc, argv))
        return *exitCode;
    if (options.Channel.Port.empty())
        return commandLine.Fail("--port is required");

    InstallStopSignals();
    TSlcanBridge bridge(options);
    std::string error;
    if (!bridge.Start(error)) {
        std::fprintf(stderr, "tarvenix-slcan: %s\n", error.c_str());
        return 1;
    }
    std::printf("%s\n", bridge.TerminalPath().c_str());
    std::fflush(stdout);

    bridge.Run(StopRequested);
    const auto counts = bridge.Counts();
    if (options.Format && !options.Verbose)
        return 0; // standard error holds the recording alone
    std::fprintf(stderr, "frames in: %llu, frames out: %llu, frames dropped: %llu, frames not sent: %llu\n",
                 static_cast<unsigned long long>(counts.FramesIn), static_cast<unsigned long long>(counts.FramesOut),
                 static_cast<unsigned long long>(counts.Dropped), static_cast<unsigned long long>(counts.Unsent));
    return 0;
}
