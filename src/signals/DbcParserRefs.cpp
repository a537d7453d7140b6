#include "signals/DbcParser.h"

#include <algorithm>

// The statements that refer to a message's signals: comments, value tables,
// value types and extended multiplexing.

TDbcSignal* TDbcParser::Referenced(uint32_t id, bool extended, const std::string& name, const std::string& what)
{
    TDbcMessage* m = Db.FindMessage(id, extended);
    TDbcSignal* s = m ? m->FindSignal(name) : nullptr;
    if (!s && LeftOut.count(Key(id, extended)) == 0)
        Problem(StatementLine, what);
    return s;
}

// CM_ [BU_ node | BO_ id | SG_ id signal | EV_ name] "text" ;
bool TDbcParser::CommentStatement()
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
        if (target == &ignored && LeftOut.count(Key(id, extended)) == 0)
            missing = m ? "a comment on the unknown signal " + name : "a comment on an unknown message";
    }
    if (!Text(*target, "the comment text") || !Punct(';', "after the comment"))
        return false;
    if (!missing.empty())
        Problem(StatementLine, missing);
    return true;
}

// VAL_ id signal value "text" ... ;   (VAL_ of an environment variable is read over)
bool TDbcParser::ValueTable()
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
    TDbcSignal* s = Referenced(id, extended, name, "a value table of an unknown signal");
    if (!s)
        return true;
    std::stable_sort(values.begin(), values.end(), [](const auto& a, const auto& b) { return a.Raw < b.Raw; });
    // The first text of a value written twice counts.
    values.erase(std::unique(values.begin(), values.end(), [](const auto& a, const auto& b) { return a.Raw == b.Raw; }),
                 values.end());
    s->Values = std::move(values);
    return true;
}

// SIG_VALTYPE_ id signal : 1 ;   (1: 32-bit IEEE float, 2: 64-bit IEEE double)
bool TDbcParser::ValueType()
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
    TDbcSignal* s = Referenced(id, extended, name, "a value type of an unknown signal");
    if (!s)
        return true;
    if (type == 0) {
        s->Type = TDbcValueType::Integer;
    } else if ((type == 1 && s->Length == 32) || (type == 2 && s->Length == 64)) {
        s->Type = type == 1 ? TDbcValueType::Float32 : TDbcValueType::Float64;
    } else {
        Problem(StatementLine, "a floating-point type that does not match the signal length");
    }
    return true;
}

// SG_MUL_VAL_ id signal multiplexor low-high, low-high ... ;
// The multiplexed signal is carried when `multiplexor` (itself perhaps
// multiplexed) holds a raw value within one of the ranges.
bool TDbcParser::MuxValues()
{
    Lex.Next();
    uint32_t id = 0;
    bool extended = false;
    std::string name;
    std::string multiplexor;
    if (!MessageId(id, extended) || !Word(name, "the signal name") || !Word(multiplexor, "the multiplexor name"))
        return false;
    std::vector<TDbcMuxRange> ranges;
    for (;;) {
        TDbcMuxRange range;
        if (!Unsigned(range.Low, "the first value of a range"))
            return false;
        // "3-5" reads as the numbers 3 and -5; "3 - 5" as 3, '-' and 5.
        const TDbcToken& dash = Lex.Peek();
        if (dash.Kind == TDbcTokenKind::Number && dash.Text.size() > 1 && dash.Text[0] == '-' &&
            DbcToUnsigned(dash.Text.substr(1), range.High)) {
            Lex.Next();
        } else if (!Punct('-', "between the values of a range") || !Unsigned(range.High, "the last value of a range")) {
            return false;
        }
        if (range.High < range.Low)
            return Fail("a range whose last value is below its first");
        ranges.push_back(range);
        if (!Lex.Peek().Is(','))
            break;
        Lex.Next();
    }
    if (!Punct(';', "after the ranges"))
        return false;
    TDbcSignal* s = Referenced(id, extended, name, "a multiplexing entry of an unknown signal");
    if (!s)
        return true;
    if (!s->MuxSwitch.empty() && s->MuxSwitch != multiplexor) {
        Problem(StatementLine, "a second multiplexor for " + name + " is not used");
        return true;
    }
    s->IsMultiplexed = true;
    s->MuxSwitch = multiplexor;
    s->MuxRanges.insert(s->MuxRanges.end(), ranges.begin(), ranges.end());
    return true;
}
