// tarvenix-extcap: a Wireshark extcap program that captures the adapter's
// frames through the same engine as the window.
#include <cstdio>
#include <string>

#include "ExtcapCapture.h"
#include "ExtcapQuery.h"
#include "Version.h"

namespace {

const char kUsage[] =
    "usage: tarvenix-extcap --extcap-interfaces\n"
    "       tarvenix-extcap --extcap-interface tarvenix_seeed --extcap-dlts\n"
    "       tarvenix-extcap --extcap-interface tarvenix_seeed --extcap-config\n"
    "       tarvenix-extcap --extcap-interface tarvenix_seeed --capture --fifo PATH --port NAME [options]\n"
    "A Wireshark extcap program: put it (or a link to it) in Wireshark's personal\n"
    "extcap folder, the folder \"extcap\" inside the \"Personal configuration\"\n"
    "folder that `tshark -G folders` reports, or in its global \"Extcap path\".\n"
    "A capture opens the channel as the window does and writes every received and\n"
    "sent frame into the fifo as pcap (link type 227, SocketCAN) until Wireshark\n"
    "closes the fifo or ends the program (SIGTERM, SIGINT); then it closes the channel.\n"
    "\n"
    "Options:\n"
    "%s"
    "  --port-path PATH a port typed by hand; used instead of --port\n"
    "  -h, --help       show this text and exit\n"
    "  --version        show the version and exit\n"
    "\n"
    "With tshark, no dialog is needed:\n"
    "  tshark -i tarvenix_seeed -o extcap.tarvenix_seeed.port:/dev/ttyUSB0 \\\n"
    "         -o extcap.tarvenix_seeed.rate:500000\n"
    "\n"
    "Exit: 0 normal end, 1 the channel or the fifo cannot be opened or the port was\n"
    "lost (the reason on stderr), 2 bad arguments.\n";

enum class TAction { None, Interfaces, Dlts, Config, Capture };

int BadArguments(const std::string& problem)
{
    std::fprintf(stderr, "tarvenix-extcap: %s\n", problem.c_str());
    std::fprintf(stderr, kUsage, kChannelOptionsHelp);
    return 2;
}

} // namespace

int main(int argc, char** argv)
{
    TAction action = TAction::None;
    TCaptureOptions capture;
    std::string interface;
    std::string portPath;
    for (int i = 1; i < argc; ++i) {
        std::string error;
        const TOptionResult result = TakeChannelOption(argc, argv, i, capture.Channel, error);
        if (result == TOptionResult::Bad)
            return BadArguments(error);
        if (result == TOptionResult::Taken)
            continue;
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--extcap-interfaces") {
            action = TAction::Interfaces;
        } else if (arg == "--extcap-dlts") {
            action = TAction::Dlts;
        } else if (arg == "--extcap-config") {
            action = TAction::Config;
        } else if (arg == "--capture") {
            action = TAction::Capture;
        } else if (arg == "--extcap-interface" && hasValue) {
            interface = argv[++i];
        } else if (arg == "--fifo" && hasValue) {
            capture.Fifo = argv[++i];
        } else if (arg == "--port-path" && hasValue) {
            portPath = argv[++i];
        } else if (arg.rfind("--extcap-version", 0) == 0) {
            // Wireshark's own version; every version gets the same answers.
            if (arg == "--extcap-version" && hasValue && argv[i + 1][0] != '-')
                ++i;
        } else if (arg == "--extcap-capture-filter" && hasValue) {
            ++i; // the adapter has no filter: every frame is captured
        } else if (arg == "--version") {
            std::printf("tarvenix-extcap %d.%d\n", TCM_VERSION_MAJOR, TCM_VERSION_MINOR);
            return 0;
        } else if (arg == "--help" || arg == "-h") {
            std::printf(kUsage, kChannelOptionsHelp);
            return 0;
        } else {
            return BadArguments("unknown argument " + arg);
        }
    }

    if (action == TAction::Interfaces) {
        extcap::PrintInterfaces(stdout);
        return 0;
    }
    if (action == TAction::None)
        return BadArguments("nothing to do");
    if (interface != extcap::kInterface)
        return BadArguments("unknown interface \"" + interface + "\"; this program offers " + extcap::kInterface);
    switch (action) {
    case TAction::Dlts:
        extcap::PrintDlts(stdout);
        return 0;
    case TAction::Config:
        extcap::PrintConfig(stdout, extcap::FindPorts());
        return 0;
    default:
        break;
    }
    if (!portPath.empty())
        capture.Channel.Port = portPath;
    if (capture.Channel.Port.empty()) {
        std::fprintf(stderr, "No port: choose one of the list or type its path\n");
        return 1;
    }
    if (capture.Fifo.empty())
        return BadArguments("--capture needs --fifo PATH");
    InstallStopSignals();
    return RunCapture(capture);
}
