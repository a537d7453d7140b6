#include "views/TarvenixTrace.h"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <string_view>
#include <new>

#include "core/Logger.h"
#include "platform/BackingStore.h"
#include "platform/Tick.h"
#include "platform/WakeEvent.h"

// Blocks are mapped from a file, so they must fill whole pages (up to 64 KiB ones).
static_assert((TTarvenixTraceList::kBlockSize * sizeof(TTarvenixTraceItem)) % 65536 == 0);

TTarvenixTraceItem::TTarvenixTraceItem(const TCanFrame& frame, bool outgoing)
    : TimeUs(frame.TimeUs), Id(frame.Id), Time(frame.Time), Length(frame.Length), Request(frame.Request),
      Standard(frame.Standard), Outgoing(outgoing)
{
    std::memcpy(Data, frame.Data, 8);
}

TCanFrame TTarvenixTraceItem::AsFrame() const
{
    TCanFrame frame;
    frame.Id = Id;
    frame.Time = Time;
    frame.TimeUs = TimeUs;
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
    // Made in a local buffer and appended once: the find bar formats every line
    // of a long trace, so this is a hot path.
    char buf[112];
    char* p = buf;
    const auto put = [&p](std::string_view text) {
        std::memcpy(p, text.data(), text.size());
        p += text.size();
    };
    put(Outgoing ? "OUT ts: " : "IN  ts: ");
    p = std::to_chars(p, buf + sizeof(buf), Time).ptr;
    put("  id: ");
    p = WriteCanId(p, Id, Standard);
    put("  l: ");
    p = std::to_chars(p, buf + sizeof(buf), Length).ptr;
    if (Request) {
        put("  Request");
    } else {
        put("  data: ");
        const int bytes = CanDataBytes(Length);
        p = WriteDataBytes(p, Data, bytes, ' ');
        if (bytes > 0)
            *p++ = ' ';
    }
    out.append(buf, p);
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
    // Null when memory is exhausted too: the caller stops the trace there.
    return {static_cast<TTarvenixTraceItem*>(::operator new(kBlockBytes, std::nothrow)), -1};
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

void TTarvenixTraceList::BecomeFull(const std::string& why)
{
    if (!Full.empty())
        return;
    Full = why;
    if (Logger)
        Logger->Add(Full);
}

bool TTarvenixTraceList::AddFrame(const TCanFrame& frame, bool outgoing)
{
    tcm::TMutexLock guard(Lock);
    if (Total >= Limit)
        BecomeFull("The trace holds " + std::to_string(Limit) +
                   " entries, as many as it can show: it keeps no more; the capture stops here.");
    if (!Full.empty()) {
        ++Refused;
        return false;
    }
    if (static_cast<size_t>(Total / kBlockSize) >= Blocks.size() && Spare.Items) {
        Blocks.push_back(Spare);
        Spare = TBlock();
    }
    while (static_cast<size_t>(Total / kBlockSize) >= Blocks.size()) {
        const bool inMemory = NextBlockInMemory();
        if (!Store && !inMemory)
            Store = std::make_shared<tcm::TBackingStore>(kBlockBytes, "trace file");
        // A new block is made outside the lock so that readers never wait for it.
        const std::shared_ptr<tcm::TBackingStore> store = inMemory ? nullptr : Store;
        guard.unlock();
        std::string problem;
        const TBlock block =
            inMemory ? TBlock{static_cast<TTarvenixTraceItem*>(::operator new(kBlockBytes, std::nothrow)), -1}
                     : NewBlock(*store, problem);
        guard.lock();
        if (!problem.empty() && !StorageProblemTold) {
            StorageProblemTold = true;
            if (Logger)
                Logger->Add("Trace storage: " + problem + ". New trace entries are kept in memory.");
        }
        if (!block.Items) {
            BecomeFull("Trace storage: no memory is left for new trace entries: the trace keeps no more; the "
                       "capture stops here.");
            ++Refused;
            return false;
        }
        // A file block belongs to the store it came from, which a Clear in
        // between took away with the old entries.
        if (static_cast<size_t>(Total / kBlockSize) >= Blocks.size() && (inMemory || store == Store)) {
            try {
                Blocks.push_back(block);
            } catch (const std::bad_alloc&) {
                FreeBlock(block, store.get());
                BecomeFull("Trace storage: no memory is left for the trace's block table: the trace keeps no "
                           "more; the capture stops here.");
                ++Refused;
                return false;
            }
        } else {
            FreeBlock(block, store.get()); // another writer or a Clear came first
        }
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
    return true;
}

int64_t TTarvenixTraceList::Count() const
{
    tcm::TMutexLock guard(Lock);
    return Total;
}

void TTarvenixTraceList::SetLimit(int64_t maxEntries)
{
    tcm::TMutexLock guard(Lock);
    Limit = maxEntries;
}

bool TTarvenixTraceList::IsFull() const
{
    tcm::TMutexLock guard(Lock);
    return !Full.empty();
}

std::string TTarvenixTraceList::FullText() const
{
    tcm::TMutexLock guard(Lock);
    return Full;
}

int64_t TTarvenixTraceList::TurnedAway() const
{
    tcm::TMutexLock guard(Lock);
    return Refused;
}

void TTarvenixTraceList::StartAt(int64_t index)
{
    tcm::TMutexLock guard(Lock);
    if (Total != 0 || index <= 0)
        return;
    // The blocks before the start count as released: empty slots in the table.
    Released = static_cast<size_t>(index / kBlockSize);
    Blocks.resize(Released);
    Total = First = index;
    // The block holding the start is made by the first AddFrame, like any other.
}

const TTarvenixTraceItem* TTarvenixTraceList::Item(int64_t index) const
{
    tcm::TMutexLock guard(Lock);
    if (index < First || index >= Total)
        return nullptr;
    const TBlock& block = Blocks[static_cast<size_t>(index / kBlockSize)];
    return block.Items ? &block.Items[index % kBlockSize] : nullptr;
}

const TTarvenixTraceItem* TTarvenixTraceList::ItemRun(int64_t index, int64_t& count) const
{
    tcm::TMutexLock guard(Lock);
    count = 0;
    if (index < First || index >= Total)
        return nullptr;
    const TBlock& block = Blocks[static_cast<size_t>(index / kBlockSize)];
    if (!block.Items)
        return nullptr;
    count = std::min<int64_t>(Total - index, kBlockSize - index % kBlockSize);
    return &block.Items[index % kBlockSize];
}

void TTarvenixTraceList::KeepBlocksInMemory(int32_t blocks)
{
    tcm::TMutexLock guard(Lock);
    MemoryBlocks = blocks;
}

bool TTarvenixTraceList::NextBlockInMemory() const
{
    if (MemoryBlocks <= 0)
        return false;
    int32_t held = Spare.Items && Spare.Offset < 0 ? 1 : 0;
    for (size_t b = Released; b < Blocks.size(); ++b)
        held += Blocks[b].Items && Blocks[b].Offset < 0 ? 1 : 0;
    return held < MemoryBlocks;
}

void TTarvenixTraceList::ReleaseBefore(int64_t index)
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
    old->First = First;
    old->Limit = Limit;
    old->Full = Full;
    old->Refused = Refused;
    old->HasReference = HasReference;
    old->ReferenceTick = ReferenceTick;
    old->ReferenceWallUs = ReferenceWallUs;
    Released = 0;
    Total = First = 0;
    Full.clear();
    Refused = 0;
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
    if (item.TimeUs != 0)
        return item.TimeUs;
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
