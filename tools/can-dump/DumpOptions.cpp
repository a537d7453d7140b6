#include "DumpOptions.h"

#include <algorithm>
#include <climits>

#include "ToolOptions.h"

namespace {

// An option's help: `head` (the option, padded to the text column), then `text` wrapped at
// 80 columns under that column.
std::string HelpLines(const std::string& head, const std::string& text)
{
    std::string out = head;
    size_t column = head.size();
    size_t at = 0;
    while (at < text.size()) {
        const size_t end = std::min(text.find(' ', at), text.size());
        const size_t word = end - at;
        if (column > head.size() && column + 1 + word > 80) {
            out += "\n" + std::string(head.size(), ' ');
            column = head.size();
        } else if (column > head.size()) {
            out += ' ';
            ++column;
        }
        out.append(text, at, word);
        column += word;
        at = end + 1;
    }
    return out + "\n";
}

} // namespace

std::string RecordingUsage()
{
    std::string formats;
    for (const TRecordFormatEntry* e : RecordFormats())
        formats += std::string(formats.empty() ? "" : ", ") + e->Name + " (" + e->Description + ")";
    return HelpLines("  --format F       ", formats + "; trace, the default, prints the trace lines") +
           "  --output FILE    write there instead of stdout (- is stdout), as frames come,\n"
           "                   flushed at least every 100 ms and at the end\n"
           "  --filter ID:MASK print/record a frame when (id & MASK) == (ID & MASK); ID~MASK\n"
           "                   when not equal. Hex; repeatable, a frame passes when any one\n"
           "                   passes. An 8-digit ID is extended (bit 31), which counts when\n"
           "                   MASK has bit 31; bit 30 is a remote frame. 123:7FF: id 123 of\n"
           "                   any kind; 123:C00007FF: standard data frames of id 123 only\n" +
           HelpLines("  --replay FILE    ", "send the frames of a recording (" + RecordFormatDescriptions(true) +
                                                ") with their original gaps, the first at once; receiving goes on") +
           "  --replay-loop N  play the replay file N times (default 1; 0: without end)\n" +
           HelpLines("  --input FILE     ",
                     "read a recording (" + RecordFormatDescriptions(true) +
                         "; known by its content, else by its extension) instead of a port: no adapter is opened. "
                         "Repeatable: the files' frames are merged in time order. They go through --filter, "
                         "--format, --output, --dbc, --stats and --frames as received frames do; --rate is the "
                         "bus rate of the statistics. Damaged lines are named and skipped") +
           HelpLines("  --channel N      ", "the channel (bus) read from a recording of several by --input and "
                                            "--replay (default 1); what was left out names the channels found");
}

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
        {"--input", TOptionValue::Required,
         [&options](const std::string& value) {
             options.Inputs.push_back(value);
             return std::string();
         }},
        CountOption("--channel", 1, 1u << 20, options.Channel, "a channel number, 1 or more"),
    };
}
