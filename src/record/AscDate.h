#pragma once
// The date text of Vector ASC headers, in local time as Vector's tools write it:
// "Tue Nov 14 10:13:20.123 pm 2023"; also read without milliseconds or in 24-hour form
// ("Tue Nov 14 22:13:20 2023", as log2asc writes it).
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tcm::recording {

void AppendAscDate(std::string& out, int64_t unixMs);
// UTC milliseconds of a date text; nothing when it is not one.
std::optional<int64_t> ParseAscDate(std::string_view text);

} // namespace tcm::recording
