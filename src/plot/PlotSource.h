#pragma once
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "signals/DbcDecoder.h"

// What one plotted series shows: a signal of a database message, decoded as
// the Signals page decodes it (a multiplexed signal only from the frames
// whose multiplexors select it), or a raw field of an identifier (a byte or a
// bit range with its byte order and sign), for a bus without a database.
class TPlotSource {
public:
    // A signal of a database message (copied: the source outlives the database).
    TPlotSource(const TDbcMessage& message, size_t signalIndex);
    // A raw field; `startBit` as a DBC file counts it (the least significant
    // bit for Intel, the most significant in sawtooth numbering for Motorola).
    // Nothing, with `error`, when the bits do not fit in eight bytes.
    static std::optional<TPlotSource> RawField(uint32_t id, bool extended, uint32_t startBit, uint32_t length,
                                               TDbcByteOrder order, bool isSigned, std::string& error);

    uint32_t Id() const { return Message->Id; }
    bool Extended() const { return Message->Extended; }
    bool IsRaw() const { return Raw; }
    const TDbcSignal& Signal() const { return Message->Signals[SignalIndex]; }
    const std::string& MessageName() const { return Message->Name; }
    // "ENGINE_DATA.GEAR", or for a raw field "0x123 byte 2", "0x123 bits 8..11 (Motorola, signed)".
    std::string Name() const;
    // Drawn as steps: integer and enumerated signals; lines for the rest.
    bool Steps() const;

    // What the settings file keeps of the source: "signal:MESSAGE.SIGNAL", or
    // "raw:ID:EXTENDED:START:LENGTH:ORDER:SIGN" ("raw:514:0:23:12:M:-").
    std::string Key() const;
    // The source of a key: a signal from `db` (nothing when it lacks it), a raw field without.
    static std::optional<TPlotSource> FromKey(const std::string& key, const TDbcDatabase* db);

    // The series' value in a frame, or false when the frame (another
    // identifier, a remote frame, too short, not selected) does not carry it.
    bool Decode(uint32_t id, bool extended, const uint8_t* data, int length, TDbcDecoded& out) const;

private:
    TPlotSource(std::shared_ptr<const TDbcMessage> message, size_t index, bool raw);

    std::shared_ptr<const TDbcMessage> Message;
    size_t SignalIndex = 0;
    bool Raw = false;
};

// The sources `names` choose in `db`: "SIGNAL" (that signal in every message
// that has it) or "MESSAGE.SIGNAL". False, with `error` naming it, for a name
// the database does not have.
bool FindPlotSources(const TDbcDatabase& db, const std::vector<std::string>& names, std::vector<TPlotSource>& out,
                     std::string& error);
