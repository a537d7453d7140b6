#include "platform/PipeOutput.h"

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace tcm {

int OpenPipeForWriting(const std::string& path)
{
    for (;;) {
        const int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
        if (fd >= 0)
            return fd;
        if (errno != EINTR)
            return -errno;
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
