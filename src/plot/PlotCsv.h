#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// Plotted values as CSV, as spreadsheets, gnuplot and matplotlib read it: a
// header "time,NAME,NAME,..." and one row per moment, the time in seconds
// since the first frame with microseconds, then one field per series (empty
// where the series has no value at that moment).

// A field, quoted (with doubled quotes) when it holds a comma, a quote or a line break.
void AppendCsvField(std::string& out, std::string_view text);
// "time,NAME,..." with its line break.
std::string PlotCsvHeader(const std::vector<std::string>& names);
// Microseconds as seconds with six decimals: 1500 -> "0.001500", -20 -> "-0.000020".
void AppendCsvSeconds(std::string& out, int64_t us);

class TPlotFeed;
namespace tcm::recording {
class TFdOutput;
}

// The samples of every series in [fromUs, toUs): one row per moment that
// has a sample, times counted from `originUs`. Raises std::system_error
// naming the file when it cannot be written.
void WritePlotCsv(const TPlotFeed& feed, int64_t fromUs, int64_t toUs, int64_t originUs,
                  tcm::recording::TFdOutput& out);
