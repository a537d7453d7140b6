#include "plot/PlotCsv.h"

#include <cstdio>

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
