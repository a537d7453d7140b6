#include "views/TarvenixTable.h"

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

TTarvenixTableItem* TTarvenixTable::Find(uint32_t key, int32_t& index) const
{
    const int32_t count = Count();
    for (int32_t i = 0; i < count; ++i) {
        const uint32_t k = Items[static_cast<size_t>(i)]->Key;
        if (k == key) {
            index = i;
            return Items[static_cast<size_t>(i)].get();
        }
        if (k > key) {
            index = i;
            return nullptr;
        }
    }
    index = -1;
    return nullptr;
}

TTarvenixTableItem* TTarvenixTable::Item(int32_t index) const
{
    if (index < 0 || index >= Count())
        return nullptr;
    return Items[static_cast<size_t>(index)].get();
}

void TTarvenixTable::AddFrame(const TCanFrame& frame)
{
    int32_t index = -1;
    TTarvenixTableItem* row = Find(TTarvenixTableItem::MakeKey(frame.Id, frame.Request, frame.Standard), index);
    const bool isNew = row == nullptr;
    if (isNew) {
        auto created = std::make_unique<TTarvenixTableItem>(frame.Id, frame.Standard, frame.Request);
        row = created.get();
        if (index < 0) {
            index = Count();
            Items.push_back(std::move(created));
        } else {
            Items.insert(Items.begin() + index, std::move(created));
        }
    }
    row->Update(frame);

    std::lock_guard<std::mutex> guard(HookLock);
    if (OnRowChanged)
        OnRowChanged(*row, index, isNew);
}

void TTarvenixTable::Clear()
{
    Items.clear();
    ClearRequested.store(false);
    std::lock_guard<std::mutex> guard(HookLock);
    if (OnCleared)
        OnCleared();
}

void TTarvenixTable::Rebuild()
{
    RebuildRequested.store(false);
    std::lock_guard<std::mutex> guard(HookLock);
    if (OnRebuild)
        OnRebuild();
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
    std::lock_guard<std::mutex> guard(HookLock);
    OnRowChanged = std::move(hook);
}

void TTarvenixTable::SetOnCleared(TNotify hook)
{
    std::lock_guard<std::mutex> guard(HookLock);
    OnCleared = std::move(hook);
}

void TTarvenixTable::SetOnRebuild(TNotify hook)
{
    std::lock_guard<std::mutex> guard(HookLock);
    OnRebuild = std::move(hook);
}
