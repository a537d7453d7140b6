#pragma once
// The text forms of a CAN frame that every view, file and tool shares, and
// their parsing. Writing appends to the caller's string and makes no temporary
// strings, so the hot paths (trace lines, recordings) can reuse one buffer.
//
// Identifier (AppendCanId, FormatCanId): upper-case hex, zero-padded to at
// least 3 digits for a standard identifier and 8 for an extended one:
//     0x12 standard   -> "012"
//     0x12 extended   -> "00000012"
//     0x7FF standard  -> "7FF"
// Data bytes (AppendDataBytes): two upper-case hex digits each, with or
// without a separator between them:
//     {0x01, 0xAB}, ' '   -> "01 AB"
//     {0xDE, 0xAD}, '\0'  -> "DEAD"
// Compact frame (AppendCompactFrame, ParseCompactFrame), as can-utils writes it:
//     <can_id>#{data}      3 hex digits standard, 8 hex digits extended identifier;
//                          0..8 data bytes as hex pairs, optionally '.'-separated
//                          when read
//     <can_id>#R{len}      remote frame; len (0..8) only when it is not 0
//   e.g. "123#DEADBEEF", "5AA#", "1F334455#1122334455667788", "123#R",
//        "123#R4", "0000ABCD#R", and when read also "123#DE.AD.BE.EF".
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "core/CanGeneral.h"

// Identifier text shared by the views: upper-case hex, zero-padded to 3 digits
// (standard) or 8 (extended); a wider value keeps all its digits.
std::string FormatCanId(uint32_t id, bool standard);
void AppendCanId(std::string& out, uint32_t id, bool standard);
// The same written at `out` (room for 16 characters); returns the end.
char* WriteCanId(char* out, uint32_t id, bool standard);

// Upper-case hex of `value`, zero-padded to at least `minDigits` (at most 16;
// 0 or 1: no padding).
void AppendHex(std::string& out, uint32_t value, int minDigits);
// The same written at `out` (room for 16 characters); returns the end.
char* WriteHex(char* out, uint32_t value, int minDigits);
// "0A"
void AppendHexByte(std::string& out, uint8_t value);
// `count` bytes, each two upper-case hex digits, `separator` between them
// ('\0' for none).
void AppendDataBytes(std::string& out, const uint8_t* data, int count, char separator);
// The same written at `out` (room for 3 * count characters); returns the end.
char* WriteDataBytes(char* out, const uint8_t* data, int count, char separator);
// Unsigned decimal, as "%u" writes it.
void AppendDecimal(std::string& out, uint32_t value);
// Signed decimal, as "%d" writes it.
void AppendDecimal(std::string& out, int32_t value);

// can-utils' compact form: "123#DEADBEEF", "0000ABCD#R", "123#R4" (remote with
// a non-zero length). The identifier is cut to 11 or 29 bits and the data to
// eight bytes, so that the text always reads back.
void AppendCompactFrame(std::string& out, const TCanFrame& frame);
std::string FormatCompactFrame(const TCanFrame& frame);

// Reads the compact form as candump writes it: 3 hex digits = standard, 8 =
// extended (the candump rule); "R" or "R<len>" remote; up to 8 data byte pairs
// (optionally '.'-separated). Nothing on error, including an identifier beyond
// 11 or 29 bits. Time is 0.
std::optional<TCanFrame> ParseCompactFrame(std::string_view text);
// The same form with the identifier kind chosen by the caller (a tool's
// --extended option): 1 to 8 hex digits within 11 or 29 bits; "r" is accepted
// as well as "R".
std::optional<TCanFrame> ParseCompactFrameAs(std::string_view text, bool standard);

// Whole-text unsigned hexadecimal of at most maxDigits digits (at most 8), no
// prefix, no sign, either case.
bool ParseHexField(std::string_view text, size_t maxDigits, uint32_t& out);
// Whole-text unsigned hexadecimal whose value fits 32 bits; any number of
// leading zeros, no prefix, no sign, either case.
bool ParseHexValue(std::string_view text, uint32_t& out);
// The value of one hex digit, either case; -1 for anything else.
int HexDigitValue(char c);
