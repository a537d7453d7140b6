#include "DumpOptions.h"

#include <climits>

#include "ToolOptions.h"

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

TOptionTable RecordingOptionTable(TDumpRecordingOptions& options)
{
    auto takeFilter = [&options](const std::string& value) {
        const auto filter = TFrameFilter::Parse(value);
        if (!filter)
            return BadValueText("--filter", value, "ID:MASK or ID~MASK, hexadecimal");
        options.Filters.Add(*filter);
        return std::string();
    };
    return {
        RecordFormatOption([&options](TRecordFormat format) { options.Format = format; }),
        TextOption("--output", options.Output),
        {"--filter", TOptionValue::Required, takeFilter},
        TextOption("--replay", options.ReplayFile),
        CountOption("--replay-loop", 0, LONG_MAX, options.ReplayLoops, "a count of passes, 0 without end"),
    };
}
