#pragma once
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

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
enum class TDbcMuxRole : uint8_t { None, Multiplexor, Multiplexed };

struct TDbcSignal {
    std::string Name;
    uint32_t StartBit = 0; // as the file writes it: LSB (Intel) or MSB in sawtooth numbering (Motorola)
    uint32_t Length = 1;   // 1..64 bits
    TDbcByteOrder Order = TDbcByteOrder::Intel;
    bool Signed = false;
    TDbcValueType Type = TDbcValueType::Integer;
    double Factor = 1;
    double Offset = 0;
    double Minimum = 0;
    double Maximum = 0;
    std::string Unit;
    std::vector<std::string> Receivers;
    TDbcMuxRole Mux = TDbcMuxRole::None;
    uint64_t MuxValue = 0; // the multiplexor value that selects a Multiplexed signal
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
    int Multiplexor = -1; // index of the multiplexor signal in Signals, -1 for none
    int Line = 0;

    TDbcSignal* FindSignal(const std::string& name);
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

    // The message of an identifier, or none. An identifier above 0x7FF
    // cannot be a standard one, so such BO_ entries count as extended.
    const TDbcMessage* Find(uint32_t id, bool extended) const;
    TDbcMessage* FindMessage(uint32_t id, bool extended);
    // Appends a message and indexes it; the first of two equal identifiers counts.
    TDbcMessage& AddMessage(TDbcMessage message);
    // Finds each message's multiplexor; the reader calls it when it is done.
    void Index();
    size_t SignalCount() const;

private:
    static uint64_t Key(uint32_t id, bool extended) { return (static_cast<uint64_t>(extended) << 32) | id; }
    std::unordered_map<uint64_t, size_t> ById;
};
