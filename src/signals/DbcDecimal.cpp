#include "signals/DbcDecimal.h"

#include <algorithm>
#include <charconv>
#include <cstdlib>

namespace {

using TInt128 = TDbcInt128;
__extension__ using TUInt128 = unsigned __int128;

constexpr int kMaxDigits = 15;         // significant digits printed
constexpr int kCoefficientDigits = 18; // kept of a decimal read from text
constexpr int kMaxExponent = 60;

// a * b without overflow. Written out because clang turns the 128-bit
// __builtin_mul_overflow into a call that only its own runtime library has.
bool Multiply(TInt128 a, TInt128 b, TInt128& out)
{
    const TUInt128 ma = a < 0 ? -static_cast<TUInt128>(a) : static_cast<TUInt128>(a);
    const TUInt128 mb = b < 0 ? -static_cast<TUInt128>(b) : static_cast<TUInt128>(b);
    const TUInt128 limit = (~TUInt128{0}) >> 1; // the largest signed value
    if (ma != 0 && mb > limit / ma)
        return false;
    out = static_cast<TInt128>(ma * mb);
    out = (a < 0) != (b < 0) ? -out : out;
    return true;
}

bool Pow10(int n, TInt128& out)
{
    if (n < 0 || n > 38)
        return false;
    out = 1;
    for (int i = 0; i < n; ++i)
        out *= 10;
    return true;
}

// a * 10^n without overflow.
bool Scale(TInt128 a, int n, TInt128& out)
{
    TInt128 p = 0;
    return Pow10(n, p) && Multiply(a, p, out);
}

// Digits d1 d2 ... dn (no leading zero) standing for 0.d1d2...dn * 10^(point),
// so that the first digit is worth 10^(point - 1); written as printf's %g with
// precision 15 would write it, trailing zeros removed.
std::string FormatDigits(bool negative, std::string digits, int point)
{
    while (digits.size() > 1 && digits.back() == '0')
        digits.pop_back();
    std::string out = negative ? "-" : "";
    const int exponent = point - 1;
    if (exponent < -4 || exponent >= kMaxDigits) {
        out += digits[0];
        if (digits.size() > 1) {
            out += '.';
            out.append(digits, 1);
        }
        out += exponent < 0 ? "e-" : "e+";
        const int e = std::abs(exponent);
        if (e < 10)
            out += '0';
        out += std::to_string(e);
        return out;
    }
    const int n = static_cast<int>(digits.size());
    if (point <= 0) {
        out += "0.";
        out.append(static_cast<size_t>(-point), '0');
        out += digits;
    } else if (point >= n) {
        out += digits;
        out.append(static_cast<size_t>(point - n), '0');
    } else {
        out.append(digits, 0, static_cast<size_t>(point));
        out += '.';
        out.append(digits, static_cast<size_t>(point));
    }
    return out;
}

// Rounds a digit string to at most 15 digits, halves away from zero; `point`
// moves when a carry adds a digit in front.
void RoundDigits(std::string& digits, int& point)
{
    if (static_cast<int>(digits.size()) <= kMaxDigits)
        return;
    const bool up = digits[kMaxDigits] >= '5';
    digits.resize(kMaxDigits);
    if (!up)
        return;
    for (int i = kMaxDigits - 1; i >= 0; --i) {
        if (digits[static_cast<size_t>(i)] != '9') {
            ++digits[static_cast<size_t>(i)];
            return;
        }
        digits[static_cast<size_t>(i)] = '0';
    }
    digits.insert(digits.begin(), '1');
    digits.pop_back();
    ++point;
}

// Shortest (or 15-digit) scientific text of a binary float, as digits and point.
template <typename T> std::string ShortestText(T value)
{
    char buffer[64];
    auto r = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::scientific);
    std::string_view text(buffer, static_cast<size_t>(r.ptr - buffer));
    if (text.find_first_of("0123456789") == std::string_view::npos)
        return std::string(text); // inf, nan
    const bool negative = text[0] == '-';
    if (negative)
        text.remove_prefix(1);
    const size_t e = text.find('e');
    std::string digits;
    for (char c : text.substr(0, e))
        if (c != '.')
            digits += c;
    int exponent = 0;
    std::from_chars(text.data() + e + 1 + (text[e + 1] == '+' ? 1 : 0), text.data() + text.size(), exponent);
    if (digits == "0")
        return negative ? "-0" : "0";
    int point = exponent + 1;
    RoundDigits(digits, point);
    return FormatDigits(negative, digits, point);
}

} // namespace

