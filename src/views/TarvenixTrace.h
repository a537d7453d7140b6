#pragma once
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "core/CanGeneral.h"
#include "core/FrameText.h"

// One trace entry: a received or sent frame, never changed after creation.
class TTarvenixTraceItem {
public:
    TTarvenixTraceItem() = default;
    TTarvenixTraceItem(const TCanFrame& frame, bool outgoing);

    // The entry's text line, e.g. "IN  ts: 5000  id: 123  l: 2  data: 01 AB ".
    std::string FormatLine() const;
    // Appends the same line to `out`, for writers that reuse one buffer.
    void AppendLine(std::string& out) const;
    // The entry's frame, Time included.
    TCanFrame AsFrame() const;

    uint32_t Id = 0;
    uint32_t Time = 0;
    int32_t Length = 0; // as the frame carried it, not clamped
    uint8_t Data[8] = {};
    bool Request = false;
    bool Standard = false;
    bool Outgoing = false;
};

// The running record of a channel's traffic. Entries are stored in fixed-size
// blocks, so adding never moves an entry: a pointer from Item() stays valid
// until Clear() (or ReleaseBefore() past it), and the window may format it
// without holding the lock.
class TTarvenixTraceList {
public:
    TTarvenixTraceList() = default;
    TTarvenixTraceList(const TTarvenixTraceList&) = delete;
    TTarvenixTraceList& operator=(const TTarvenixTraceList&) = delete;

    void AddFrame(const TCanFrame& frame, bool outgoing);
    int32_t Count() const;
    // nullptr for an index out of range or released.
    const TTarvenixTraceItem* Item(int32_t index) const;
    void Clear();
    // Clear() that hands the removed entries over instead of freeing them: the
    // returned list holds them with their wall-clock reference, so that a
    // reader that was behind can still take what arrived just before.
    std::unique_ptr<TTarvenixTraceList> TakeAll();

    // For a consumer that reads every entry once and keeps nothing (the headless
    // monitor while it records): frees the blocks whose entries all lie before
    // `index`. Indexes and Count() stay as they are; one freed block is kept for
    // reuse, so a trace consumed this way holds a bounded amount of memory.
    void ReleaseBefore(int32_t index);

    // UTC microseconds since the Unix epoch of an entry: the reference wall-clock
    // time taken when the first entry after Clear() arrived, plus (item.Time -
    // reference tick) modulo 2^32 milliseconds. 0 while the trace has no entry.
    int64_t WallTimeUs(const TTarvenixTraceItem& item) const;
    // Gives the trace the reference of a recording that is loaded into it: an
    // entry stamped `tick` happened at `wallUs`. Call it before the first entry
    // is added; Clear() forgets it.
    void SetWallReference(uint32_t tick, int64_t wallUs);

    // Bytes held by the entries and the block table, for measuring.
    size_t MemoryUsed() const;

    static constexpr int32_t kBlockSize = 16384;

private:
    // Sets the wall-clock reference from the first entry's tick; under Lock.
    void TakeReference(uint32_t firstTime);
    static constexpr uint32_t kReferenceLeadMs = 10000;

    mutable std::mutex Lock;
    std::vector<std::unique_ptr<TTarvenixTraceItem[]>> Blocks; // null once released
    std::unique_ptr<TTarvenixTraceItem[]> Spare;               // a released block for reuse
    size_t Released = 0;                                       // blocks released from the front
    int32_t Total = 0;
    // Wall-clock reference of this trace, set with its first entry.
    bool HasReference = false;
    uint32_t ReferenceTick = 0;
    int64_t ReferenceWallUs = 0;
};
