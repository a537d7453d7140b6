#include "SimOutput.h"

#include <poll.h>

#include <cerrno>
#include <chrono>

#include "platform/PseudoTerminal.h"

bool TSimOutputQueue::Push(const uint8_t* bytes, size_t size)
{
    if (size > MaxBytes - Bytes)
        return false;
    Units.emplace_back(bytes, bytes + size);
    Bytes += size;
    return true;
}

std::vector<uint8_t> TSimOutputQueue::Pop()
{
    std::vector<uint8_t> unit = std::move(Units.front());
    Units.pop_front();
    Bytes -= unit.size();
    return unit;
}

void TSimOutputQueue::Clear()
{
    Units.clear();
    Bytes = 0;
}

void TSimBatch::Begin()
{
    Bytes.clear();
    Units.clear();
    StartsWithCarry = !Carry.empty();
    if (StartsWithCarry) {
        Add(Carry, CarryKind);
        Carry.clear();
    }
}

void TSimBatch::Add(const std::vector<uint8_t>& bytes, TKind kind)
{
    Bytes.insert(Bytes.end(), bytes.begin(), bytes.end());
    Units.push_back({Bytes.size(), kind});
}

TSimBatch::TSettled TSimBatch::Settle(size_t written)
{
    TSettled settled;
    size_t start = 0;
    for (const TUnit& unit : Units) {
        const bool frame = unit.Kind == TKind::Frame;
        // The carry is on the wire in part already, even when none of it was written now.
        const bool started = start < written || (start == 0 && StartsWithCarry);
        if (unit.End <= written) {
            settled.FramesWritten += frame ? 1 : 0;
        } else if (started) {
            // Cut part-way: its rest goes first next time.
            Carry.assign(Bytes.begin() + static_cast<std::ptrdiff_t>(written),
                         Bytes.begin() + static_cast<std::ptrdiff_t>(unit.End));
            CarryKind = unit.Kind;
        } else if (frame) {
            ++settled.FramesDropped;
        } else {
            settled.QueuedDropped += unit.End - start;
        }
        start = unit.End;
    }
    return settled;
}

void TSimBatch::DropCarry()
{
    Carry.clear();
}

int WriteCounted(tcm::TPseudoTerminal& pty, const uint8_t* data, size_t size, int timeoutMs, size_t& written)
{
    using TClock = std::chrono::steady_clock;
    const auto deadline = TClock::now() + std::chrono::milliseconds(timeoutMs);
    written = 0;
    while (written < size) {
        const int n = pty.WriteSome(data + written, static_cast<int>(size - written));
        if (n < 0)
            return -n;
        if (n > 0) {
            written += static_cast<size_t>(n);
            continue;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - TClock::now()).count();
        if (left <= 0)
            return ETIMEDOUT;
        pollfd p{pty.MasterFd(), POLLOUT, 0};
        const int ready = ::poll(&p, 1, static_cast<int>(left));
        if (ready < 0 && errno != EINTR)
            return errno;
        if (ready > 0 && (p.revents & POLLOUT) == 0)
            return (p.revents & POLLNVAL) ? EBADF : EIO;
    }
    return 0;
}
