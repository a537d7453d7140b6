#pragma once
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

// A write to an INI file that did not reach the disk.
class EIniFileError : public std::runtime_error {
public:
    explicit EIniFileError(const std::string& path);
    const std::string& Path() const { return FilePath; }

private:
    std::string FilePath;
};

// An INI-format file on disk, read and written by section and key.
//
// Layout: "[Section]" lines open sections, "key=value" lines inside them hold
// values; lines starting with ';' or '#' are comments. Section and key names
// compare without regard to ASCII case; values come back without surrounding
// blanks. When a name occurs twice, the first occurrence counts.
//
// The file is read when the object is made (a missing file reads as empty).
// Every write reads the file afresh, changes the one line (or adds it) and
// replaces the whole file in one step before it returns; every other byte stays
// as it was, including comments, blank lines and CR LF line ends. A new key goes
// after the last non-blank line of its section; a new section goes at the end of
// the file, after one blank line. New lines take the file's line end ("\n" for a
// new file). Line breaks in a written value would split the line, so they are
// written as blanks.
//
// Not for use by several threads at once.
class TIniFile {
public:
    explicit TIniFile(std::string path);

    const std::string& FileName() const { return Path; }

    std::string ReadString(const std::string& section, const std::string& key, const std::string& def) const;
    // Decimal with an optional sign, or hexadecimal after 0x, 0X or $ (up to
    // FFFFFFFF, taken as the 32-bit pattern: 0xFFFFFFFF is -1). Anything else
    // (a word, nothing, trailing characters, a number out of 32-bit range)
    // gives def.
    int32_t ReadInteger(const std::string& section, const std::string& key, int32_t def) const;

    // Throw EIniFileError when the file cannot be read back or written; the file
    // then stays as it was. Throw std::invalid_argument for a section or key name
    // that a file line cannot hold (empty key, '=' in a key, ']' in a section,
    // line breaks, surrounding blanks).
    void WriteString(const std::string& section, const std::string& key, const std::string& value);
    void WriteInteger(const std::string& section, const std::string& key, int32_t value);

    bool SectionExists(const std::string& section) const;
    bool ValueExists(const std::string& section, const std::string& key) const;
    // Key names of the section in file order, each name once.
    std::vector<std::string> ReadSection(const std::string& section) const;
    // Section names in file order, each once.
    std::vector<std::string> ReadSections() const;

    // Creates an empty file when none exists. True when a file exists
    // afterwards; false when it could not be created. Never throws.
    static bool CreateEmptyIfMissing(const std::string& path);

    // Reads an integer by the rules of ReadInteger; false when it is not one.
    static bool ParseInteger(const std::string& text, int32_t& value);

    struct TLine {
        std::string Text; // without the line end
        std::string End;  // "\r\n", "\n" or "" (last line without one)
    };

private:
    std::string Path;
    std::vector<TLine> Lines;
};

namespace tcm {
using ::EIniFileError;
using ::TIniFile;
} // namespace tcm
