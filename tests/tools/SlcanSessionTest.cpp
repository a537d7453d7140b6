// The slcan device state machine, fed as a client writes, without a channel.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "SlcanSession.h"
#include "Version.h"

namespace {

struct TDevice {
    TSlcanSession Session{250000};
    std::vector<int32_t> Opened; // rates of every OnOpen
    std::vector<TCanFrame> Sent;
    bool SendWorks = true;

    TDevice()
    {
        Session.OnOpen = [this](int32_t rate) {
            Opened.push_back(rate);
            return true;
        };
        Session.OnClose = [] {};
        Session.OnSend = [this](const TCanFrame& frame) {
            Sent.push_back(frame);
            return SendWorks;
        };
    }
    // The answer to `command` and its CR.
    std::string Ask(const std::string& command)
    {
        const std::string line = command + "\r";
        std::string out;
        Session.Feed(reinterpret_cast<const uint8_t*>(line.data()), line.size(), out);
        return out;
    }
};

TCanFrame Frame(uint32_t id, bool standard, int length, bool remote = false)
{
    TCanFrame f;
    f.Id = id;
    f.Standard = standard;
    f.Length = length;
    f.Request = remote;
    for (int i = 0; i < 8; ++i)
        f.Data[i] = static_cast<uint8_t>(0x11 * (i + 1));
    return f;
}

} // namespace

TEST(SlcanSession, EverySpeedCodeOpensAtItsRate)
{
    const int32_t rates[9] = {10000, 20000, 50000, 100000, 125000, 250000, 500000, 800000, 1000000};
    for (int code = 0; code <= 8; ++code) {
        TDevice d;
        EXPECT_EQ(d.Ask("S" + std::to_string(code)), "\r");
        EXPECT_EQ(d.Ask("O"), "\r");
        ASSERT_EQ(d.Opened.size(), 1u);
        EXPECT_EQ(d.Opened[0], rates[code]) << "S" << code;
        EXPECT_EQ(d.Ask("S" + std::to_string(code)), "\a") << "no rate change while open";
        EXPECT_EQ(d.Ask("C"), "\r");
    }
    TDevice d;
    for (const char* bad : {"S9", "S", "S55", "Sx"})
        EXPECT_EQ(d.Ask(bad), "\a") << bad;
    EXPECT_EQ(d.Ask("L"), "\r"); // opens as O does, at the rate given at start
    EXPECT_EQ(d.Opened, std::vector<int32_t>{250000});
}

TEST(SlcanSession, AnswersOfEveryCommandClosedAndOpen)
{
    TDevice d;
    const std::string version = std::to_string(TCM_VERSION_MAJOR % 10) + std::to_string((TCM_VERSION_MINOR / 10) % 10);
    // Closed: settings are taken, channel commands refused.
    EXPECT_EQ(d.Ask(""), "\r");
    EXPECT_EQ(d.Ask("V"), "V10" + version + "\r");
    EXPECT_EQ(d.Ask("N"), "NSEED\r");
    EXPECT_EQ(d.Ask("v").size(), 6u);
    for (const char* ok : {"Z0", "Z1", "X1", "W0", "W1", "M00000000", "mFFFFFFFF"})
        EXPECT_EQ(d.Ask(ok), "\r") << ok;
    for (const char* refused : {"C", "F", "P", "A", "t1230", "Z2", "X", "M0000000", "mGGGGGGGG", "Q"})
        EXPECT_EQ(d.Ask(refused), "\a") << refused;
    EXPECT_TRUE(d.Sent.empty());

    ASSERT_EQ(d.Ask("O"), "\r");
    EXPECT_EQ(d.Ask("O"), "\a");
    for (const char* refused : {"S6", "Z0", "X0", "W0", "M00000000", "m00000000"})
        EXPECT_EQ(d.Ask(refused), "\a") << refused << " only while closed";
    EXPECT_EQ(d.Ask("t12320102"), "z\r");
    EXPECT_EQ(d.Ask("T1FFFFFFF0"), "Z\r");
    EXPECT_EQ(d.Ask("r7FF8"), "z\r");
    EXPECT_EQ(d.Ask("R000000013"), "Z\r");
    ASSERT_EQ(d.Sent.size(), 4u);
    EXPECT_EQ(d.Sent[0].Id, 0x123u);
    EXPECT_EQ(d.Sent[0].Length, 2);
    EXPECT_EQ(d.Sent[0].Data[1], 0x02);
    EXPECT_FALSE(d.Sent[1].Standard);
    EXPECT_TRUE(d.Sent[2].Request);
    EXPECT_EQ(d.Sent[2].Length, 8);
    EXPECT_EQ(d.Sent[3].Length, 3);
    for (const char* bad : {"t800", "t1239", "t12321", "t123201020", "T200000000", "t12G101"})
        EXPECT_EQ(d.Ask(bad), "\a") << bad;
    d.SendWorks = false;
    EXPECT_EQ(d.Ask("t1230"), "\a") << "a frame the channel did not take";

    EXPECT_EQ(d.Ask("P"), "\a") << "polling only with auto poll off";
    EXPECT_EQ(d.Ask("F"), "F00\r");
    EXPECT_EQ(d.Ask("C"), "\r");
    EXPECT_EQ(d.Ask("C"), "\a");

    // A line too long for any command is refused whole, and the next one works.
    EXPECT_EQ(d.Ask(std::string(40, 't')), "\a");
    EXPECT_EQ(d.Ask("N"), "NSEED\r");
}

