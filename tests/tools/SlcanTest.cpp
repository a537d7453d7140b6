// tarvenix-slcan between the in-process simulator and real clients: python-can's
// slcan interface, and a raw terminal client that sends bad input.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <future>
#include <random>
#include <thread>

#include "SeeedSimulator.h"
#include "TestPort.h"
#include "support/ChildProcess.h"
#include "support/TempDir.h"
#include "support/Sanitizer.h"

namespace {

const char kPython[] = "/usr/bin/python3";

std::unique_ptr<TSeeedSimulator> StartSim()
{
    auto sim = std::make_unique<TSeeedSimulator>();
    EXPECT_TRUE(sim->Start()) << sim->LastError();
    return sim;
}

TChild Bridge(std::vector<std::string> args)
{
    args.insert(args.begin(), TCM_SLCAN_EXE);
    return TChild(args);
}

TCanFrame Frame(uint32_t id, bool standard, bool remote, int length)
{
    TCanFrame f;
    f.Id = id;
    f.Standard = standard;
    f.Request = remote;
    f.Length = length;
    for (int i = 0; i < 8; ++i)
        f.Data[i] = static_cast<uint8_t>(0xA0 + i * 3 + length);
    return f;
}

// The line slcan_client.py prints for a frame.
std::string ClientLine(const TCanFrame& f)
{
    char head[64];
    std::snprintf(head, sizeof head, "%X %d %d %d ", f.Id, f.Standard ? 0 : 1, f.Request ? 1 : 0, f.Length);
    std::string data;
    for (int i = 0; i < f.Length && !f.Request; ++i) {
        char b[3];
        std::snprintf(b, sizeof b, "%02X", f.Data[i]);
        data += b;
    }
    return head + (data.empty() ? std::string("-") : data);
}

// Sends one command and returns the answer: up to and including the first CR,
// or a lone BEL.
std::string Ask(const TTestPort& port, const std::string& command, int timeoutMs = 3000)
{
    EXPECT_TRUE(port.Write(std::vector<uint8_t>(command.begin(), command.end())));
    std::vector<uint8_t> got;
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (std::chrono::steady_clock::now() < end) {
        if (!got.empty() && (got.back() == '\r' || got.back() == '\a'))
            break;
        port.ReadSome(got, 50, 1);
    }
    return std::string(got.begin(), got.end());
}

} // namespace

