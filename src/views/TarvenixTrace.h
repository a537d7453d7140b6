#pragma once
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "core/CanGeneral.h"
#include "platform/Mutex.h"
#include "core/CanText.h"

class TLogger;
namespace tcm {
class TBackingStore;
class TWakeEvent;
} // namespace tcm

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

    int64_t TimeUs = 0; // the frame's TimeUs: UTC microseconds, 0 when it had none
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
// Blocks live in a file in the user's cache folder (tcm::TBackingStore): a
// full block is let go from resident memory and read back from the file when
// needed, so a long capture keeps every entry with bounded memory. When the
// file cannot grow (a full disk) new blocks are kept in ordinary memory and
// the logger is told once. Indexes and counts are 64-bit, so a capture may run
// for weeks; when no more entries can be kept (no memory left, or the limit a
// window sets), the trace says so once, keeps what it has, counts what it
// turns away and never throws.
class TTarvenixTraceList {
public:
    TTarvenixTraceList() = default;
    ~TTarvenixTraceList();
    TTarvenixTraceList(const TTarvenixTraceList&) = delete;
    TTarvenixTraceList& operator=(const TTarvenixTraceList&) = delete;

    // False when the trace keeps no more entries (see IsFull).
    bool AddFrame(const TCanFrame& frame, bool outgoing);
    int64_t Count() const;
    // nullptr for an index out of range or released.
    const TTarvenixTraceItem* Item(int64_t index) const;
    // The entries from `index` on that lie one after the other in memory (up to
    // the end of its block or the last entry): their count goes to `count`.
    // nullptr (count 0) as for Item(). One lock for a run of entries.
    const TTarvenixTraceItem* ItemRun(int64_t index, int64_t& count) const;

    // The most entries the trace keeps (a view that counts its rows in 32 bits
    // sets its limit); without one, as many as memory and the cache hold.
    void SetLimit(int64_t maxEntries);
    // No more entries are kept: the limit was reached or memory ran out.
    // Cleared by Clear(). The logger was told once, with FullText().
    bool IsFull() const;
    std::string FullText() const;
    // Entries turned away since the trace became full.
    int64_t TurnedAway() const;
    // An empty trace numbers its next entry `index`, as if that many entries
    // had come and been released: for trying out counts of long captures.
    void StartAt(int64_t index);
    void Clear();
    // Clear() that hands the removed entries over instead of freeing them: the
    // returned list holds them with their wall-clock reference, so that a
    // reader that was behind can still take what arrived just before.
    std::unique_ptr<TTarvenixTraceList> TakeAll();

    // For a consumer that reads every entry once and keeps nothing (the headless
    // monitor while it records): frees the blocks whose entries all lie before
    // `index`. Indexes and Count() stay as they are; one freed block is kept for
    // reuse, so a trace consumed this way holds a bounded amount of memory.
    void ReleaseBefore(int64_t index);
    // For the same consumer: up to `blocks` blocks are taken from ordinary
    // memory instead of the cache file. A trace that is consumed as it comes
    // then cycles through them without a page fault or a disk write per page;
    // a consumer that falls behind still has its backlog kept in the file.
    void KeepBlocksInMemory(int32_t blocks);

    // UTC microseconds since the Unix epoch of an entry: its own TimeUs when it
    // has one; else the reference wall-clock time taken when the first entry
    // after Clear() arrived, plus (item.Time - reference tick) modulo 2^32
    // milliseconds (0 while the trace has no entry).
    int64_t WallTimeUs(const TTarvenixTraceItem& item) const;
    // Gives the trace the reference of a recording that is loaded into it: an
    // entry stamped `tick` happened at `wallUs`. Call it before the first entry
    // is added; Clear() forgets it.
    void SetWallReference(uint32_t tick, int64_t wallUs);

    // Bytes held by the entries and the block table, for measuring.
    size_t MemoryUsed() const;

    // Where the one line about a failing cache file goes; may be null.
    void SetLogger(TLogger* logger);
    // Signalled after every added entry, for a consumer that waits for them;
    // may be null. It must outlive the trace or be unset first.
    void SetOnAdded(tcm::TWakeEvent* wake);

    static constexpr int32_t kBlockSize = 16384;

private:
    struct TBlock {
        TTarvenixTraceItem* Items = nullptr;
        int64_t Offset = -1; // place in the store's file; -1 for ordinary memory
    };
    static constexpr size_t kBlockBytes = kBlockSize * sizeof(TTarvenixTraceItem);

    // A block from the store, or from ordinary memory with `problem` set.
    static TBlock NewBlock(tcm::TBackingStore& store, std::string& problem);
    static void FreeBlock(const TBlock& block, tcm::TBackingStore* store);
    // Whether the next block comes from ordinary memory by choice; under Lock.
    bool NextBlockInMemory() const TCM_REQUIRES(Lock);
    // Sets the wall-clock reference from the first entry's tick; under Lock.
    void TakeReference(uint32_t firstTime) TCM_REQUIRES(Lock);
    static constexpr uint32_t kReferenceLeadMs = 10000;

    mutable tcm::TMutex Lock;
    std::vector<TBlock> Blocks TCM_GUARDED_BY(Lock); // Items null once released
    TBlock Spare TCM_GUARDED_BY(Lock);               // a released block for reuse
    size_t Released TCM_GUARDED_BY(Lock) = 0;        // blocks released from the front
    // The file of this trace's blocks; it goes with them to TakeAll's list.
    std::shared_ptr<tcm::TBackingStore> Store TCM_GUARDED_BY(Lock);
    TLogger* Logger TCM_GUARDED_BY(Lock) = nullptr;
    tcm::TWakeEvent* Added TCM_GUARDED_BY(Lock) = nullptr;
    bool StorageProblemTold TCM_GUARDED_BY(Lock) = false;
    int32_t MemoryBlocks TCM_GUARDED_BY(Lock) = 0; // KeepBlocksInMemory
    // Makes the trace full with `why` (told once); under Lock.
    void BecomeFull(const std::string& why) TCM_REQUIRES(Lock);
    int64_t Total TCM_GUARDED_BY(Lock) = 0;
    int64_t First TCM_GUARDED_BY(Lock) = 0; // index of the first entry (StartAt)
    int64_t Limit TCM_GUARDED_BY(Lock) = INT64_MAX;
    std::string Full TCM_GUARDED_BY(Lock); // why no more entries are kept; empty while they are
    int64_t Refused TCM_GUARDED_BY(Lock) = 0;
    // Wall-clock reference of this trace, set with its first entry.
    bool HasReference TCM_GUARDED_BY(Lock) = false;
    uint32_t ReferenceTick TCM_GUARDED_BY(Lock) = 0;
    int64_t ReferenceWallUs TCM_GUARDED_BY(Lock) = 0;
};
