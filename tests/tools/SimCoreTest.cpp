// The simulated adapter's protocol pieces without a terminal: decoding what the
// computer sends, making up traffic, pacing it, and the program's text.
#include <gtest/gtest.h>

#include <chrono>
#include <set>
#include <vector>

#include "SimDecoder.h"
#include "SimText.h"
#include "TrafficGenerator.h"
#include "seeed/SeeedPacket.h"
#include "seeed/SeeedPacketParser.h"

namespace {

std::vector<uint8_t> WireOf(const TSeeedPacketCustom& packet)
{
    return std::vector<uint8_t>(packet.Wire(), packet.Wire() + packet.Size());
}

std::vector<TSeeedSimDecoder::TPacket> Feed(TSeeedSimDecoder& decoder, const std::vector<uint8_t>& bytes)
{
    std::vector<TSeeedSimDecoder::TPacket> kinds;
    for (uint8_t b : bytes) {
        const auto kind = decoder.PutByte(b, 1234);
        if (kind != TSeeedSimDecoder::TPacket::None)
            kinds.push_back(kind);
    }
    return kinds;
}

using TPacket = TSeeedSimDecoder::TPacket;

TEST(SimDecoder, SettingsOfEveryRateAndModeDecodeToWhatWasEncoded)
{
    for (int32_t rate : kSeeedRates) {
        for (bool extended : {false, true}) {
            for (uint8_t mode : {kSeeedModeLoopback, kSeeedModeNormal}) {
                TSeeedSimDecoder decoder;
                const auto kinds = Feed(decoder, WireOf(TSeeedPacketSetAndStart({rate, extended}, mode)));
                ASSERT_EQ(kinds, std::vector<TPacket>{TPacket::Settings});
                const TSeeedSimSettings& s = decoder.Settings();
                EXPECT_EQ(s.Rate, rate);
                EXPECT_EQ(s.SpeedCode, SpeedCode(rate));
                EXPECT_EQ(s.Extended, extended);
                EXPECT_EQ(s.FrameType, extended ? 0x02 : 0x01);
                EXPECT_EQ(s.Mode, mode);
                EXPECT_EQ(s.Loopback(), mode == kSeeedModeLoopback);
                EXPECT_EQ(s.Normal(), mode == kSeeedModeNormal);
                EXPECT_EQ(s.Time, 1234u);
            }
        }
    }
}

TEST(SimDecoder, UnknownSpeedCodesAndModesAreKeptRaw)
{
    EXPECT_EQ(RateOfSpeedCode(0x00), 0);
    EXPECT_EQ(RateOfSpeedCode(0x0D), 0);
    EXPECT_EQ(RateOfSpeedCode(0xFF), 0);
    EXPECT_EQ(RateOfSpeedCode(0x01), 1000000);
    EXPECT_EQ(RateOfSpeedCode(0x0C), 5000);

    // 666000 bit/s is sent with speed code 0.
    TSeeedSimDecoder decoder;
    Feed(decoder, WireOf(TSeeedPacketSetAndStart({666000, false}, 0x07)));
    EXPECT_EQ(decoder.Settings().Rate, 0);
    EXPECT_EQ(decoder.Settings().SpeedCode, 0);
    EXPECT_EQ(decoder.Settings().Mode, 0x07);
    EXPECT_FALSE(decoder.Settings().Loopback());
    EXPECT_FALSE(decoder.Settings().Normal());
    EXPECT_EQ(SettingsLine(decoder.Settings()),
              "settings: rate unknown (speed code 00) mode Standard working mode 07 (unknown, idle)");
}

TEST(SimDecoder, FindsPacketsAfterGarbageAndConsumesPacketsOfOtherTypes)
{
    TCanFrame probe;
    probe.Id = 0x7A5;
    probe.Standard = true;
    probe.Length = 8;
    std::vector<uint8_t> stream = {0x01, 0xAA, 0x55, 0x13};
    const auto settings = WireOf(TSeeedPacketSetAndStart({250000, true}, kSeeedModeNormal));
    stream.insert(stream.end(), settings.begin(), settings.end());
    // A valid packet of type 5, then a frame packet right after it.
    std::vector<uint8_t> other(20, 0);
    other[0] = 0xAA;
    other[1] = 0x55;
    other[2] = 0x05;
    other[7] = 0x10;
    other[19] = SeeedChecksum(&other[2]);
    stream.insert(stream.end(), other.begin(), other.end());
    const auto frame = WireOf(TSeeedPacketFrame(probe));
    stream.insert(stream.end(), frame.begin(), frame.end());
    // Nineteen bytes of another frame: never completed.
    stream.insert(stream.end(), frame.begin(), frame.end() - 1);

    TSeeedSimDecoder decoder;
    EXPECT_EQ(Feed(decoder, stream), (std::vector<TPacket>{TPacket::Settings, TPacket::Other, TPacket::Frame}));
    EXPECT_EQ(decoder.Frame().Id, 0x7A5u);
    EXPECT_TRUE(decoder.Frame().Standard);
    EXPECT_EQ(FrameLine(decoder.Frame()), "frame: id 7A5 std data len 8 data 00 00 00 00 00 00 00 00");
    EXPECT_EQ(OtherPacketLine(other.data()),
              "packet: type 05 bytes AA 55 05 00 00 00 00 10 00 00 00 00 00 00 00 00 00 00 00 15");
}

TEST(TrafficGenerator, SequenceNumbersAreContiguousAndIdentifiersCycle)
{
    TSeeedSimOptions o;
    o.IdCount = 3;
    o.Length = 5;
    TTrafficGenerator gen(o);
    ASSERT_EQ(gen.Slots().size(), 3u);
    for (uint32_t i = 0; i < 10; ++i) {
        const TCanFrame f = gen.Next();
        uint32_t seq = 0;
        ASSERT_TRUE(TTrafficGenerator::SequenceOf(f, seq));
        EXPECT_EQ(seq, i);
        EXPECT_EQ(f.Id, 0x100u + i % 3);
        EXPECT_TRUE(f.Standard);
        EXPECT_FALSE(f.Request);
        EXPECT_EQ(f.Length, 5);
    }
    EXPECT_EQ(gen.NextSequence(), 10u);

    TCanFrame damaged = gen.Next();
    damaged.Data[2] ^= 0x10;
    uint32_t seq = 0;
    EXPECT_FALSE(TTrafficGenerator::SequenceOf(damaged, seq));
}

TEST(TrafficGenerator, IdentifierKindsAndLists)
{
    TSeeedSimOptions o;
    o.IdCount = 4;
    o.IdKind = TSimIdKind::Mixed;
    auto slots = TTrafficGenerator::MakeSlots(o);
    ASSERT_EQ(slots.size(), 4u);
    EXPECT_TRUE(slots[0].Standard);
    EXPECT_EQ(slots[0].Id, 0x100u);
    EXPECT_FALSE(slots[3].Standard);
    EXPECT_EQ(slots[3].Id, 0x18000003u);

    // A standard list: identifiers above 11 bits still go out as extended.
    o.IdKind = TSimIdKind::Standard;
    o.Ids = {0x7FF, 0x800, 0x123};
    slots = TTrafficGenerator::MakeSlots(o);
    ASSERT_EQ(slots.size(), 3u);
    EXPECT_TRUE(slots[0].Standard);
    EXPECT_FALSE(slots[1].Standard);
    EXPECT_TRUE(slots[2].Standard);
}

TEST(TrafficGenerator, RemoteShareIsHonouredAndSeeded)
{
    TSeeedSimOptions o;
    o.RemoteShare = 0.3;
    o.Seed = 7;
    TTrafficGenerator a(o);
    TTrafficGenerator b(o);
    int remote = 0;
    for (int i = 0; i < 10000; ++i) {
        const TCanFrame fa = a.Next();
        const TCanFrame fb = b.Next();
        ASSERT_EQ(fa.Request, fb.Request);
        remote += fa.Request ? 1 : 0;
    }
    EXPECT_GT(remote, 2700);
    EXPECT_LT(remote, 3300);
}

TEST(TrafficGenerator, GarbageNeverStartsAPacketAndTheParserFindsEveryFrame)
{
    TSeeedSimOptions o;
    o.GarbageShare = 0.5;
    o.IdKind = TSimIdKind::Mixed;
    o.RemoteShare = 0.1;
    TTrafficGenerator gen(o);
    std::vector<uint8_t> stream;
    size_t garbage = 0;
    for (int i = 0; i < 5000; ++i) {
        const size_t before = stream.size();
        gen.AppendGarbage(stream);
        for (size_t k = before; k < stream.size(); ++k)
            ASSERT_NE(stream[k], 0xAA);
        garbage += stream.size() - before;
        const TSeeedPacketFrame packet(gen.Next());
        stream.insert(stream.end(), packet.Wire(), packet.Wire() + packet.Size());
    }
    // About half the packets have 1..8 bytes (4.5 on average) before them.
    EXPECT_GT(garbage, 5000u);
    EXPECT_LT(garbage, 17000u);

    TSeeedPacketParser parser;
    std::vector<TCanFrame> frames;
    parser.SetOnFrame([&](const TCanFrame& f) { frames.push_back(f); });
    for (uint8_t b : stream)
        parser.PutByte(b);
    ASSERT_EQ(frames.size(), 5000u);
    for (uint32_t i = 0; i < frames.size(); ++i) {
        uint32_t seq = 0;
        ASSERT_TRUE(TTrafficGenerator::SequenceOf(frames[i], seq));
        ASSERT_EQ(seq, i);
        ASSERT_EQ(frames[i].Id, gen.SlotOf(i).Id);
        ASSERT_EQ(frames[i].Standard, gen.SlotOf(i).Standard);
    }
}

using TClock = TLinkPacer::TClock;

// Drives the pacer in 1 ms steps of made-up time, taking every frame that it allows.
uint64_t TakeFor(TLinkPacer& pacer, TClock::time_point& now, int ms)
{
    uint64_t taken = 0;
    for (int i = 0; i < ms; ++i) {
        now += std::chrono::milliseconds(1);
        pacer.Advance(now);
        while (pacer.FramesDue() > 0 && pacer.HasBudget()) {
            pacer.Spend(kSeeedPacketSize);
            pacer.TakeFrame();
            ++taken;
        }
    }
    return taken;
}

TEST(LinkPacer, FrameRateWithoutLinkLimit)
{
    TClock::time_point now{};
    TLinkPacer pacer(0, 1000);
    pacer.ResetBudget(now);
    // No schedule before normal mode.
    EXPECT_EQ(TakeFor(pacer, now, 100), 0u);
    EXPECT_EQ(pacer.NextDue(), TClock::time_point::max());
    pacer.StartSchedule(now);
    EXPECT_EQ(TakeFor(pacer, now, 1000), 1000u);
    EXPECT_EQ(pacer.FramesOverrun(), 0u);
    pacer.StopSchedule();
    EXPECT_EQ(TakeFor(pacer, now, 100), 0u);
}

TEST(LinkPacer, LinkLimitHoldsAndExcessFramesAreOverrun)
{
    TClock::time_point now{};
    // 2,000,000 baud: 200,000 bytes, 10,000 packets a second; the bus asks for 30,000.
    TLinkPacer pacer(200000, 30000);
    pacer.ResetBudget(now);
    pacer.StartSchedule(now);
    const uint64_t taken = TakeFor(pacer, now, 2000);
    // Two seconds of the link plus at most one initial burst (20 ms) and one packet of overdraft.
    EXPECT_GE(taken, 20000u);
    EXPECT_LE(taken, 20000u + 200u + 1u);
    EXPECT_GT(pacer.FramesOverrun(), 35000u);
    EXPECT_LE(pacer.FramesDue(), 3000u);
}

TEST(LinkPacer, AWriterWokenLateCatchesUp)
{
    TClock::time_point now{};
    TLinkPacer pacer(200000, 10000);
    pacer.ResetBudget(now);
    pacer.StartSchedule(now);
    // Woken every 10 ms only: the burst allowance keeps the average at 10,000 a second.
    uint64_t taken = 0;
    for (int i = 0; i < 100; ++i) {
        now += std::chrono::milliseconds(10);
        pacer.Advance(now);
        while (pacer.FramesDue() > 0 && pacer.HasBudget()) {
            pacer.Spend(kSeeedPacketSize);
            pacer.TakeFrame();
            ++taken;
        }
    }
    EXPECT_EQ(taken, 10000u);
    EXPECT_EQ(pacer.FramesOverrun(), 0u);
}

TEST(SimText, ParsingOfIdentifierLists)
{
    std::vector<uint32_t> ids;
    ASSERT_TRUE(ParseIdList("100,7a5,0x1FFFFFFF", ids));
    EXPECT_EQ(ids, (std::vector<uint32_t>{0x100, 0x7A5, 0x1FFFFFFF}));
    for (const char* bad : {"", "100,", ",100", "20000000", "0x", "0x0x5", "12g", "-5", "1 2"}) {
        ids = {1};
        EXPECT_FALSE(ParseIdList(bad, ids)) << bad;
        EXPECT_EQ(ids, std::vector<uint32_t>{1}) << bad;
    }
}

TEST(SimText, FrameLinesShowOnlyTheBytesOfTheLength)
{
    TCanFrame f;
    f.Id = 0x1F;
    f.Standard = true;
    f.Length = 3;
    f.Data[0] = 0x11;
    f.Data[1] = 0xA2;
    f.Data[2] = 0x03;
    f.Data[3] = 0xFF;
    EXPECT_EQ(FrameLine(f), "frame: id 01F std data len 3 data 11 A2 03");
    f.Length = 0;
    EXPECT_EQ(FrameLine(f), "frame: id 01F std data len 0");
    f.Length = 15;
    f.Standard = false;
    EXPECT_EQ(FrameLine(f), "frame: id 0000001F ext data len 15 data 11 A2 03 FF 00 00 00 00");
}

} // namespace
