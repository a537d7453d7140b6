#include "stats/FrameBits.h"

#include <array>
#include <cstring>

// The frame from SOF to the end of the CRC is at most 39 + 64 + 15 = 118 bits:
// it is built in one 128-bit number, first bit on the wire highest, and both
// the CRC and the stuffing work on that number a word at a time.

namespace {

__extension__ typedef unsigned __int128 TBits128;

constexpr uint16_t kCrc15Polynomial = 0x4599;

// One CRC-15 step for one bit, as the CAN controller's shift register does it.
constexpr uint16_t Crc15Bit(uint16_t crc, unsigned bit)
{
    const unsigned next = bit ^ ((crc >> 14) & 1u);
    crc = static_cast<uint16_t>((crc << 1) & 0x7FFF);
    return next ? static_cast<uint16_t>(crc ^ kCrc15Polynomial) : crc;
}

// kCrcTables[k][a]: the register after the eight bits of `a` and then 8 * k
// zero bits, from zero. The register after 32 bits w from state r is then the
// sum of the four tables over the bytes of (r << 17) ^ w, one lookup per byte,
// none waiting for another.
constexpr std::array<std::array<uint16_t, 256>, 4> MakeCrcTables()
{
    std::array<std::array<uint16_t, 256>, 4> tables{};
    for (unsigned a = 0; a < 256; ++a) {
        uint16_t crc = 0;
        for (int b = 7; b >= 0; --b)
            crc = Crc15Bit(crc, (a >> b) & 1u);
        for (int k = 0; k < 4; ++k) {
            tables[k][a] = crc;
            for (int b = 0; b < 8; ++b)
                crc = Crc15Bit(crc, 0);
        }
    }
    return tables;
}
constexpr auto kCrcTables = MakeCrcTables();

// CRC-15 of the stream's low `length` bits. Zero bits ahead of a stream leave
// a zero register as it is, so the stream is taken in whole 32-bit words from
// the top of the number.
uint16_t Crc15(TBits128 stream, int length)
{
    uint32_t crc = 0;
    for (int shift = (length - 1) / 32 * 32; shift >= 0; shift -= 32) {
        const uint32_t v = (crc << 17) ^ static_cast<uint32_t>(stream >> shift);
        crc = static_cast<uint32_t>(kCrcTables[0][v & 0xFF] ^ kCrcTables[1][(v >> 8) & 0xFF] ^
                                    kCrcTables[2][(v >> 16) & 0xFF] ^ kCrcTables[3][v >> 24]);
    }
    return static_cast<uint16_t>(crc);
}

// Bit stuffing as a machine read a byte at a time. Its state is the level of
// the current run and the run's length so far (1 to 4: a fifth equal bit is
// followed by a stuff bit of the other level, which starts a new run of 1).
// kStuffTable[state][byte] holds the state after the byte's eight bits, first
// bit highest, in bits 0-2 (bit 2 the level, bits 0-1 the length less one),
// and the stuff bits they brought (at most two) in bits 3-4.
constexpr std::array<std::array<uint8_t, 256>, 8> MakeStuffTable()
{
    std::array<std::array<uint8_t, 256>, 8> table{};
    for (unsigned state = 0; state < 8; ++state) {
        for (unsigned byte = 0; byte < 256; ++byte) {
            unsigned level = state >> 2;
            unsigned run = (state & 3) + 1;
            unsigned stuffed = 0;
            for (int b = 7; b >= 0; --b) {
                const unsigned bit = (byte >> b) & 1u;
                if (bit != level) {
                    level = bit;
                    run = 1;
                } else if (++run == 5) {
                    ++stuffed;
                    level ^= 1u;
                    run = 1;
                }
            }
            table[state][byte] = static_cast<uint8_t>(stuffed << 3 | level << 2 | (run - 1));
        }
    }
    return table;
}
constexpr auto kStuffTable = MakeStuffTable();

// Stuff bits in the stream's low `length` bits. The stream is topped up to
// whole bytes with alternating bits ending opposite to its first bit: they
// stuff nothing and leave a run of one that the first bit ends.
int StuffBits(TBits128 stream, int length)
{
    const int pad = (8 - length % 8) % 8;
    const auto first = static_cast<unsigned>(stream >> (length - 1)) & 1u;
    const unsigned filler = (first ? 0xAAu : 0x55u) & ((1u << pad) - 1); // lowest bit: the other level
    stream |= TBits128{filler} << length;
    unsigned state = (first ^ 1u) << 2; // before the first bit: a run of the other level
    int stuffed = 0;
    for (int shift = length + pad - 8; shift >= 0; shift -= 8) {
        const uint8_t next = kStuffTable[state][static_cast<uint8_t>(stream >> shift)];
        stuffed += next >> 3;
        state = next & 7u;
    }
    return stuffed;
}

} // namespace

int CanFrameBits(const TCanFrame& frame)
{
    const auto dlc = static_cast<uint32_t>(frame.Length < 0 ? 0 : (frame.Length > 15 ? 15 : frame.Length));
    const uint32_t rtr = frame.Request ? 1 : 0;
    TBits128 stream;
    int length;
    if (frame.Standard) {
        // SOF, identifier, RTR, IDE (dominant), r0, DLC
        stream = (frame.Id & 0x7FF) << 7 | rtr << 6 | dlc;
        length = kCanStandardHeaderBits;
    } else {
        // SOF, base identifier, SRR, IDE (recessive), extension, RTR, r1, r0, DLC
        const uint64_t id = frame.Id & 0x1FFFFFFF;
        stream = (id >> 18) << 27 | uint64_t{3} << 25 | (id & 0x3FFFF) << 7 | rtr << 6 | dlc;
        length = kCanExtendedHeaderBits;
    }
    const int dataBytes = frame.Request ? 0 : CanDataBytes(frame.Length);
    if (dataBytes > 0) {
        uint64_t data;
        std::memcpy(&data, frame.Data, 8);
        data = __builtin_bswap64(data) >> (64 - 8 * dataBytes); // first byte first on the wire
        stream = stream << (8 * dataBytes) | data;
        length += 8 * dataBytes;
    }
    stream = stream << kCanCrcBits | Crc15(stream, length);
    length += kCanCrcBits;
    return length + StuffBits(stream, length) + kCanFrameTailBits;
}
