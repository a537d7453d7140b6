#include "platform/IniFile.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

#include "platform/FileReplace.h"

namespace {

using TLines = std::vector<TIniFile::TLine>;

constexpr const char* kBlanks = " \t\v\f\r";
constexpr const char* kUtf8Bom = "\xEF\xBB\xBF";

std::string Trim(const std::string& s)
{
    const size_t first = s.find_first_not_of(kBlanks);
    if (first == std::string::npos)
        return std::string();
    const size_t last = s.find_last_not_of(kBlanks);
    return s.substr(first, last - first + 1);
}

char Lower(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool SameName(const std::string& a, const std::string& b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (Lower(a[i]) != Lower(b[i]))
            return false;
    }
    return true;
}

// Reads a whole file. A missing file is empty; false for any other failure.
bool ReadFileBytes(const std::string& path, std::string& content)
{
    content.clear();
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return errno == ENOENT;
    char buffer[8192];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n > 0) {
            content.append(buffer, static_cast<size_t>(n));
        } else if (n == 0) {
            break;
        } else if (errno != EINTR) {
            ::close(fd);
            content.clear();
            return false;
        }
    }
    ::close(fd);
    return true;
}

TLines SplitLines(const std::string& content)
{
    TLines lines;
    size_t start = 0;
    while (start < content.size()) {
        const size_t nl = content.find('\n', start);
        if (nl == std::string::npos) {
            lines.push_back({content.substr(start), std::string()});
            break;
        }
        const bool crlf = nl > start && content[nl - 1] == '\r';
        const size_t textEnd = crlf ? nl - 1 : nl;
        lines.push_back({content.substr(start, textEnd - start), std::string(crlf ? "\r\n" : "\n")});
        start = nl + 1;
    }
    return lines;
}

std::string JoinLines(const TLines& lines)
{
    std::string content;
    for (const auto& line : lines) {
        content += line.Text;
        content += line.End;
    }
    return content;
}

// The line's text as it is interpreted: a byte-order mark before the first line is not part of it.
std::string Meaning(const TLines& lines, size_t index)
{
    const std::string& text = lines[index].Text;
    if (index == 0 && text.compare(0, 3, kUtf8Bom) == 0)
        return text.substr(3);
    return text;
}

bool IsSectionHeader(const std::string& text, std::string* name)
{
    const std::string t = Trim(text);
    if (t.empty() || t[0] != '[')
        return false;
    const size_t close = t.find(']');
    if (close == std::string::npos)
        return false;
    if (name)
        *name = Trim(t.substr(1, close - 1));
    return true;
}

// A "key=value" line: the key and the position just after '='.
bool IsKeyLine(const std::string& text, std::string* key, size_t* valueStart)
{
    const std::string t = Trim(text);
    if (t.empty() || t[0] == ';' || t[0] == '#' || t[0] == '[')
        return false;
    const size_t eq = text.find('=');
    if (eq == std::string::npos)
        return false;
    const std::string k = Trim(text.substr(0, eq));
    if (k.empty())
        return false;
    if (key)
        *key = k;
    if (valueStart)
        *valueStart = eq + 1;
    return true;
}

bool IsBlank(const std::string& text)
{
    return text.find_first_not_of(kBlanks) == std::string::npos;
}

// Index of the header of the first section of that name, or -1.
long FindSection(const TLines& lines, const std::string& section)
{
    std::string name;
    for (size_t i = 0; i < lines.size(); ++i) {
        if (IsSectionHeader(Meaning(lines, i), &name) && SameName(name, section))
            return static_cast<long>(i);
    }
    return -1;
}

// One past the last line of the section whose header is at `header`.
size_t SectionEnd(const TLines& lines, size_t header)
{
    size_t i = header + 1;
    while (i < lines.size() && !IsSectionHeader(lines[i].Text, nullptr))
        ++i;
    return i;
}

// Index of the key's line in the section, or -1.
long FindKey(const TLines& lines, const std::string& section, const std::string& key, size_t* valueStart)
{
    const long header = FindSection(lines, section);
    if (header < 0)
        return -1;
    const size_t end = SectionEnd(lines, static_cast<size_t>(header));
    std::string name;
    for (size_t i = static_cast<size_t>(header) + 1; i < end; ++i) {
        if (IsKeyLine(lines[i].Text, &name, valueStart) && SameName(name, key))
            return static_cast<long>(i);
    }
    return -1;
}

// The line end that new lines get: the file's first one, "\n" for a file without any.
std::string LineEndOf(const TLines& lines)
{
    for (const auto& line : lines) {
        if (!line.End.empty())
            return line.End;
    }
    return "\n";
}

bool HasLineBreak(const std::string& s)
{
    return s.find_first_of("\r\n") != std::string::npos;
}

void CheckNames(const std::string& section, const std::string& key)
{
    if (section.empty() || HasLineBreak(section) || section.find(']') != std::string::npos || Trim(section) != section)
        throw std::invalid_argument("INI section name cannot be written: \"" + section + "\"");
    if (key.empty() || HasLineBreak(key) || key.find('=') != std::string::npos || Trim(key) != key || key[0] == '[' ||
        key[0] == ';' || key[0] == '#')
        throw std::invalid_argument("INI key name cannot be written: \"" + key + "\"");
}

} // namespace

EIniFileError::EIniFileError(const std::string& path) : std::runtime_error("Unable to write to " + path), FilePath(path)
{
}

TIniFile::TIniFile(std::string path) : Path(std::move(path))
{
    std::string content;
    if (ReadFileBytes(Path, content))
        Lines = SplitLines(content);
}

