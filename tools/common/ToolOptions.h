#pragma once
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "CommandLine.h"
#include "record/RecordFormat.h"

// The options every tool that drives the adapter takes: its port, bit rate and mode.
struct TChannelOptions {
    std::string Port;
    int32_t Rate = 250000;
    bool Extended = false;
};

// The entries of --port NAME, --rate BPS and --extended for a tool's command line.
TOptionTable ChannelOptionTable(TChannelOptions& options);

// --format NAME: one of the recording formats by name, handed to `take`.
TOptionEntry RecordFormatOption(std::function<void(TRecordFormat)> take);

// One of the adapter's twelve rates, written in bit/s ("250000"); nothing otherwise.
std::optional<int32_t> ParseSeeedRate(std::string_view text);

// Help lines of the channel options, for a tool's usage text; `rateNote`
// (whole lines) follows the lines of --rate.
std::string ChannelOptionsHelp(std::string_view rateNote = {});

// SIGINT, SIGTERM and SIGHUP ask the tool to stop (StopRequested); SIGPIPE is
// ignored, so that a reader that went away shows as EPIPE on the next write.
void InstallStopSignals();
bool StopRequested();
