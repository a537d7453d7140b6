// The tarvenix-seeed-sim program, run as a child process.
#include <gtest/gtest.h>

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "TestPort.h"
#include "support/ChildProcess.h"
#include "TrafficGenerator.h"

namespace {

using TClock = std::chrono::steady_clock;

// The simulator program with the given arguments.
TChild Sim(std::vector<std::string> args)
{
    args.insert(args.begin(), TCM_SEEED_SIM_EXE);
    return TChild(std::move(args));
}

TEST(SeeedSimProgram, PrintsItsPortFirstThenWhatTheComputerSent)
{
    TChild sim = Sim({});
    ASSERT_TRUE(sim.Started());
    const std::string path = sim.ReadLine(10000);
    ASSERT_EQ(path.rfind("/dev/pts/", 0), 0u) << path;
    TTestPort port(path);
    ASSERT_TRUE(port.IsOpen());
    ASSERT_TRUE(port.Write(TSeeedPacketSetAndStart({250000, false}, kSeeedModeLoopback)));
    const auto probe = WireBytes(TSeeedPacketFrame(Probe()));
    ASSERT_TRUE(port.Write(probe));
    EXPECT_EQ(port.ReadExactly(20, 5000), probe);
    TCanFrame remote;
    remote.Id = 0x18DA00F1;
    remote.Request = true;
    ASSERT_TRUE(port.Write(TSeeedPacketFrame(remote)));
    ASSERT_TRUE(port.Write(TSeeedPacketSetAndStart({500000, true}, kSeeedModeNormal)));

    EXPECT_EQ(sim.ReadLine(5000), "settings: rate 250000 mode Standard working mode loopback");
    EXPECT_EQ(sim.ReadLine(5000), "frame: id 7A5 std data len 8 data 00 00 00 00 00 00 00 00");
    EXPECT_EQ(sim.ReadLine(5000), "frame: id 18DA00F1 ext remote len 0");
    EXPECT_EQ(sim.ReadLine(5000), "settings: rate 500000 mode Extended working mode normal");

    ASSERT_EQ(::kill(sim.Id(), SIGTERM), 0);
    EXPECT_EQ(sim.WaitExit(10000), 0);
    EXPECT_EQ(sim.OutText, "");
}

TEST(SeeedSimProgram, EndsAfterItsDurationAndGeneratesQuietly)
{
    TChild sim = Sim({"--duration", "0.25", "--fps", "2000", "--quiet", "--stats", "--extended", "--ids", "3"});
    ASSERT_TRUE(sim.Started());
    const auto started = TClock::now();
    const std::string path = sim.ReadLine(10000);
    ASSERT_EQ(path.rfind("/dev/pts/", 0), 0u) << path;
    TTestPort port(path);
    ASSERT_TRUE(port.IsOpen());
    ASSERT_TRUE(port.Write(TSeeedPacketSetAndStart({125000, true}, kSeeedModeNormal)));
    TReceivedStream in;
    in.ReadFrames(port, 100, 10000);
    ASSERT_GE(in.Frames.size(), 100u);
    TSeeedSimOptions o;
    o.IdCount = 3;
    o.IdKind = TSimIdKind::Extended;
    const TTrafficGenerator slots(o);
    for (size_t i = 0; i < in.Frames.size(); ++i) {
        uint32_t seq = 0;
        ASSERT_TRUE(TTrafficGenerator::SequenceOf(in.Frames[i], seq));
        ASSERT_EQ(seq, i);
        ASSERT_EQ(in.Frames[i].Id, slots.SlotOf(seq).Id);
    }
    EXPECT_EQ(sim.WaitExit(20000), 0);
    EXPECT_GE(std::chrono::duration<double>(TClock::now() - started).count(), 0.2);
    // Only the settings line: --quiet leaves out frame lines.
    EXPECT_EQ(Lines(sim.OutText), std::vector<std::string>{"settings: rate 125000 mode Extended working mode normal"});
    EXPECT_NE(sim.ErrText.find("total: generated "), std::string::npos) << sim.ErrText;
}

TEST(SeeedSimProgram, BadArgumentsExitTwoWithUsage)
{
    const std::vector<std::vector<std::string>> bad = {
        {"--bogus"},           {"--fps"},
        {"--fps", "-3"},       {"--length", "9"},
        {"--garbage", "1.5"},  {"--remote-share", "x"},
        {"--ids", "0"},        {"--id-list", "800"},
        {"--id-list", "1,,2"}, {"--extended", "--mixed"},
        {"--baud", "5"},       {"--duration", "1s"},
    };
    for (const auto& args : bad) {
        TChild sim = Sim(args);
        ASSERT_TRUE(sim.Started());
        EXPECT_EQ(sim.WaitExit(10000), 2) << args[0];
        EXPECT_NE(sim.ErrText.find("Usage: tarvenix-seeed-sim"), std::string::npos) << args[0];
        EXPECT_EQ(sim.OutText, "") << args[0];
    }
    TChild help = Sim({"--help"});
    EXPECT_EQ(help.WaitExit(10000), 0);
    EXPECT_EQ(help.OutText.rfind("Usage: tarvenix-seeed-sim", 0), 0u);
    // Identifiers above 11 bits are fine once extended.
    TChild ok = Sim({"--id-list", "800,1FFFFFFF", "--extended", "--duration", "0"});
    EXPECT_EQ(ok.WaitExit(10000), 0) << ok.ErrText;
}

} // namespace
