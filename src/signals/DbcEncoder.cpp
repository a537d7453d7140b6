#include "signals/DbcEncoder.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <unordered_map>

#include "signals/DbcDecoder.h"

namespace {

using TInt128 = TDbcInt128;

std::string_view Trim(std::string_view text)
{
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
        text.remove_suffix(1);
    return text;
}

std::string Shown(std::string_view text)
{
    return DbcPrintable(text);
}

std::string Number(double value)
{
    return DbcDoubleText(value);
}

std::string Int128Text(TInt128 value)
{
    const bool negative = value < 0;
    __extension__ unsigned __int128 m = negative ? -static_cast<unsigned __int128>(value) : value;
    std::string digits;
    do {
        digits.insert(digits.begin(), static_cast<char>('0' + static_cast<int>(m % 10)));
        m /= 10;
    } while (m != 0);
    return negative ? "-" + digits : digits;
}

// A whole number of up to 64 bits, signed or not.
bool WholeNumber(std::string_view text, TInt128& value)
{
    if (!text.empty() && text[0] == '+')
        text.remove_prefix(1);
    int64_t i = 0;
    uint64_t u = 0;
    const char* end = text.data() + text.size();
    if (auto r = std::from_chars(text.data(), end, i); r.ec == std::errc() && r.ptr == end) {
        value = i;
        return true;
    }
    if (auto r = std::from_chars(text.data(), end, u); r.ec == std::errc() && r.ptr == end) {
        value = u;
        return true;
    }
    return false;
}

// The raw values the signal's bits hold.
void RawLimits(const TDbcSignal& s, TInt128& low, TInt128& high)
{
    if (s.Signed) {
        low = -(TInt128{1} << (s.Length - 1));
        high = (TInt128{1} << (s.Length - 1)) - 1;
    } else {
        low = 0;
        high = (TInt128{1} << s.Length) - 1;
    }
}

bool HasRange(const TDbcSignal& s)
{
    return !(s.Minimum == 0 && s.Maximum == 0);
}

bool FitRaw(const TDbcSignal& s, TInt128 raw, const std::string& what, uint64_t& bits, std::string& error)
{
    TInt128 low = 0;
    TInt128 high = 0;
    RawLimits(s, low, high);
    if (raw < low || raw > high) {
        error = s.Name + ": " + what + " needs the raw value " + Int128Text(raw) + ", which " +
                std::to_string(s.Length) + (s.Signed ? " signed" : " unsigned") + " bits cannot hold (" +
                Int128Text(low) + ".." + Int128Text(high) + ")";
        return false;
    }
    bits = static_cast<uint64_t>(raw) & s.Mask;
    return true;
}

bool FloatBits(const TDbcSignal& s, double value, const std::string& what, uint64_t& bits, std::string& error)
{
    const double raw = (value - s.Offset) / s.Factor;
    if (s.Type == TDbcValueType::Float32) {
        if (!std::isfinite(raw) || std::fabs(raw) > std::numeric_limits<float>::max()) {
            error = s.Name + ": " + what + " is beyond a 32-bit float";
            return false;
        }
        const auto f = static_cast<float>(raw);
        uint32_t b = 0;
        std::memcpy(&b, &f, sizeof b);
        bits = b;
    } else {
        std::memcpy(&bits, &raw, sizeof bits);
    }
    return true;
}

std::string TextList(const TDbcSignal& s)
{
    std::string list;
    size_t shown = 0;
    for (const auto& v : s.Values) {
        if (shown == 12) {
            list += ", ...";
            break;
        }
        list += (shown++ == 0 ? "" : ", ") + Shown(v.Text);
    }
    return list;
}

// The first multiplexor value that selects `signal`.
uint64_t FirstSelectingValue(const TDbcSignal& signal)
{
    return signal.MuxRanges.empty() ? signal.MuxValue : signal.MuxRanges.front().Low;
}

std::string SelectingValues(const TDbcSignal& signal)
{
    if (signal.MuxRanges.empty())
        return std::to_string(signal.MuxValue);
    std::string text;
    for (const auto& r : signal.MuxRanges) {
        text += text.empty() ? "" : ", ";
        text += r.Low == r.High ? std::to_string(r.Low) : std::to_string(r.Low) + ".." + std::to_string(r.High);
    }
    return text;
}

} // namespace

bool ParseDbcAssignments(std::string_view text, std::vector<TDbcAssignment>& out, std::string& error)
{
    out.clear();
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find(',', start);
        if (end == std::string_view::npos)
            end = text.size();
        const std::string_view part = text.substr(start, end - start);
        const size_t eq = part.find('=');
        if (eq == std::string_view::npos || Trim(part.substr(0, eq)).empty()) {
            error = "expected Signal=value, not '" + Shown(part) + "'";
            return false;
        }
        out.push_back({std::string(Trim(part.substr(0, eq))), std::string(Trim(part.substr(eq + 1)))});
        start = end + 1;
    }
    return true;
}

