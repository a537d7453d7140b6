#pragma once
#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

#include "core/CanGeneral.h"
#include "platform/Mutex.h"
#include "platform/Tick.h"
#include "stats/LoadWindow.h"
#include "views/TarvenixTable.h"

// What tells identifiers of one number apart in the statistics.
enum TStatsKind : uint8_t {
    kStatsStandard = 1, // 11-bit identifier (else 29-bit)
    kStatsRemote = 2,   // remote frame (else data frame)
    kStatsOutgoing = 4, // sent by this channel (else received)
};

// The running figures of one identifier and kind. The period is the time
// between two frames of it; its deviations are summed around the first period
// seen, which keeps the variance exact for the steady periods CAN messages have.
// Two whole cache lines: the update of a frame touches one entry and nothing
// beside it.
struct alignas(64) TIdCounters {
    uint32_t Id = 0;
    uint8_t Kind = 0;
    int32_t LastLength = 0;
    uint32_t LastBits = 0;
    uint64_t Count = 0;
    uint64_t Bits = 0;
    int64_t LastUs = 0;
    int64_t PeriodMinUs = 0;
    int64_t PeriodMaxUs = 0;
    int64_t PeriodBaseUs = 0;
    double PeriodDevSum = 0;
    double PeriodDevSquares = 0;
    TLastSecond<uint16_t> Recent; // frames
};

// Frames and bits of one direction.
struct TDirectionCounters {
    uint64_t Frames = 0;
    uint64_t Bits = 0;
    TLastSecond<uint64_t> RecentFrames;
    TLastSecond<uint64_t> RecentBits;
};

// The channel's figures as a whole.
struct TChannelCounters {
    int32_t Rate = 0;     // bit/s
    int64_t StartUs = 0;  // the run's start
    int64_t StopUs = -1;  // the run's end once it ended, else -1
    int64_t LatestUs = 0; // the newest frame's time
    TDirectionCounters In;
    TDirectionCounters Out;
    uint64_t PeakBits = 0; // the most bits in any one-second window
    int64_t PeakEndUs = 0;
    uint64_t Untracked = 0;     // frames of identifiers past kMaxIdentifiers (in the totals, not listed)
    uint64_t ParserDamaged = 0; // packets with a good header and a wrong checksum
    uint64_t ParserSkipped = 0; // bytes that were no part of any packet
    uint64_t NotTaken = 0;      // frames to send that the adapter could not take
};

// A copy of a run's statistics at one moment, for showing and printing.
struct TStatsSnapshot {
    TChannelCounters Channel;
    std::vector<TIdCounters> Ids;      // in the order they first came
    std::vector<uint64_t> ProfileBits; // bits per profile slot from the start
    int64_t ProfileSlotUs = kUsPerSecond;
    int64_t NowUs = 0; // the moment the figures are taken at (the end for a run that ended)
};

// The statistics of one run, for one thread: each frame is added with its
// time; identifiers are found through a hash index and kept in blocks that
// never move.
// The channel's totals take a frame at once; the identifiers' figures take
// frames in batches: the batch's index slots, then its entries, are fetched
// together, so that with thousands of identifiers their memory waits overlap
// instead of following one another. A copy folds the waiting frames in first.
class TStatsAccumulator {
public:
    static constexpr size_t kMaxIdentifiers = size_t{1} << 16;
    static constexpr size_t kBlockSize = 1024;
    static constexpr size_t kBatch = 32;

    TStatsAccumulator();
    void Start(int32_t rate, int64_t startUs);
    void Stop(int64_t stopUs) { Channel.StopUs = stopUs; }
    void Add(const TCanFrame& frame, bool outgoing, int64_t timeUs);
    // Lists at most `most` identifiers (kMaxIdentifiers unless told); the
    // frames of identifiers not listed count in the totals only.
    void LimitIdentifiers(size_t most) { MaxIdentifiers = std::min(most, kMaxIdentifiers); }

    // The identifiers known at the last copy of the channel.
    size_t IdCount() const { return Count; }
    // Everything, with the figures taken at `nowUs` (the end once stopped).
    TStatsSnapshot Snapshot(int64_t nowUs);
    // The parts of a snapshot: the channel's figures and load profile, then
    // the identifiers [from, to) appended to `out.Ids`.
    void CopyChannel(TStatsSnapshot& out, int64_t nowUs, bool profile = true);
    void CopyIds(TStatsSnapshot& out, size_t from, size_t to) const;

private:
    struct TPendingFrame {
        uint32_t Key; // identifier and kind
        int32_t Length;
        uint32_t Bits;
        int64_t TimeUs;
        int64_t Eighth;
    };
    void AddToChannel(bool outgoing, int64_t timeUs, int64_t eighth, uint64_t bits);
    void FlushPending();
    TIdCounters* Find(uint32_t key);
    static void AddToId(TIdCounters& item, const TPendingFrame& frame);

    TChannelCounters Channel;
    TPeakWindow Peak;
    TLoadProfile Load;
    TTarvenixRowIndex Index;
    std::vector<std::unique_ptr<TIdCounters[]>> Blocks;
    size_t Count = 0;
    size_t MaxIdentifiers = kMaxIdentifiers;
    TPendingFrame Pending[kBatch];
    size_t PendingCount = 0;
};

// A channel's statistics, fed by the reading and the sending thread and read
// by the window or a tool. The lock is held for one frame's update, or for
// copying one block of identifiers: a snapshot lets go between blocks, so a
// feeding thread never waits longer than one block's copy.
// Times are the frames' own microsecond stamps (TCanFrame::TimeUs) on the
// channel's frame clock.
class TChannelStats {
public:
    // Forgets everything; a new run at `rate` bit/s starts now on `clock`,
    // which stamps the frames and must outlive the run's snapshots.
    void Start(int32_t rate, const tcm::TFrameClock* clock) TCM_EXCLUDES(Lock);
    // Ends the run now: later snapshots take their figures at this moment.
    void Stop() TCM_EXCLUDES(Lock);
    void Add(const TCanFrame& frame, bool outgoing) TCM_EXCLUDES(Lock);
    // The parser's counts of this run, handed over now and then by the reading thread.
    void SetParserDrops(uint64_t damagedPackets, uint64_t skippedBytes);
    // One frame to send could not be written.
    void CountNotTaken() { NotTaken.fetch_add(1, std::memory_order_relaxed); }
    // For a user that never shows them: at most `most` identifiers are listed.
    void LimitIdentifiers(size_t most) TCM_EXCLUDES(Lock);

    // The figures now (or at the run's end once it ended); with `ids` false
    // the channel's totals only (no identifiers, no load profile).
    TStatsSnapshot Snapshot(bool ids = true) const TCM_EXCLUDES(Lock);
    // The run's clock now; 0 before the first run.
    int64_t NowUs() const;

private:
    mutable tcm::TMutex Lock;
    // A copy folds the frames still waiting in a batch into the counters.
    mutable TStatsAccumulator Counters TCM_GUARDED_BY(Lock);
    uint64_t Generation TCM_GUARDED_BY(Lock) = 0; // one more at every Start
    std::atomic<const tcm::TFrameClock*> Clock{nullptr};
    std::atomic<uint64_t> Damaged{0};
    std::atomic<uint64_t> Skipped{0};
    std::atomic<uint64_t> NotTaken{0};
};
