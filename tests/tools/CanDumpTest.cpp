// tarvenix-can-dump run as a child process against the in-process simulator.
#include <gtest/gtest.h>

#include <cstring>

#include "core/CanText.h"
#include "SeeedSimulator.h"
#include "TestPort.h"
#include "support/ChildProcess.h"
#include "support/TempDir.h"

namespace {

std::unique_ptr<TSeeedSimulator> StartSim(TSeeedSimOptions options = {})
{
    auto sim = std::make_unique<TSeeedSimulator>(options);
    EXPECT_TRUE(sim->Start()) << sim->LastError();
    return sim;
}

TChild Dump(std::vector<std::string> args)
{
    args.insert(args.begin(), TCM_CAN_DUMP_EXE);
    return TChild(args);
}

int CountPrefix(const std::vector<std::string>& lines, const std::string& prefix)
{
    int n = 0;
    for (const auto& line : lines)
        n += line.rfind(prefix, 0) == 0 ? 1 : 0;
    return n;
}

} // namespace

TEST(CanDump, PrintsTraceLinesAndStopsAfterTheFrameCount)
{
    TSeeedSimOptions traffic;
    traffic.FramesPerSecond = 1000;
    traffic.Ids = {0x123};
    traffic.Length = 2;
    auto sim = StartSim(traffic);
    TChild dump = Dump({"--port", sim->PortPath(), "--frames", "50", "--send", "7FF#0102", "--send", "12#R"});
    ASSERT_TRUE(dump.Started());
    EXPECT_EQ(dump.WaitExit(15000), 0) << dump.ErrText;
    const auto lines = Lines(dump.OutText);
    EXPECT_EQ(CountPrefix(lines, "IN  ts: "), 50);
    for (const auto& line : lines) {
        if (line.rfind("IN ", 0) == 0) {
            EXPECT_NE(line.find("  id: 123  l: 2  data: "), std::string::npos) << line;
        }
    }
    // The two frames of --send went out once each, in order.
    ASSERT_TRUE(sim->WaitFramesReceived(3, 3000)); // the probe and the two frames
    const auto sent = sim->ReceivedFrames();
    ASSERT_EQ(sent.size(), 3u);
    EXPECT_EQ(sent[1].Id, 0x7FFu);
    EXPECT_EQ(sent[1].Length, 2);
    EXPECT_TRUE(sent[1].Standard);
    EXPECT_TRUE(sent[2].Request);
    EXPECT_EQ(dump.ErrText.find("frames in: 50"), 0u) << dump.ErrText;
}

TEST(CanDump, ExitCodesForBadArgumentsAndAPortThatCannotOpen)
{
    TChild noPort = Dump({});
    EXPECT_EQ(noPort.WaitExit(5000), 2);
    EXPECT_NE(noPort.ErrText.find("usage:"), std::string::npos);

    TChild badSend = Dump({"--port", "ttyS99", "--send", "800#00"}); // 800 is no standard identifier
    EXPECT_EQ(badSend.WaitExit(5000), 2);

    TChild unknown = Dump({"--port", "ttyS99", "--colour"});
    EXPECT_EQ(unknown.WaitExit(5000), 2);

    // A rate the adapter has no speed code for is refused, not sent as code 0.
    TChild badRate = Dump({"--port", "ttyS99", "--rate", "300000"});
    EXPECT_EQ(badRate.WaitExit(5000), 2);
    EXPECT_NE(badRate.ErrText.find("bad --rate 300000 (not one of the adapter's rates)"), std::string::npos)
        << badRate.ErrText;

    TChild missing = Dump({"--port", "/dev/tcm-missing-port", "--duration", "1"});
    EXPECT_EQ(missing.WaitExit(5000), 1);
    EXPECT_NE(missing.ErrText.find("Opening port is failed!"), std::string::npos) << missing.ErrText;
    EXPECT_NE(missing.ErrText.find("Port: /dev/tcm-missing-port, ErrorCode: 2"), std::string::npos);

    TSeeedSimOptions silent;
    silent.Silent = true;
    auto sim = StartSim(silent);
    TChild dead = Dump({"--port", sim->PortPath(), "--log"});
    EXPECT_EQ(dead.WaitExit(5000), 1);
    EXPECT_NE(dead.ErrText.find("Adapter initialization failed"), std::string::npos) << dead.ErrText;
    EXPECT_NE(dead.ErrText.find("Wait event frame got failed! Res = 258"), std::string::npos);
}

