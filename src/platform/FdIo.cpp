#include "platform/FdIo.h"

#include "platform/WriteAll.h"

#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace tcm::fdio {
namespace {

using TClock = std::chrono::steady_clock;

// Milliseconds left until `deadline`, rounded up so that a wait never ends early.
int RemainingMs(TClock::time_point deadline)
{
    const auto left = deadline - TClock::now();
    if (left <= TClock::duration::zero())
        return 0;
    const auto ms = std::chrono::ceil<std::chrono::milliseconds>(left).count();
    return ms > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(ms);
}

} // namespace

int ReadWaiting(int fd, uint8_t* buffer, int size, int timeoutMs, int wakeFd, bool* woken)
{
    if (woken)
        *woken = false;
    if (fd < 0)
        return -EBADF;
    if (size < 0 || (size > 0 && buffer == nullptr))
        return -EINVAL;
    if (size == 0)
        return 0;

    const bool unlimited = timeoutMs < 0;
    const TClock::time_point deadline = TClock::now() + std::chrono::milliseconds(unlimited ? 0 : timeoutMs);
    for (;;) {
        pollfd fds[2] = {{fd, POLLIN, 0}, {wakeFd, POLLIN, 0}};
        const int ready = poll(fds, wakeFd >= 0 ? 2 : 1, unlimited ? -1 : RemainingMs(deadline));
        if (ready < 0) {
            if (errno == EINTR)
                continue;
            return -errno;
        }
        if (ready == 0)
            return 0;
        if (woken && wakeFd >= 0 && fds[1].revents != 0)
            *woken = true;
        const pollfd& p = fds[0];
        if (p.revents == 0)
            return 0; // woken
        if (p.revents & POLLNVAL)
            return -EBADF;
        if (p.revents & POLLIN) {
            const ssize_t n = read(fd, buffer, static_cast<size_t>(size));
            if (n > 0)
                return static_cast<int>(n);
            if (n == 0)
                return -EIO; // end of file right after "readable": the far side is gone
            if (errno == EINTR)
                continue;
            if (errno == EAGAIN) {
                // Taken by someone else or a spurious wake-up: wait for the rest of the time.
                if (!unlimited && RemainingMs(deadline) == 0)
                    return 0;
                continue;
            }
            return -errno;
        }
        // POLLHUP or POLLERR without POLLIN: nothing will come any more. The read
        // names the error (a vanished device says EIO); data still there is taken.
        const ssize_t n = read(fd, buffer, static_cast<size_t>(size));
        if (n > 0)
            return static_cast<int>(n);
        if (n < 0 && errno != EAGAIN && errno != EINTR)
            return -errno;
        return -EIO;
    }
}

void SetRawMode(termios& tio)
{
    cfmakeraw(&tio);
    tio.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY | INPCK | IMAXBEL);
    tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
    tio.c_cflag |= CS8 | CLOCAL | CREAD;
    tio.c_cc[VMIN] = 1;
    tio.c_cc[VTIME] = 0;
}

int MakeRaw(int fd)
{
    termios tio{};
    if (tcgetattr(fd, &tio) != 0)
        return errno;
    SetRawMode(tio);
    if (tcsetattr(fd, TCSANOW, &tio) != 0)
        return errno;
    return 0;
}

int SetNonBlocking(int fd)
{
    const int flags = fcntl(fd, F_GETFL);
    if (flags < 0)
        return errno;
    if (!(flags & O_NONBLOCK) && fcntl(fd, F_SETFL, flags | O_NONBLOCK) != 0)
        return errno;
    return 0;
}

} // namespace tcm::fdio

namespace tcm {

using fdio::RemainingMs;
using fdio::TClock;

int WriteAll(int fd, const void* data, size_t size, int timeoutMs, size_t* written)
{
    size_t done = 0;
    const int error = [&] {
        if (fd < 0)
            return EBADF;
        if (size > 0 && data == nullptr)
            return EINVAL;
        const auto* bytes = static_cast<const uint8_t*>(data);
        const bool limited = timeoutMs >= 0;
        const TClock::time_point deadline = TClock::now() + std::chrono::milliseconds(limited ? timeoutMs : 0);
        while (done < size) {
            const ssize_t n = write(fd, bytes + done, size - done);
            if (n > 0) {
                done += static_cast<size_t>(n);
                continue;
            }
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK)
                return errno;
            if (n == 0)
                return EIO;

            // No room: wait for some, within what is left of the time.
            const int left = limited ? RemainingMs(deadline) : -1;
            if (left == 0)
                return ETIMEDOUT;
            pollfd p{fd, POLLOUT, 0};
            const int ready = poll(&p, 1, left);
            if (ready < 0) {
                if (errno == EINTR)
                    continue;
                return errno;
            }
            if (ready == 0)
                return ETIMEDOUT;
            if (p.revents & POLLNVAL)
                return EBADF;
            if ((p.revents & (POLLERR | POLLHUP)) && !(p.revents & POLLOUT)) {
                // Let the write itself name the error; a device that is gone says EIO.
                const ssize_t again = write(fd, bytes + done, size - done);
                if (again > 0) {
                    done += static_cast<size_t>(again);
                    continue;
                }
                return (again < 0 && errno != EAGAIN && errno != EINTR) ? errno : EIO;
            }
        }
        return 0;
    }();
    if (written)
        *written = done;
    return error;
}

} // namespace tcm
