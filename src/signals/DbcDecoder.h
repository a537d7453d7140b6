#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "signals/DbcDatabase.h"

// One signal of a frame, decoded.
struct TDbcDecoded {
    const TDbcSignal* Signal = nullptr;
    int64_t Raw = 0;                   // sign-extended for a signed signal; the bit pattern otherwise
    double Value = 0;                  // physical value: raw * factor + offset
    const std::string* Text = nullptr; // value-table text of Raw, or none
};

// The raw value of `signal` in data bytes read as one 64-bit little-endian
// number (`le`) and as one big-endian number (`be`).
inline int64_t DbcRawValue(const TDbcSignal& signal, uint64_t le, uint64_t be)
{
    const uint64_t bits = ((signal.Order == TDbcByteOrder::Intel ? le : be) >> signal.Shift) & signal.Mask;
    if (signal.Signed && signal.Length < 64 && (bits >> (signal.Length - 1)) != 0)
        return static_cast<int64_t>(bits | ~signal.Mask);
    return static_cast<int64_t>(bits);
}

// Decodes the signals of `message` that a frame of `length` data bytes
// carries, appending them to `out` in the message's order. A multiplexed
// signal is decoded only when the multiplexor's raw value selects it, and
// only when the multiplexor itself fits in the frame. Returns how many were
// appended.
size_t DecodeDbcFrame(const TDbcMessage& message, const uint8_t* data, int length, std::vector<TDbcDecoded>& out);

// The physical value as text: an integer signal with factor 1 and offset 0
// exactly as its raw value, anything else as %.15g (15 significant digits:
// enough for every value a 52-bit mantissa holds, without 0.1-style noise).
std::string FormatDbcValue(const TDbcDecoded& decoded);

// "EngineSpeed = 2000 rpm", "Gear = 3 (Drive)".
std::string FormatDbcSignal(const TDbcDecoded& decoded);