TEST(Slcan, PythonCanReceivesSendsAndChangesTheRate)
{
    if (::access(kPython, X_OK) != 0)
        FAIL() << kPython << " is missing: install python3-can (scripts/setup.sh with TCM_TEST_TOOLS=1)";
    TempDir dir;
    auto sim = StartSim();
    const std::string link = dir.File("slcan-link");
    TChild bridge = Bridge({"--port", sim->PortPath(), "--rate", "125000", "--link", link});
    const std::string terminal = bridge.ReadLine(5000);
    ASSERT_EQ(terminal.rfind("/dev/pts/", 0), 0u) << terminal << bridge.ErrText;
    char target[256] = {};
    ASSERT_GT(::readlink(link.c_str(), target, sizeof target - 1), 0);
    EXPECT_EQ(terminal, target);

    const std::vector<TCanFrame> bus = {Frame(0x123, true, false, 8), Frame(0x1FFFFFFF, false, false, 3),
                                        Frame(0x7FF, true, true, 2),  Frame(0x00000001, false, true, 8),
                                        Frame(0x000, true, false, 0), Frame(0x18DAF110, false, false, 5)};
    TChild client({kPython, TCM_SLCAN_CLIENT_PY, link, std::to_string(bus.size())});
    ASSERT_EQ(client.ReadLine(10000), "open") << client.ErrText;
    // python-can's O carries the rate of --rate: loopback settings, probe, normal settings.
    ASSERT_TRUE(sim->WaitSettingsReceived(2, 5000));
    EXPECT_EQ(sim->ReceivedSettings().back().Rate, 125000);
    EXPECT_EQ(sim->State(), TSeeedSimulator::TState::Normal);
    for (const auto& f : bus)
        sim->SendFrame(f);
    for (const auto& f : bus)
        EXPECT_EQ(client.ReadLine(10000), ClientLine(f));
    EXPECT_EQ(client.ReadLine(10000), "done") << client.ErrText;
    EXPECT_EQ(client.WaitExit(10000), 0) << client.ErrText;

    // The four frames went on the bus in order, after the first probe; then
    // the new rate came in the settings of the next opening.
    ASSERT_TRUE(sim->WaitSettingsReceived(4, 5000));
    const auto settings = sim->ReceivedSettings();
    EXPECT_EQ(settings[2].Rate, 1000000);
    EXPECT_EQ(settings[3].Rate, 1000000);
    const auto sent = sim->ReceivedFrames();
    ASSERT_GE(sent.size(), 6u); // probe, four frames, probe of the reopening
    EXPECT_EQ(sent[1].Id, 0x7FFu);
    EXPECT_TRUE(sent[1].Standard);
    EXPECT_EQ(sent[1].Length, 2);
    EXPECT_EQ(sent[1].Data[1], 0x22);
    EXPECT_EQ(sent[2].Id, 0x1ABCDEF0u);
    EXPECT_FALSE(sent[2].Standard);
    EXPECT_EQ(sent[2].Length, 8);
    EXPECT_EQ(sent[2].Data[7], 7);
    EXPECT_TRUE(sent[3].Request && sent[3].Standard && sent[3].Id == 0x10 && sent[3].Length == 3);
    EXPECT_TRUE(sent[4].Request && !sent[4].Standard && sent[4].Id == 0x42 && sent[4].Length == 0);
    EXPECT_EQ(sent[5].Id, 0x7A5u); // the probe of the reopening

    ::kill(bridge.Id(), SIGTERM);
    EXPECT_EQ(bridge.WaitExit(5000), 0) << bridge.ErrText;
    EXPECT_NE(bridge.ErrText.find("frames in: 6, frames out: 4, frames dropped: 0"), std::string::npos)
        << bridge.ErrText;
    struct stat st {};
    EXPECT_NE(::lstat(link.c_str(), &st), 0) << "the link outlived the bridge";
}

