#pragma once
#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <vector>

#include "platform/Mutex.h"
#include "core/CanGeneral.h"

// One row of the receive table: the frames of one identifier, identifier
// format and frame type.
class TTarvenixTableItem {
public:
    TTarvenixTableItem(uint32_t id, bool standard, bool request);

    // Row key: identifier shifted left by two, bit 0 set for a data frame,
    // bit 1 set for an extended identifier.
    static uint32_t MakeKey(uint32_t id, bool request, bool standard)
    {
        return (id << 2) | (request ? 0u : 1u) | (standard ? 0u : 2u);
    }

    void Update(const TCanFrame& frame);
    // Data byte 0..7; 255 for any other index.
    uint8_t DataByte(int index) const { return index >= 0 && index < 8 ? Data[index] : 0xFF; }

    uint32_t Key;
    uint32_t Id;
    bool Request;
    int32_t Count = 0;
    int32_t Period = 0; // smoothed interval in ms, never negative
    int32_t Length = 0; // latest length, at most 8
    uint8_t Data[8] = {};
    uint32_t LastTime = 0;
    bool Standard;
};

// Key -> place of the row in the table's storage, open addressing with linear
// probing in a power-of-two array kept at most half full: a known key costs
// one probe into a small flat array, however many rows there are. Rows are only ever added, or all removed at once.
class TTarvenixRowIndex {
public:
    static constexpr uint32_t kNone = UINT32_MAX;
    // The place in the rows' storage of the row with `key`, or kNone.
    uint32_t Find(uint32_t key) const;
    // Asks for the memory a Find of `key` starts at, ahead of the Find.
    void Prefetch(uint32_t key) const
    {
        if (!Slots.empty())
            __builtin_prefetch(&Slots[Home(key)]);
    }
    void Add(uint32_t key, uint32_t place);
    void Clear();

private:
    struct TSlot {
        uint32_t Key = 0;
        uint32_t Place = kNone; // kNone: an empty slot
    };
    size_t Home(uint32_t key) const;

    std::vector<TSlot> Slots;
    size_t Used = 0;
    int Shift = 64;
};

// The receive table: rows sorted by key, fed by the reading thread while the
// channel runs. A hash index from key to the row's place in storage finds a
// known identifier in constant time, and a flat array by place gives its
// position in the key order. An insertion only marks the positions from its
// own onwards as stale; they are renumbered in one pass when a stale one is
// next asked for, so filling a table with new identifiers renumbers nothing.
// No lock guards the rows: while the channel runs only the reading thread
// touches them, and the window asks for a clear or rebuild through the
// request flags, which the reading thread carries out.
class TTarvenixTable {
public:
    using TRowChanged = std::function<void(const TTarvenixTableItem& row, int32_t index, bool isNew)>;
    using TNotify = std::function<void()>;

    void AddFrame(const TCanFrame& frame);
    // The row with `key`, or none; `index` gets its position, the insertion
    // position when a larger key exists, or -1 when the row would go last.
    TTarvenixTableItem* Find(uint32_t key, int32_t& index) const;
    int32_t Count() const { return static_cast<int32_t>(Order.size()); }
    TTarvenixTableItem* Item(int32_t index) const;

    void Clear();
    void RequestClear();
    void Rebuild();
    void RequestRebuild();
    // Pending requests, rebuild first; the reading thread calls it between reads.
    void ProcessRequests()
    {
        if (RebuildRequested.load(std::memory_order_relaxed) || ClearRequested.load(std::memory_order_relaxed))
            ProcessPending();
    }
    bool IsClearRequested() const { return ClearRequested.load(); }
    bool IsRebuildRequested() const { return RebuildRequested.load(); }

    // Hooks may be attached or detached from any thread; once a setter
    // returns, no call of the previous callback is still running.
    void SetOnRowChanged(TRowChanged hook);
    void SetOnCleared(TNotify hook);
    void SetOnRebuild(TNotify hook);
    // Told after every request, so that the reading thread wakes to carry it out.
    void SetOnRequest(TNotify hook);

private:
    void ProcessPending();
    TTarvenixTableItem* Insert(const TCanFrame& frame, int32_t index);

    // Position in key order of the row at `place` in Storage.
    int32_t PositionOf(uint32_t place) const;

    // The rows in the order they were made (their places); a deque never moves them.
    std::deque<TTarvenixTableItem> Storage;
    // Key order: the places of the rows, and their keys beside them.
    std::vector<uint32_t> Order;
    std::vector<uint32_t> Keys;
    TTarvenixRowIndex ByKey;
    // Place in Storage -> position in Order; the entries of rows at positions
    // from FirstStale on may be out of date (a later insertion moved them).
    mutable std::vector<int32_t> Positions;
    mutable size_t FirstStale = 0;
    std::atomic<bool> ClearRequested{false};
    std::atomic<bool> RebuildRequested{false};
    tcm::TMutex HookLock; // held for each notification and each hook change
    TRowChanged OnRowChanged TCM_GUARDED_BY(HookLock);
    TNotify OnCleared TCM_GUARDED_BY(HookLock);
    TNotify OnRebuild TCM_GUARDED_BY(HookLock);
    // Its own lock: a request must not wait for a row notification in progress,
    // which may itself wait for the requesting (window) thread.
    tcm::TMutex RequestLock;
    TNotify OnRequest TCM_GUARDED_BY(RequestLock);
};