TEST(CanDump, TransmitListAnswersRemoteFramesAndRunsPeriodicItems)
{
    TempDir dir;
    // An active OnRequest item 0x321 and an active Periodic item 0x100 every 25 ms.
    const std::string list = dir.File("list.dat");
    ASSERT_TRUE(WriteWholeFile(list, "2;0;1;321;0;1;AA;answer;\r\n1;19;1;100;0;0;;tick;\r\n"));
    auto sim = StartSim();
    TChild dump = Dump({"--port", sim->PortPath(), "--list", list, "--duration", "0.25"});
    ASSERT_TRUE(sim->WaitFramesReceived(2, 3000)); // the probe, then the first periodic frame
    TCanFrame remote;
    remote.Id = 0x42;
    remote.Request = true;
    remote.Standard = true;
    sim->SendFrame(remote);
    EXPECT_EQ(dump.WaitExit(10000), 0) << dump.ErrText;
    const auto lines = Lines(dump.OutText);
    const int printed = CountPrefix(lines, "OUT ts: ");
    // The adapter may still be reading the last frames the monitor printed
    // when the monitor has ended: they are counted once they came.
    sim->WaitFramesReceived(static_cast<uint64_t>(printed) + 1, 5000); // the probe and the printed frames
    int answers = 0;
    int ticks = 0;
    for (const auto& f : sim->ReceivedFrames()) {
        answers += f.Id == 0x321 ? 1 : 0;
        ticks += f.Id == 0x100 ? 1 : 0;
    }
    EXPECT_EQ(answers, 1);
    EXPECT_GE(ticks, 2); // about 10 in 0.25 s; the bounds only catch a missing or unpaced sender
    EXPECT_LE(ticks, 31);
    EXPECT_EQ(CountPrefix(lines, "IN  ts: "), 1);
    // Every frame the adapter got was printed, but for the last ones written
    // as the monitor was ending.
    EXPECT_LE(printed, answers + ticks);
    EXPECT_GE(printed, answers + ticks - 2);
    // The list file is only read, never written.
    EXPECT_EQ(ReadWholeFile(list), "2;0;1;321;0;1;AA;answer;\r\n1;19;1;100;0;0;;tick;\r\n");
}

TEST(CanDump, PrintsAndCountsTheFramesWrittenAsItEnds)
{
    // Eight Periodic items every millisecond: the monitor queues eight frames on
    // each pass, so some are still being written when --duration ends.
    TempDir dir;
    const std::string list = dir.File("fast.dat");
    std::string items;
    for (int i = 1; i <= 8; ++i) // identifiers 0x101 to 0x108
        items += "1;1;1;10" + std::to_string(i) + ";0;1;5A;fast;\r\n";
    ASSERT_TRUE(WriteWholeFile(list, items));
    auto sim = StartSim();
    TChild dump = Dump({"--port", sim->PortPath(), "--list", list, "--duration", "0.15"});
    EXPECT_EQ(dump.WaitExit(10000), 0) << dump.ErrText;
    const int printed = CountPrefix(Lines(dump.OutText), "OUT ts: ");
    EXPECT_GT(printed, 10);
    // A marker frame written after the monitor ended arrives behind all it wrote:
    // the probe and the printed frames come before it, and one more only if a
    // written frame was left out.
    TTestPort port(sim->PortPath());
    ASSERT_TRUE(port.IsOpen());
    TCanFrame marker;
    marker.Id = 0x7EE;
    marker.Standard = true;
    ASSERT_TRUE(port.Write(TSeeedPacketFrame(marker)));
    ASSERT_TRUE(sim->WaitFramesReceived(static_cast<uint64_t>(printed) + 2, 5000));
    const auto frames = sim->ReceivedFrames();
    ASSERT_EQ(frames.size(), static_cast<size_t>(printed) + 2);
    EXPECT_EQ(frames.back().Id, 0x7EEu);
    EXPECT_NE(dump.ErrText.find("frames in: 0, frames out: " + std::to_string(printed)), std::string::npos)
        << dump.ErrText;
}