TEST(Slcan, BadInputGetsBelAndTheBridgeCarriesOn)
{
    TChild missing = Bridge({"--port", "/dev/tcm-missing-port"});
    EXPECT_EQ(missing.WaitExit(5000), 1);
    EXPECT_NE(missing.ErrText.find("Opening port is failed!"), std::string::npos) << missing.ErrText;
    TChild badRate = Bridge({"--port", "ttyS0", "--rate", "300000"});
    EXPECT_EQ(badRate.WaitExit(5000), 2);

    auto sim = StartSim();
    TChild bridge = Bridge({"--port", sim->PortPath(), "--format", "candump"});
    const std::string terminal = bridge.ReadLine(5000);
    TTestPort port(terminal);
    ASSERT_TRUE(port.IsOpen()) << terminal << bridge.ErrText;

    const std::string bel = "\a";
    // Unknown commands, bytes that are no command, an over-long line.
    EXPECT_EQ(Ask(port, "garbage\r"), bel);
    EXPECT_EQ(Ask(port, std::string("\0\xFF\x1B\r", 4)), bel);
    EXPECT_EQ(Ask(port, std::string(5000, 't') + "\r"), bel);
    EXPECT_EQ(Ask(port, "sAB12\r"), bel); // no bit-timing registers on this adapter
    // Commands that need an open channel, and wrong lengths or values.
    for (const char* command : {"t1232AABB\r", "C\r", "F\r", "P\r", "S9\r", "S\r", "S55\r", "Z2\r", "M0000\r"})
        EXPECT_EQ(Ask(port, command), bel) << command;
    EXPECT_EQ(Ask(port, "V\r"), "V1009\r");
    EXPECT_EQ(Ask(port, "v\r"), "v0098\r");
    EXPECT_EQ(Ask(port, "N\r"), "NSEED\r");
    EXPECT_EQ(Ask(port, "M00000000\r"), "\r");
    EXPECT_EQ(Ask(port, "Z1\r"), "\r");
    EXPECT_EQ(Ask(port, "S6\r"), "\r");
    EXPECT_EQ(Ask(port, "O\r"), "\r");
    ASSERT_TRUE(sim->WaitSettingsReceived(2, 3000));
    EXPECT_EQ(sim->ReceivedSettings().back().Rate, 500000);
    // Commands for a closed channel, and frames the protocol cannot carry.
    for (const char* command : {"O\r", "L\r", "S4\r", "Z0\r", "X0\r", "t8002AABB\r", "t1232AA\r", "t1239\r",
                                "T200000000\r", "r12\r", "t12G0\r", "R1234567890\r"})
        EXPECT_EQ(Ask(port, command), bel) << command;
    EXPECT_EQ(Ask(port, "F\r"), "F00\r");
    EXPECT_EQ(Ask(port, "T1FFFFFFF0\r"), "Z\r");
    EXPECT_EQ(Ask(port, "r1238\r"), "z\r");
    ASSERT_TRUE(sim->WaitFramesReceived(3, 3000));
    EXPECT_EQ(sim->ReceivedFrames()[1].Id, 0x1FFFFFFFu);

    // A received frame with its time stamp (Z1): four hex digits before the CR.
    sim->SendFrame(Frame(0x100, true, false, 2));
    const std::string line = Ask(port, "");
    ASSERT_EQ(line.size(), 14u) << line;
    EXPECT_EQ(line.substr(0, 9), "t1002A2A5");
    EXPECT_LT(std::stoul(line.substr(9, 4), nullptr, 16), 60000u);

    // A flood of random bytes, then the bridge still answers and reports frames.
    std::mt19937 random(7);
    std::vector<uint8_t> flood(200000);
    for (auto& b : flood)
        b = static_cast<uint8_t>(random());
    ASSERT_TRUE(port.Write(flood));
    // Then a close and the two questions that name the bridge: once their
    // answers came, in that order, everything before them is answered too (a
    // random flood holds those lines one after the other practically never).
    ASSERT_TRUE(port.Write(std::vector<uint8_t>{'\r', 'C', '\r', 'V', '\r', 'N', '\r'}));
    const std::string synced = "V1009\rNSEED\r";
    std::vector<uint8_t> answers;
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    auto endsSynced = [&] {
        return answers.size() >= synced.size() &&
               std::equal(synced.begin(), synced.end(), answers.end() - synced.size());
    };
    while (!endsSynced() && std::chrono::steady_clock::now() < end)
        port.ReadSome(answers, 100);
    ASSERT_TRUE(endsSynced());
    EXPECT_EQ(Ask(port, "V\r"), "V1009\r");
    EXPECT_EQ(Ask(port, "Z0\r"), "\r");
    EXPECT_EQ(Ask(port, "O\r"), "\r");
    sim->SendFrame(Frame(0x1ABCDE, false, false, 1));
    EXPECT_EQ(Ask(port, ""), "T001ABCDE1A1\r");
    EXPECT_EQ(Ask(port, "C\r"), "\r");

    ::kill(bridge.Id(), SIGINT);
    EXPECT_EQ(bridge.WaitExit(5000), 0) << bridge.ErrText;
    // --format: standard error holds every frame as a candump log line, and nothing else.
    for (const char* frame : {" can0 1FFFFFFF#\n", " can0 123#R8\n", " can0 100#A2A5\n", " can0 001ABCDE#A1\n"})
        EXPECT_NE(bridge.ErrText.find(frame), std::string::npos) << frame << bridge.ErrText;
    for (const auto& errLine : Lines(bridge.ErrText))
        EXPECT_EQ(errLine.rfind("(", 0), 0u) << errLine;
}

