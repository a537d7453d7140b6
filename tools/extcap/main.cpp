// tarvenix-extcap: a Wireshark extcap program that captures the adapter's
// frames through the same engine as the window.
#include <cstdio>
#include <string>

#include "ExtcapCapture.h"
#include "ExtcapQuery.h"
#include "platform/FastSleepClock.h"

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
    "closes the fifo or ends the program (SIGTERM, SIGINT, SIGHUP, also while it\n"
    "waits for the fifo's reader); then it closes the channel.\n"
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

void PrintUsage(std::FILE* to)
{
    std::fprintf(to, kUsage, ChannelOptionsHelp().c_str());
}

} // namespace

int main(int argc, char** argv)
{
    tcm::UseFastSleepClockWhenAsked();
    TAction action = TAction::None;
    TCaptureOptions capture;
    std::string interface;
    std::string portPath;
    TCommandLine commandLine("tarvenix-extcap", PrintUsage);
    commandLine.Add(ChannelOptionTable(capture.Channel));
    const auto actionOption = [&action](const char* name, TAction chosen) {
        return TOptionEntry{name, TOptionValue::None, [&action, chosen](const std::string&) {
                                action = chosen;
                                return std::string();
                            }};
    };
    const auto ignored = [](const std::string&) { return std::string(); };
    commandLine.Add({
        actionOption("--extcap-interfaces", TAction::Interfaces),
        actionOption("--extcap-dlts", TAction::Dlts),
        actionOption("--extcap-config", TAction::Config),
        actionOption("--capture", TAction::Capture),
        TextOption("--extcap-interface", interface),
        TextOption("--fifo", capture.Fifo),
        // Wireshark may hand over an empty text field: the port from the list is used then.
        {"--port-path", TOptionValue::Optional,
         [&portPath](const std::string& value) {
             portPath = value;
             return std::string();
         }},
        // Wireshark's own version; every version gets the same answers.
        {"--extcap-version", TOptionValue::Optional, ignored},
        // The adapter has no filter: every frame is captured.
        {"--extcap-capture-filter", TOptionValue::Optional, ignored},
    });
    if (const auto exitCode = commandLine.Parse(argc, argv))
        return *exitCode;

    if (action == TAction::Interfaces) {
        extcap::PrintInterfaces(stdout);
        return 0;
    }
    if (action == TAction::None)
        return commandLine.Fail("nothing to do");
    if (interface != extcap::kInterface)
        return commandLine.Fail("unknown interface \"" + interface + "\"; this program offers " + extcap::kInterface);
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
        return commandLine.Fail("--capture needs --fifo PATH");
    InstallStopSignals();
    return RunCapture(capture);
}
