#include "views/TarvenixTrace.h"

#include <cstdio>
#include <cstring>

TTarvenixTraceItem::TTarvenixTraceItem(const TCanFrame& frame, bool outgoing)
    : Id(frame.Id), Time(frame.Time), Length(frame.Length), Request(frame.Request), Standard(frame.Standard),
      Outgoing(outgoing)
{
    std::memcpy(Data, frame.Data, 8);
}

std::string FormatCanId(uint32_t id, bool standard)
{
    char buf[12];
    std::snprintf(buf, sizeof(buf), standard ? "%03X" : "%08X", id);
    return buf;
}

std::string TTarvenixTraceItem::FormatLine() const
{
    static const char kHex[] = "0123456789ABCDEF";
    char buf[96];
    int n = std::snprintf(buf, sizeof(buf), "%s ts: %u  id: %s  l: %d  ", Outgoing ? "OUT" : "IN ", Time,
                          FormatCanId(Id, Standard).c_str(), Length);
    if (Request) {
        std::memcpy(buf + n, "Request", 7);
        n += 7;
    } else {
        std::memcpy(buf + n, "data: ", 6);
        n += 6;
        for (int i = 0; i < CanDataBytes(Length); ++i) {
            buf[n++] = kHex[Data[i] >> 4];
            buf[n++] = kHex[Data[i] & 0x0F];
            buf[n++] = ' ';
        }
    }
    return std::string(buf, static_cast<size_t>(n));
}

void TTarvenixTraceList::AddFrame(const TCanFrame& frame, bool outgoing)
{
    std::unique_lock<std::mutex> guard(Lock);
    while (static_cast<size_t>(Total / kBlockSize) >= Blocks.size()) {
        // A new block is allocated outside the lock so that readers never wait for it.
        guard.unlock();
        auto block = std::make_unique<TTarvenixTraceItem[]>(kBlockSize);
        guard.lock();
        if (static_cast<size_t>(Total / kBlockSize) >= Blocks.size())
            Blocks.push_back(std::move(block));
    }
    Blocks[static_cast<size_t>(Total / kBlockSize)][Total % kBlockSize] = TTarvenixTraceItem(frame, outgoing);
    ++Total;
}

int32_t TTarvenixTraceList::Count() const
{
    std::lock_guard<std::mutex> guard(Lock);
    return Total;
}

const TTarvenixTraceItem* TTarvenixTraceList::Item(int32_t index) const
{
    std::lock_guard<std::mutex> guard(Lock);
    if (index < 0 || index >= Total)
        return nullptr;
    return &Blocks[static_cast<size_t>(index / kBlockSize)][index % kBlockSize];
}

void TTarvenixTraceList::Clear()
{
    std::vector<std::unique_ptr<TTarvenixTraceItem[]>> old;
    {
        std::lock_guard<std::mutex> guard(Lock);
        old.swap(Blocks);
        Total = 0;
    }
}

size_t TTarvenixTraceList::MemoryUsed() const
{
    std::lock_guard<std::mutex> guard(Lock);
    return Blocks.size() * kBlockSize * sizeof(TTarvenixTraceItem) +
           Blocks.capacity() * sizeof(std::unique_ptr<TTarvenixTraceItem[]>) + sizeof(*this);
}