namespace {

// The resident memory of a process, in KiB (0 when it cannot be read).
long ResidentKb(pid_t pid)
{
    const std::string status = ReadWholeFile("/proc/" + std::to_string(pid) + "/status");
    const size_t at = status.find("VmRSS:");
    return at == std::string::npos ? 0 : std::stol(status.substr(at + 6));
}

// Reads until what was read ends with `end` (or nothing comes for ten
// seconds); everything read.
std::string ReadUntilEnd(const TTestPort& port, const std::string& end)
{
    std::vector<uint8_t> got;
    const auto endsWell = [&] {
        return got.size() >= end.size() && std::equal(end.begin(), end.end(), got.end() - end.size());
    };
    while (!endsWell() && port.ReadSome(got, 10000) > 0) {}
    return std::string(got.begin(), got.end());
}

// Reads until nothing more comes for `quietMs`; everything read.
std::string Drain(const TTestPort& port, int quietMs = 200)
{
    std::vector<uint8_t> got;
    for (size_t before = 1; before != got.size();) {
        before = got.size();
        port.ReadSome(got, quietMs);
    }
    return std::string(got.begin(), got.end());
}

// An adapter that stops taking frames the bridge already answered z to: every
// such frame either reached it or is counted as not sent, on the terminal (F)
// and when the bridge ends.
void CheckAStalledAdapterLosesNothingUnnoticed()
{
    auto sim = StartSim();
    TChild bridge = Bridge({"--port", sim->PortPath()});
    const std::string terminal = bridge.ReadLine(5000);
    TTestPort port(terminal);
    ASSERT_TRUE(port.IsOpen()) << terminal << bridge.ErrText;
    EXPECT_EQ(Ask(port, "O\r"), "\r");
    sim->HoldReading(true);
    std::vector<uint8_t> frames;
    for (int i = 0; i < 3000; ++i)
        for (const char c : std::string("t1232AABB\r"))
            frames.push_back(static_cast<uint8_t>(c));
    ASSERT_TRUE(port.Write(frames));
    std::string answers;
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!bridge.WaitForErrText("not sent", 50) && std::chrono::steady_clock::now() < end)
        answers += Drain(port, 50);
    answers += Drain(port, 100);
    sim->HoldReading(false);
    const auto acknowledged = std::count(answers.begin(), answers.end(), 'z');
    ASSERT_TRUE(sim->WaitAllRead(10000)); // what the terminal held
    const auto reached = static_cast<long>(sim->ReceivedFrames().size());
    EXPECT_GT(acknowledged, reached);
    EXPECT_EQ(Ask(port, "O\r"), "\r");
    EXPECT_EQ(Ask(port, "F\r"), "F02\r"); // frames answered z were not sent
    EXPECT_EQ(Ask(port, "F\r"), "F00\r");
    port.Close();
    ::kill(bridge.Id(), SIGTERM);
    EXPECT_EQ(bridge.WaitExit(5000), 0) << bridge.ErrText;
    // The frame whose write timed out part-way counts as not sent, even when
    // the simulator later makes it whole.
    const size_t notSent = bridge.ErrText.find(" queued frames were not sent");
    ASSERT_NE(notSent, std::string::npos) << bridge.ErrText;
    const long reported = std::stol(bridge.ErrText.substr(bridge.ErrText.rfind(' ', notSent - 1) + 1));
    EXPECT_GE(reported, acknowledged - reached) << bridge.ErrText;
    EXPECT_LE(reported, acknowledged - reached + 1) << bridge.ErrText;
    EXPECT_NE(bridge.ErrText.find("frames not sent: " + std::to_string(reported)), std::string::npos);
}

} // namespace

