#include "views/TarvenixTrace.h"

#include <cstring>

TTarvenixTraceItem::TTarvenixTraceItem(const TCanFrame& frame, bool outgoing)
    : Id(frame.Id), Time(frame.Time), Length(frame.Length), Request(frame.Request), Standard(frame.Standard),
      Outgoing(outgoing)
{
    std::memcpy(Data, frame.Data, 8);
}

std::string TTarvenixTraceItem::FormatLine() const
{
    std::string line;
    line.reserve(64);
    AppendLine(line);
    return line;
}

void TTarvenixTraceItem::AppendLine(std::string& out) const
{
    out += Outgoing ? "OUT ts: " : "IN  ts: ";
    AppendDecimal(out, Time);
    out += "  id: ";
    AppendCanId(out, Id, Standard);
    out += "  l: ";
    AppendDecimal(out, Length);
    if (Request) {
        out += "  Request";
    } else {
        out += "  data: ";
        const int bytes = CanDataBytes(Length);
        AppendDataBytes(out, Data, bytes, ' ');
        if (bytes > 0)
            out += ' ';
    }
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
