#pragma once
#include <cstdint>

class TDumpOutput;
class TRecordMerge;

// The monitor over recordings instead of a port: every frame of the merged
// files goes through the output (filters, format, trace lines) as a received
// or sent frame would.
struct TInputRun {
    long FrameLimit = -1;  // stop after this many received frames written (-1: all)
    bool Stats = false;    // print the statistics of what was read at the end
    int32_t Rate = 250000; // the bus rate the statistics' load is taken at
};

// Reads until the files end, the frame limit is reached or a stop signal
// comes; damaged parts and what each file left out are told on stderr.
// Returns the exit code: 0, or 1 when the output could not be written.
int RunInput(TRecordMerge& input, TDumpOutput& output, const TInputRun& run);
