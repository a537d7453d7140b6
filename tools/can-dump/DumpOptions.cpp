#include "DumpOptions.h"

#include <cstdlib>

const char kRecordingUsage[] = "  --format F       trace (default: the trace lines), candump (candump -L log),\n"
                               "                   asc (Vector ASC), blf (Vector BLF), pcap (SocketCAN link type)\n"
                               "  --output FILE    write there instead of stdout (- is stdout), as frames come,\n"
                               "                   flushed at least every 100 ms and at the end\n"
                               "  --filter ID:MASK print/record a frame when (id & MASK) == (ID & MASK); ID~MASK\n"
                               "                   when not equal. Hex; repeatable, a frame passes when any one\n"
                               "                   passes. An 8-digit ID is extended (bit 31), which counts when\n"
                               "                   MASK has bit 31; bit 30 is a remote frame. 123:7FF: id 123 of\n"
                               "                   any kind; 123:C00007FF: standard data frames of id 123 only\n"
                               "  --replay FILE    send the frames of a recording (candump log, ASC, BLF, pcap)\n"
                               "                   with their original gaps, the first at once; receiving goes on\n"
                               "  --replay-loop N  play the replay file N times (default 1; 0: without end)\n";

bool TakeRecordingOption(int argc, char** argv, int& i, TDumpRecordingOptions& options, std::string& error)
{
    const std::string name = argv[i];
    if (name != "--format" && name != "--output" && name != "--filter" && name != "--replay" && name != "--replay-loop")
        return false;
    if (i + 1 >= argc) {
        error = name + " needs a value";
        return false;
    }
    const std::string value = argv[++i];
    if (name == "--format") {
        const auto format = RecordFormatFromName(value);
        if (!format) {
            error = "bad --format " + value + " (trace, candump, asc, blf or pcap)";
            return false;
        }
        options.Format = *format;
    } else if (name == "--output") {
        if (value.empty()) {
            error = "bad --output (empty)";
            return false;
        }
        options.Output = value;
    } else if (name == "--filter") {
        const auto filter = TFrameFilter::Parse(value);
        if (!filter) {
            error = "bad --filter " + value + " (ID:MASK or ID~MASK, hexadecimal)";
            return false;
        }
        options.Filters.Add(*filter);
    } else if (name == "--replay") {
        options.ReplayFile = value;
    } else {
        char* end = nullptr;
        const long loops = std::strtol(value.c_str(), &end, 10);
        if (value.empty() || *end != '\0' || loops < 0 || value[0] == '+' || value[0] == ' ') {
            error = "bad --replay-loop " + value;
            return false;
        }
        options.ReplayLoops = loops;
    }
    return true;
}
