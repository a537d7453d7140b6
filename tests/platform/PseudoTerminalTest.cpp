#include <gtest/gtest.h>

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include "PtyTestSupport.h"
#include "platform/PseudoTerminal.h"
#include "platform/SerialPort.h"

using tcm::TPseudoTerminal;
using tcm::TSerialPort;

namespace {

// Reads from a plain descriptor with the Read convention.
int ReadFd(int fd, uint8_t* buffer, int size, int timeoutMs)
{
    pollfd p{fd, POLLIN, 0};
    const int ready = poll(&p, 1, timeoutMs);
    if (ready <= 0)
        return ready;
    const ssize_t n = read(fd, buffer, static_cast<size_t>(size));
    return n < 0 ? -errno : static_cast<int>(n);
}

std::vector<uint8_t> FromMaster(TPseudoTerminal& pty, size_t count, int limitMs = 5000)
{
    return Collect([&](uint8_t* b, int s, int t) { return pty.Read(b, s, t); }, count, limitMs);
}

TEST(PseudoTerminal, OpenGivesASlavePathAndCloseEndsIt)
{
    TPseudoTerminal pty;
    ASSERT_TRUE(pty.Open()) << pty.LastError();
    EXPECT_GE(pty.MasterFd(), 0);
    EXPECT_EQ(pty.SlavePath().rfind("/dev/pts/", 0), 0u) << pty.SlavePath();

    pty.Close();
    EXPECT_FALSE(pty.IsOpen());
    EXPECT_TRUE(pty.SlavePath().empty());
    uint8_t buffer[4];
    EXPECT_EQ(pty.Read(buffer, 4), -EBADF);
    EXPECT_EQ(pty.Write(buffer, 4), EBADF);
}

TEST(PseudoTerminal, SlaveIsRawForAClientThatConfiguresNothing)
{
    TPseudoTerminal pty;
    ASSERT_TRUE(pty.Open()) << pty.LastError();
    const int client = open(pty.SlavePath().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(client, 0);

    const std::vector<uint8_t> bytes = AllByteValues();
    ASSERT_EQ(pty.Write(bytes.data(), static_cast<int>(bytes.size())), 0);
    EXPECT_EQ(Collect([&](uint8_t* b, int s, int t) { return ReadFd(client, b, s, t); }, bytes.size()), bytes);
    // No echo back to the master, no CR/LF translation on the client's writes.
    uint8_t extra[16];
    EXPECT_EQ(pty.Read(extra, sizeof extra, 30), 0);
    ASSERT_EQ(write(client, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    EXPECT_EQ(FromMaster(pty, bytes.size()), bytes);
    close(client);
}

TEST(PseudoTerminal, MasterKeepsWorkingBeforeDuringAndAfterAClient)
{
    TPseudoTerminal pty;
    ASSERT_TRUE(pty.Open()) << pty.LastError();
    uint8_t buffer[64];

    // No client yet: quiet, not broken.
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(pty.Read(buffer, sizeof buffer, 5), 0);

    const uint8_t first[] = {0x10, 0x20, 0x30};
    {
        TSerialPort client;
        ASSERT_EQ(client.Open(pty.SlavePath()), TSerialPort::TOpenResult::Ok) << client.LastError();
        ASSERT_EQ(client.Write(first, 3), 0);
        EXPECT_EQ(FromMaster(pty, 3), std::vector<uint8_t>(first, first + 3));
    }

    // The client has gone: still quiet, not a hang-up, and writing still works.
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(pty.Read(buffer, sizeof buffer, 5), 0);
    const uint8_t stale[] = {0xEE, 0xEE};
    EXPECT_EQ(pty.Write(stale, 2), 0);

    // What waited for the next client can be dropped; a new client then sees only new bytes.
    pty.DiscardPending();
    TSerialPort next;
    ASSERT_EQ(next.Open(pty.SlavePath()), TSerialPort::TOpenResult::Ok) << next.LastError();
    const uint8_t fresh[] = {0x01, 0x02};
    ASSERT_EQ(pty.Write(fresh, 2), 0);
    EXPECT_EQ(Collect([&](uint8_t* b, int s, int t) { return next.Read(b, s, t); }, 2),
              std::vector<uint8_t>(fresh, fresh + 2));
    EXPECT_EQ(next.Read(buffer, sizeof buffer, 30), 0);
}

} // namespace
