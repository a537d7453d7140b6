#include "signals/DbcReader.h"

#include <algorithm>
#include <fstream>
#include <sstream>
#include <unordered_set>

#include "signals/DbcLexer.h"

namespace {

constexpr size_t kMaxProblems = 1000;
constexpr uint32_t kExtendedFlag = 0x80000000u;

// Sections this reader reads over: their statements end with ';'.
const std::unordered_set<std::string_view> kSkippedSections = {
    "VAL_TABLE_",   "BA_DEF_",    "BA_",         "BA_DEF_DEF_",   "SIG_GROUP_",       "EV_",        "BO_TX_BU_",
    "ENVVAR_DATA_", "SGTYPE_",    "SGTYPE_VAL_", "SG_MUL_VAL_",   "BA_DEF_REL_",      "BA_REL_",    "BA_DEF_DEF_REL_",
    "BU_SG_REL_",   "BU_EV_REL_", "BU_BO_REL_",  "SIG_TYPE_REF_", "BA_DEF_SGTYPE_",   "BA_SGTYPE_", "CAT_DEF_",
    "CAT_",         "FILTER",     "EV_DATA_",    "NS_DESC_",      "SIGTYPE_VALTYPE_",
};

const std::unordered_set<std::string_view> kReadSections = {
    "VERSION", "NS_", "BS_", "BU_", "BO_", "SG_", "CM_", "VAL_", "SIG_VALTYPE_",
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

struct TFailure {
    TDbcToken At;
    std::string What;
};

class TDbcParser {
public:
    explicit TDbcParser(std::string_view text) : Lex(text) {}

    TDbcDatabase Run()
    {
        while (Lex.Peek().Kind != TDbcTokenKind::End) {
            StatementLine = Lex.Peek().Line;
            if (!Statement())
                Recover();
        }
        Db.Index();
        if (Dropped > 0)
            Db.Problems.push_back({0, std::to_string(Dropped) + " more lines could not be read"});
        return std::move(Db);
    }

private:
    // Helpers that read one expected token; on a mismatch they note what was
    // expected and the statement gives up.
    bool Fail(const std::string& what)
    {
        const TDbcToken& at = Lex.Peek();
        const bool openText = at.Kind == TDbcTokenKind::Bad && !at.Text.empty() && at.Text[0] == '"';
        Failure = TFailure{at, openText ? "a text in double quotes never ends" : what};
        return false;
    }
    bool Punct(char c, const char* what)
    {
        if (!Lex.Peek().Is(c))
            return Fail(std::string("expected '") + c + "' " + what);
        Lex.Next();
        return true;
    }
    bool Word(std::string& out, const char* what)
    {
        if (Lex.Peek().Kind != TDbcTokenKind::Identifier)
            return Fail(std::string("expected ") + what);
        out = std::string(Lex.Next().Text);
        return true;
    }
    bool Text(std::string& out, const char* what)
    {
        if (Lex.Peek().Kind != TDbcTokenKind::String)
            return Fail(std::string("expected ") + what + " in double quotes");
        out = DbcUnescape(Lex.Next().Text);
        return true;
    }
    bool Unsigned(uint64_t& out, const char* what)
    {
        if (Lex.Peek().Kind != TDbcTokenKind::Number || !DbcToUnsigned(Lex.Peek().Text, out))
            return Fail(std::string("expected ") + what + " (a whole number)");
        Lex.Next();
        return true;
    }
    bool Real(double& out, const char* what)
    {
        if (Lex.Peek().Kind != TDbcTokenKind::Number || !DbcToDouble(Lex.Peek().Text, out))
            return Fail(std::string("expected ") + what + " (a number)");
        Lex.Next();
        return true;
    }
    bool MessageId(uint32_t& id, bool& extended)
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
    void Problem(int line, const std::string& text)
    {
        if (Db.Problems.size() >= kMaxProblems) {
            ++Dropped;
            return;
        }
        std::string lineText(Lex.LineText(line));
        if (lineText.size() > 120)
            lineText = lineText.substr(0, 117) + "...";
        Db.Problems.push_back({line, lineText.empty() ? text : text + ": " + lineText});
    }

    // Reports the failure and goes on at the next line that starts a statement.
    void Recover()
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
    void SkipRestOfLine()
    {
        while (Lex.Peek().Kind != TDbcTokenKind::End && !Lex.Peek().FirstOnLine)
            Lex.Next();
    }
    // Reads over a statement up to its ';', stopping early at a line that
    // starts with a section keyword (a statement whose ';' is missing).
    void SkipStatement()
    {
        while (Lex.Peek().Kind != TDbcTokenKind::End) {
            const TDbcToken& t = Lex.Peek();
            if (t.FirstOnLine && t.Kind == TDbcTokenKind::Identifier && IsKeyword(t.Text))
                return;
            if (Lex.Next().Is(';'))
                return;
        }
    }

    bool Statement()
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
        if (kSkippedSections.count(word) != 0 || LooksLikeKeyword(word)) {
            Lex.Next();
            SkipStatement();
            return true;
        }
        return Fail("unknown section '" + std::string(word) + "'");
    }

    // NS_ : followed by the new symbols, one word alone on each line.
    bool NewSymbols()
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

    bool NodeList()
    {
        Lex.Next();
        if (!Punct(':', "after BU_"))
            return false;
        while (Lex.Peek().Kind == TDbcTokenKind::Identifier && !IsKeyword(Lex.Peek().Text))
            Db.Nodes.emplace_back(Lex.Next().Text);
        return true;
    }

    // BO_ 1234 Name: 8 Transmitter
    bool Message()
    {
        Lex.Next();
        CurrentMessage = -1;
        TDbcMessage m;
        m.Line = StatementLine;
        uint64_t size = 0;
        if (!MessageId(m.Id, m.Extended) || !Word(m.Name, "the message name") ||
            !Punct(':', "after the message name") || !Unsigned(size, "the message length"))
            return false;
        m.Size = static_cast<uint32_t>(std::min<uint64_t>(size, 0xFFFFFFFFu));
        if (Lex.Peek().Kind == TDbcTokenKind::Identifier && !Lex.Peek().FirstOnLine)
            m.Transmitter = std::string(Lex.Next().Text);
        if (Db.FindMessage(m.Id, m.Extended)) {
            Problem(StatementLine, "a second message with the same identifier is not used");
            CurrentMessage = kUnusedMessage;
            return true;
        }
        Db.AddMessage(std::move(m));
        CurrentMessage = static_cast<int>(Db.Messages.size()) - 1;
        return true;
    }

    // SG_ Name [M|m<n>] : start|length@order sign (factor,offset) [min|max] "unit" receivers
    bool Signal()
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
        if (!Punct('(', "before the factor") || !Real(s.Factor, "the factor") || !Punct(',', "after the factor") ||
            !Real(s.Offset, "the offset") || !Punct(')', "after the offset") || !Punct('[', "before the minimum") ||
            !Real(s.Minimum, "the minimum") || !Punct('|', "after the minimum") || !Real(s.Maximum, "the maximum") ||
            !Punct(']', "after the maximum") || !Text(s.Unit, "the unit"))
            return false;
        while (Lex.Peek().Kind == TDbcTokenKind::Identifier && !Lex.Peek().FirstOnLine) {
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
        TDbcMessage& m = Db.Messages[static_cast<size_t>(CurrentMessage)];
        if (m.FindSignal(s.Name)) {
            Problem(StatementLine, "a second signal of the same name is not used");
            return true;
        }
        m.Signals.push_back(std::move(s));
        return true;
    }

    bool MuxMark(const std::string& mark, TDbcSignal& s)
    {
        if (mark == "M") {
            s.Mux = TDbcMuxRole::Multiplexor;
            return true;
        }
        // m<n>, or m<n>M for a multiplexed signal that switches others in turn
        // (read as multiplexed by the message's multiplexor).
        size_t end = mark.size();
        if (end > 2 && mark.back() == 'M')
            --end;
        if (mark.size() >= 2 && mark[0] == 'm' &&
            DbcToUnsigned(std::string_view(mark).substr(1, end - 1), s.MuxValue)) {
            s.Mux = TDbcMuxRole::Multiplexed;
            return true;
        }
        return Fail("expected ':' or a multiplex mark (M, m<n>) after the signal name");
    }

    // CM_ [BU_ node | BO_ id | SG_ id signal | EV_ name] "text" ;
    bool CommentStatement()
    {
        Lex.Next();
        std::string* target = &Db.Comment;
        std::string ignored;
        std::string missing;
        const TDbcToken object = Lex.Peek();
        if (object.IsWord("BU_") || object.IsWord("EV_")) {
            Lex.Next();
            std::string name;
            if (!Word(name, "a name"))
                return false;
            target = &ignored;
        } else if (object.IsWord("BO_") || object.IsWord("SG_")) {
            Lex.Next();
            uint32_t id = 0;
            bool extended = false;
            if (!MessageId(id, extended))
                return false;
            TDbcMessage* m = Db.FindMessage(id, extended);
            target = m ? &m->Comment : &ignored;
            std::string name;
            if (object.IsWord("SG_")) {
                if (!Word(name, "the signal name"))
                    return false;
                TDbcSignal* s = m ? m->FindSignal(name) : nullptr;
                target = s ? &s->Comment : &ignored;
            }
            if (target == &ignored)
                missing = m ? "a comment on the unknown signal " + name : "a comment on an unknown message";
        }
        if (!Text(*target, "the comment text") || !Punct(';', "after the comment"))
            return false;
        if (!missing.empty())
            Problem(StatementLine, missing);
        return true;
    }

    // VAL_ id signal value "text" ... ;   (VAL_ of an environment variable is read over)
    bool ValueTable()
    {
        Lex.Next();
        if (Lex.Peek().Kind == TDbcTokenKind::Identifier) {
            SkipStatement();
            return true;
        }
        uint32_t id = 0;
        bool extended = false;
        std::string name;
        if (!MessageId(id, extended) || !Word(name, "the signal name"))
            return false;
        std::vector<TDbcValueText> values;
        while (Lex.Peek().Kind == TDbcTokenKind::Number) {
            TDbcValueText v;
            if (!DbcToKey(Lex.Peek().Text, v.Raw))
                return Fail("expected a whole number in the value table");
            Lex.Next();
            if (!Text(v.Text, "the value text"))
                return false;
            values.push_back(std::move(v));
        }
        if (!Punct(';', "after the value table"))
            return false;
        TDbcMessage* m = Db.FindMessage(id, extended);
        TDbcSignal* s = m ? m->FindSignal(name) : nullptr;
        if (!s) {
            Problem(StatementLine, "a value table of an unknown signal");
            return true;
        }
        std::stable_sort(values.begin(), values.end(), [](const auto& a, const auto& b) { return a.Raw < b.Raw; });
        // The first text of a value written twice counts.
        values.erase(
            std::unique(values.begin(), values.end(), [](const auto& a, const auto& b) { return a.Raw == b.Raw; }),
            values.end());
        s->Values = std::move(values);
        return true;
    }

    // SIG_VALTYPE_ id signal : 1 ;   (1: 32-bit IEEE float, 2: 64-bit IEEE double)
    bool ValueType()
    {
        Lex.Next();
        uint32_t id = 0;
        bool extended = false;
        std::string name;
        uint64_t type = 0;
        if (!MessageId(id, extended) || !Word(name, "the signal name"))
            return false;
        if (Lex.Peek().Is(':'))
            Lex.Next();
        if (!Unsigned(type, "the value type") || !Punct(';', "after the value type"))
            return false;
        TDbcMessage* m = Db.FindMessage(id, extended);
        TDbcSignal* s = m ? m->FindSignal(name) : nullptr;
        if (!s) {
            Problem(StatementLine, "a value type of an unknown signal");
            return true;
        }
        if (type == 0) {
            s->Type = TDbcValueType::Integer;
        } else if ((type == 1 && s->Length == 32) || (type == 2 && s->Length == 64)) {
            s->Type = type == 1 ? TDbcValueType::Float32 : TDbcValueType::Float64;
        } else {
            Problem(StatementLine, "a floating-point type that does not match the signal length");
        }
        return true;
    }

    TDbcLexer Lex;
    TDbcDatabase Db;
    TFailure Failure;
    int StatementLine = 0;
    static constexpr int kUnusedMessage = -2; // the signals of a message left out
    int CurrentMessage = -1;
    size_t Dropped = 0;
};

} // namespace

TDbcDatabase ReadDbcText(std::string_view text)
{
    return TDbcParser(text).Run();
}

bool LoadDbcFile(const std::string& path, TDbcDatabase& database, std::string& error)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = "cannot open " + path;
        return false;
    }
    std::ostringstream content;
    content << in.rdbuf();
    if (in.bad()) {
        error = "cannot read " + path;
        return false;
    }
    database = ReadDbcText(content.str());
    return true;
}

std::string DbcProblemReport(const TDbcDatabase& database, const std::string& fileName, size_t maxLines)
{
    std::string report;
    size_t shown = 0;
    for (const auto& problem : database.Problems) {
        if (shown == maxLines) {
            report += fileName + ": " + std::to_string(database.Problems.size() - shown) + " more problems not shown\n";
            break;
        }
        report += fileName + (problem.Line > 0 ? ":" + std::to_string(problem.Line) : std::string()) + ": " +
                  problem.Text + "\n";
        ++shown;
    }
    return report;
}
