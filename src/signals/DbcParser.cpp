#include "signals/DbcParser.h"

#include <algorithm>
#include <unordered_set>

namespace {

constexpr size_t kMaxProblems = 1000;
constexpr uint32_t kExtendedFlag = 0x80000000u;
constexpr uint32_t kLargestExtendedId = 0x1FFFFFFFu;
// Vector's editor keeps signals that belong to no message under this
// pseudo-message with an identifier no frame can have; other tools read over it.
constexpr std::string_view kIndependentSignals = "VECTOR__INDEPENDENT_SIG_MSG";

// Sections this reader reads over: their statements end with ';'.
const std::unordered_set<std::string_view> kSkippedSections = {
    "VAL_TABLE_",       "BA_DEF_",      "BA_",        "BA_DEF_DEF_", "SIG_GROUP_",    "EV_",
    "BO_TX_BU_",        "ENVVAR_DATA_", "SGTYPE_",    "SGTYPE_VAL_", "BA_DEF_REL_",   "BA_REL_",
    "BA_DEF_DEF_REL_",  "BU_SG_REL_",   "BU_EV_REL_", "BU_BO_REL_",  "SIG_TYPE_REF_", "BA_DEF_SGTYPE_",
    "BA_SGTYPE_",       "CAT_DEF_",     "CAT_",       "FILTER",      "EV_DATA_",      "NS_DESC_",
    "SIGTYPE_VALTYPE_",
};

const std::unordered_set<std::string_view> kReadSections = {
    "VERSION", "NS_", "BS_", "BU_", "BO_", "SG_", "CM_", "VAL_", "SIG_VALTYPE_", "SG_MUL_VAL_",
};

bool IsKeyword(std::string_view word)
{
    return kReadSections.count(word) != 0 || kSkippedSections.count(word) != 0;
}

// A word written like a section keyword (upper case, digits, '_', ending in
// '_'): sections of later tool versions are read over like the known ones.
bool LooksLikeKeyword(std::string_view word)
{
    if (word.size() < 2 || word.back() != '_')
        return false;
    return std::all_of(word.begin(), word.end(),
                       [](char c) { return (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_'; });
}

// A name token: a word, or a number made of digits only (names may be "2017").
bool IsName(const TDbcToken& t)
{
    return t.Kind == TDbcTokenKind::Identifier ||
           (t.Kind == TDbcTokenKind::Number &&
            std::all_of(t.Text.begin(), t.Text.end(), [](char c) { return c >= '0' && c <= '9'; }));
}

} // namespace

TDbcDatabase TDbcParser::Run()
{
    while (Lex.Peek().Kind != TDbcTokenKind::End) {
        StatementLine = Lex.Peek().Line;
        if (!Statement())
            Recover();
    }
    Db.Index();
    // Problems found while linking signals come last; the report reads in file order.
    std::stable_sort(Db.Problems.begin(), Db.Problems.end(),
                     [](const TDbcProblem& a, const TDbcProblem& b) { return a.Line < b.Line; });
    if (Dropped > 0)
        Db.Problems.push_back({0, std::to_string(Dropped) + " more lines could not be read"});
    return std::move(Db);
}

bool TDbcParser::Fail(const std::string& what)
{
    const TDbcToken& at = Lex.Peek();
    const bool openText = at.Kind == TDbcTokenKind::Bad && !at.Text.empty() && at.Text[0] == '"';
    Failure = TFailure{at, openText ? "a text in double quotes never ends" : what};
    return false;
}

bool TDbcParser::Punct(char c, const char* what)
{
    if (!Lex.Peek().Is(c))
        return Fail(std::string("expected '") + c + "' " + what);
    Lex.Next();
    return true;
}

bool TDbcParser::Word(std::string& out, const char* what)
{
    if (!IsName(Lex.Peek()))
        return Fail(std::string("expected ") + what);
    out = std::string(Lex.Next().Text);
    return true;
}

bool TDbcParser::Text(std::string& out, const char* what)
{
    if (Lex.Peek().Kind != TDbcTokenKind::String)
        return Fail(std::string("expected ") + what + " in double quotes");
    out = DbcUnescape(Lex.Next().Text);
    return true;
}

bool TDbcParser::Unsigned(uint64_t& out, const char* what)
{
    if (Lex.Peek().Kind != TDbcTokenKind::Number || !DbcToUnsigned(Lex.Peek().Text, out))
        return Fail(std::string("expected ") + what + " (a whole number)");
    Lex.Next();
    return true;
}

bool TDbcParser::Real(double& out, const char* what)
{
    if (Lex.Peek().Kind != TDbcTokenKind::Number || !DbcToDouble(Lex.Peek().Text, out))
        return Fail(std::string("expected ") + what + " (a number)");
    Lex.Next();
    return true;
}

bool TDbcParser::Real(double& out, TDbcDecimal& exact, const char* what)
{
    const std::string_view text = Lex.Peek().Text;
    if (!Real(out, what))
        return false;
    DbcParseDecimal(text, exact);
    return true;
}

bool TDbcParser::MessageId(uint32_t& id, bool& extended)
{
    uint64_t raw = 0;
    if (!Unsigned(raw, "a message identifier"))
        return false;
    if (raw > 0xFFFFFFFFull)
        return Fail("message identifier out of range");
    extended = (raw & kExtendedFlag) != 0 || raw > 0x7FF;
    id = static_cast<uint32_t>(raw & ~static_cast<uint64_t>(kExtendedFlag));
    return true;
}

void TDbcParser::Problem(int line, const std::string& text)
{
    if (Db.Problems.size() >= kMaxProblems) {
        ++Dropped;
        return;
    }
    std::string lineText(Lex.LineText(line));
    if (lineText.size() > 120) {
        size_t cut = 117;
        while (cut > 0 && (static_cast<unsigned char>(lineText[cut]) & 0xC0) == 0x80)
            --cut; // not inside a UTF-8 sequence
        lineText = lineText.substr(0, cut) + "...";
    }
    Db.Problems.push_back({line, lineText.empty() ? text : text + ": " + lineText});
}

void TDbcParser::Recover()
{
    const TDbcToken at = Failure.At;
    const int line =
        at.Kind == TDbcTokenKind::End || (at.FirstOnLine && at.Line > StatementLine) ? StatementLine : at.Line;
    Problem(line, Failure.What);
    if (at.FirstOnLine && at.Line > StatementLine && at.Kind == TDbcTokenKind::Identifier)
        return; // the statement ended early; the next one starts here
    Lex.Next();
    SkipRestOfLine();
}

void TDbcParser::SkipRestOfLine()
{
    while (Lex.Peek().Kind != TDbcTokenKind::End && !Lex.Peek().FirstOnLine)
        Lex.Next();
}

// Reads over a statement up to its ';', stopping early at a line that starts
// with a section keyword (a statement whose ';' is missing).
void TDbcParser::SkipStatement()
{
    while (Lex.Peek().Kind != TDbcTokenKind::End) {
        const TDbcToken& t = Lex.Peek();
        if (t.FirstOnLine && t.Kind == TDbcTokenKind::Identifier && IsKeyword(t.Text))
            return;
        if (Lex.Next().Is(';'))
            return;
    }
}

bool TDbcParser::Statement()
{
    const TDbcToken head = Lex.Peek();
    if (head.Kind != TDbcTokenKind::Identifier)
        return Fail("expected a section keyword");
    const std::string_view word = head.Text;
    if (word == "VERSION") {
        Lex.Next();
        return Text(Db.Version, "the version text");
    }
    if (word == "NS_")
        return NewSymbols();
    if (word == "BS_") {
        Lex.Next();
        SkipRestOfLine();
        return true;
    }
    if (word == "BU_")
        return NodeList();
    if (word == "BO_")
        return Message();
    if (word == "SG_")
        return Signal();
    if (word == "CM_")
        return CommentStatement();
    if (word == "VAL_")
        return ValueTable();
    if (word == "SIG_VALTYPE_")
        return ValueType();
    if (word == "SG_MUL_VAL_")
        return MuxValues();
    if (kSkippedSections.count(word) != 0 || LooksLikeKeyword(word)) {
        Lex.Next();
        SkipStatement();
        return true;
    }
    return Fail("unknown section '" + std::string(word) + "'");
}

// NS_ : followed by the new symbols, one word alone on each line.
bool TDbcParser::NewSymbols()
{
    Lex.Next();
    if (!Punct(':', "after NS_"))
        return false;
    for (;;) {
        const TDbcToken t = Lex.Peek();
        if (t.Kind != TDbcTokenKind::Identifier || !t.FirstOnLine)
            return true;
        const TDbcLexer::TMark mark = Lex.Mark();
        Lex.Next();
        if (!Lex.Peek().FirstOnLine && Lex.Peek().Kind != TDbcTokenKind::End) {
            Lex.Reset(mark);
            return true; // a statement such as "BS_:"
        }
    }
}

bool TDbcParser::NodeList()
{
    Lex.Next();
    if (!Punct(':', "after BU_"))
        return false;
    while (IsName(Lex.Peek()) && !IsKeyword(Lex.Peek().Text))
        Db.Nodes.emplace_back(Lex.Next().Text);
    return true;
}

// BO_ 1234 Name: 8 Transmitter
bool TDbcParser::Message()
{
    Lex.Next();
    CurrentMessage = -1;
    TDbcMessage m;
    m.Line = StatementLine;
    uint64_t size = 0;
    if (!MessageId(m.Id, m.Extended) || !Word(m.Name, "the message name") || !Punct(':', "after the message name") ||
        !Unsigned(size, "the message length"))
        return false;
    m.Size = static_cast<uint32_t>(std::min<uint64_t>(size, 0xFFFFFFFFu));
    if (IsName(Lex.Peek()) && !Lex.Peek().FirstOnLine)
        m.Transmitter = std::string(Lex.Next().Text);
    if (m.Extended && m.Id > kLargestExtendedId) {
        // No frame can carry it: left out, with its signals and what refers to it.
        if (m.Name != kIndependentSignals)
            Problem(StatementLine, "the identifier of " + m.Name + " is wider than 29 bits; it is left out");
        LeftOut.insert(Key(m.Id, m.Extended));
        CurrentMessage = kUnusedMessage;
        return true;
    }
    if (Db.FindMessage(m.Id, m.Extended)) {
        Problem(StatementLine, "a second message with the same identifier is not used");
        CurrentMessage = kUnusedMessage;
        return true;
    }
    Db.AddMessage(std::move(m));
    CurrentMessage = static_cast<int>(Db.Messages.size()) - 1;
    return true;
}

// SG_ Name [M|m<n>|m<n>M] : start|length@order sign (factor,offset) [min|max] "unit" receivers
bool TDbcParser::Signal()
{
    Lex.Next();
    TDbcSignal s;
    s.Line = StatementLine;
    if (!Word(s.Name, "the signal name"))
        return false;
    if (Lex.Peek().Kind == TDbcTokenKind::Identifier && !MuxMark(std::string(Lex.Next().Text), s))
        return false;
    uint64_t start = 0, length = 0, order = 0;
    if (!Punct(':', "after the signal name") || !Unsigned(start, "the start bit") ||
        !Punct('|', "after the start bit") || !Unsigned(length, "the signal length") ||
        !Punct('@', "after the signal length") || !Unsigned(order, "the byte order (0 or 1)"))
        return false;
    if (order > 1)
        return Fail("expected the byte order 0 (Motorola) or 1 (Intel)");
    if (Lex.Peek().Is('+') || Lex.Peek().Is('-'))
        s.Signed = Lex.Next().Is('-');
    else
        return Fail("expected '+' (unsigned) or '-' (signed)");
    if (!Punct('(', "before the factor") || !Real(s.Factor, s.ExactFactor, "the factor") ||
        !Punct(',', "after the factor") || !Real(s.Offset, s.ExactOffset, "the offset") ||
        !Punct(')', "after the offset") || !Punct('[', "before the minimum") || !Real(s.Minimum, "the minimum") ||
        !Punct('|', "after the minimum") || !Real(s.Maximum, "the maximum") || !Punct(']', "after the maximum") ||
        !Text(s.Unit, "the unit"))
        return false;
    while (IsName(Lex.Peek()) && !Lex.Peek().FirstOnLine) {
        s.Receivers.emplace_back(Lex.Next().Text);
        if (Lex.Peek().Is(',') && !Lex.Peek().FirstOnLine)
            Lex.Next();
    }
    if (!Lex.Peek().FirstOnLine && Lex.Peek().Kind != TDbcTokenKind::End)
        return Fail("unexpected text after the receivers");
    if (CurrentMessage == kUnusedMessage)
        return true;
    if (CurrentMessage < 0)
        return Fail("a signal outside a message (no BO_ line before it)");
    s.StartBit = static_cast<uint32_t>(std::min<uint64_t>(start, 0xFFFFFFFFu));
    s.Length = static_cast<uint32_t>(std::min<uint64_t>(length, 0xFFFFFFFFu));
    s.Order = order == 1 ? TDbcByteOrder::Intel : TDbcByteOrder::Motorola;
    std::string error;
    if (!LayOutSignal(s, error)) {
        Problem(StatementLine, error);
        return true;
    }
    if (!Db.Messages[static_cast<size_t>(CurrentMessage)].AddSignal(std::move(s)))
        Problem(StatementLine, "a second signal of the same name is not used");
    return true;
}

bool TDbcParser::MuxMark(const std::string& mark, TDbcSignal& s)
{
    if (mark == "M") {
        s.IsMultiplexor = true;
        return true;
    }
    // m<n>, or m<n>M for a multiplexed signal that is a multiplexor in turn.
    size_t end = mark.size();
    if (end > 2 && mark.back() == 'M') {
        s.IsMultiplexor = true;
        --end;
    }
    if (mark.size() >= 2 && mark[0] == 'm' && DbcToUnsigned(std::string_view(mark).substr(1, end - 1), s.MuxValue)) {
        s.IsMultiplexed = true;
        return true;
    }
    return Fail("expected ':' or a multiplex mark (M, m<n>, m<n>M) after the signal name");
}