bool DbcParseDecimal(std::string_view text, TDbcDecimal& out)
{
    out = {};
    size_t i = 0;
    const bool negative = !text.empty() && text[0] == '-';
    if (!text.empty() && (text[0] == '-' || text[0] == '+'))
        ++i;
    uint64_t coefficient = 0;
    int digits = 0;
    int64_t exponent = 0;
    bool anyDigit = false;
    bool point = false;
    bool tooPrecise = false;
    for (; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '.') {
            if (point)
                return false;
            point = true;
            continue;
        }
        if (c < '0' || c > '9')
            break;
        anyDigit = true;
        if (coefficient == 0 && c == '0') {
            exponent -= point ? 1 : 0;
        } else if (digits < kCoefficientDigits) {
            coefficient = coefficient * 10 + static_cast<uint64_t>(c - '0');
            ++digits;
            exponent -= point ? 1 : 0;
        } else {
            tooPrecise = tooPrecise || c != '0';
            exponent += point ? 0 : 1;
        }
    }
    if (!anyDigit)
        return false;
    if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
        ++i;
        const bool minus = i < text.size() && text[i] == '-';
        if (i < text.size() && (text[i] == '-' || text[i] == '+'))
            ++i;
        int64_t e = 0;
        bool any = false;
        for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
            e = std::min<int64_t>(e * 10 + (text[i] - '0'), 100000);
            any = true;
        }
        if (!any)
            return false;
        exponent += minus ? -e : e;
    }
    if (i != text.size())
        return false;
    while (coefficient != 0 && coefficient % 10 == 0) {
        coefficient /= 10;
        ++exponent;
    }
    if (coefficient == 0)
        exponent = 0;
    out.Valid = !tooPrecise && exponent >= -kMaxExponent && exponent <= kMaxExponent;
    out.Coefficient = negative ? -static_cast<int64_t>(coefficient) : static_cast<int64_t>(coefficient);
    out.Exponent = out.Valid ? static_cast<int32_t>(exponent) : 0;
    return true;
}

std::string DbcExactValueText(TInt128 raw, const TDbcDecimal& factor, const TDbcDecimal& offset)
{
    if (!factor.Valid || !offset.Valid)
        return {};
    const int32_t exponent = std::min(factor.Exponent, offset.Exponent);
    TInt128 product = 0;
    TInt128 scaledFactor = 0;
    TInt128 scaledOffset = 0;
    TInt128 value = 0;
    if (!Scale(factor.Coefficient, factor.Exponent - exponent, scaledFactor) ||
        !Scale(offset.Coefficient, offset.Exponent - exponent, scaledOffset) || !Multiply(raw, scaledFactor, product) ||
        __builtin_add_overflow(product, scaledOffset, &value))
        return {};
    if (value == 0)
        return "0";
    const bool negative = value < 0;
    TUInt128 magnitude = negative ? -static_cast<TUInt128>(value) : static_cast<TUInt128>(value);
    std::string digits;
    while (magnitude != 0) {
        digits += static_cast<char>('0' + static_cast<int>(magnitude % 10));
        magnitude /= 10;
    }
    std::reverse(digits.begin(), digits.end());
    int point = static_cast<int>(digits.size()) + exponent;
    RoundDigits(digits, point);
    return FormatDigits(negative, digits, point);
}

std::string DbcDoubleText(double value)
{
    return ShortestText(value);
}

std::string DbcFloatText(float value)
{
    return ShortestText(value);
}

bool DbcRawFromDecimal(const TDbcDecimal& value, const TDbcDecimal& factor, const TDbcDecimal& offset, TInt128& raw,
                       bool& exact)
{
    if (!value.Valid || !factor.Valid || !offset.Valid || factor.Coefficient == 0)
        return false;
    // value - offset, at the smaller exponent of the two.
    const int32_t e = std::min(value.Exponent, offset.Exponent);
    TInt128 v = 0;
    TInt128 o = 0;
    TInt128 difference = 0;
    if (!Scale(value.Coefficient, value.Exponent - e, v) || !Scale(offset.Coefficient, offset.Exponent - e, o) ||
        __builtin_sub_overflow(v, o, &difference))
        return false;
    // difference * 10^e / (factor.Coefficient * 10^factor.Exponent)
    TInt128 numerator = difference;
    TInt128 denominator = factor.Coefficient;
    const int32_t k = e - factor.Exponent;
    if (k >= 0 ? !Scale(difference, k, numerator) : !Scale(factor.Coefficient, -k, denominator))
        return false;
    if (denominator < 0) {
        numerator = -numerator;
        denominator = -denominator;
    }
    TInt128 quotient = numerator / denominator;
    const TInt128 remainder = numerator % denominator;
    exact = remainder == 0;
    const TInt128 left = remainder < 0 ? -remainder : remainder;
    if (left >= denominator - left)
        quotient += numerator < 0 ? -1 : 1;
    raw = quotient;
    return true;
}
