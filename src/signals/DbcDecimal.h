#pragma once
#include <cstdint>
#include <string>
#include <string_view>

// Decimal arithmetic for physical values. A DBC file writes factors and
// offsets in decimal (0.1, -40, 0.0625); computing with their binary doubles
// turns 411 * 0.1 - 82.2 into -41.0999999999999. Kept as decimals, the value
// is exact and prints as the file's numbers describe it.

// Exact intermediate values need more than 64 bits: a 64-bit raw value times
// an 18-digit coefficient.
__extension__ using TDbcInt128 = __int128;

// Coefficient * 10^Exponent, exactly as written. Not Valid when the text
// carries more than 18 significant digits or an exponent beyond +-60: such
// numbers are then used as doubles.
struct TDbcDecimal {
    int64_t Coefficient = 0;
    int32_t Exponent = 0;
    bool Valid = false;

    bool IsZero() const { return Valid && Coefficient == 0; }
    bool IsOne() const { return Valid && Coefficient == 1 && Exponent == 0; }
};

// Reads "12", "-0.05", "+1.5e-3", ".5"; false unless the whole text is a number.
bool DbcParseDecimal(std::string_view text, TDbcDecimal& out);

// The text of raw * factor + offset: exact when the decimals allow it, with at
// most 15 significant digits (rounded half away from zero), in the form of
// printf's %g (fixed, or d.ddde+XX beyond 15 digits before or 4 zeros after
// the point). Empty when the decimals are not valid or the exact value does
// not fit in 128 bits; the caller then prints the double.
std::string DbcExactValueText(TDbcInt128 raw, const TDbcDecimal& factor, const TDbcDecimal& offset);

// A double as text: the shortest form that reads back as the same double when
// that takes at most 15 significant digits, else rounded to 15 (%.15g).
std::string DbcDoubleText(double value);
std::string DbcFloatText(float value);

// The raw value of a typed physical value: (value - offset) / factor,
// rounded to the nearest integer (halves away from zero). `exact` tells whether
// no rounding was needed. False when a decimal is not valid or an intermediate
// value does not fit in 128 bits.
bool DbcRawFromDecimal(const TDbcDecimal& value, const TDbcDecimal& factor, const TDbcDecimal& offset, TDbcInt128& raw,
                       bool& exact);
