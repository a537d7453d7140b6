#pragma once
// The computer's side of a simulated adapter in tests: the slave of its
// pseudo-terminal opened with plain POSIX calls, raw, as a serial port would be.
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "seeed/SeeedPacket.h"
#include "seeed/SeeedPacketParser.h"

class TTestPort {
public:
    TTestPort() = default;
    explicit TTestPort(const std::string& path) { Open(path); }
    ~TTestPort() { Close(); }
    TTestPort(const TTestPort&) = delete;
    TTestPort& operator=(const TTestPort&) = delete;

    bool Open(const std::string& path)
    {
        Close();
        Fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (Fd < 0)
            return false;
        termios t{};
        if (::tcgetattr(Fd, &t) == 0) {
            ::cfmakeraw(&t);
            ::tcsetattr(Fd, TCSANOW, &t);
        }
        return true;
    }
    void Close()
    {
        if (Fd >= 0)
            ::close(Fd);
        Fd = -1;
    }
    bool IsOpen() const { return Fd >= 0; }
    int Handle() const { return Fd; }

    bool Write(const std::vector<uint8_t>& bytes) const
    {
        size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t n = ::write(Fd, bytes.data() + done, bytes.size() - done);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                return false;
            done += static_cast<size_t>(n);
        }
        return true;
    }
    bool Write(const TSeeedPacketCustom& packet) const
    {
        return Write(std::vector<uint8_t>(packet.Wire(), packet.Wire() + packet.Size()));
    }

    // Appends what arrives within `timeoutMs` of waiting for the first byte; returns
    // the count, 0 on time-out, -1 on a hang-up or error.
    int ReadSome(std::vector<uint8_t>& out, int timeoutMs, size_t max = 65536) const
    {
        pollfd p{Fd, POLLIN, 0};
        const int r = ::poll(&p, 1, timeoutMs);
        if (r == 0)
            return 0;
        if (r < 0 || (p.revents & POLLIN) == 0)
            return -1;
        const size_t start = out.size();
        out.resize(start + max);
        const ssize_t n = ::read(Fd, out.data() + start, max);
        out.resize(start + (n > 0 ? static_cast<size_t>(n) : 0));
        return n > 0 ? static_cast<int>(n) : -1;
    }

    // Reads until `count` bytes have arrived or `timeoutMs` has passed in all.
    std::vector<uint8_t> ReadExactly(size_t count, int timeoutMs) const
    {
        std::vector<uint8_t> out;
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (out.size() < count) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now()).count();
            if (left <= 0 || ReadSome(out, static_cast<int>(left), count - out.size()) < 0)
                break;
        }
        return out;
    }

private:
    int Fd = -1;
};

// Everything a test port received, parsed as the computer parses it.
struct TReceivedStream {
    std::vector<uint8_t> Bytes;
    std::vector<TCanFrame> Frames;
    TSeeedPacketParser Parser;

    TReceivedStream()
    {
        Parser.SetOnFrame([this](const TCanFrame& f) { Frames.push_back(f); });
    }
    // Reads until `frames` frames were found or `timeoutMs` has passed in all.
    void ReadFrames(const TTestPort& port, size_t frames, int timeoutMs)
    {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (Frames.size() < frames) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now()).count();
            if (left <= 0)
                break;
            ReadFor(port, static_cast<int>(left));
        }
    }
    // One read of whatever is waiting (up to `timeoutMs` for the first byte).
    int ReadFor(const TTestPort& port, int timeoutMs)
    {
        const size_t start = Bytes.size();
        const int n = port.ReadSome(Bytes, timeoutMs);
        for (size_t i = start; i < Bytes.size(); ++i)
            Parser.PutByte(Bytes[i]);
        return n;
    }
};

inline std::vector<uint8_t> WireBytes(const TSeeedPacketCustom& packet)
{
    return std::vector<uint8_t>(packet.Wire(), packet.Wire() + packet.Size());
}

// The probe frame the computer sends while starting a channel: standard 0x7A5, eight zero bytes.
inline TCanFrame Probe()
{
    TCanFrame f;
    f.Id = 0x7A5;
    f.Standard = true;
    f.Length = 8;
    return f;
}
