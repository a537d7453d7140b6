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

// A frame's data bytes read as one 64-bit little-endian number (Intel
// signals) and one big-endian number (Motorola signals).
struct TDbcFrameBits {
    uint64_t Le = 0;
    uint64_t Be = 0;
    uint32_t Bytes = 0; // data bytes the frame carries, 0..8

    TDbcFrameBits(const uint8_t* data, int length);
    // Writes the eight bytes back (the first Bytes of them are the frame's).
    void Store(uint8_t* data) const;
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

// Replaces the bits of `signal` with the low Length bits of `raw`.
void DbcPutRaw(const TDbcSignal& signal, uint64_t raw, TDbcFrameBits& bits);

// Which signals of a message a frame carries: a signal needs its bytes, and
// a multiplexed one needs its multiplexor carried and selecting it, all the
// way up a chain of multiplexors.
class TDbcPresence {
public:
    TDbcPresence(const TDbcMessage& message, const TDbcFrameBits& bits);
    bool Carries(const TDbcSignal& signal) const;
    // The raw value of a carried multiplexor; check Carries first.
    uint64_t MuxValue(const TDbcSignal& multiplexor) const;

private:
    struct TMux {
        bool Present = false;
        uint64_t Value = 0;
    };
    const TDbcMessage& Message;
    uint32_t Bytes;
    TMux Inline[8];
    std::vector<TMux> Many; // for messages of more than eight multiplexors
    TMux* Muxes;
};

// Decodes one signal from the frame's bits; the caller checked that the frame
// carries it (TDbcPresence).
TDbcDecoded DecodeDbcSignal(const TDbcSignal& signal, const TDbcFrameBits& bits);

// Decodes the signals of `message` that a frame of `length` data bytes
// carries (see TDbcPresence), appending them to `out` in the message's order.
// Returns how many were appended.
size_t DecodeDbcFrame(const TDbcMessage& message, const uint8_t* data, int length, std::vector<TDbcDecoded>& out);

// The physical value as text: raw * factor + offset evaluated in decimal
// from the factor and offset as the file writes them (-41.1, never
// -41.0999999999999), at most 15 significant digits; an integer signal with
// factor 1 and offset 0 exactly as its raw value, up to 64 bits; a float
// signal as the shortest text of its value.
std::string FormatDbcValue(const TDbcDecoded& decoded);

// "EngineSpeed = 2000 rpm", "Gear = 3 (Drive)"; control characters of the
// file's texts escaped.
std::string FormatDbcSignal(const TDbcDecoded& decoded);
