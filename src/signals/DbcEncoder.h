#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "signals/DbcDatabase.h"

// Frames composed from signal values: the inverse of the decoder.

// A signal's value as typed: a physical value ("2000", "-41.1") or a text of
// the signal's value table ("Drive").
struct TDbcAssignment {
    std::string Signal;
    std::string Value;
};

// "Signal=value,Signal=Text,..." split into assignments (blanks around names
// and values dropped); false with `error` for a part without '=' or a name.
bool ParseDbcAssignments(std::string_view text, std::vector<TDbcAssignment>& out, std::string& error);

// The bits of `signal` (its low Length bits) for a typed value: a number is a
// physical value, raw = (value - offset) / factor computed in decimal and
// rounded to the nearest whole raw value; otherwise the text must be one of
// the value table's. Refused with a message naming the signal: a text that is
// neither, a number outside the signal's minimum..maximum (when the file gives
// one), a raw value the signal's bits cannot hold. Never wrapped.
bool DbcBitsFromText(const TDbcSignal& signal, std::string_view text, uint64_t& bits, std::string& error);

// Writes the given signals into `data` (eight bytes, the frame's current
// bytes): the bits of signals not given stay as they are. A multiplexed
// signal needs its multiplexor to select it: a multiplexor not given is set
// to the first value that does, up the whole chain; one given with another
// value, or two signals of different pages, is refused. A signal beyond the
// frame's `length` data bytes is refused. On failure `data` is unchanged.
bool EncodeDbcFrame(const TDbcMessage& message, const std::vector<TDbcAssignment>& values, uint8_t* data, int length,
                    std::string& error);
