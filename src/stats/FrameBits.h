#pragma once
#include <cstdint>

#include "core/CanGeneral.h"

// The length of a classic CAN frame on the wire, in bit times, laid out as
// ISO 11898-1 lays it out:
//   standard: SOF, 11-bit identifier, RTR, IDE, r0, 4-bit DLC, data, 15-bit CRC
//   extended: SOF, 11-bit base identifier, SRR, IDE, 18-bit extension, RTR, r1,
//             r0, 4-bit DLC, data, 15-bit CRC
// A stuff bit of the opposite level follows every five equal bits from SOF to
// the last bit of the CRC sequence (a stuff bit itself starts the next run).
// Then come the unstuffed CRC delimiter, ACK slot, ACK delimiter, 7 end-of-frame
// bits and the 3 bits of interframe space that keep the next frame away.
//
// A remote frame has no data field. A data frame carries min(Length, 8) bytes;
// the DLC field holds Length limited to 0..15 (9..15 mean 8 bytes). The
// identifier is cut to 11 or 29 bits. The ACK slot counts as dominant, as a
// frame that another node acknowledged; no stuff bits follow it.
int CanFrameBits(const TCanFrame& frame);

// The unstuffed field sizes, for callers that reason about bounds.
constexpr int kCanFrameTailBits = 1 + 1 + 1 + 7 + 3; // CRC delimiter, ACK slot and delimiter, EOF, IFS
constexpr int kCanStandardHeaderBits = 1 + 11 + 1 + 1 + 1 + 4;
constexpr int kCanExtendedHeaderBits = 1 + 11 + 1 + 1 + 18 + 1 + 1 + 1 + 4;
constexpr int kCanCrcBits = 15;
