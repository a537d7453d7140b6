#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// The options every tool that drives the adapter takes: its port, bit rate and mode.
struct TChannelOptions {
    std::string Port;
    int32_t Rate = 250000;
    bool Extended = false;
};

enum class TOptionResult {
    NotMine, // not a channel option: the tool looks at it itself
    Taken,   // consumed (with its value); `i` points at the last word taken
    Bad,     // a channel option with a missing or wrong value; see `error`
};

// Looks at argv[i]: --port NAME, --rate BPS, --extended.
TOptionResult TakeChannelOption(int argc, char** argv, int& i, TChannelOptions& options, std::string& error);

// One of the adapter's twelve rates, written in bit/s ("250000"); nothing otherwise.
std::optional<int32_t> ParseSeeedRate(std::string_view text);

// Help lines of the channel options, for a tool's usage text.
extern const char* const kChannelOptionsHelp;

// SIGINT, SIGTERM and SIGHUP ask the tool to stop (StopRequested); SIGPIPE is
// ignored, so that a reader that went away shows as EPIPE on the next write.
void InstallStopSignals();
bool StopRequested();
