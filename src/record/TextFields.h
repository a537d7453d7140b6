#pragma once
// Small parsing helpers shared by the text formats (candump log, ASC, TRC).
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace tcm::recording {

// The space- or tab-separated fields of a line, the first `max` of them stored in `fields`.
// Returns how many there are, up to max + 1 (max + 1: more than `max`).
size_t SplitFields(std::string_view line, std::string_view* fields, size_t max);

// Decimal seconds with an optional fraction ("12", "12.5", "1700000000.123456") as microseconds:
// at most `maxWholeDigits` whole digits (12 at most) and 9 fraction digits, the ones past the
// sixth dropped. False for anything else, so the result always fits.
bool ParseSeconds(std::string_view text, int64_t& us, size_t maxWholeDigits = 12);

// A decimal number of at most 18 digits; false for anything else.
bool ParseDecimal(std::string_view text, uint64_t& value);

// `line` begins with `word`, letters compared without case.
bool StartsWithWord(std::string_view line, std::string_view word);

// The first line of `head` that is not empty, without leading blanks: what tells one
// text format from another.
std::string_view FirstTextLine(std::string_view head);

} // namespace tcm::recording
