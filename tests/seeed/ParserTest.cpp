#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

#include "seeed/SeeedPacket.h"
#include "seeed/SeeedPacketParser.h"

namespace {

TCanFrame MakeFrame(uint32_t id, bool standard, bool request, int32_t length, uint8_t fill = 0)
{
    TCanFrame f;
    f.Id = id;
    f.Standard = standard;
    f.Request = request;
    f.Length = length;
    for (auto& d : f.Data)
        d = fill++;
    return f;
}

std::vector<uint8_t> Wire(const TCanFrame& f)
{
    TSeeedPacketFrame p(f);
    return std::vector<uint8_t>(p.Wire(), p.Wire() + p.Size());
}

// Feeds bytes and records every decoded frame and at which byte it completed.
struct Feeder {
    TSeeedPacketParser Parser;
    std::vector<TCanFrame> Frames;
    std::vector<size_t> CompletedAt;
    size_t Fed = 0;

    Feeder()
    {
        Parser.SetOnFrame([this](const TCanFrame& f) { Frames.push_back(f); });
    }
    int Feed(const std::vector<uint8_t>& bytes)
    {
        int accepted = 0;
        for (uint8_t b : bytes) {
            ++Fed;
            if (Parser.PutByte(b)) {
                ++accepted;
                CompletedAt.push_back(Fed);
            }
        }
        return accepted;
    }
};

std::vector<uint8_t> Join(std::initializer_list<std::vector<uint8_t>> parts)
{
    std::vector<uint8_t> out;
    for (const auto& p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

} // namespace

TEST(SeeedParser, DecodesEncodedFramesBack)
{
    Feeder f;
    const TCanFrame frames[] = {MakeFrame(0x7A5, true, false, 8), MakeFrame(0x1FFFFFFF, false, true, 0),
                                MakeFrame(0x123, true, false, 3, 0x11), MakeFrame(0xFFFFFFFF, false, false, 8, 0xF8)};
    for (const auto& fr : frames)
        EXPECT_EQ(f.Feed(Wire(fr)), 1);
    ASSERT_EQ(f.Frames.size(), 4u);
    for (size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(f.Frames[i].Id, frames[i].Id);
        EXPECT_EQ(f.Frames[i].Standard, frames[i].Standard);
        EXPECT_EQ(f.Frames[i].Request, frames[i].Request);
        EXPECT_EQ(f.Frames[i].Length, frames[i].Length);
        EXPECT_EQ(0, memcmp(f.Frames[i].Data, frames[i].Data, 8));
    }
    EXPECT_EQ(f.CompletedAt, (std::vector<size_t>{20, 40, 60, 80}));
}

TEST(SeeedParser, FallsBackIntoStepAfterGarbageTruncationAndBadChecksums)
{
    const auto good = Wire(MakeFrame(0x100, true, false, 2));
    auto bad = Wire(MakeFrame(0x200, true, false, 2));
    bad[19] ^= 0x01;

    Feeder f;
    // Nineteen bytes and silence: nothing.
    EXPECT_EQ(f.Feed(std::vector<uint8_t>(good.begin(), good.end() - 1)), 0);
    EXPECT_TRUE(f.Frames.empty());

    Feeder g;
    // Three garbage bytes, then a packet: delivered at its twentieth byte.
    EXPECT_EQ(g.Feed(Join({{0x01, 0xAA, 0x55}, good})), 1);
    EXPECT_EQ(g.CompletedAt, std::vector<size_t>{23});

    Feeder h;
    // A wrong checksum is dropped; the following packet is found.
    EXPECT_EQ(h.Feed(Join({bad, good})), 1);
    ASSERT_EQ(h.Frames.size(), 1u);
    EXPECT_EQ(h.Frames[0].Id, 0x100u);

    Feeder k;
    // A truncated packet followed by a whole one: the whole one is found.
    EXPECT_EQ(k.Feed(Join({std::vector<uint8_t>(good.begin(), good.begin() + 11), good, good})), 2);
    EXPECT_EQ(k.Frames.size(), 2u);
}

TEST(SeeedParser, OtherPacketTypesAreConsumedWithoutHandlerCall)
{
    TCanSettings s;
    s.Rate = 250000;
    TSeeedPacketSetAndStart set(s, kSeeedModeNormal);
    std::vector<uint8_t> setBytes(set.Wire(), set.Wire() + 20);
    Feeder f;
    EXPECT_EQ(f.Feed(setBytes), 1);
    EXPECT_TRUE(f.Frames.empty());
    EXPECT_EQ(f.Feed(Wire(MakeFrame(5, false, false, 1))), 1);
    EXPECT_EQ(f.Frames.size(), 1u);
}

TEST(SeeedParser, AConsumedWindowIsNeverLookedAtAgain)
{
    // The packet's data ends in AA 55; its last four bytes plus 16 chosen bytes
    // would form a valid window if the consumed bytes were looked at again.
    TCanFrame fr = MakeFrame(0x42, true, false, 8);
    fr.Data[6] = 0xAA;
    fr.Data[7] = 0x55;
    const auto p = Wire(fr);
    std::vector<uint8_t> tail(16, 0x00);
    tail[15] = static_cast<uint8_t>(p[18] + p[19]);
    Feeder f;
    EXPECT_EQ(f.Feed(Join({p, tail})), 1);
    EXPECT_EQ(f.CompletedAt, std::vector<size_t>{20});
}

TEST(SeeedParser, FieldRulesForReadingFrames)
{
    auto w = Wire(MakeFrame(0x10, true, false, 8, 0xA0));
    auto patch = [](std::vector<uint8_t> bytes, int at, uint8_t value) {
        bytes[at] = value;
        uint32_t sum = 0;
        for (int i = 2; i < 19; ++i)
            sum += bytes[i];
        bytes[19] = static_cast<uint8_t>(sum);
        return bytes;
    };
    Feeder f;
    f.Feed(patch(w, 3, 0x00));  // identifier type 0: extended
    f.Feed(patch(w, 3, 0x03));  // 3: extended
    f.Feed(patch(w, 4, 0x00));  // frame format 0: data
    f.Feed(patch(w, 4, 0x03));  // 3: data
    f.Feed(patch(w, 9, 0x0F));  // length 15 passes unchanged
    f.Feed(patch(w, 18, 0x77)); // reserved byte is not looked at (but summed)
    ASSERT_EQ(f.Frames.size(), 6u);
    EXPECT_FALSE(f.Frames[0].Standard);
    EXPECT_FALSE(f.Frames[1].Standard);
    EXPECT_FALSE(f.Frames[2].Request);
    EXPECT_FALSE(f.Frames[3].Request);
    EXPECT_EQ(f.Frames[4].Length, 15);
    EXPECT_EQ(f.Frames[4].Data[7], 0xA7);
    EXPECT_TRUE(f.Frames[5].Standard);
}

TEST(SeeedParser, ResetForgetsAPartialPacketAndNoHandlerKeepsStep)
{
    const auto p = Wire(MakeFrame(0x321, true, false, 1));
    TSeeedPacketParser parser;
    int accepted = 0;
    for (int i = 0; i < 10; ++i)
        accepted += parser.PutByte(p[static_cast<size_t>(i)]);
    parser.Reset();
    for (int round = 0; round < 3; ++round)
        for (uint8_t b : p)
            accepted += parser.PutByte(b);
    EXPECT_EQ(accepted, 3); // without a handler packets are still consumed

    std::vector<uint32_t> ids;
    parser.SetOnFrame([&](const TCanFrame& fr) { ids.push_back(fr.Id); });
    for (int i = 0; i < 10; ++i)
        parser.PutByte(p[static_cast<size_t>(i)]);
    parser.Reset();
    for (uint8_t b : p)
        parser.PutByte(b);
    EXPECT_EQ(ids, std::vector<uint32_t>{0x321});
}

TEST(SeeedParser, RandomNoiseBetweenPacketsNeverLosesAPacket)
{
    // Noise bytes never contain 0xAA, so no false window can start inside it.
    uint32_t seed = 12345;
    auto next = [&] { return seed = seed * 1103515245u + 12345u; };
    std::vector<uint8_t> stream;
    std::vector<uint32_t> sent;
    for (uint32_t i = 0; i < 500; ++i) {
        const size_t noise = next() % 25;
        for (size_t k = 0; k < noise; ++k) {
            uint8_t b = static_cast<uint8_t>(next() >> 16);
            stream.push_back(b == 0xAA ? 0x00 : b);
        }
        auto w = Wire(MakeFrame(i, (i & 1) != 0, false, static_cast<int32_t>(i % 9)));
        stream.insert(stream.end(), w.begin(), w.end());
        sent.push_back(i);
    }
    Feeder f;
    f.Feed(stream);
    std::vector<uint32_t> got;
    for (const auto& fr : f.Frames)
        got.push_back(fr.Id);
    EXPECT_EQ(got, sent);
}

TEST(SeeedParser, ReplacingTheHandlerWaitsForACallInProgress)
{
    TSeeedPacketParser parser;
    std::atomic<int> inside{0};
    std::atomic<bool> release{false};
    parser.SetOnFrame([&](const TCanFrame&) {
        inside = 1;
        while (!release)
            std::this_thread::yield();
        inside = 2;
    });
    const auto p = Wire(MakeFrame(1, true, false, 0));
    std::thread reader([&] {
        for (uint8_t b : p)
            parser.PutByte(b);
    });
    while (inside != 1)
        std::this_thread::yield();
    std::atomic<bool> cleared{false};
    std::thread clearer([&] {
        parser.ClearOnFrame();
        cleared = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_FALSE(cleared.load()); // still waiting for the running call
    release = true;
    clearer.join();
    reader.join();
    EXPECT_EQ(inside.load(), 2);
    EXPECT_TRUE(cleared.load());
}
