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

std::string ChannelOptionsHelp(std::string_view rateNote)
{
    std::string help = "  --port NAME      serial port of the adapter (ttyUSB0, /dev/ttyUSB0, /dev/pts/3)\n"
                       "  --rate BPS       CAN bit rate, one of 5000 10000 20000 50000 100000 125000\n"
                       "                   200000 250000 400000 500000 800000 1000000 (default 250000)\n";
    help += rateNote;
    help += "  --extended       the adapter's Extended mode (29-bit identifiers; default Standard)\n";
    return help;
}

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

TOptionTable ChannelOptionTable(TChannelOptions& options)
{
    auto takeRate = [&options](const std::string& value) {
        const auto rate = ParseSeeedRate(value);
        if (!rate)
            return BadValueText("--rate", value, "not one of the adapter's rates");
        options.Rate = *rate;
        return std::string();
    };
    return {TextOption("--port", options.Port),
            {"--rate", TOptionValue::Required, takeRate},
            SwitchOption("--extended", options.Extended)};
}

TOptionEntry RecordFormatOption(std::function<void(TRecordFormat)> take)
{
    return {"--format", TOptionValue::Required, [take = std::move(take)](const std::string& value) {
                const auto format = RecordFormatFromName(value);
                if (!format)
                    return BadValueText("--format", value, RecordFormatNames(false));
                take(*format);
                return std::string();
            }};
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
