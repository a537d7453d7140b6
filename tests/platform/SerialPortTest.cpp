#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <thread>
#include <termios.h>
#include <unistd.h>

#include "PtyTestSupport.h"
#include "platform/PseudoTerminal.h"
#include "platform/SerialPort.h"
#include "support/TempDir.h"

using tcm::TPseudoTerminal;
using tcm::TSerialPort;
using TOpen = TSerialPort::TOpenResult;

namespace {

class SerialPortOnPty : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(Pty.Open()) << Pty.LastError();
        ASSERT_EQ(Port.Open(Pty.SlavePath()), TOpen::Ok) << "errno " << Port.LastError();
    }

    std::vector<uint8_t> FromPort(size_t count, int limitMs = 5000)
    {
        return Collect([this](uint8_t* b, int s, int t) { return Pty.Read(b, s, t); }, count, limitMs);
    }
    std::vector<uint8_t> AtPort(size_t count, int limitMs = 5000)
    {
        return Collect([this](uint8_t* b, int s, int t) { return Port.Read(b, s, t); }, count, limitMs);
    }

    TPseudoTerminal Pty;
    TSerialPort Port;
};

TEST_F(SerialPortOnPty, EveryByteValuePassesUnchangedInBothDirections)
{
    const std::vector<uint8_t> bytes = AllByteValues();

    ASSERT_EQ(Port.Write(bytes.data(), static_cast<int>(bytes.size())), 0);
    EXPECT_EQ(FromPort(bytes.size()), bytes);

    ASSERT_EQ(Pty.Write(bytes.data(), static_cast<int>(bytes.size())), 0);
    EXPECT_EQ(AtPort(bytes.size()), bytes);

    // Nothing was echoed or added on the way.
    uint8_t extra[16];
    EXPECT_EQ(Pty.Read(extra, sizeof extra, 30), 0);
    EXPECT_EQ(Port.Read(extra, sizeof extra, 30), 0);
}