std::string TIniFile::ReadString(const std::string& section, const std::string& key, const std::string& def) const
{
    size_t valueStart = 0;
    const long line = FindKey(Lines, section, key, &valueStart);
    if (line < 0)
        return def;
    return Trim(Lines[static_cast<size_t>(line)].Text.substr(valueStart));
}

bool TIniFile::ParseInteger(const std::string& text, int32_t& value)
{
    const std::string t = Trim(text);
    if (t.empty())
        return false;

    size_t hexStart = std::string::npos;
    if (t.size() >= 2 && t[0] == '0' && (t[1] == 'x' || t[1] == 'X'))
        hexStart = 2;
    else if (t[0] == '$')
        hexStart = 1;

    if (hexStart != std::string::npos) {
        if (hexStart == t.size())
            return false;
        uint64_t v = 0;
        for (size_t i = hexStart; i < t.size(); ++i) {
            const char c = Lower(t[i]);
            int digit;
            if (c >= '0' && c <= '9')
                digit = c - '0';
            else if (c >= 'a' && c <= 'f')
                digit = c - 'a' + 10;
            else
                return false;
            v = v * 16 + static_cast<uint64_t>(digit);
            if (v > 0xFFFFFFFFull)
                return false;
        }
        value = static_cast<int32_t>(static_cast<uint32_t>(v));
        return true;
    }

    size_t i = 0;
    const bool negative = t[0] == '-';
    if (t[0] == '-' || t[0] == '+')
        i = 1;
    if (i == t.size())
        return false;
    uint64_t v = 0;
    for (; i < t.size(); ++i) {
        if (t[i] < '0' || t[i] > '9')
            return false;
        v = v * 10 + static_cast<uint64_t>(t[i] - '0');
        if (v > 2147483648ull)
            return false;
    }
    if (!negative && v > 2147483647ull)
        return false;
    value = negative ? static_cast<int32_t>(-static_cast<int64_t>(v)) : static_cast<int32_t>(v);
    return true;
}

int32_t TIniFile::ReadInteger(const std::string& section, const std::string& key, int32_t def) const
{
    int32_t value = 0;
    return ParseInteger(ReadString(section, key, std::string()), value) ? value : def;
}

void TIniFile::WriteString(const std::string& section, const std::string& key, const std::string& value)
{
    CheckNames(section, key);

    // Start from what is on disk now, so that nothing written meanwhile is lost.
    std::string content;
    if (!ReadFileBytes(Path, content))
        throw EIniFileError(Path);
    TLines lines = SplitLines(content);

    std::string clean = value;
    for (char& c : clean) {
        if (c == '\r' || c == '\n')
            c = ' ';
    }
    const std::string end = LineEndOf(lines);

    size_t valueStart = 0;
    const long found = FindKey(lines, section, key, &valueStart);
    if (found >= 0) {
        // Keep the key as written and the spacing around '='.
        std::string& text = lines[static_cast<size_t>(found)].Text;
        const size_t keep = text.find_first_not_of(" \t", valueStart);
        text = text.substr(0, keep == std::string::npos ? valueStart : keep) + clean;
    } else {
        const long header = FindSection(lines, section);
        if (header >= 0) {
            // After the section's last non-blank line, before its trailing blank lines.
            size_t last = SectionEnd(lines, static_cast<size_t>(header)) - 1;
            while (last > static_cast<size_t>(header) && IsBlank(lines[last].Text))
                --last;
            if (lines[last].End.empty())
                lines[last].End = end;
            lines.insert(lines.begin() + static_cast<long>(last) + 1, TLine{key + "=" + clean, end});
        } else {
            if (!lines.empty()) {
                if (lines.back().End.empty())
                    lines.back().End = end;
                if (!IsBlank(lines.back().Text))
                    lines.push_back({std::string(), end});
            }
            lines.push_back({"[" + section + "]", end});
            lines.push_back({key + "=" + clean, end});
        }
    }

    try {
        tcm::ReplaceFileContents(Path, JoinLines(lines));
    } catch (const std::exception&) {
        throw EIniFileError(Path);
    }
    Lines = std::move(lines);
}

void TIniFile::WriteInteger(const std::string& section, const std::string& key, int32_t value)
{
    WriteString(section, key, std::to_string(value));
}

bool TIniFile::SectionExists(const std::string& section) const
{
    return FindSection(Lines, section) >= 0;
}

bool TIniFile::ValueExists(const std::string& section, const std::string& key) const
{
    return FindKey(Lines, section, key, nullptr) >= 0;
}

std::vector<std::string> TIniFile::ReadSection(const std::string& section) const
{
    std::vector<std::string> keys;
    const long header = FindSection(Lines, section);
    if (header < 0)
        return keys;
    const size_t end = SectionEnd(Lines, static_cast<size_t>(header));
    std::string name;
    for (size_t i = static_cast<size_t>(header) + 1; i < end; ++i) {
        if (!IsKeyLine(Lines[i].Text, &name, nullptr))
            continue;
        bool seen = false;
        for (const auto& k : keys)
            seen = seen || SameName(k, name);
        if (!seen)
            keys.push_back(name);
    }
    return keys;
}

std::vector<std::string> TIniFile::ReadSections() const
{
    std::vector<std::string> sections;
    std::string name;
    for (size_t i = 0; i < Lines.size(); ++i) {
        if (!IsSectionHeader(Meaning(Lines, i), &name))
            continue;
        bool seen = false;
        for (const auto& s : sections)
            seen = seen || SameName(s, name);
        if (!seen)
            sections.push_back(name);
    }
    return sections;
}

bool TIniFile::CreateEmptyIfMissing(const std::string& path)
{
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0)
        return S_ISREG(st.st_mode);
    if (errno != ENOENT)
        return false;
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0)
        return errno == EEXIST;
    ::close(fd);
    return true;
}
