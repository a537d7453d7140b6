#include "views/TarvenixTrace.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "core/Logger.h"
#include "platform/BackingStore.h"
#include "platform/Tick.h"
#include "platform/WakeEvent.h"

// Blocks are mapped from a file, so they must fill whole pages (up to 64 KiB ones).
static_assert((TTarvenixTraceList::kBlockSize * sizeof(TTarvenixTraceItem)) % 65536 == 0);

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

TTarvenixTraceList::~TTarvenixTraceList()
{
    for (const TBlock& block : Blocks)
        FreeBlock(block, Store.get());
    FreeBlock(Spare, Store.get());
}

TTarvenixTraceList::TBlock TTarvenixTraceList::NewBlock(tcm::TBackingStore& store, std::string& problem)
{
    const tcm::TBackingStore::TBlock mapped = store.Allocate();
    if (mapped.Address)
        return {static_cast<TTarvenixTraceItem*>(mapped.Address), mapped.Offset};
    problem = store.ErrorText();
    return {static_cast<TTarvenixTraceItem*>(::operator new(kBlockBytes)), -1};
}

void TTarvenixTraceList::FreeBlock(const TBlock& block, tcm::TBackingStore* store)
{
    if (!block.Items)
        return;
    if (block.Offset >= 0)
        store->Free({block.Items, block.Offset});
    else
        ::operator delete(block.Items);
}

void TTarvenixTraceList::SetLogger(TLogger* logger)
{
    tcm::TMutexLock guard(Lock);
    Logger = logger;
}

void TTarvenixTraceList::SetOnAdded(tcm::TWakeEvent* wake)
{
    tcm::TMutexLock guard(Lock);
    Added = wake;
}

void TTarvenixTraceList::AddFrame(const TCanFrame& frame, bool outgoing)
{
    tcm::TMutexLock guard(Lock);
    if (static_cast<size_t>(Total / kBlockSize) >= Blocks.size() && Spare.Items) {
        Blocks.push_back(Spare);
        Spare = TBlock();
    }
    while (static_cast<size_t>(Total / kBlockSize) >= Blocks.size()) {
        if (!Store)
            Store = std::make_shared<tcm::TBackingStore>(kBlockBytes);
        // A new block is made outside the lock so that readers never wait for it.
        const std::shared_ptr<tcm::TBackingStore> store = Store;
        guard.unlock();
        std::string problem;
        const TBlock block = NewBlock(*store, problem);
        guard.lock();
        if (!problem.empty() && !StorageProblemTold) {
            StorageProblemTold = true;
            if (Logger)
                Logger->Add("Trace storage: " + problem + ". New trace entries are kept in memory.");
        }
        if (static_cast<size_t>(Total / kBlockSize) >= Blocks.size() && store == Store)
            Blocks.push_back(block);
        else
            FreeBlock(block, store.get()); // another writer or a Clear came first
    }
    if (!HasReference)
        TakeReference(frame.Time);
    const TBlock& block = Blocks[static_cast<size_t>(Total / kBlockSize)];
    new (&block.Items[Total % kBlockSize]) TTarvenixTraceItem(frame, outgoing);
    ++Total;
    tcm::TWakeEvent* const added = Added;
    std::shared_ptr<tcm::TBackingStore> store;
    tcm::TBackingStore::TBlock full;
    if (Total % kBlockSize == 0 && block.Offset >= 0) {
        // The block is full: its pages may leave memory; the file keeps them.
        full = {block.Items, block.Offset};
        Store->Release(full);
        store = Store;
    }
    guard.unlock();
    if (added)
        added->Signal();
    if (store)
        store->StartWriteOut(full);
}

int32_t TTarvenixTraceList::Count() const
{
    tcm::TMutexLock guard(Lock);
    return Total;
}

const TTarvenixTraceItem* TTarvenixTraceList::Item(int32_t index) const
{
    tcm::TMutexLock guard(Lock);
    if (index < 0 || index >= Total)
        return nullptr;
    const TBlock& block = Blocks[static_cast<size_t>(index / kBlockSize)];
    return block.Items ? &block.Items[index % kBlockSize] : nullptr;
}

void TTarvenixTraceList::ReleaseBefore(int32_t index)
{
    std::vector<TBlock> freed;
    std::shared_ptr<tcm::TBackingStore> store;
    {
        tcm::TMutexLock guard(Lock);
        store = Store;
        const size_t end = static_cast<size_t>(std::min(index, Total) / kBlockSize);
        for (; Released < end && Released < Blocks.size(); ++Released) {
            if (!Spare.Items)
                Spare = Blocks[Released];
            else
                freed.push_back(Blocks[Released]);
            Blocks[Released] = TBlock();
        }
    }
    for (const TBlock& block : freed)
        FreeBlock(block, store.get());
}

void TTarvenixTraceList::Clear()
{
    TakeAll(); // the entries are freed outside the lock
}

std::unique_ptr<TTarvenixTraceList> TTarvenixTraceList::TakeAll()
{
    auto old = std::make_unique<TTarvenixTraceList>();
    tcm::TMutexLock guard(Lock);
    tcm::TMutexLock oldGuard(old->Lock); // no other thread knows `old` yet: never waits
    old->Blocks.swap(Blocks);
    old->Spare = Spare;
    Spare = TBlock();
    old->Store = std::move(Store);
    Store.reset();
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
    tcm::TMutexLock guard(Lock);
    ReferenceTick = tick - kReferenceLeadMs;
    ReferenceWallUs = wallUs - static_cast<int64_t>(kReferenceLeadMs) * 1000;
    HasReference = true;
}

int64_t TTarvenixTraceList::WallTimeUs(const TTarvenixTraceItem& item) const
{
    tcm::TMutexLock guard(Lock);
    if (!HasReference)
        return 0;
    return ReferenceWallUs + static_cast<int64_t>(static_cast<uint32_t>(item.Time - ReferenceTick)) * 1000;
}

size_t TTarvenixTraceList::MemoryUsed() const
{
    tcm::TMutexLock guard(Lock);
    const size_t held = Blocks.size() - Released + (Spare.Items ? 1 : 0);
    return held * kBlockBytes + Blocks.capacity() * sizeof(TBlock) + sizeof(*this);
}
