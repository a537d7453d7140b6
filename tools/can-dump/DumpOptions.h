#pragma once
#include <string>
#include <vector>

#include "CommandLine.h"
#include "core/FrameFilter.h"
#include "record/RecordFormat.h"

// What the headless monitor writes, where, which frames, and what it replays.
struct TDumpRecordingOptions {
    TRecordFormat Format = TRecordFormat::Trace;
    std::string Output = "-"; // "-": standard output
    TFrameFilterSet Filters;
    std::string ReplayFile;          // empty: no replay
    long ReplayLoops = 1;            // passes over the replay file; 0 without end
    std::vector<std::string> Inputs; // recordings read instead of a port; empty: the port
    int Channel = 1;                 // the channel of --input and --replay recordings
};

// The entries of these options for the command line.
TOptionTable RecordingOptionTable(TDumpRecordingOptions& options);

// The lines of --help for these options.
std::string RecordingUsage();
