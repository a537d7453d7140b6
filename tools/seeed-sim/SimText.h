#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "SeeedSimulator.h"
#include "SimDecoder.h"
#include "core/CanGeneral.h"

// The simulator program's text: one line for each thing the computer sent, and
// the parsing of its command-line values.

// "settings: rate 250000 mode Standard working mode loopback"
std::string SettingsLine(const TSeeedSimSettings& settings);
// "frame: id 7A5 std data len 8 data 00 11 ..." or "frame: id 1FFFFFFF ext remote len 0"
std::string FrameLine(const TCanFrame& frame);
// "packet: type 05 bytes AA 55 05 ..." for a valid packet of a type the adapter does not know
std::string OtherPacketLine(const uint8_t* packet);
// Counts per second between two readings of the counters.
std::string StatsLine(const TSeeedSimulator::TCounters& before, const TSeeedSimulator::TCounters& after,
                      double seconds);

// "100,7A5,0x1FFFFFFF": hexadecimal identifiers, optional 0x, at most 29 bits each.
bool ParseIdList(const std::string& text, std::vector<uint32_t>& out);