// A client that floods commands and never reads, and a second process that
// tries to join the client's terminal; beside them, an adapter that stops
// taking frames (its one-second wait runs meanwhile).
TEST(Slcan, MisuseNeitherGrowsTheBridgeNorLosesFramesUnnoticedNorSharesTheTerminal)
{
    auto stalled = std::async(std::launch::async, CheckAStalledAdapterLosesNothingUnnoticed);
    auto sim = StartSim();
    TChild bridge = Bridge({"--port", sim->PortPath()});
    const std::string terminal = bridge.ReadLine(5000);
    TTestPort port(terminal);
    ASSERT_TRUE(port.IsOpen()) << terminal << bridge.ErrText;

    // A second opener is refused while the client has the terminal. Root passes
    // over that lock, so the second opener is the unprivileged user nobody.
    ASSERT_EQ(::chmod(terminal.c_str(), 0666), 0);
    const auto openAsNobody = [&] {
        TChild other(AsUserWhenRoot({kPython, "-c",
                                     "import os,sys\ntry: os.open(sys.argv[1], os.O_RDWR | os.O_NOCTTY); "
                                     "print('opened')\nexcept OSError as e: print(e.errno)",
                                     terminal}));
        other.WaitExit(5000);
        return other.OutText;
    };
    EXPECT_EQ(Ask(port, "V\r"), "V1009\r"); // the bridge has seen its client
    EXPECT_EQ(openAsNobody(), std::to_string(EBUSY) + "\n");

    // 18 MB of answers to 6 MB of commands, none of them read.
    std::vector<uint8_t> flood;
    for (int i = 0; i < 1000000; ++i)
        flood.insert(flood.end(), {'V', '\r'});
    for (int round = 0; round < 3; ++round)
        ASSERT_TRUE(port.Write(flood));
    // The bridge has taken in all but the terminal's last few kilobytes and
    // holds its bound of unread answers.
    if (!tcmtest::kSanitized) {
        EXPECT_LT(ResidentKb(bridge.Id()), 16 * 1024);
    }
    // One more question: its answer ends what is unread, and the bridge still answers.
    ASSERT_TRUE(port.Write(std::vector<uint8_t>{'N', '\r'}));
    const std::string unread = ReadUntilEnd(port, "V1009\rNSEED\r");
    EXPECT_LE(unread.size(), (4u << 20) + 65536);
    EXPECT_EQ(unread.substr(unread.size() - 12), "V1009\rNSEED\r"); // the newest answers were kept

    // Frames held for polling (X0) that the client never takes count as dropped.
    EXPECT_EQ(Ask(port, "X0\r"), "\r");
    EXPECT_EQ(Ask(port, "O\r"), "\r");
    for (uint32_t id : {0x101u, 0x102u, 0x103u})
        sim->SendFrame(Frame(id, true, false, 1));
    // The frames queue at the simulator behind what it still has to send;
    // polls answered at once would pass before they came on a busy machine.
    std::string polled = "\r";
    const auto pollEnd = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (polled == "\r" && std::chrono::steady_clock::now() < pollEnd) {
        polled = Ask(port, "P\r");
        if (polled == "\r")
            ::usleep(5000);
    }
    EXPECT_EQ(polled, "t1011A1\r");

    // Once the client lets go, the next one may come.
    port.Close();
    std::string opened = openAsNobody();
    for (int i = 0; i < 100 && opened != "opened\n"; ++i) { // the bridge sees the hang-up soon
        ::usleep(20000);
        opened = openAsNobody();
    }
    EXPECT_EQ(opened, "opened\n");
    ::kill(bridge.Id(), SIGTERM);
    EXPECT_EQ(bridge.WaitExit(5000), 0) << bridge.ErrText;
    EXPECT_NE(bridge.ErrText.find("answers dropped"), std::string::npos) << bridge.ErrText;
    EXPECT_NE(bridge.ErrText.find("frames in: 1, frames out: "), std::string::npos) << bridge.ErrText;
    EXPECT_NE(bridge.ErrText.find("frames dropped: 2, "), std::string::npos) << bridge.ErrText;
    stalled.get();
}