TEST_F(SerialPortOnPty, LineIsRawEightBitsAtTwoMegabaudWithoutFlowControl)
{
    termios tio{};
    ASSERT_EQ(tcgetattr(Port.Handle(), &tio), 0);
    EXPECT_EQ(cfgetospeed(&tio), static_cast<speed_t>(B2000000));
    EXPECT_EQ(cfgetispeed(&tio), static_cast<speed_t>(B2000000));
    EXPECT_EQ(tio.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(tio.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0u);
    EXPECT_EQ(tio.c_cflag & (CLOCAL | CREAD), static_cast<tcflag_t>(CLOCAL | CREAD));
    EXPECT_EQ(tio.c_iflag & (IXON | IXOFF | IXANY | ICRNL | INLCR | IGNCR | ISTRIP | INPCK), 0u);
    EXPECT_EQ(tio.c_oflag & OPOST, 0u);
    EXPECT_EQ(tio.c_lflag & (ICANON | ECHO | ISIG | IEXTEN), 0u);
}

TEST_F(SerialPortOnPty, SecondOpeningOfTheSameDeviceFailsUntilTheFirstCloses)
{
    // Whatever the caller's privileges: root is not kept out by TIOCEXCL alone.
    TSerialPort second;
    EXPECT_EQ(second.Open(Pty.SlavePath()), TOpen::OpenFailed);
    EXPECT_EQ(second.LastError(), EBUSY);
    EXPECT_FALSE(second.IsOpen());
    EXPECT_EQ(second.Handle(), -1);

    // The same device by its short name is the same device.
    const std::string shortName = Pty.SlavePath().substr(5); // "pts/N"
    EXPECT_EQ(second.Open(shortName), TOpen::OpenFailed);

    // The failed attempts did not disturb the first opening.
    const uint8_t probe[] = {1, 2, 3};
    ASSERT_EQ(Port.Write(probe, 3), 0);
    EXPECT_EQ(FromPort(3), std::vector<uint8_t>(probe, probe + 3));

    // Close and destruction release it; a second Close does nothing.
    Port.Close();
    Port.Close();
    EXPECT_FALSE(Port.IsOpen());
    {
        TSerialPort scoped;
        ASSERT_EQ(scoped.Open(Pty.SlavePath()), TOpen::Ok) << "errno " << scoped.LastError();
    }
    EXPECT_EQ(second.Open(shortName), TOpen::Ok) << "errno " << second.LastError();
    ASSERT_EQ(second.Write(probe, 3), 0);
    EXPECT_EQ(FromPort(3), std::vector<uint8_t>(probe, probe + 3));
}

TEST_F(SerialPortOnPty, QuietReadWaitsBrieflyAndReturnsZero)
{
    uint8_t buffer[64];
    for (int i = 0; i < 3; ++i) {
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(Port.Read(buffer, sizeof buffer), 0);
        const auto waited = std::chrono::steady_clock::now() - start;
        // It did wait instead of returning at once, and not for long.
        EXPECT_GE(waited, std::chrono::milliseconds(1));
        EXPECT_LT(waited, std::chrono::seconds(2));
    }
}

TEST_F(SerialPortOnPty, OneReadTakesEverythingWaiting)
{
    std::vector<uint8_t> bytes(3000);
    for (size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<uint8_t>(i * 7);
    ASSERT_EQ(Pty.Write(bytes.data(), static_cast<int>(bytes.size())), 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));

    std::vector<uint8_t> got(4096);
    const int first = Port.Read(got.data(), static_cast<int>(got.size()), 1000);
    ASSERT_GT(first, 20) << "one byte per call cannot keep up with the link";
    got.resize(static_cast<size_t>(first));
    const std::vector<uint8_t> rest = AtPort(bytes.size() - got.size());
    got.insert(got.end(), rest.begin(), rest.end());
    EXPECT_EQ(got, bytes);
}

TEST_F(SerialPortOnPty, ReadReportsAnErrorOnceTheFarSideIsGone)
{
    Pty.Close();
    uint8_t buffer[16];
    // Not 0 ("quiet"), and not once but on every call, so that a caller can stop.
    for (int i = 0; i < 5; ++i) {
        const int n = Port.Read(buffer, sizeof buffer, 50);
        EXPECT_LT(n, 0) << "call " << i;
    }
    const uint8_t probe[] = {0x55};
    EXPECT_NE(Port.Write(probe, 1), 0);
}

TEST_F(SerialPortOnPty, WriteGivesUpWithETIMEDOUTWhenTheFarSideNeverReads)
{
    // Fill the terminal's buffers in packet-sized writes until one cannot finish.
    const std::vector<uint8_t> packet(20, 0xAA);
    int result = 0;
    int written = 0;
    for (int i = 0; i < 200000 && result == 0; ++i) {
        result = Port.Write(packet.data(), static_cast<int>(packet.size()), 20);
        if (result == 0)
            ++written;
    }
    ASSERT_EQ(result, ETIMEDOUT);
    EXPECT_GT(written, 0);

    // One big write into the full buffer also times out, with nothing written.
    std::vector<uint8_t> big(1 << 20, 0x55);
    EXPECT_EQ(Port.Write(big.data(), static_cast<int>(big.size()), 30), ETIMEDOUT);

    // Once the far side reads again, writing works again.
    uint8_t drain[4096];
    for (int i = 0; i < 64; ++i) {
        if (Pty.Read(drain, sizeof drain, 5) <= 0)
            break;
    }
    EXPECT_EQ(Port.Write(packet.data(), static_cast<int>(packet.size()), 1000), 0);
}

TEST_F(SerialPortOnPty, OneThreadReadsWhileAnotherWrites)
{
    // The far side sends everything back; the port is written by one thread and
    // read by another at the same time.
    std::atomic<bool> stop{false};
    std::thread echo([&] {
        uint8_t buffer[4096];
        while (!stop.load()) {
            const int n = Pty.Read(buffer, sizeof buffer, 5);
            if (n > 0) {
                ASSERT_EQ(Pty.Write(buffer, n, 5000), 0);
            }
        }
    });

    std::vector<uint8_t> bytes(100000);
    for (size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<uint8_t>((i * 31) ^ (i >> 8));
    std::thread writer([&] {
        for (size_t at = 0; at < bytes.size(); at += 20)
            ASSERT_EQ(Port.Write(bytes.data() + at, 20, 5000), 0);
    });
    const std::vector<uint8_t> got = AtPort(bytes.size(), 20000);
    writer.join();
    stop.store(true);
    echo.join();
    EXPECT_EQ(got, bytes);
}

TEST(SerialPort, MissingDeviceFailsAtOpenWithENOENT)
{
    TSerialPort port;
    EXPECT_EQ(port.Open("/dev/does-not-exist"), TOpen::OpenFailed);
    EXPECT_EQ(port.LastError(), ENOENT);
    EXPECT_FALSE(port.IsOpen());
    EXPECT_EQ(port.Handle(), -1);

    EXPECT_EQ(port.Open("does-not-exist"), TOpen::OpenFailed); // looked up under /dev
    EXPECT_EQ(port.LastError(), ENOENT);
    EXPECT_EQ(port.Open(""), TOpen::OpenFailed);

    uint8_t buffer[4];
    EXPECT_LT(port.Read(buffer, 4), 0);
    EXPECT_NE(port.Write(buffer, 4), 0);
}

TEST(SerialPort, NeverCreatesAFile)
{
    TempDir dir;
    TSerialPort port;
    EXPECT_EQ(port.Open(dir.File("ttyNew")), TOpen::OpenFailed);
    EXPECT_EQ(port.LastError(), ENOENT);
    EXPECT_NE(access(dir.File("ttyNew").c_str(), F_OK), 0);
}

TEST(SerialPort, RegularFileFailsAtConfigureAndIsReleased)
{
    TempDir dir;
    ASSERT_TRUE(WriteWholeFile(dir.File("plain"), "not a terminal"));
    TSerialPort port;
    EXPECT_EQ(port.Open(dir.File("plain")), TOpen::ConfigureFailed);
    EXPECT_EQ(port.LastError(), ENOTTY);
    EXPECT_FALSE(port.IsOpen());
    // Nothing stayed open or locked: a second try fails the same way, not as busy.
    TSerialPort other;
    EXPECT_EQ(other.Open(dir.File("plain")), TOpen::ConfigureFailed);
    EXPECT_EQ(other.LastError(), ENOTTY);
    EXPECT_EQ(ReadWholeFile(dir.File("plain")), "not a terminal");
}

} // namespace
