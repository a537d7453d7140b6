#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "signals/DbcDecimal.h"
#include "signals/DbcText.h"

// A CAN database as a DBC file describes it: messages by identifier, their
// signals, value tables and comments. Only what decoding and display need is
// kept; attribute definitions and the other sections are read over.

// One entry of a signal's value table: a raw value and its text.
struct TDbcValueText {
    int64_t Raw = 0; // the raw bit pattern, sign-extended for a signed signal
    std::string Text;
};

enum class TDbcByteOrder : uint8_t { Intel, Motorola }; // @1 and @0
enum class TDbcValueType : uint8_t { Integer, Float32, Float64 };

// Raw multiplexor values Low..High (both included) that select a signal.
struct TDbcMuxRange {
    uint64_t Low = 0;
    uint64_t High = 0;
};

struct TDbcSignal {
    std::string Name;
    uint32_t StartBit = 0; // as the file writes it: LSB (Intel) or MSB in sawtooth numbering (Motorola)
    uint32_t Length = 1;   // 1..64 bits
    TDbcByteOrder Order = TDbcByteOrder::Intel;
    bool Signed = false;
    TDbcValueType Type = TDbcValueType::Integer;
    double Factor = 1;
    double Offset = 0;
    TDbcDecimal ExactFactor{1, 0, true}; // the factor and offset as the file writes them
    TDbcDecimal ExactOffset{0, 0, true};
    double Minimum = 0;
    double Maximum = 0;
    std::string Unit;
    std::vector<std::string> Receivers;
    // Multiplexing. A multiplexor ("M", or "m<n>M" for one that is itself
    // selected) chooses by its raw value which multiplexed ("m<n>") signals the
    // frame carries. Without an SG_MUL_VAL_ entry a multiplexed signal belongs
    // to the message's "M" signal and is selected by MuxValue alone.
    bool IsMultiplexor = false;
    bool IsMultiplexed = false;
    uint64_t MuxValue = 0;               // n of m<n>
    std::string MuxSwitch;               // SG_MUL_VAL_: the multiplexor's name
    std::vector<TDbcMuxRange> MuxRanges; // SG_MUL_VAL_: the values that select it
    int MuxParent = -1;                  // by Index: the selecting multiplexor's index, -1 none
    int MuxSlot = -1;                    // by Index, multiplexors only: position in TDbcMessage::MuxOrder

    // Whether a multiplexor value of `value` selects this (multiplexed) signal.
    bool SelectedBy(uint64_t value) const;
    std::string Comment;
    std::vector<TDbcValueText> Values; // sorted by Raw
    int Line = 0;

    // Where the bits sit, worked out once by LayOutSignal: the raw
    // value is (frame bytes as one 64-bit number >> Shift) & Mask, the bytes
    // read little-endian for Intel and big-endian for Motorola.
    uint32_t Shift = 0;
    uint64_t Mask = 0;
    uint32_t BytesNeeded = 0; // data bytes the frame must carry to hold the signal

    // The value-table text of `raw`, or none.
    const std::string* ValueText(int64_t raw) const;
};

struct TDbcMessage {
    uint32_t Id = 0; // without the extended flag
    bool Extended = false;
    std::string Name;
    uint32_t Size = 0; // data length the file gives
    std::string Transmitter;
    std::string Comment;
    std::vector<TDbcSignal> Signals;
    int Multiplexor = -1;      // index of the (first) top multiplexor in Signals, -1 for none
    std::vector<int> MuxOrder; // by Index: the usable multiplexors, each after the one selecting it
    int Line = 0;

    // Signals by name in constant time: reading a message of many signals
    // stays proportional to its size.
    TDbcSignal* FindSignal(std::string_view name);
    const TDbcSignal* FindSignal(std::string_view name) const;
    int SignalIndex(std::string_view name) const;
    // Appends a signal unless one of that name is there already (false then).
    bool AddSignal(TDbcSignal signal);

private:
    struct THash {
        using is_transparent = void;
        size_t operator()(std::string_view s) const { return std::hash<std::string_view>{}(s); }
    };
    std::unordered_map<std::string, int, THash, std::equal_to<>> ByName;
};

// Fills the signal's Shift, Mask and BytesNeeded from its start bit, length
// and byte order; false with `error` when the bits do not fit in the eight
// bytes of a classic CAN frame.
bool LayOutSignal(TDbcSignal& signal, std::string& error);

// A line of the file that could not be read, or a reference that leads nowhere.
struct TDbcProblem {
    int Line = 0;
    std::string Text;
};

class TDbcDatabase {
public:
    std::string Version;
    std::vector<std::string> Nodes;
    std::string Comment;
    std::vector<TDbcMessage> Messages;
    std::vector<TDbcProblem> Problems;
    TDbcEncoding Encoding = TDbcEncoding::Utf8; // how the file was written; texts here are UTF-8

    // The message of an identifier, or none. An identifier above 0x7FF
    // cannot be a standard one, so such BO_ entries count as extended.
    const TDbcMessage* Find(uint32_t id, bool extended) const;
    TDbcMessage* FindMessage(uint32_t id, bool extended);
    // Appends a message and indexes it; the first of two equal identifiers counts.
    TDbcMessage& AddMessage(TDbcMessage message);
    // The message of a name (as the file writes it), or none.
    const TDbcMessage* FindByName(std::string_view name) const;
    // Links each multiplexed signal to its multiplexor and orders the
    // multiplexors; the reader calls it when it is done. A multiplexed signal
    // whose multiplexor is missing, or multiplexors that select each other,
    // are reported and never decoded.
    void Index();
    size_t SignalCount() const;

private:
    void IndexMultiplexing(TDbcMessage& message);
    static uint64_t Key(uint32_t id, bool extended) { return (static_cast<uint64_t>(extended) << 32) | id; }
    std::unordered_map<uint64_t, size_t> ById;
};