bool DbcBitsFromText(const TDbcSignal& s, std::string_view typed, uint64_t& bits, std::string& error)
{
    const std::string_view text = Trim(typed);
    const std::string what = Shown(text);
    TDbcDecimal value;
    if (!text.empty() && DbcParseDecimal(text, value)) {
        const double number = std::strtod(std::string(text).c_str(), nullptr);
        if (HasRange(s) && (number < s.Minimum || number > s.Maximum)) {
            const std::string unit = s.Unit.empty() ? "" : " " + Shown(s.Unit);
            error = s.Name + ": " + what + unit + " is outside its range " + Number(s.Minimum) + ".." +
                    Number(s.Maximum) + unit;
            return false;
        }
        if (s.Type != TDbcValueType::Integer)
            return FloatBits(s, number, what, bits, error);
        TInt128 raw = 0;
        bool exact = false;
        if (s.ExactFactor.IsOne() && s.ExactOffset.IsZero() && WholeNumber(text, raw))
            return FitRaw(s, raw, what, bits, error); // exact to 64 bits, beyond the decimals' 18 digits
        if (!DbcRawFromDecimal(value, s.ExactFactor, s.ExactOffset, raw, exact)) {
            // Numbers beyond the exact arithmetic: computed in binary.
            const double r = std::round((number - s.Offset) / s.Factor);
            if (!std::isfinite(r) || std::fabs(r) > 1.8e19) {
                error = s.Name + ": " + what + " is far beyond what its bits hold";
                return false;
            }
            raw = r < 0 ? TInt128{static_cast<int64_t>(r)} : TInt128{static_cast<uint64_t>(r)};
        }
        return FitRaw(s, raw, what, bits, error);
    }
    for (const auto& v : s.Values) {
        if (v.Text != text)
            continue;
        if (s.Type != TDbcValueType::Integer) {
            bits = static_cast<uint64_t>(v.Raw) & s.Mask;
            return true;
        }
        // Value-table raws are kept sign-extended; an unsigned one above
        // 2^63 comes back as its bit pattern.
        const TInt128 raw = s.Signed || v.Raw >= 0 ? TInt128{v.Raw} : TInt128{static_cast<uint64_t>(v.Raw)};
        return FitRaw(s, raw, what, bits, error);
    }
    error = s.Name + ": '" + what + "' is not a number" +
            (s.Values.empty() ? std::string() : " nor one of its values (" + TextList(s) + ")");
    return false;
}

bool EncodeDbcFrame(const TDbcMessage& message, const std::vector<TDbcAssignment>& values, uint8_t* data, int length,
                    std::string& error)
{
    struct TGiven {
        int Index;
        uint64_t Bits;
    };
    std::vector<TGiven> given;
    std::unordered_map<int, int> givenAt; // signal index -> position in `given`
    for (const auto& a : values) {
        const int index = message.SignalIndex(a.Signal);
        if (index < 0) {
            error = "no signal " + Shown(a.Signal) + " in " + message.Name;
            return false;
        }
        if (!givenAt.emplace(index, static_cast<int>(given.size())).second) {
            error = a.Signal + " is given twice";
            return false;
        }
        TGiven g{index, 0};
        if (!DbcBitsFromText(message.Signals[static_cast<size_t>(index)], a.Value, g.Bits, error))
            return false;
        given.push_back(g);
    }
    TDbcFrameBits frame(data, 8);
    frame.Bytes = static_cast<uint32_t>(length < 0 ? 0 : (length > 8 ? 8 : length));
    for (const TGiven& g : given)
        DbcPutRaw(message.Signals[static_cast<size_t>(g.Index)], g.Bits, frame);

    // Pages: every multiplexor on the way up from a given signal must select
    // the step below it.
    std::unordered_map<int, int> chosenFor; // multiplexor index -> given signal whose page set it
    for (const TGiven& g : given) {
        int child = g.Index;
        while (message.Signals[static_cast<size_t>(child)].IsMultiplexed) {
            const TDbcSignal& c = message.Signals[static_cast<size_t>(child)];
            const int parent = c.MuxParent;
            if (parent < 0 || message.Signals[static_cast<size_t>(parent)].MuxSlot < 0) {
                error = c.Name + " cannot be sent: its multiplexor is missing in the database";
                return false;
            }
            const TDbcSignal& p = message.Signals[static_cast<size_t>(parent)];
            const uint64_t current = static_cast<uint64_t>(DbcRawValue(p, frame.Le, frame.Be)) & p.Mask;
            if (!c.SelectedBy(current)) {
                const uint64_t wanted = FirstSelectingValue(c);
                auto chosen = chosenFor.find(parent);
                if (givenAt.count(parent) != 0 || chosen != chosenFor.end()) {
                    const std::string by = givenAt.count(parent) != 0
                                               ? p.Name + " = " + std::to_string(current)
                                               : message.Signals[static_cast<size_t>(chosen->second)].Name;
                    error = message.Signals[static_cast<size_t>(g.Index)].Name + " is not sent together with " + by +
                            " (" + (child == g.Index ? std::string("it") : c.Name) + " needs " + p.Name + " = " +
                            SelectingValues(c) + ")";
                    return false;
                }
                if ((wanted & p.Mask) != wanted) {
                    error = c.Name + " cannot be sent: " + p.Name + " cannot hold " + std::to_string(wanted);
                    return false;
                }
                DbcPutRaw(p, wanted, frame);
                chosenFor.emplace(parent, g.Index);
            } else if (givenAt.count(parent) == 0) {
                chosenFor.emplace(parent, g.Index);
            }
            child = parent;
        }
    }
    const TDbcPresence presence(message, frame);
    for (const TGiven& g : given) {
        const TDbcSignal& s = message.Signals[static_cast<size_t>(g.Index)];
        if (s.BytesNeeded > frame.Bytes) {
            error = s.Name + " lies beyond the " + std::to_string(frame.Bytes) + " data bytes of the frame";
            return false;
        }
        if (!presence.Carries(s)) {
            error = s.Name + " is not carried on the page its multiplexors select";
            return false;
        }
    }
    frame.Store(data);
    return true;
}