TEST(SlcanSession, ReceivedFramesPollingTimeStampsAndStatusFlags)
{
    TDevice d;
    std::string out;
    EXPECT_FALSE(d.Session.FrameReceived(Frame(0x100, true, 1), out)) << "closed";
    ASSERT_EQ(d.Ask("Z1"), "\r");
    ASSERT_EQ(d.Ask("X0"), "\r");
    ASSERT_EQ(d.Ask("O"), "\r");
    TCanFrame stamped = Frame(0x1ABCDEF, false, 2);
    stamped.Time = 61234; // milliseconds wrap each minute: 1234 = 0x04D2
    EXPECT_TRUE(d.Session.FrameReceived(stamped, out));
    EXPECT_TRUE(d.Session.FrameReceived(Frame(0x7FF, true, 0, true), out));
    EXPECT_TRUE(d.Session.FrameReceived(Frame(0x800, true, 1), out)) << "too wide for 11 bits";
    EXPECT_EQ(out, "") << "auto poll is off: frames wait";
    EXPECT_EQ(d.Ask("P"), "T01ABCDEF21122"
                          "04D2\r");
    EXPECT_EQ(d.Ask("A"), "r7FF00000\rT00000800111"
                          "0000\rA\r");
    EXPECT_EQ(d.Ask("P"), "\r") << "nothing left";

    // Status flags: 08 after frames were lost, read once; 01 while the poll queue is full.
    EXPECT_EQ(d.Ask("F"), "F00\r");
    d.Session.NoteOverrun();
    EXPECT_EQ(d.Ask("F"), "F08\r");
    EXPECT_EQ(d.Ask("F"), "F00\r");
    for (size_t i = 0; i < TSlcanSession::kMaxPolled; ++i)
        d.Session.FrameReceived(Frame(0x100, true, 0), out);
    EXPECT_FALSE(d.Session.FrameReceived(Frame(0x100, true, 0), out));
    EXPECT_EQ(d.Ask("F"), "F09\r");
    d.Session.ChannelLost();
    EXPECT_FALSE(d.Session.IsOpen());
    EXPECT_EQ(d.Ask("F"), "\a");

    // Held frames take their room from the output's bound as they come; an A
    // answer carries the whole lines that fit and the rest wait for the next.
    size_t room = 3 * 26; // three lines of eight bytes with a time stamp
    d.Session.OutputRoom = [&room] { return room; };
    ASSERT_EQ(d.Ask("O"), "\r");
    for (uint32_t i = 0; i < 4; ++i)
        EXPECT_EQ(d.Session.FrameReceived(Frame(0x100 + i, true, 8), out), i < 3) << i;
    room = 2 * 26 + 3;
    EXPECT_EQ(d.Ask("A"), "t100811223344556677880000\rt101811223344556677880000\rA\r");
    EXPECT_EQ(d.Ask("A"), "t102811223344556677880000\rA\r");
    EXPECT_EQ(d.Ask("F"), "F08\r");
    // Frames never polled are let go, and counted, when the channel closes or is lost.
    EXPECT_TRUE(d.Session.FrameReceived(Frame(0x104, true, 8), out));
    EXPECT_EQ(d.Ask("C"), "\r");
    EXPECT_EQ(d.Session.HeldFramesLetGo(), TSlcanSession::kMaxPolled + 1);
}
