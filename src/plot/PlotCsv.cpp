#include "plot/PlotCsv.h"

#include <algorithm>
#include <cstdio>

#include "plot/PlotFeed.h"
#include "record/RecordIo.h"
#include "signals/DbcDecimal.h"

void AppendCsvField(std::string& out, std::string_view text)
{
    if (text.find_first_of(",\"\r\n") == std::string_view::npos) {
        out += text;
        return;
    }
    out += '"';
    for (const char c : text) {
        if (c == '"')
            out += '"';
        out += c;
    }
    out += '"';
}

std::string PlotCsvHeader(const std::vector<std::string>& names)
{
    std::string out = "time";
    for (const std::string& name : names) {
        out += ',';
        AppendCsvField(out, name);
    }
    out += '\n';
    return out;
}

void AppendCsvSeconds(std::string& out, int64_t us)
{
    const uint64_t magnitude = us < 0 ? 0 - static_cast<uint64_t>(us) : static_cast<uint64_t>(us);
    char text[40];
    std::snprintf(text, sizeof text, "%s%llu.%06llu", us < 0 ? "-" : "",
                  static_cast<unsigned long long>(magnitude / 1000000),
                  static_cast<unsigned long long>(magnitude % 1000000));
    out += text;
}

void WritePlotCsv(const TPlotFeed& feed, int64_t fromUs, int64_t toUs, int64_t originUs, tcm::recording::TFdOutput& out)
{
    std::vector<std::string> names;
    std::vector<int64_t> next, end;
    for (size_t i = 0; i < feed.Count(); ++i) {
        names.push_back(feed.Source(i).Name());
        next.push_back(feed.Samples(i).LowerBound(fromUs));
        end.push_back(feed.Samples(i).LowerBound(toUs));
    }
    out.Bytes() += PlotCsvHeader(names);
    // The series are merged by time: each row takes every series' sample of its moment.
    for (;;) {
        int64_t at = INT64_MAX;
        for (size_t i = 0; i < next.size(); ++i)
            if (next[i] < end[i])
                at = std::min(at, feed.Samples(i).Sample(next[i]).TimeUs);
        if (at == INT64_MAX)
            break;
        std::string& row = out.Bytes();
        AppendCsvSeconds(row, at - originUs);
        for (size_t i = 0; i < next.size(); ++i) {
            row += ',';
            if (next[i] < end[i] && feed.Samples(i).Sample(next[i]).TimeUs == at)
                row += DbcDoubleText(feed.Samples(i).Sample(next[i]++).Value);
        }
        row += '\n';
        out.DrainIfFull();
    }
    out.Drain();
}
