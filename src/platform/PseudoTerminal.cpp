#include "platform/PseudoTerminal.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include "platform/FdIo.h"
#include "platform/WriteAll.h"

namespace tcm {

TPseudoTerminal::TPseudoTerminal() = default;

TPseudoTerminal::~TPseudoTerminal()
{
    Close();
}

bool TPseudoTerminal::Fail(const char* step, int error)
{
    Close();
    ErrorCode = error != 0 ? error : EIO;
    ErrorText = std::string(step) + ": " + std::strerror(ErrorCode) + " (errno " + std::to_string(ErrorCode) + ")";
    return false;
}

bool TPseudoTerminal::Open()
{
    Close();
    Master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (Master < 0)
        return Fail("posix_openpt", errno);
    if (grantpt(Master) != 0)
        return Fail("grantpt", errno);
    if (unlockpt(Master) != 0)
        return Fail("unlockpt", errno);

    char name[128];
    const int nameError = ptsname_r(Master, name, sizeof name);
    if (nameError != 0)
        return Fail("ptsname_r", nameError);

    // The master's own settings govern the bytes coming from the slave.
    if (const int error = fdio::MakeRaw(Master))
        return Fail("raw mode of the master", error);
    if (const int error = fdio::SetNonBlocking(Master))
        return Fail("non-blocking master", error);

    // Held for the object's life: without it the master reports a hang-up
    // (EIO, POLLHUP) whenever no client has the slave open.
    HeldSlave = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
    if (HeldSlave < 0)
        return Fail("opening the slave", errno);
    Slave = name;
    if (const int error = fdio::MakeRaw(HeldSlave))
        return Fail("raw mode of the slave", error);
    return true;
}

bool TPseudoTerminal::IsOpen() const
{
    return Master >= 0;
}

void TPseudoTerminal::Close()
{
    if (Watch >= 0) {
        ::close(Watch);
        Watch = -1;
    }
    Clients = 0;
    if (HeldSlave >= 0) {
        ::close(HeldSlave);
        HeldSlave = -1;
    }
    if (Master >= 0) {
        ::close(Master);
        Master = -1;
    }
    Slave.clear();
}

const std::string& TPseudoTerminal::SlavePath() const
{
    return Slave;
}

int TPseudoTerminal::MasterFd() const
{
    return Master;
}

int TPseudoTerminal::Read(uint8_t* buffer, int size, int timeoutMs)
{
    // The guard's opens and closes end the wait too, and are served at once.
    bool watched = false;
    const int n = fdio::ReadWaiting(Master, buffer, size, timeoutMs, Watch, &watched);
    if (watched)
        ServeClientGuard();
    return n;
}

int TPseudoTerminal::Write(const uint8_t* data, int size, int timeoutMs)
{
    return size < 0 ? EINVAL : WriteAll(Master, data, static_cast<size_t>(size), timeoutMs);
}

int TPseudoTerminal::WriteSome(const uint8_t* data, int size)
{
    for (;;) {
        const ssize_t n = ::write(Master, data, static_cast<size_t>(size));
        if (n >= 0)
            return static_cast<int>(n);
        if (errno == EINTR)
            continue;
        return errno == EAGAIN ? 0 : -errno;
    }
}

void TPseudoTerminal::DiscardPending()
{
    if (HeldSlave < 0)
        return;
    // Flushing on the slave drops what waits for the client (its input) and
    // what the client wrote that the master has not read (its output).
    (void)tcflush(HeldSlave, TCIOFLUSH);
    (void)tcflush(Master, TCIOFLUSH);
}

bool TPseudoTerminal::GuardClient()
{
    if (HeldSlave < 0)
        return Fail("watching the slave", EBADF);
    // Our own descriptor was opened before the watch: only the client's show.
    Watch = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (Watch < 0)
        return Fail("inotify_init1", errno);
    if (::inotify_add_watch(Watch, Slave.c_str(), IN_OPEN | IN_CLOSE) < 0)
        return Fail("watching the slave", errno);
    return true;
}

void TPseudoTerminal::ServeClientGuard()
{
    if (Watch < 0)
        return;
    const int32_t before = Clients;
    alignas(inotify_event) char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(Watch, buffer, sizeof buffer);
        if (n <= 0)
            break;
        for (ssize_t at = 0; at + static_cast<ssize_t>(sizeof(inotify_event)) <= n;) {
            const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
            if (event->mask & IN_OPEN)
                ++Clients;
            if ((event->mask & IN_CLOSE) && Clients > 0)
                --Clients;
            at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
        }
    }
    // A client that set TIOCEXCL itself and left without clearing it must not
    // lock the next one out either: the flag follows the client's presence.
    if ((before > 0) != (Clients > 0))
        (void)::ioctl(HeldSlave, Clients > 0 ? TIOCEXCL : TIOCNXCL);
}

const std::string& TPseudoTerminal::LastError() const
{
    return ErrorText;
}

} // namespace tcm
