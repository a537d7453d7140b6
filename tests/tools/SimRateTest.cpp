// How fast the simulated adapter can report traffic, and that its link limit holds.
// The figures are printed; what is asserted holds whatever the machine's load: the
// limiter never lets more through than the link carries, and nothing that is sent
// is lost or reordered: every gap in the sequence numbers is a frame the
// simulator counted as dropped before the link.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>

#include "SeeedSimulator.h"
#include "TestPort.h"

namespace {

using TClock = std::chrono::steady_clock;

struct TRun {
    size_t Frames = 0;
    double Seconds = 0;
    TSeeedSimulator::TCounters Counters;
};

// Switches the simulator to normal mode and reads everything for `seconds`,
// checking each frame's sequence number as it comes (nothing is stored, so the
// reader never stalls on a growing buffer): rising, and the numbers skipped no
// more than the frames dropped before the link.
TRun Measure(TSeeedSimulator& sim, double seconds)
{
    TTestPort port(sim.PortPath());
    EXPECT_TRUE(port.IsOpen());
    TRun run;
    uint64_t outOfOrder = 0;
    uint64_t skipped = 0;
    uint64_t expected = 0; // the next sequence number
    TSeeedPacketParser parser;
    parser.SetOnFrame([&](const TCanFrame& frame) {
        uint32_t seq = 0;
        if (!TTrafficGenerator::SequenceOf(frame, seq) || seq < expected) {
            ++outOfOrder;
        } else {
            skipped += seq - expected;
            expected = seq + 1u;
        }
        ++run.Frames;
    });
    std::vector<uint8_t> bytes;
    bytes.reserve(65536);
    const auto start = TClock::now();
    EXPECT_TRUE(port.Write(TSeeedPacketSetAndStart({1000000, false}, kSeeedModeNormal)));
    const auto end = start + std::chrono::duration_cast<TClock::duration>(std::chrono::duration<double>(seconds));
    while (TClock::now() < end) {
        bytes.clear();
        if (port.ReadSome(bytes, 10) > 0)
            for (uint8_t b : bytes)
                parser.PutByte(b);
    }
    run.Seconds = std::chrono::duration<double>(TClock::now() - start).count();
    run.Counters = sim.Counters();
    EXPECT_EQ(outOfOrder, 0u) << "frames doubled, reordered or damaged";
    const TSeeedSimulator::TCounters& c = run.Counters;
    EXPECT_LE(skipped, c.FramesOverrun + c.FramesAbandoned + c.FramesUnwritten) << "frames lost after they were sent";
    // Loopback mode stops the traffic; what is still queued is read, so the
    // simulator's writer is not left waiting on a full terminal when it stops.
    EXPECT_TRUE(port.Write(TSeeedPacketSetAndStart({1000000, false}, kSeeedModeLoopback)));
    const auto drainEnd = TClock::now() + std::chrono::seconds(2);
    do
        bytes.clear();
    while (port.ReadSome(bytes, 30) > 0 && TClock::now() < drainEnd);
    return run;
}

TEST(SeeedSimRate, LinkLimitOfTwoMegabaudHoldsNearTenThousandFramesPerSecond)
{
    TSeeedSimOptions o;
    o.FramesPerSecond = 1e6; // far more than the link carries
    o.Baud = 2000000;
    TSeeedSimulator sim(o);
    ASSERT_TRUE(sim.Start());
    const TRun run = Measure(sim, 0.5);
    const double rate = static_cast<double>(run.Frames) / run.Seconds;
    std::printf("limited to 2000000 baud: %zu frames in %.3f s = %.0f frames/s (link: 10000), overrun %llu\n",
                run.Frames, run.Seconds, rate, static_cast<unsigned long long>(run.Counters.FramesOverrun));
    RecordProperty("limited_frames_per_second", static_cast<int>(rate));
    // Never more than the link's 10,000 packets a second plus the 20 ms burst
    // allowance it starts with (200 packets) and one packet of overdraft.
    EXPECT_LE(static_cast<double>(run.Frames), 10000.0 * run.Seconds + 201.0);
    EXPECT_GT(run.Counters.FramesOverrun, 0u);
}

TEST(SeeedSimRate, UnlimitedRateIsAsFastAsTheTerminalIsRead)
{
    TSeeedSimOptions o;
    o.FramesPerSecond = 1e8;
    o.Baud = 0;
    TSeeedSimulator sim(o);
    ASSERT_TRUE(sim.Start());
    const TRun run = Measure(sim, 0.2);
    const double rate = static_cast<double>(run.Frames) / run.Seconds;
    std::printf("unlimited: %zu frames in %.3f s = %.0f frames/s (%.1f MB/s), write failures %llu\n", run.Frames,
                run.Seconds, rate, rate * 20 / 1e6, static_cast<unsigned long long>(run.Counters.WriteFailures));
    RecordProperty("unlimited_frames_per_second", static_cast<int>(rate));
    EXPECT_GT(run.Frames, 0u);
    EXPECT_EQ(run.Counters.WriteFailures, 0u);
}

} // namespace
