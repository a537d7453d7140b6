#include "record/AscDate.h"

#include <ctime>

#include "record/RecordIo.h"

namespace tcm::recording {
namespace {

constexpr const char* kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

bool Number(std::string_view text, int maxDigits, int& value)
{
    if (text.empty() || text.size() > static_cast<size_t>(maxDigits))
        return false;
    value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return false;
        value = value * 10 + (c - '0');
    }
    return true;
}

// Month names as Vector's tools write them in other languages (German, French, Spanish,
// Italian), after the English ones; matched without case and without a final '.'.
constexpr const char* kForeignMonths[12][4] = {
    {"Jän", "Janv", "Ene", "Gen"},     {"Fév", "Févr", "Fev", nullptr},    {"Mär", "Mrz", "Mars", nullptr},
    {"Avr", "Abr", nullptr, nullptr},  {"Mai", "Mag", nullptr, nullptr},   {"Juin", "Giu", nullptr, nullptr},
    {"Juil", "Lug", nullptr, nullptr}, {"Aoû", "Août", "Ago", nullptr},    {"Sept", "Set", nullptr, nullptr},
    {"Okt", "Ott", nullptr, nullptr},  {"Nov", nullptr, nullptr, nullptr}, {"Dez", "Déc", "Dic", nullptr}};

bool SameLetters(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
        if ((a[i] | 0x20) != (b[i] | 0x20))
            return false;
    return true;
}

int MonthOf(std::string_view name)
{
    if (!name.empty() && name.back() == '.')
        name.remove_suffix(1);
    for (int m = 0; m < 12; ++m) {
        if (SameLetters(name, kMonths[m]))
            return m;
        for (const char* other : kForeignMonths[m])
            if (other && SameLetters(name, other))
                return m;
    }
    return -1;
}

} // namespace

void AppendAscDate(std::string& out, int64_t unixMs)
{
    const time_t seconds = static_cast<time_t>((unixMs < 0 ? 0 : unixMs) / 1000);
    std::tm t{};
    localtime_r(&seconds, &t);
    out += kDays[t.tm_wday % 7];
    out += ' ';
    out += kMonths[t.tm_mon % 12];
    out += ' ';
    AppendPadded(out, static_cast<uint64_t>(t.tm_mday), 2);
    out += ' ';
    const int hour12 = t.tm_hour % 12 == 0 ? 12 : t.tm_hour % 12;
    AppendPadded(out, static_cast<uint64_t>(hour12), 2);
    out += ':';
    AppendPadded(out, static_cast<uint64_t>(t.tm_min), 2);
    out += ':';
    AppendPadded(out, static_cast<uint64_t>(t.tm_sec), 2);
    out += '.';
    AppendPadded(out, static_cast<uint64_t>((unixMs < 0 ? 0 : unixMs) % 1000), 3);
    out += t.tm_hour < 12 ? " am " : " pm ";
    AppendPadded(out, static_cast<uint64_t>(t.tm_year + 1900), 4);
}

std::optional<int64_t> ParseAscDate(std::string_view text)
{
    std::string_view f[7];
    size_t n = 0;
    size_t i = 0;
    while (i < text.size() && n < 7) {
        while (i < text.size() && text[i] == ' ')
            ++i;
        const size_t start = i;
        while (i < text.size() && text[i] != ' ')
            ++i;
        if (i > start)
            f[n++] = text.substr(start, i - start);
    }
    // [weekday] month day time [am|pm] year; the weekday in any language: a word before the
    // month when the day follows the month.
    size_t k = 0;
    if (n >= 5 && !f[0].empty() && f[0][0] > '9' && !f[1].empty() && f[1][0] > '9')
        k = 1;
    if (n < k + 4)
        return std::nullopt;
    std::tm t{};
    t.tm_mon = MonthOf(f[k]);
    const std::string_view clock = f[k + 2];
    int ms = 0;
    const size_t dot = clock.find('.');
    if (t.tm_mon < 0 || !Number(f[k + 1], 2, t.tm_mday) || clock.size() < 8 || clock[2] != ':' || clock[5] != ':' ||
        !Number(clock.substr(0, 2), 2, t.tm_hour) || !Number(clock.substr(3, 2), 2, t.tm_min) ||
        !Number(clock.substr(6, 2), 2, t.tm_sec) ||
        (dot != std::string_view::npos && (dot != 8 || !Number(clock.substr(9), 3, ms))) ||
        (dot == std::string_view::npos && clock.size() != 8))
        return std::nullopt;
    if (dot != std::string_view::npos)
        for (size_t d = clock.size() - 9; d < 3; ++d)
            ms *= 10;
    size_t y = k + 3;
    if (n > y && (SameLetters(f[y], "am") || SameLetters(f[y], "pm"))) {
        // Some writers give a 24-hour time and an am/pm after it all the same.
        if (t.tm_hour < 1)
            return std::nullopt;
        if (t.tm_hour <= 12)
            t.tm_hour = t.tm_hour % 12 + (SameLetters(f[y], "pm") ? 12 : 0);
        ++y;
    }
    int year = 0;
    if (n != y + 1 || !Number(f[y], 4, year) || year < 1970 || t.tm_mday < 1 || t.tm_mday > 31 || t.tm_hour > 23 ||
        t.tm_min > 59 || t.tm_sec > 60)
        return std::nullopt;
    t.tm_year = year - 1900;
    t.tm_isdst = -1;
    const time_t seconds = std::mktime(&t);
    if (seconds < 0)
        return std::nullopt;
    return int64_t(seconds) * 1000 + ms;
}

} // namespace tcm::recording
