#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// Splits DBC text into tokens. Strings may span lines; every token knows the
// line it starts on and whether it is the first token of that line, which is
// how the reader finds statement starts again after a line it cannot read.
enum class TDbcTokenKind : uint8_t { End, Identifier, Number, String, Punct, Bad };

struct TDbcToken {
    TDbcTokenKind Kind = TDbcTokenKind::End;
    std::string_view Text; // a string's text without quotes and still escaped
    int Line = 0;
    bool FirstOnLine = false;

    bool Is(char punct) const { return Kind == TDbcTokenKind::Punct && Text.size() == 1 && Text[0] == punct; }
    bool IsWord(std::string_view word) const { return Kind == TDbcTokenKind::Identifier && Text == word; }
};

class TDbcLexer {
public:
    explicit TDbcLexer(std::string_view text);

    const TDbcToken& Peek() const { return Current; }
    TDbcToken Next();

    // A place in the text to come back to, for looking one token further ahead.
    struct TMark {
        size_t Pos;
        int Line;
        int LastTokenLine;
        TDbcToken Current;
    };
    TMark Mark() const { return {Pos, Line, LastTokenLine, Current}; }
    void Reset(const TMark& mark)
    {
        Pos = mark.Pos;
        Line = mark.Line;
        LastTokenLine = mark.LastTokenLine;
        Current = mark.Current;
    }
    // The text of line `line` (1-based), without its line end.
    std::string_view LineText(int line);

private:
    void Advance();

    std::string_view Text;
    size_t Pos = 0;
    int Line = 1;
    int LastTokenLine = 0;
    TDbcToken Current;
    std::vector<size_t> LineStarts; // filled on the first LineText call
};

// A string token's text with \" and \\ resolved.
std::string DbcUnescape(std::string_view text);

// Number tokens converted; false unless the whole text is the number.
bool DbcToUnsigned(std::string_view text, uint64_t& value);
bool DbcToDouble(std::string_view text, double& value);
// A value-table key: a whole number, negative or up to 2^64-1 (kept as its
// 64-bit pattern), also when written with a fraction or exponent ("3.0").
bool DbcToKey(std::string_view text, int64_t& key);
