#include "views/TarvenixTable.h"

#include <algorithm>
#include <bit>
#include <cstring>

TTarvenixTableItem::TTarvenixTableItem(uint32_t id, bool standard, bool request)
    : Key(MakeKey(id, request, standard)), Id(id), Request(request), Standard(standard)
{
}

void TTarvenixTableItem::Update(const TCanFrame& frame)
{
    ++Count;
    Length = CanDataBytes(frame.Length);
    std::memcpy(Data, frame.Data, static_cast<size_t>(Length));
    if (Count >= 2) {
        const uint32_t delta = frame.Time - LastTime; // wraps with the tick count
        if (Count == 2) {
            Period = static_cast<int32_t>(delta);
        } else {
            // Moving average with weight 1/8 for the new interval, in this exact integer form.
            const uint32_t old = static_cast<uint32_t>(Period);
            Period = static_cast<int32_t>(delta / 8 + old - old / 8);
        }
        if (Period < 0)
            Period = 0;
    }
    LastTime = frame.Time;
}

size_t TTarvenixRowIndex::Home(uint32_t key) const
{
    // Fibonacci hashing: the top bits of the product spread neighbouring identifiers.
    return static_cast<size_t>((static_cast<uint64_t>(key) * 0x9E3779B97F4A7C15ull) >> Shift);
}

uint32_t TTarvenixRowIndex::Find(uint32_t key) const
{
    if (Slots.empty())
        return kNone;
    const size_t mask = Slots.size() - 1;
    for (size_t at = Home(key);; at = (at + 1) & mask) {
        const TSlot& slot = Slots[at];
        if (slot.Place == kNone || slot.Key == key)
            return slot.Place;
    }
}

void TTarvenixRowIndex::Add(uint32_t key, uint32_t place)
{
    if ((Used + 1) * 2 > Slots.size()) {
        std::vector<TSlot> old;
        old.swap(Slots);
        const size_t size = old.empty() ? 64 : old.size() * 2;
        Slots.assign(size, TSlot{});
        Shift = 64 - std::countr_zero(size);
        Used = 0;
        for (const TSlot& slot : old)
            if (slot.Place != kNone)
                Add(slot.Key, slot.Place);
    }
    const size_t mask = Slots.size() - 1;
    size_t at = Home(key);
    while (Slots[at].Place != kNone)
        at = (at + 1) & mask;
    Slots[at] = {key, place};
    ++Used;
}

void TTarvenixRowIndex::Clear()
{
    Slots.clear();
    Used = 0;
}

int32_t TTarvenixTable::PositionOf(uint32_t place) const
{
    // A row numbered before the first stale position has not moved since.
    if (static_cast<size_t>(Positions[place]) >= FirstStale) {
        for (size_t i = FirstStale; i < Order.size(); ++i)
            Positions[Order[i]] = static_cast<int32_t>(i);
        FirstStale = Order.size();
    }
    return Positions[place];
}

TTarvenixTableItem* TTarvenixTable::Find(uint32_t key, int32_t& index) const
{
    const uint32_t place = ByKey.Find(key);
    if (place != TTarvenixRowIndex::kNone) {
        index = PositionOf(place);
        return const_cast<TTarvenixTableItem*>(&Storage[place]);
    }
    const auto later = std::upper_bound(Keys.begin(), Keys.end(), key);
    index = later == Keys.end() ? -1 : static_cast<int32_t>(later - Keys.begin());
    return nullptr;
}

TTarvenixTableItem* TTarvenixTable::Insert(const TCanFrame& frame, int32_t index)
{
    TTarvenixTableItem& row = Storage.emplace_back(frame.Id, frame.Standard, frame.Request);
    const auto place = static_cast<uint32_t>(Storage.size() - 1);
    ByKey.Add(row.Key, place);
    Order.insert(Order.begin() + index, place);
    Keys.insert(Keys.begin() + index, row.Key);
    // The rows from this position on moved by one: their positions are stale
    // (the new row's own too, which costs at most one early renumbering).
    Positions.push_back(index);
    FirstStale = std::min(FirstStale, static_cast<size_t>(index));
    return &row;
}

TTarvenixTableItem* TTarvenixTable::Item(int32_t index) const
{
    if (index < 0 || index >= Count())
        return nullptr;
    return const_cast<TTarvenixTableItem*>(&Storage[Order[static_cast<size_t>(index)]]);
}

void TTarvenixTable::AddFrame(const TCanFrame& frame)
{
    int32_t index = -1;
    TTarvenixTableItem* row = Find(TTarvenixTableItem::MakeKey(frame.Id, frame.Request, frame.Standard), index);
    const bool isNew = row == nullptr;
    if (isNew) {
        if (index < 0)
            index = Count();
        row = Insert(frame, index);
    }
    row->Update(frame);

    tcm::TMutexLock guard(HookLock);
    if (OnRowChanged)
        OnRowChanged(*row, index, isNew);
}

void TTarvenixTable::Clear()
{
    Order.clear();
    Keys.clear();
    Positions.clear();
    FirstStale = 0;
    Storage.clear();
    ByKey.Clear();
    ClearRequested.store(false);
    tcm::TMutexLock guard(HookLock);
    if (OnCleared)
        OnCleared();
}

void TTarvenixTable::Rebuild()
{
    RebuildRequested.store(false);
    tcm::TMutexLock guard(HookLock);
    if (OnRebuild)
        OnRebuild();
}

void TTarvenixTable::RequestClear()
{
    ClearRequested.store(true);
    tcm::TMutexLock guard(RequestLock);
    if (OnRequest)
        OnRequest();
}

void TTarvenixTable::RequestRebuild()
{
    RebuildRequested.store(true);
    tcm::TMutexLock guard(RequestLock);
    if (OnRequest)
        OnRequest();
}

void TTarvenixTable::SetOnRequest(TNotify hook)
{
    tcm::TMutexLock guard(RequestLock);
    OnRequest = std::move(hook);
}

void TTarvenixTable::ProcessPending()
{
    if (RebuildRequested.load())
        Rebuild();
    if (ClearRequested.load())
        Clear();
}

void TTarvenixTable::SetOnRowChanged(TRowChanged hook)
{
    tcm::TMutexLock guard(HookLock);
    OnRowChanged = std::move(hook);
}

void TTarvenixTable::SetOnCleared(TNotify hook)
{
    tcm::TMutexLock guard(HookLock);
    OnCleared = std::move(hook);
}

void TTarvenixTable::SetOnRebuild(TNotify hook)
{
    tcm::TMutexLock guard(HookLock);
    OnRebuild = std::move(hook);
}
