#include "ToolOptions.h"

#include <atomic>
#include <charconv>
#include <csignal>

#include "seeed/SeeedPacket.h"

namespace {

std::atomic<bool> g_stop{false};

extern "C" void OnStopSignal(int)
{
    g_stop.store(true);
}

} // namespace

const char* const kChannelOptionsHelp =
    "  --port NAME      serial port of the adapter (ttyUSB0, /dev/ttyUSB0, /dev/pts/3)\n"
    "  --rate BPS       CAN bit rate, one of 5000 10000 20000 50000 100000 125000\n"
    "                   200000 250000 400000 500000 800000 1000000 (default 250000)\n"
    "  --extended       the adapter's Extended mode (29-bit identifiers; default Standard)\n";

std::optional<int32_t> ParseSeeedRate(std::string_view text)
{
    int32_t value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    for (const int32_t rate : kSeeedRates)
        if (rate == value)
            return value;
    return std::nullopt;
}

TOptionResult TakeChannelOption(int argc, char** argv, int& i, TChannelOptions& options, std::string& error)
{
    const std::string_view arg = argv[i];
    if (arg == "--extended") {
        options.Extended = true;
        return TOptionResult::Taken;
    }
    if (arg != "--port" && arg != "--rate")
        return TOptionResult::NotMine;
    if (i + 1 >= argc) {
        error = std::string(arg) + " needs a value";
        return TOptionResult::Bad;
    }
    const std::string_view value = argv[++i];
    if (arg == "--port") {
        if (value.empty()) {
            error = "--port needs a port name";
            return TOptionResult::Bad;
        }
        options.Port = value;
        return TOptionResult::Taken;
    }
    const auto rate = ParseSeeedRate(value);
    if (!rate) {
        error = "--rate " + std::string(value) + " is not one of the adapter's rates";
        return TOptionResult::Bad;
    }
    options.Rate = *rate;
    return TOptionResult::Taken;
}

void InstallStopSignals()
{
    std::signal(SIGINT, OnStopSignal);
    std::signal(SIGTERM, OnStopSignal);
    std::signal(SIGHUP, OnStopSignal);
    std::signal(SIGPIPE, SIG_IGN);
}

bool StopRequested()
{
    return g_stop.load();
}
