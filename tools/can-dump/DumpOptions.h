#pragma once
#include <string>

#include "FrameFilter.h"
#include "record/RecordFormat.h"

// What the headless monitor writes, where, which frames, and what it replays.
struct TDumpRecordingOptions {
    TRecordFormat Format = TRecordFormat::Trace;
    std::string Output = "-"; // "-": standard output
    TFrameFilterSet Filters;
    std::string ReplayFile; // empty: no replay
    long ReplayLoops = 1;   // passes over the replay file; 0 without end
};

// Takes the recording option at argv[i] with its value (advancing i). False
// when argv[i] is none of them (error left empty) or its value is bad (error set).
bool TakeRecordingOption(int argc, char** argv, int& i, TDumpRecordingOptions& options, std::string& error);

// The lines of --help for these options.
extern const char kRecordingUsage[];
