#include "record/RecordFormat.h"

#include <algorithm>
#include <cctype>
#include <string>
#include <vector>

namespace tcm::recording {
#define TCM_RECORD_FORMAT_DECLARE(name) extern const TRecordFormatEntry kFormat##name;
TCM_RECORD_FORMATS(TCM_RECORD_FORMAT_DECLARE)
#undef TCM_RECORD_FORMAT_DECLARE
} // namespace tcm::recording

namespace {

#define TCM_RECORD_FORMAT_ENTRY(name) &tcm::recording::kFormat##name,
const TRecordFormatEntry* const kTable[] = {TCM_RECORD_FORMATS(TCM_RECORD_FORMAT_ENTRY)};
#undef TCM_RECORD_FORMAT_ENTRY

std::string Lower(std::string_view text)
{
    std::string out(text);
    for (char& c : out)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

// "a, b or c"
std::string Listed(const std::vector<std::string>& items)
{
    std::string out;
    for (size_t i = 0; i < items.size(); ++i) {
        if (i > 0)
            out += i + 1 == items.size() ? " or " : ", ";
        out += items[i];
    }
    return out;
}

std::string_view FirstExtension(const TRecordFormatEntry& e)
{
    const std::string_view all = e.Extensions;
    return all.substr(0, all.find(' '));
}

// "*.pcap *.pcapng"
std::string Patterns(const TRecordFormatEntry& e)
{
    std::string out = "*";
    for (const char* c = e.Extensions; *c; ++c)
        out += *c == ' ' ? std::string(" *") : std::string(1, *c);
    return out;
}

// The formats that are read back, or those that are written.
std::vector<const TRecordFormatEntry*> Formats(bool readable)
{
    std::vector<const TRecordFormatEntry*> out;
    for (const TRecordFormatEntry* e : kTable)
        if (readable ? e->Reader != nullptr : e->Writer != nullptr)
            out.push_back(e);
    return out;
}

} // namespace

std::span<const TRecordFormatEntry* const> RecordFormats()
{
    return kTable;
}

const TRecordFormatEntry& RecordFormatEntry(TRecordFormat format)
{
    return *kTable[static_cast<size_t>(format)];
}

std::optional<TRecordFormat> RecordFormatFromName(std::string_view name)
{
    for (const TRecordFormatEntry* e : kTable)
        if (name == e->Name)
            return e->Format;
    return std::nullopt;
}

std::optional<TRecordFormat> RecordFormatFromPath(std::string_view path, bool saving)
{
    const size_t dot = path.rfind('.');
    if (dot == std::string_view::npos || path.find('/', dot) != std::string_view::npos)
        return std::nullopt;
    const std::string ext = Lower(path.substr(dot));
    for (const TRecordFormatEntry* e : kTable) {
        if (saving) {
            if (ext == FirstExtension(*e))
                return e->Format;
            continue;
        }
        std::string_view all = e->Extensions;
        while (!all.empty()) {
            const size_t end = std::min(all.find(' '), all.size());
            if (ext == all.substr(0, end))
                return e->Format;
            all.remove_prefix(std::min(end + 1, all.size()));
        }
    }
    return std::nullopt;
}

const char* RecordFormatName(TRecordFormat format)
{
    return RecordFormatEntry(format).Name;
}

std::string RecordFormatNames(bool readable)
{
    std::vector<std::string> names;
    for (const TRecordFormatEntry* e : Formats(readable))
        names.emplace_back(e->Name);
    return Listed(names);
}

std::string RecordFormatDescriptions(bool readable)
{
    std::vector<std::string> names;
    for (const TRecordFormatEntry* e : Formats(readable))
        names.emplace_back(e->Description);
    return Listed(names);
}

std::string RecordSaveExtensions()
{
    std::vector<std::string> extensions;
    for (const TRecordFormatEntry* e : Formats(false))
        if (e->Reader)
            extensions.emplace_back(FirstExtension(*e));
    for (const TRecordFormatEntry* e : Formats(false))
        if (!e->Reader)
            extensions.emplace_back(FirstExtension(*e));
    return Listed(extensions);
}

std::string RecordSaveFilters()
{
    std::string out;
    // The recordings first, the plain text last.
    for (bool readBack : {true, false})
        for (const TRecordFormatEntry* e : Formats(false))
            if ((e->Reader != nullptr) == readBack) {
                if (!out.empty())
                    out += ";;";
                out += std::string(e->Description) + " (*" + std::string(FirstExtension(*e)) + ")";
            }
    return out;
}

std::string RecordOpenFilters()
{
    std::string all;
    std::string each;
    for (const TRecordFormatEntry* e : Formats(true)) {
        all += (all.empty() ? "" : " ") + Patterns(*e);
        each += ";;" + std::string(e->Description) + " (" + Patterns(*e) + ")";
    }
    return "Recordings (" + all + ")" + each + ";;All files (*)";
}
