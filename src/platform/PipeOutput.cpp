#include "platform/PipeOutput.h"

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace tcm {

int OpenPipeForWriting(const std::string& path, const std::function<bool()>& stop)
{
    constexpr int kLookMs = 20;
    // Opening a fifo without a reader fails at once with ENXIO when it does not
    // block, so the wait is a short retry loop that can be told to stop.
    for (;;) {
        const int fd = ::open(path.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        if (fd >= 0) {
            const int flags = ::fcntl(fd, F_GETFL);
            if (flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
                const int error = errno;
                ::close(fd);
                return -error;
            }
            return fd;
        }
        if (errno != ENXIO && errno != EINTR)
            return -errno;
        if (stop())
            return -EINTR;
        ::poll(nullptr, 0, kLookMs);
    }
}

bool IsPipeReaderGone(int fd)
{
    pollfd p{fd, POLLOUT, 0};
    // A pipe whose reader closed reports POLLERR to its writer.
    return ::poll(&p, 1, 0) > 0 && (p.revents & (POLLERR | POLLNVAL)) != 0;
}

void CloseDescriptor(int fd)
{
    if (fd >= 0)
        ::close(fd);
}

} // namespace tcm
