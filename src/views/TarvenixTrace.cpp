#include "views/TarvenixTrace.h"

#include <algorithm>
#include <cstring>

#include "platform/Tick.h"

TTarvenixTraceItem::TTarvenixTraceItem(const TCanFrame& frame, bool outgoing)
    : Id(frame.Id), Time(frame.Time), Length(frame.Length), Request(frame.Request), Standard(frame.Standard),
      Outgoing(outgoing)
{
    std::memcpy(Data, frame.Data, 8);
}

TCanFrame TTarvenixTraceItem::AsFrame() const
{
    TCanFrame frame;
    frame.Id = Id;
    frame.Time = Time;
    frame.Length = Length;
    std::memcpy(frame.Data, Data, 8);
    frame.Request = Request;
    frame.Standard = Standard;
    return frame;
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
    if (static_cast<size_t>(Total / kBlockSize) >= Blocks.size() && Spare)
        Blocks.push_back(std::move(Spare));
    while (static_cast<size_t>(Total / kBlockSize) >= Blocks.size()) {
        // A new block is allocated outside the lock so that readers never wait for it.
        guard.unlock();
        auto block = std::make_unique<TTarvenixTraceItem[]>(kBlockSize);
        guard.lock();
        if (static_cast<size_t>(Total / kBlockSize) >= Blocks.size())
            Blocks.push_back(std::move(block));
    }
    if (!HasReference)
        TakeReference(frame.Time);
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
    const auto& block = Blocks[static_cast<size_t>(index / kBlockSize)];
    return block ? &block[index % kBlockSize] : nullptr;
}

void TTarvenixTraceList::ReleaseBefore(int32_t index)
{
    std::vector<std::unique_ptr<TTarvenixTraceItem[]>> freed;
    {
        std::lock_guard<std::mutex> guard(Lock);
        const size_t end = static_cast<size_t>(std::min(index, Total) / kBlockSize);
        for (; Released < end && Released < Blocks.size(); ++Released) {
            if (!Spare)
                Spare = std::move(Blocks[Released]);
            else
                freed.push_back(std::move(Blocks[Released]));
        }
    }
}

void TTarvenixTraceList::Clear()
{
    TakeAll(); // the entries are freed outside the lock
}

std::unique_ptr<TTarvenixTraceList> TTarvenixTraceList::TakeAll()
{
    auto old = std::make_unique<TTarvenixTraceList>();
    std::lock_guard<std::mutex> guard(Lock);
    old->Blocks.swap(Blocks);
    old->Spare = std::move(Spare);
    old->Released = Released;
    old->Total = Total;
    old->HasReference = HasReference;
    old->ReferenceTick = ReferenceTick;
    old->ReferenceWallUs = ReferenceWallUs;
    Released = 0;
    Total = 0;
    HasReference = false;
    return old;
}

void TTarvenixTraceList::TakeReference(uint32_t firstTime)
{
    // The reference tick lies a little before the first entry's, so that an
    // entry stamped just before it (a sent frame added after a received one)
    // still maps to its own moment rather than 49.7 days on.
    const tcm::TTickWallClock now = tcm::TickAndWallClock();
    ReferenceTick = firstTime - kReferenceLeadMs;
    ReferenceWallUs = now.WallUs - static_cast<int64_t>(static_cast<uint32_t>(now.Tick - ReferenceTick)) * 1000;
    HasReference = true;
}

void TTarvenixTraceList::SetWallReference(uint32_t tick, int64_t wallUs)
{
    std::lock_guard<std::mutex> guard(Lock);
    ReferenceTick = tick - kReferenceLeadMs;
    ReferenceWallUs = wallUs - static_cast<int64_t>(kReferenceLeadMs) * 1000;
    HasReference = true;
}

int64_t TTarvenixTraceList::WallTimeUs(const TTarvenixTraceItem& item) const
{
    std::lock_guard<std::mutex> guard(Lock);
    if (!HasReference)
        return 0;
    return ReferenceWallUs + static_cast<int64_t>(static_cast<uint32_t>(item.Time - ReferenceTick)) * 1000;
}

size_t TTarvenixTraceList::MemoryUsed() const
{
    std::lock_guard<std::mutex> guard(Lock);
    const size_t held = Blocks.size() - Released + (Spare ? 1 : 0);
    return held * kBlockSize * sizeof(TTarvenixTraceItem) +
           Blocks.capacity() * sizeof(std::unique_ptr<TTarvenixTraceItem[]>) + sizeof(*this);
}
