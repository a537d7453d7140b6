#include "platform/WakeEvent.h"

#include <cerrno>
#include <cstdint>
#include <poll.h>
#include <sys/eventfd.h>
#include <system_error>
#include <unistd.h>

namespace tcm {

TWakeEvent::TWakeEvent() : Fd(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK))
{
    if (Fd < 0)
        throw std::system_error(errno, std::generic_category(), "eventfd");
}

TWakeEvent::~TWakeEvent()
{
    close(Fd);
}

void TWakeEvent::Signal()
{
    const uint64_t one = 1;
    // A full counter (never reached in practice) is still readable: nothing lost.
    (void)!write(Fd, &one, sizeof one);
}

void TWakeEvent::Clear()
{
    uint64_t value = 0;
    (void)!read(Fd, &value, sizeof value);
}

void TWakeEvent::Wait(int timeoutMs, int alsoFd)
{
    pollfd fds[2] = {{Fd, POLLIN, 0}, {alsoFd, 0, 0}}; // a negative descriptor is skipped
    if (poll(fds, 2, timeoutMs) > 0 && (fds[0].revents & POLLIN))
        Clear();
}

} // namespace tcm
