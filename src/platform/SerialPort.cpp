#include "platform/SerialPort.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include "platform/FdIo.h"
#include "platform/WakeEvent.h"
#include "platform/WriteAll.h"

namespace tcm {

TSerialPort::TSerialPort() = default;

TSerialPort::~TSerialPort()
{
    Close();
}

std::string PortAccessHint(int errorNumber)
{
    if (errorNumber != EACCES && errorNumber != EPERM)
        return {};
    // Serial devices belong to the group dialout; a new membership counts only
    // in a new login session.
    return "To get access to serial ports, make your user a member of the group dialout "
           "(sudo usermod -aG dialout $USER), then log out and log in again.";
}

std::string TSerialPort::DevicePath(const std::string& name)
{
    if (!name.empty() && name[0] == '/')
        return name;
    return "/dev/" + name;
}

TSerialPort::TOpenResult TSerialPort::Fail(TOpenResult stage, int error)
{
    if (Fd >= 0) {
        ::close(Fd);
        Fd = -1;
    }
    Error = error != 0 ? error : EIO;
    return stage;
}

TSerialPort::TOpenResult TSerialPort::Open(const std::string& name)
{
    Close();
    if (name.empty())
        return Fail(TOpenResult::OpenFailed, ENOENT);

    // O_NONBLOCK keeps open from waiting for a carrier; it also stays on, since
    // every read and write waits through poll.
    const std::string path = DevicePath(name);
    Fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
    if (Fd < 0)
        return Fail(TOpenResult::OpenFailed, errno);

    // The lock belongs to this open file description, so a second opening fails
    // here even in the same process, and even for root, whom TIOCEXCL lets in.
    if (::flock(Fd, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        return Fail(TOpenResult::OpenFailed, (error == EWOULDBLOCK || error == EAGAIN) ? EBUSY : error);
    }

    termios tio{};
    if (::tcgetattr(Fd, &tio) != 0)
        return Fail(TOpenResult::ConfigureFailed, errno); // not a terminal

    if (::ioctl(Fd, TIOCEXCL) != 0)
        return Fail(TOpenResult::OpenFailed, errno);

    fdio::SetRawMode(tio);
    if (cfsetispeed(&tio, B2000000) != 0 || cfsetospeed(&tio, B2000000) != 0)
        return Fail(TOpenResult::ConfigureFailed, errno);
    if (::tcsetattr(Fd, TCSANOW, &tio) != 0)
        return Fail(TOpenResult::ConfigureFailed, errno);

    // DTR and RTS are not driven. Pseudo-terminals have no modem lines and refuse.
    int lines = TIOCM_DTR | TIOCM_RTS;
    (void)::ioctl(Fd, TIOCMBIC, &lines);
    return TOpenResult::Ok;
}

bool TSerialPort::IsOpen() const
{
    return Fd >= 0;
}

void TSerialPort::Close()
{
    if (Fd < 0)
        return;
    // The exclusive flag lives in the terminal, not in this descriptor: when
    // someone else keeps the device open (a simulator holding its pty slave), it
    // would lock out the next unprivileged opening. The flock ends with close.
    (void)::ioctl(Fd, TIOCNXCL);
    ::close(Fd);
    Fd = -1;
}

int TSerialPort::LastError() const
{
    return Error;
}

int TSerialPort::Read(uint8_t* buffer, int size, int timeoutMs, const TWakeEvent* wake)
{
    return fdio::ReadWaiting(Fd, buffer, size, timeoutMs, wake ? wake->Handle() : -1);
}

int TSerialPort::Write(const uint8_t* data, int size, int timeoutMs)
{
    return size < 0 ? EINVAL : WriteAll(Fd, data, static_cast<size_t>(size), timeoutMs);
}

int TSerialPort::Handle() const
{
    return Fd;
}

} // namespace tcm
