#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "stats/FrameBits.h"
#include "support/TestFrame.h"
#include "support/WireFrame.h"

namespace {

using tcmtest::MakeFrame;

} // namespace

// Worked by hand (d = dominant 0, r = recessive 1; "|" marks a stuff bit).
//
// Standard data frame 000, no data: SOF, id, RTR, IDE, r0 and DLC are 19
// dominant bits; a CRC over nothing but zeros stays 0, so 34 dominant bits go
// from SOF to the end of the CRC. A recessive stuff bit follows every fifth:
//   00000|1 00000|1 00000|1 00000|1 00000|1 00000|1 0000  -> 34 + 6 = 40
// plus 13 bits of tail: 53.
//
// Standard remote frame 7FF, DLC 0: 0 11111111111 1 0 0 0000, CRC 54EA
// (101010011101010). Eleven identifier ones and RTR make a run of twelve,
// split twice; IDE, r0 and the DLC's first three zeros make five more:
//   0 11111|0 11111|0 11 00000|1 0 101010011101010  -> 34 + 3 = 37, and 13: 50.
//
// Standard data frame 123 [01 AB]: 0 00100100011 0 0 0 0010 00000001 10101011,
// CRC 215D (010000101011101). RTR, IDE, r0 and the DLC's first two bits are
// five zeros; the DLC's last 0 and the first data byte's four leading zeros
// are five more:
//   0 00100100011 00000|1 10 0000|1 0001 10101011 010000101011101
//   -> 50 + 2 = 52, and 13: 65.
TEST(FrameBits, HandWorkedFrames)
{
    EXPECT_EQ(CanFrameBits(MakeFrame(0x000, true, false, 0)), 53);
    EXPECT_EQ(CanFrameBits(MakeFrame(0x7FF, true, true, 0)), 50);
    EXPECT_EQ(CanFrameBits(MakeFrame(0x123, true, false, 2, {0x01, 0xAB})), 65);
    // Eight recessive data bytes: 98 unstuffed bits, 111 with the tail and no
    // stuffing at all is the textbook minimum; ones stuff every fifth bit.
    EXPECT_EQ(CanFrameBits(MakeFrame(0x7FF, true, false, 8, {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF})), 126);
    EXPECT_EQ(CanFrameBits(MakeFrame(0x1FFFFFFF, false, true, 8)), 74);
}

// Every kind, every DLC 0..15, random identifiers and data, against the
// bit-by-bit construction; the bounds any frame must meet are checked too.
TEST(FrameBits, MatchesBitByBitConstruction)
{
    std::mt19937 rng(18);
    std::uniform_int_distribution<uint32_t> id(0, 0xFFFFFFFF);
    std::uniform_int_distribution<int> byte(0, 255);
    std::uniform_int_distribution<int> sparse(0, 3);
    for (int n = 0; n < 40000; ++n) {
        TCanFrame f;
        f.Id = id(rng);
        f.Standard = (n & 1) != 0;
        f.Request = (n & 2) != 0;
        f.Length = (n >> 2) % 16;
        // Half of the frames have long runs of equal bits, where stuffing matters most.
        const bool runs = (n & 64) != 0;
        for (auto& b : f.Data)
            b = static_cast<uint8_t>(runs ? (sparse(rng) == 0 ? 0xFF : 0x00) : byte(rng));
        if (runs)
            f.Id &= sparse(rng) == 0 ? 0xFFFFFFFF : 0x0000000F;
        const int bits = CanFrameBits(f);
        ASSERT_EQ(bits, wire::WireLength(f)) << "id " << std::hex << f.Id << " std " << f.Standard << " rtr "
                                             << f.Request << " len " << std::dec << f.Length;
        const int payload = f.Request ? 0 : 8 * CanDataBytes(f.Length);
        const int unstuffed = (f.Standard ? kCanStandardHeaderBits : kCanExtendedHeaderBits) + payload + kCanCrcBits;
        ASSERT_GE(bits, unstuffed + kCanFrameTailBits);
        ASSERT_LE(bits, unstuffed + (unstuffed - 1) / 4 + kCanFrameTailBits);
    }
    // Lengths outside the DLC field: the field saturates, the data stays at 8 bytes.
    EXPECT_EQ(CanFrameBits(MakeFrame(0x100, true, false, 200)), wire::WireLength(MakeFrame(0x100, true, false, 15)));
    EXPECT_EQ(CanFrameBits(MakeFrame(0x100, true, false, -3)), wire::WireLength(MakeFrame(0x100, true, false, 0)));
}
