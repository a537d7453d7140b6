#include "record/RecordFormat.h"

#include <cctype>
#include <string>

namespace {

struct TFormatName {
    TRecordFormat Format;
    const char* Name;
    const char* Extension;
};

constexpr TFormatName kFormats[] = {
    {TRecordFormat::Trace, "trace", ".txt"}, {TRecordFormat::Candump, "candump", ".log"},
    {TRecordFormat::Asc, "asc", ".asc"},     {TRecordFormat::Blf, "blf", ".blf"},
    {TRecordFormat::Pcap, "pcap", ".pcap"},
};

} // namespace

std::optional<TRecordFormat> RecordFormatFromName(std::string_view name)
{
    for (const auto& f : kFormats)
        if (name == f.Name)
            return f.Format;
    return std::nullopt;
}

std::optional<TRecordFormat> RecordFormatFromPath(std::string_view path)
{
    const size_t dot = path.rfind('.');
    if (dot == std::string_view::npos || path.find('/', dot) != std::string_view::npos)
        return std::nullopt;
    std::string ext(path.substr(dot));
    for (char& c : ext)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    for (const auto& f : kFormats)
        if (ext == f.Extension)
            return f.Format;
    return std::nullopt;
}

const char* RecordFormatName(TRecordFormat format)
{
    for (const auto& f : kFormats)
        if (f.Format == format)
            return f.Name;
    return "";
}
