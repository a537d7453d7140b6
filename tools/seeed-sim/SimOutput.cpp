#include "SimOutput.h"

#include <poll.h>

#include <cerrno>
#include <chrono>

#include "platform/PseudoTerminal.h"
#include "platform/WriteAll.h"

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

int WriteCounted(tcm::TPseudoTerminal& pty, const uint8_t* data, size_t size, int timeoutMs, size_t& written)
{
    return tcm::WriteAll(pty.MasterFd(), data, size, timeoutMs, &written);
}
