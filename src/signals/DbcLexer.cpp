#include "signals/DbcLexer.h"

#include <charconv>

namespace {

bool IsIdentStart(char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_';
}

bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

bool IsIdentChar(char c)
{
    return IsIdentStart(c) || IsDigit(c);
}

} // namespace

TDbcLexer::TDbcLexer(std::string_view text) : Text(text)
{
    if (Text.substr(0, 3) == "\xEF\xBB\xBF") // UTF-8 byte-order mark
        Pos = 3;
    Advance();
}

TDbcToken TDbcLexer::Next()
{
    TDbcToken token = Current;
    Advance();
    return token;
}

void TDbcLexer::Advance()
{
    // Blanks, line ends and "//" comment lines.
    for (;;) {
        while (Pos < Text.size() && (Text[Pos] == ' ' || Text[Pos] == '\t' || Text[Pos] == '\r' || Text[Pos] == '\n' ||
                                     Text[Pos] == '\f' || Text[Pos] == '\v')) {
            if (Text[Pos] == '\n')
                ++Line;
            ++Pos;
        }
        if (Pos + 1 < Text.size() && Text[Pos] == '/' && Text[Pos + 1] == '/') {
            while (Pos < Text.size() && Text[Pos] != '\n')
                ++Pos;
            continue;
        }
        break;
    }
    Current = TDbcToken{};
    Current.Line = Line;
    Current.FirstOnLine = Line != LastTokenLine;
    if (Pos >= Text.size()) {
        Current.Kind = TDbcTokenKind::End;
        return;
    }
    LastTokenLine = Line;
    const size_t start = Pos;
    const char c = Text[Pos];
    if (IsIdentStart(c)) {
        while (Pos < Text.size() && IsIdentChar(Text[Pos]))
            ++Pos;
        Current.Kind = TDbcTokenKind::Identifier;
    } else if (IsDigit(c) || ((c == '-' || c == '+' || c == '.') && Pos + 1 < Text.size() &&
                              (IsDigit(Text[Pos + 1]) || (Text[Pos + 1] == '.' && c != '.')))) {
        // A number: sign, digits, fraction, exponent. Its validity is checked
        // where it is converted.
        ++Pos;
        while (Pos < Text.size() && (IsDigit(Text[Pos]) || Text[Pos] == '.'))
            ++Pos;
        if (Pos < Text.size() && (Text[Pos] == 'e' || Text[Pos] == 'E')) {
            size_t p = Pos + 1;
            if (p < Text.size() && (Text[p] == '+' || Text[p] == '-'))
                ++p;
            if (p < Text.size() && IsDigit(Text[p])) {
                Pos = p;
                while (Pos < Text.size() && IsDigit(Text[Pos]))
                    ++Pos;
            }
        }
        Current.Kind = TDbcTokenKind::Number;
        // Names may begin with a digit ("2017_5"): a whole number running on
        // into letters or '_' is a name.
        if (IsDigit(c) && Pos < Text.size() && IsIdentChar(Text[Pos]) &&
            Text.substr(start, Pos - start).find('.') == std::string_view::npos) {
            while (Pos < Text.size() && IsIdentChar(Text[Pos]))
                ++Pos;
            Current.Kind = TDbcTokenKind::Identifier;
        }
    } else if (c == '"') {
        ++Pos;
        const size_t body = Pos;
        while (Pos < Text.size() && Text[Pos] != '"') {
            if (Text[Pos] == '\\' && Pos + 1 < Text.size())
                ++Pos;
            if (Text[Pos] == '\n')
                ++Line;
            ++Pos;
        }
        if (Pos >= Text.size()) {
            Current.Kind = TDbcTokenKind::Bad; // a string that never ends
            Current.Text = Text.substr(start);
            return;
        }
        Current.Kind = TDbcTokenKind::String;
        Current.Text = Text.substr(body, Pos - body);
        ++Pos;
        return;
    } else if (std::string_view(":;|@+-()[],").find(c) != std::string_view::npos) {
        ++Pos;
        Current.Kind = TDbcTokenKind::Punct;
    } else {
        ++Pos;
        Current.Kind = TDbcTokenKind::Bad;
    }
    Current.Text = Text.substr(start, Pos - start);
}

std::string_view TDbcLexer::LineText(int line)
{
    if (LineStarts.empty()) {
        LineStarts.push_back(Text.substr(0, 3) == "\xEF\xBB\xBF" ? 3 : 0);
        for (size_t p = 0; (p = Text.find('\n', p)) != std::string_view::npos; ++p)
            LineStarts.push_back(p + 1);
    }
    if (line < 1 || static_cast<size_t>(line) > LineStarts.size())
        return {};
    const size_t pos = LineStarts[static_cast<size_t>(line) - 1];
    size_t end = Text.find('\n', pos);
    if (end == std::string_view::npos)
        end = Text.size();
    std::string_view text = Text.substr(pos, end - pos);
    if (!text.empty() && text.back() == '\r')
        text.remove_suffix(1);
    return text;
}

std::string DbcUnescape(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 1 < text.size() && (text[i + 1] == '"' || text[i + 1] == '\\'))
            ++i;
        out += text[i];
    }
    return out;
}

bool DbcToUnsigned(std::string_view text, uint64_t& value)
{
    if (!text.empty() && text[0] == '+')
        text.remove_prefix(1);
    const auto r = std::from_chars(text.data(), text.data() + text.size(), value);
    return r.ec == std::errc() && r.ptr == text.data() + text.size();
}

bool DbcToDouble(std::string_view text, double& value)
{
    if (!text.empty() && text[0] == '+')
        text.remove_prefix(1);
    const auto r = std::from_chars(text.data(), text.data() + text.size(), value);
    return r.ec == std::errc() && r.ptr == text.data() + text.size();
}

bool DbcToKey(std::string_view text, int64_t& key)
{
    if (!text.empty() && text[0] == '+')
        text.remove_prefix(1);
    auto r = std::from_chars(text.data(), text.data() + text.size(), key);
    if (r.ec == std::errc() && r.ptr == text.data() + text.size())
        return true;
    uint64_t u = 0;
    if (DbcToUnsigned(text, u)) {
        key = static_cast<int64_t>(u);
        return true;
    }
    double d = 0;
    // A whole number written with a fraction or exponent ("3.0", "1e3"); the
    // range check comes first, as converting a larger double is undefined.
    if (DbcToDouble(text, d) && d > -9.2e18 && d < 9.2e18 && d == static_cast<double>(static_cast<int64_t>(d))) {
        key = static_cast<int64_t>(d);
        return true;
    }
    return false;
}
