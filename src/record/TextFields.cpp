#include "record/TextFields.h"

#include <algorithm>

namespace tcm::recording {

size_t SplitFields(std::string_view line, std::string_view* fields, size_t max)
{
    size_t count = 0;
    size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t'))
            ++i;
        if (i == line.size())
            break;
        const size_t start = i;
        while (i < line.size() && line[i] != ' ' && line[i] != '\t')
            ++i;
        if (count == max)
            return max + 1;
        fields[count++] = line.substr(start, i - start);
    }
    return count;
}

bool ParseDecimal(std::string_view text, uint64_t& value)
{
    if (text.empty() || text.size() > 18)
        return false;
    value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return false;
        value = value * 10 + static_cast<uint64_t>(c - '0');
    }
    return true;
}

bool ParseSeconds(std::string_view text, int64_t& us, size_t maxWholeDigits)
{
    const size_t dot = text.find('.');
    uint64_t seconds = 0;
    if (!ParseDecimal(text.substr(0, dot), seconds) ||
        std::min(dot, text.size()) > std::min<size_t>(maxWholeDigits, 12))
        return false;
    uint64_t fraction = 0;
    if (dot != std::string_view::npos) {
        const std::string_view digits = text.substr(dot + 1);
        if (digits.size() > 9 || (!digits.empty() && !ParseDecimal(digits, fraction)))
            return false;
        for (size_t n = digits.size(); n < 6; ++n)
            fraction *= 10;
        for (size_t n = digits.size(); n > 6; --n)
            fraction /= 10;
    }
    us = static_cast<int64_t>(seconds * 1000000 + fraction);
    return true;
}

bool StartsWithWord(std::string_view line, std::string_view word)
{
    if (line.size() < word.size())
        return false;
    for (size_t i = 0; i < word.size(); ++i)
        if ((line[i] | 0x20) != (word[i] | 0x20))
            return false;
    return true;
}

std::string_view FirstTextLine(std::string_view head)
{
    const size_t start = head.find_first_not_of(" \t\r\n");
    if (start == std::string_view::npos)
        return {};
    const std::string_view line = head.substr(start);
    return line.substr(0, line.find_first_of("\r\n"));
}

} // namespace tcm::recording
