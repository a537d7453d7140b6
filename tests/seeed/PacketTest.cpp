#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "seeed/SeeedPacket.h"
#include "support/TestFrame.h"

namespace {

std::vector<uint8_t> Bytes(const TSeeedPacketCustom& p)
{
    return std::vector<uint8_t>(p.Wire(), p.Wire() + p.Size());
}

std::vector<uint8_t> Hex(const std::string& text)
{
    std::vector<uint8_t> out;
    for (size_t i = 0; i + 1 < text.size(); i += 3)
        out.push_back(static_cast<uint8_t>(std::stoul(text.substr(i, 2), nullptr, 16)));
    return out;
}

using tcmtest::MakeFrame;

} // namespace

TEST(SeeedPacket, WorkedExamplesComeOutByteForByte)
{
    EXPECT_EQ(Bytes(TSeeedPacketFrame(MakeFrame(0x7A5, true, false, 8))),
              Hex("AA 55 01 01 01 A5 07 00 00 08 00 00 00 00 00 00 00 00 00 B7"));

    TCanSettings s;
    s.Rate = 250000;
    EXPECT_EQ(Bytes(TSeeedPacketSetAndStart(s, kSeeedModeLoopback)),
              Hex("AA 55 02 05 01 00 00 00 00 00 00 00 00 03 00 00 00 00 00 0B"));
    EXPECT_EQ(Bytes(TSeeedPacketSetAndStart(s, kSeeedModeNormal)),
              Hex("AA 55 02 05 01 00 00 00 00 00 00 00 00 00 00 00 00 00 00 08"));

    EXPECT_EQ(Bytes(TSeeedPacketFrame(MakeFrame(0x1FFFFFFF, false, true, 0))),
              Hex("AA 55 01 02 02 FF FF FF 1F 00 00 00 00 00 00 00 00 00 00 21"));
    EXPECT_EQ(Bytes(TSeeedPacketFrame(MakeFrame(0x123, true, false, 3, {0x11, 0x22, 0x33}))),
              Hex("AA 55 01 01 01 23 01 00 00 03 11 22 33 00 00 00 00 00 00 90"));
}

TEST(SeeedPacket, SpeedCodesAreExactAndUnknownRatesGiveZero)
{
    const std::pair<int32_t, uint8_t> table[] = {{5000, 0x0C},   {10000, 0x0B},  {20000, 0x0A},  {50000, 0x09},
                                                 {100000, 0x08}, {125000, 0x07}, {200000, 0x06}, {250000, 0x05},
                                                 {400000, 0x04}, {500000, 0x03}, {800000, 0x02}, {1000000, 0x01}};
    for (auto [rate, code] : table)
        EXPECT_EQ(SpeedCode(rate), code) << rate;
    for (int32_t rate : {0, -1, 40000, 80000, 666000, 250001, 249999, 2000000})
        EXPECT_EQ(SpeedCode(rate), 0) << rate;

    // An unknown rate still gives a complete packet with code 0.
    TCanSettings s;
    s.Rate = 666000;
    s.Extended = true;
    auto bytes = Bytes(TSeeedPacketSetAndStart(s, kSeeedModeNormal));
    EXPECT_EQ(bytes[3], 0x00);
    EXPECT_EQ(bytes[4], 0x02);
    EXPECT_EQ(bytes[19], 0x04);
}

TEST(SeeedPacket, FrameFieldsAreSentUnmaskedAndSettingsAreReadOnlyAtConstruction)
{
    // A standard frame with a too-large identifier keeps all its bits; a length
    // above 255 goes out as its low byte; a remote frame keeps its data bytes.
    TCanFrame f = MakeFrame(0x12345678, true, true, 0x10A, {1, 2, 3, 4, 5, 6, 7, 8});
    TSeeedPacketFrame p(f);
    auto b = Bytes(p);
    EXPECT_EQ(p.PacketId(), 0x12345678u);
    EXPECT_EQ(b[3], 0x01);
    EXPECT_EQ(b[4], 0x02);
    EXPECT_EQ((std::vector<uint8_t>(b.begin() + 5, b.begin() + 9)), (std::vector<uint8_t>{0x78, 0x56, 0x34, 0x12}));
    EXPECT_EQ(b[9], 0x0A);
    EXPECT_EQ((std::vector<uint8_t>(b.begin() + 10, b.begin() + 18)), (std::vector<uint8_t>{1, 2, 3, 4, 5, 6, 7, 8}));
    EXPECT_EQ(b[18], 0x00);

    // Later changes to the source do not change a built packet.
    f.Id = 1;
    f.Data[0] = 0xEE;
    EXPECT_EQ(Bytes(p), b);

    TCanSettings s;
    s.Rate = 1000000;
    TSeeedPacketSetAndStart sp(s, kSeeedModeLoopback);
    const auto before = Bytes(sp);
    s.Rate = 5000;
    EXPECT_EQ(Bytes(sp), before);
    EXPECT_EQ(sp.PacketId(), 0u);
}

TEST(SeeedPacket, ChecksumWrapsToZero)
{
    // Body 01 01 01 (type, standard, data) + id FD 00 00 00 + length 0: sum 0x100.
    TSeeedPacketFrame p(MakeFrame(0xFD, true, false, 0));
    EXPECT_EQ(p.Wire()[19], 0x00);
}
