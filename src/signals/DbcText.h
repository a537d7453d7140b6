#pragma once
#include <string>
#include <string_view>

// The texts of a DBC file. Files are written in UTF-8 or, by Vector's editor
// and older tools, in Windows-1252 ("°C" as the single byte 0xB0); either way
// the database holds UTF-8. Texts come from a file nobody vouches for, so
// what is shown escapes control characters: a unit cannot set a terminal's
// title or colours, nor break a line of the window.

enum class TDbcEncoding { Utf8, Windows1252 };

bool IsValidUtf8(std::string_view text);

// Windows-1252 bytes as UTF-8 (the five bytes it leaves undefined become
// the control characters of the same number, as browsers read them).
std::string Windows1252ToUtf8(std::string_view text);

// `text` with every control character (C0, DEL, C1) written as \xNN (\u0085
// for C1); all other characters unchanged. Appends to `out`.
void AppendDbcPrintable(std::string& out, std::string_view text);
std::string DbcPrintable(std::string_view text);
