#include "stats/FrameBits.h"

#include <array>
#include <bit>
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

int HighestBit(TBits128 v) // v != 0
{
    const auto high = static_cast<uint64_t>(v >> 64);
    return high ? 127 - std::countl_zero(high) : 63 - std::countl_zero(static_cast<uint64_t>(v));
}

// Stuff bits in the stream's low `length` bits. Only runs of four or more
// equal bits can hold one: a run of L equal bits gets L / 5 stuff bits, and
// when L is a multiple of five the last stuff bit, of the next run's level,
// counts as the next run's first bit. So the runs of four or more are walked
// from the first on the wire, carrying that bit into a run that follows at once.
int StuffBits(TBits128 stream, int length)
{
    // Bit i of `differs`: bit i and bit i + 1 differ. Bit i of `fours`: bits i
    // to i + 3 are equal; a run of L >= 4 bits shows as L - 3 set bits.
    const TBits128 differs = stream ^ (stream >> 1);
    TBits128 fours = ~(differs | differs >> 1 | differs >> 2);
    fours &= (TBits128{1} << (length - 3)) - 1;
    int stuffed = 0;
    int carry = 0;
    int previousEnd = -1; // the lowest bit of the last long run
    while (fours != 0) {
        const int top = HighestBit(fours);
        const TBits128 below = (TBits128{1} << top) - 1;
        const TBits128 gaps = ~fours & below;
        const int bottom = gaps != 0 ? HighestBit(gaps) + 1 : 0;
        const int run = top - bottom + 4; // bits bottom .. top + 3
        const int effective = run + (top + 3 == previousEnd - 1 ? carry : 0);
        stuffed += effective / 5;
        carry = effective % 5 == 0 ? 1 : 0;
        previousEnd = bottom;
        fours &= (TBits128{1} << bottom) - 1;
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