TEST(CanDump, FramesQueuedWhenItEndsStillGoOut)
{
    // --duration 0 ends the loop at once: the --send frames are still in the
    // send queue when the channel closes.
    auto sim = StartSim();
    std::vector<std::string> args = {"--port", sim->PortPath(), "--duration", "0"};
    for (int i = 0; i < 100; ++i) {
        args.emplace_back("--send");
        args.push_back("123#" + std::string(1, "0123456789ABCDEF"[i / 16]) + "0123456789ABCDEF"[i % 16]);
    }
    TChild dump = Dump(args);
    EXPECT_EQ(dump.WaitExit(10000), 0) << dump.ErrText;
    ASSERT_TRUE(sim->WaitFramesReceived(101, 3000)) << "the probe and the 100 frames";
    const auto got = sim->ReceivedFrames();
    for (int i = 0; i < 100; ++i)
        EXPECT_EQ(got[static_cast<size_t>(i) + 1].Data[0], i) << "frame " << i;
    EXPECT_NE(dump.ErrText.find("frames in: 0, frames out: 100"), std::string::npos) << dump.ErrText;
}

TEST(CanDump, EndsOnSigtermAndOnALostPort)
{
    // An adapter that stops reading while sixteen Periodic items run every
    // millisecond (they fill the terminal's buffer soon). Its monitor gives up after
    // the adapter's time-out, so it is started first and ends while the other two run.
    TempDir dir;
    const std::string list = dir.File("fast.dat");
    std::string items;
    for (int i = 0; i < 16; ++i) // identifiers 0x200 to 0x215
        items += "1;1;1;" + std::to_string(200 + i) + ";0;1;5A;fast;\r\n";
    ASSERT_TRUE(WriteWholeFile(list, items));
    auto hung = StartSim();
    TChild stuck = Dump({"--port", hung->PortPath(), "--list", list});
    ASSERT_TRUE(hung->WaitFramesReceived(20, 3000));
    hung->HoldReading(true);

    TSeeedSimOptions traffic;
    traffic.FramesPerSecond = 200;
    auto sim = StartSim(traffic);
    TChild dump = Dump({"--port", sim->PortPath()});
    ASSERT_TRUE(sim->WaitFramesReceived(1, 3000)); // the probe: the channel is starting
    const std::string first = dump.ReadLine(20000);
    EXPECT_EQ(first.rfind("IN  ts: ", 0), 0u) << first;
    ::kill(dump.Id(), SIGTERM);
    EXPECT_EQ(dump.WaitExit(5000), 0) << dump.ErrText;
    EXPECT_NE(dump.ErrText.find("frames in: "), std::string::npos);

    TChild lost = Dump({"--port", sim->PortPath()});
    // The first frame printed shows the channel running.
    EXPECT_EQ(lost.ReadLine(20000).rfind("IN  ts: ", 0), 0u);
    sim->Unplug();
    EXPECT_EQ(lost.WaitExit(5000), 1);
    EXPECT_NE(lost.ErrText.find("was lost"), std::string::npos) << lost.ErrText;

    EXPECT_EQ(stuck.WaitExit(20000), 1);
    EXPECT_NE(stuck.ErrText.find("tarvenix-can-dump: The adapter on " + hung->PortPath() +
                                 " does not respond (error 110). The channel was closed.\n"),
              std::string::npos)
        << stuck.ErrText;
}

TEST(CanText, ReadsIdentifiersDataAndRemoteFrames)
{
    auto f = ParseCompactFrameAs("123#DEADBEEF", true);
    ASSERT_TRUE(f);
    EXPECT_EQ(f->Id, 0x123u);
    EXPECT_EQ(f->Length, 4);
    EXPECT_EQ(f->Data[3], 0xEF);
    EXPECT_TRUE(f->Standard);
    auto r = ParseCompactFrameAs("1FFFFFFF#r", false);
    ASSERT_TRUE(r);
    EXPECT_TRUE(r->Request);
    EXPECT_FALSE(r->Standard);
    EXPECT_TRUE(ParseCompactFrameAs("5#", true));
    for (const char* bad : {"800#00", "123", "#00", "123#0", "123#GG", "123#001122334455667788", "20000000#00"})
        EXPECT_FALSE(ParseCompactFrameAs(bad, std::string(bad) == "20000000#00" ? false : true)) << bad;
}
