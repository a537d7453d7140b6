// The simulated adapter in-process, over real pseudo-terminals.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <future>
#include <thread>

#include "SeeedSimulator.h"
#include "TestPort.h"
#include "platform/SerialPort.h"
#include "platform/Tick.h"

namespace {

using TClock = std::chrono::steady_clock;

const TCanSettings kStd250{250000, false};

// Checks that the frames are generated ones numbered first, first + 1, ...
void ExpectContiguous(const std::vector<TCanFrame>& frames, const TTrafficGenerator& slots, uint32_t first)
{
    for (size_t i = 0; i < frames.size(); ++i) {
        uint32_t seq = 0;
        ASSERT_TRUE(TTrafficGenerator::SequenceOf(frames[i], seq)) << "frame " << i;
        ASSERT_EQ(seq, first + i) << "frame " << i;
        ASSERT_EQ(frames[i].Id, slots.SlotOf(seq).Id) << "frame " << i;
        ASSERT_EQ(frames[i].Standard, slots.SlotOf(seq).Standard) << "frame " << i;
    }
}

TEST(SeeedSimulator, LoopbackEchoesEveryFrameByteForByte)
{
    TSeeedSimOptions o;
    o.FramesPerSecond = 1000; // no traffic in loopback mode, whatever the rate
    TSeeedSimulator sim(o);
    ASSERT_TRUE(sim.Start()) << sim.LastError();
    EXPECT_EQ(sim.PortPath().rfind("/dev/pts/", 0), 0u) << sim.PortPath();
    TTestPort port(sim.PortPath());
    ASSERT_TRUE(port.IsOpen());

    ASSERT_TRUE(port.Write(TSeeedPacketSetAndStart(kStd250, kSeeedModeLoopback)));
    const auto probe = WireBytes(TSeeedPacketFrame(Probe()));
    ASSERT_TRUE(port.Write(probe));
    EXPECT_EQ(port.ReadExactly(20, 2000), probe);

    // An echo is the packet as it came, reserved byte included; two packets
    // written in one go come back as two echoes in order.
    auto odd = WireBytes(TSeeedPacketFrame(TCanFrame{0x1FFFFFFF, 15, {1, 2, 3, 4, 5, 6, 7, 8}, true, false, 0}));
    odd[18] = 0x5A;
    odd[19] = SeeedChecksum(&odd[2]);
    std::vector<uint8_t> two = odd;
    two.insert(two.end(), probe.begin(), probe.end());
    ASSERT_TRUE(port.Write(two));
    EXPECT_EQ(port.ReadExactly(40, 2000), two);

    ASSERT_TRUE(sim.WaitFramesReceived(3, 2000));
    const auto frames = sim.ReceivedFrames();
    ASSERT_EQ(frames.size(), 3u);
    EXPECT_EQ(frames[1].Id, 0x1FFFFFFFu);
    EXPECT_TRUE(frames[1].Request);
    EXPECT_EQ(frames[1].Length, 15);
    EXPECT_EQ(sim.State(), TSeeedSimulator::TState::Loopback);
    EXPECT_EQ(sim.Counters().FramesEchoed, 3u);

    // Nothing else comes in 50 periods of the rate: loopback generates no traffic.
    std::vector<uint8_t> more;
    EXPECT_EQ(port.ReadSome(more, 50), 0);
    EXPECT_EQ(sim.Counters().FramesGenerated, 0u);
    EXPECT_EQ(sim.ReceivedBytes().size(), 20u + 20u + 40u);
}

TEST(SeeedSimulator, IdleBeforeSettingsAndSilentNeverAnswer)
{
    // The two adapters are watched side by side.
    auto idle = std::async(std::launch::async, [] {
        TSeeedSimOptions o;
        o.FramesPerSecond = 1000;
        TSeeedSimulator sim(o);
        ASSERT_TRUE(sim.Start());
        TTestPort port(sim.PortPath());
        ASSERT_TRUE(port.Write(TSeeedPacketFrame(Probe())));
        ASSERT_TRUE(sim.WaitFramesReceived(1, 2000));
        std::vector<uint8_t> got;
        EXPECT_EQ(port.ReadSome(got, 50), 0) << "an adapter without settings answered";
        EXPECT_EQ(sim.State(), TSeeedSimulator::TState::Idle);
    });
    {
        TSeeedSimOptions o;
        o.Silent = true;
        o.FramesPerSecond = 1000;
        TSeeedSimulator sim(o);
        ASSERT_TRUE(sim.Start());
        TTestPort port(sim.PortPath());
        ASSERT_TRUE(port.Write(TSeeedPacketSetAndStart(kStd250, kSeeedModeLoopback)));
        ASSERT_TRUE(port.Write(TSeeedPacketFrame(Probe())));
        ASSERT_TRUE(port.Write(TSeeedPacketSetAndStart(kStd250, kSeeedModeNormal)));
        ASSERT_TRUE(sim.WaitSettingsReceived(2, 2000));
        std::vector<uint8_t> got;
        EXPECT_EQ(port.ReadSome(got, 50), 0) << "a silent adapter answered";
        // It still heard everything.
        EXPECT_EQ(sim.ReceivedFrames().size(), 1u);
        EXPECT_EQ(sim.ReceivedSettings().size(), 2u);
        EXPECT_EQ(sim.Counters().FramesGenerated, 0u);
        EXPECT_EQ(sim.Counters().FramesEchoed, 0u);
    }
    idle.get();
}

TEST(SeeedSimulator, SettingsAreDecodedAndRecordedInOrder)
{
    TSeeedSimulator sim;
    ASSERT_TRUE(sim.Start());
    TTestPort port(sim.PortPath());
    const uint32_t before = tcm::TickCount();
    ASSERT_TRUE(port.Write(TSeeedPacketSetAndStart({250000, true}, kSeeedModeLoopback)));
    ASSERT_TRUE(port.Write(TSeeedPacketSetAndStart({1000000, false}, kSeeedModeNormal)));
    ASSERT_TRUE(port.Write(TSeeedPacketSetAndStart({40000, true}, kSeeedModeNormal)));
    ASSERT_TRUE(sim.WaitSettingsReceived(3, 2000));
    const uint32_t after = tcm::TickCount();
    const auto s = sim.ReceivedSettings();
    ASSERT_EQ(s.size(), 3u);
    EXPECT_EQ(s[0].Rate, 250000);
    EXPECT_TRUE(s[0].Extended);
    EXPECT_TRUE(s[0].Loopback());
    EXPECT_EQ(s[1].Rate, 1000000);
    EXPECT_FALSE(s[1].Extended);
    EXPECT_TRUE(s[1].Normal());
    EXPECT_EQ(s[2].Rate, 0); // 40000 is not an adapter rate: speed code 0
    EXPECT_EQ(s[2].SpeedCode, 0);
    for (const auto& one : s) {
        EXPECT_LE(one.Time - before, after - before);
    }
    EXPECT_EQ(sim.State(), TSeeedSimulator::TState::Normal);
    EXPECT_EQ(sim.ReceivedBytes().size(), 60u);

    sim.ClearHistory();
    EXPECT_TRUE(sim.ReceivedSettings().empty());
    EXPECT_FALSE(sim.WaitSettingsReceived(1, 50));
}

TEST(SeeedSimulator, NormalModeReportsNumberedTrafficAtItsRate)
{
    TSeeedSimOptions o;
    o.FramesPerSecond = 5000;
    o.IdCount = 5;
    o.IdKind = TSimIdKind::Mixed;
    TSeeedSimulator sim(o);
    ASSERT_TRUE(sim.Start());
    TTestPort port(sim.PortPath());
    ASSERT_TRUE(port.Write(TSeeedPacketSetAndStart({500000, true}, kSeeedModeNormal)));
    const auto started = TClock::now();
    TReceivedStream in;
    in.ReadFrames(port, 1000, 20000);
    const double seconds = std::chrono::duration<double>(TClock::now() - started).count();
    ASSERT_GE(in.Frames.size(), 1000u);
    // The schedule never runs ahead: the 1000th frame falls due 0.2 s after
    // the settings packet.
    EXPECT_GE(seconds, 0.19);
    ExpectContiguous(in.Frames, TTrafficGenerator(o), 0);
    EXPECT_EQ(in.Bytes.size(), 20u * in.Frames.size()); // no garbage asked for

    // Back to loopback: the traffic stops and the echo comes, whole, after the
    // last generated packet.
    ASSERT_TRUE(port.Write(TSeeedPacketSetAndStart(kStd250, kSeeedModeLoopback)));
    ASSERT_TRUE(port.Write(TSeeedPacketFrame(Probe())));
    const auto deadline = TClock::now() + std::chrono::seconds(10);
    while (in.Frames.back().Id != 0x7A5 && TClock::now() < deadline)
        in.ReadFor(port, 50);
    ASSERT_EQ(in.Frames.back().Id, 0x7A5u);
    const size_t total = in.Frames.size();
    const std::vector<TCanFrame> generated(in.Frames.begin(), in.Frames.end() - 1);
    ExpectContiguous(generated, TTrafficGenerator(o), 0);
    in.ReadFor(port, 50); // 250 periods of the traffic
    EXPECT_EQ(in.Frames.size(), total) << "traffic after the switch to loopback";
    EXPECT_EQ(in.Bytes.size(), 20u * total);
    EXPECT_EQ(sim.Counters().FramesSent, generated.size());
    EXPECT_EQ(sim.Counters().FramesOverrun, 0u);
}

TEST(SeeedSimulator, GarbageBetweenPacketsDoesNotHideAnyFrame)
{
    TSeeedSimOptions o;
    o.FramesPerSecond = 5000;
    o.GarbageShare = 0.5;
    o.RemoteShare = 0.2;
    o.Ids = {0x7FF, 0x000, 0x123};
    TSeeedSimulator sim(o);
    ASSERT_TRUE(sim.Start());
    TTestPort port(sim.PortPath());
    ASSERT_TRUE(port.Write(TSeeedPacketSetAndStart(kStd250, kSeeedModeNormal)));
    TReceivedStream in;
    in.ReadFrames(port, 1000, 20000);
    ASSERT_GE(in.Frames.size(), 1000u);
    ExpectContiguous(in.Frames, TTrafficGenerator(o), 0);
    size_t remote = 0;
    for (const auto& f : in.Frames)
        remote += f.Request ? 1 : 0;
    const size_t n = in.Frames.size();
    EXPECT_GT(remote, n / 10);
    EXPECT_LT(remote, n * 3 / 10);
    // About half the packets carry 4.5 bytes of garbage on average.
    const size_t extra = in.Bytes.size() - 20u * n;
    EXPECT_GT(extra, n);
    EXPECT_LT(extra, n * 7 / 2);
    sim.Stop();
    EXPECT_GE(sim.Counters().GarbageBytes, extra);
}

// Reads until nothing has come for `quietMs`.
void ReadUntilQuiet(TReceivedStream& in, const TTestPort& port, int quietMs)
{
    while (in.ReadFor(port, quietMs) > 0) {}
}

// Echoes and injections that do not fit the output queue (a megabyte, not a
// multiple of 20 bytes) or a write are dropped whole, in order.
void CheckAFloodIsDroppedInWholePackets()
{
    TSeeedSimOptions fast;
    fast.Baud = 0;
    TSeeedSimulator flood(fast);
    ASSERT_TRUE(flood.Start());
    TTestPort reader(flood.PortPath());
    constexpr uint32_t kInjected = 60000;
    TCanFrame f = Probe();
    for (uint32_t i = 0; i < kInjected; ++i) {
        std::memcpy(f.Data, &i, sizeof i);
        flood.SendFrame(f);
    }
    TReceivedStream got;
    ReadUntilQuiet(got, reader, 300);
    EXPECT_EQ(got.Bytes.size(), 20u * got.Frames.size()) << "a piece of a packet on the wire";
    EXPECT_EQ(got.Bytes.size() + flood.Counters().OutputDropped, 20u * kInjected);
    EXPECT_GT(flood.Counters().OutputDropped, 0u);
    for (size_t i = 1; i < got.Frames.size(); ++i) {
        uint32_t before = 0;
        uint32_t index = 0;
        std::memcpy(&before, got.Frames[i - 1].Data, sizeof before);
        std::memcpy(&index, got.Frames[i].Data, sizeof index);
        ASSERT_GT(index, before) << "frame " << i;
    }
}

TEST(SeeedSimulator, AReaderThatStallsSeesItsLossAsGapsAndOnlyWholePackets)
{
    // A flood of a second simulator is checked meanwhile.
    auto flooding = std::async(std::launch::async, CheckAFloodIsDroppedInWholePackets);
    // Bus traffic at half the link's rate, and a reader that stops for a while:
    // the terminal fills, writes time out and the backlog overruns. Once the
    // reader is back, the backlog drains and nothing more is lost.
    TSeeedSimOptions o;
    o.FramesPerSecond = 5000;
    TSeeedSimulator sim(o);
    ASSERT_TRUE(sim.Start());
    TTestPort port(sim.PortPath());
    ASSERT_TRUE(port.Write(TSeeedPacketSetAndStart(kStd250, kSeeedModeNormal)));
    TReceivedStream in;
    in.ReadFrames(port, 500, 10000);
    // The terminal holds about 20 KB, a fifth of a second of this traffic: the
    // reader stays away until the backlog has overrun.
    const auto stallEnd = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (sim.Counters().FramesOverrun == 0 && std::chrono::steady_clock::now() < stallEnd)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    in.ReadFrames(port, in.Frames.size() + 2000, 10000);
    ASSERT_TRUE(port.Write(TSeeedPacketSetAndStart(kStd250, kSeeedModeLoopback)));
    ReadUntilQuiet(in, port, 300);

    EXPECT_EQ(in.Bytes.size(), 20u * in.Frames.size()) << "a piece of a packet on the wire";
    uint64_t gaps = 0;
    uint32_t next = 0;
    for (size_t i = 0; i < in.Frames.size(); ++i) {
        uint32_t seq = 0;
        ASSERT_TRUE(TTrafficGenerator::SequenceOf(in.Frames[i], seq)) << "frame " << i;
        ASSERT_GE(seq, next) << "frame " << i;
        gaps += seq - next;
        next = seq + 1;
    }
    const TSeeedSimulator::TCounters c = sim.Counters();
    EXPECT_GT(c.FramesOverrun, 0u) << "the stall overran nothing";
    EXPECT_EQ(c.FramesSent, in.Frames.size());
    // Every frame that fell due was numbered: sent, or dropped before the link;
    // the receiver sees each one dropped while it stalled as a gap, and those
    // still waiting at the switch to loopback after its last frame.
    EXPECT_EQ(c.FramesGenerated, c.FramesSent + c.FramesOverrun + c.FramesAbandoned + c.FramesUnwritten);
    EXPECT_EQ(gaps, c.FramesOverrun + c.FramesUnwritten);
    EXPECT_EQ(next + c.FramesAbandoned, c.FramesGenerated);
    flooding.get();
}

TEST(SeeedSimulator, InjectedFramesAndBytesArriveAsGiven)
{
    TSeeedSimulator sim;
    ASSERT_TRUE(sim.Start());
    TTestPort port(sim.PortPath());
    TCanFrame remote;
    remote.Id = 0x321;
    remote.Standard = true;
    remote.Request = true;
    remote.Length = 2;
    sim.SendFrame(remote);
    const std::vector<uint8_t> garbage = {0xAA, 0x55, 0x01, 0x00, 0xFF};
    sim.SendRaw(garbage);
    sim.SendFrame(Probe());
    std::vector<uint8_t> expected = WireBytes(TSeeedPacketFrame(remote));
    expected.insert(expected.end(), garbage.begin(), garbage.end());
    const auto probe = WireBytes(TSeeedPacketFrame(Probe()));
    expected.insert(expected.end(), probe.begin(), probe.end());
    EXPECT_EQ(port.ReadExactly(expected.size(), 2000), expected);
    EXPECT_EQ(sim.Counters().FramesInjected, 2u);
    // The counter moves once the simulator's write call has returned, which
    // can be a moment after the reader already has the bytes.
    for (int i = 0; i < 200 && sim.Counters().BytesWritten < expected.size(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_EQ(sim.Counters().BytesWritten, expected.size());
}

TEST(SeeedSimulator, SurvivesThePortClosedAndReopened)
{
    TSeeedSimOptions o;
    o.FramesPerSecond = 2000;
    TSeeedSimulator sim(o);
    ASSERT_TRUE(sim.Start());
    for (int round = 0; round < 3; ++round) {
        TTestPort port(sim.PortPath());
        ASSERT_TRUE(port.IsOpen()) << "round " << round;
        ASSERT_TRUE(port.Write(TSeeedPacketSetAndStart(kStd250, kSeeedModeLoopback)));
        TCanFrame f = Probe();
        f.Data[0] = static_cast<uint8_t>(round);
        const auto wire = WireBytes(TSeeedPacketFrame(f));
        ASSERT_TRUE(port.Write(wire));
        EXPECT_EQ(port.ReadExactly(20, 2000), wire) << "round " << round;
        port.Close();
        // With no slave open the master reports a hang-up; the simulator must
        // keep going (and not spin) until the next open.
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
    }
    EXPECT_EQ(sim.Counters().FramesEchoed, 3u);

    // Traffic goes on while the port is closed; what was sent meanwhile waits in
    // the terminal for the next opener, so nothing is lost or doubled across it.
    std::vector<uint32_t> seqs;
    for (int round = 0; round < 2; ++round) {
        TTestPort port(sim.PortPath());
        if (round == 0) {
            ASSERT_TRUE(port.Write(TSeeedPacketSetAndStart(kStd250, kSeeedModeNormal)));
        }
        TReceivedStream in;
        in.ReadFrames(port, 200, 10000);
        // A read can end inside a packet the simulator is still writing: the
        // reader takes the rest of it before it lets go of the port.
        for (int i = 0; i < 20 && in.Bytes.size() % 20 != 0; ++i)
            in.ReadFor(port, 100);
        ASSERT_GE(in.Frames.size(), 200u);
        for (const auto& frame : in.Frames) {
            uint32_t seq = 0;
            ASSERT_TRUE(TTrafficGenerator::SequenceOf(frame, seq));
            seqs.push_back(seq);
        }
        // Whole packets only, so the next opener starts on a packet boundary.
        ASSERT_EQ(in.Bytes.size() % 20, 0u);
        port.Close();
        if (round == 0) // traffic while nobody has the port, for the next opener
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    for (size_t i = 0; i < seqs.size(); ++i)
        ASSERT_EQ(seqs[i], i) << "frame " << i;
}

TEST(SeeedSimulator, UnplugHangsUpTheOpenPort)
{
    TSeeedSimulator sim;
    ASSERT_TRUE(sim.Start());
    const std::string path = sim.PortPath();
    TTestPort port(path);
    ASSERT_TRUE(port.IsOpen());
    ASSERT_TRUE(port.Write(TSeeedPacketSetAndStart(kStd250, kSeeedModeLoopback)));
    ASSERT_TRUE(sim.WaitSettingsReceived(1, 2000));
    sim.Unplug();
    EXPECT_FALSE(sim.IsRunning());
    pollfd p{port.Handle(), POLLIN, 0};
    ASSERT_EQ(::poll(&p, 1, 1000), 1);
    EXPECT_NE(p.revents & POLLHUP, 0);
    uint8_t byte = 0;
    EXPECT_LE(::read(port.Handle(), &byte, 1), 0);
    // The port cannot be opened again, and history outlives the stop.
    TTestPort again(path);
    EXPECT_FALSE(again.IsOpen());
    EXPECT_EQ(sim.ReceivedSettings().size(), 1u);

    // A new start is a new adapter on a new terminal, idle again.
    ASSERT_TRUE(sim.Start());
    EXPECT_EQ(sim.State(), TSeeedSimulator::TState::Idle);
    TTestPort fresh(sim.PortPath());
    EXPECT_TRUE(fresh.IsOpen());
    EXPECT_FALSE(sim.Start()) << "a second start while running";
}

TEST(SeeedSimulator, TheEnginesSerialPortTalksToItUntilUnplugged)
{
    TSeeedSimulator sim;
    ASSERT_TRUE(sim.Start());
    tcm::TSerialPort port;
    ASSERT_EQ(port.Open(sim.PortPath()), tcm::TSerialPort::TOpenResult::Ok) << port.LastError();
    std::vector<uint8_t> out = WireBytes(TSeeedPacketSetAndStart(kStd250, kSeeedModeLoopback));
    const auto probe = WireBytes(TSeeedPacketFrame(Probe()));
    out.insert(out.end(), probe.begin(), probe.end());
    ASSERT_EQ(port.Write(out.data(), static_cast<int>(out.size())), 0);
    std::vector<uint8_t> echo;
    uint8_t buffer[64];
    const auto deadline = TClock::now() + std::chrono::seconds(5);
    while (echo.size() < 20 && TClock::now() < deadline) {
        const int n = port.Read(buffer, sizeof buffer, 50);
        ASSERT_GE(n, 0);
        echo.insert(echo.end(), buffer, buffer + n);
    }
    EXPECT_EQ(echo, probe);
    sim.Unplug();
    EXPECT_LT(port.Read(buffer, sizeof buffer, 1000), 0);
}

} // namespace
