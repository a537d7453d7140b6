#pragma once
#include <chrono>
#include <cstdint>
#include <random>
#include <vector>

#include "SeeedSimOptions.h"
#include "core/CanGeneral.h"

// Makes up the bus traffic of the simulated adapter. Every frame carries a 32-bit
// sequence number in data bytes 0..3 (least significant first) and its complement
// in bytes 4..7, so that a receiver can detect lost, doubled or damaged frames;
// the identifier slot is the sequence number modulo the number of identifiers,
// so identifiers cycle and each one is predictable from the sequence number.
class TTrafficGenerator {
public:
    struct TSlot {
        uint32_t Id;
        bool Standard;
    };

    explicit TTrafficGenerator(const TSeeedSimOptions& options);

    // The next frame; each call takes the next sequence number, starting at 0.
    TCanFrame Next();
    // Frames that fell due but were dropped before the link: their sequence
    // numbers are used up, so that the receiver sees the gap.
    void Skip(uint64_t frames) { Sequence += static_cast<uint32_t>(frames); }
    // Appends the garbage bytes that go before the next packet, if any.
    void AppendGarbage(std::vector<uint8_t>& out);

    uint32_t NextSequence() const { return Sequence; }
    const std::vector<TSlot>& Slots() const { return IdSlots; }
    // The identifier slot that the frame with this sequence number uses.
    const TSlot& SlotOf(uint32_t sequence) const { return IdSlots[sequence % IdSlots.size()]; }

    // The sequence number of a generated frame; false when bytes 4..7 are not the
    // complement of bytes 0..3 (not a generated frame, or a damaged one).
    static bool SequenceOf(const TCanFrame& frame, uint32_t& sequence);
    static std::vector<TSlot> MakeSlots(const TSeeedSimOptions& options);

private:
    std::vector<TSlot> IdSlots;
    int32_t Length;
    double RemoteShare;
    double GarbageShare;
    uint32_t Sequence = 0;
    std::mt19937 Random;
};

// Paces the writer: a byte budget refilled at the link's rate (a token bucket with
// room for a short burst, so that a writer woken late catches up and the average
// rate holds) and a schedule of bus frames falling due at the frame rate. Frames
// that fall due while the link is full wait; when more than a backlog limit are
// waiting, the oldest are dropped as the adapter's overrun. Frames still waiting
// when the schedule stops or restarts are dropped too. Every dropped frame has
// fallen due, so it takes its sequence number (TakeDropped tells the writer how
// many) and the receiver sees the gap.
class TLinkPacer {
public:
    using TClock = std::chrono::steady_clock;

    TLinkPacer(uint32_t bytesPerSecond, double framesPerSecond);

    // Fills the byte budget and starts refilling it from `now`.
    void ResetBudget(TClock::time_point now);
    // Starts the frame schedule at `now` (entering normal mode), dropping any
    // frames still due; StopSchedule ends it (leaving normal mode).
    void StartSchedule(TClock::time_point now);
    void StopSchedule();
    // Brings budget and schedule up to `now`.
    void Advance(TClock::time_point now);

    bool Unlimited() const { return BytesPerSecond == 0; }
    // Bytes may be written now. The budget may go below zero after a packet
    // larger than what was left, which the next refill pays back.
    bool HasBudget() const { return Unlimited() || Tokens > 0; }
    void Spend(size_t bytes);

    uint64_t FramesDue() const { return Due; }
    void TakeFrame() { --Due; }
    uint64_t FramesOverrun() const { return Overrun; }
    // Dropped while waiting when a schedule stopped or restarted, over all schedules.
    uint64_t FramesAbandoned() const { return Abandoned; }
    // Frames dropped (overrun or abandoned) since the last call: they were the
    // oldest due, so they take the next sequence numbers.
    uint64_t TakeDropped();

    // When the next frame falls due (for the writer's sleep); max() when none will.
    TClock::time_point NextDue() const;

private:
    uint32_t BytesPerSecond;
    double FramesPerSecond;
    double BurstBytes;
    uint64_t BacklogLimit;
    double Tokens = 0;
    TClock::time_point LastRefill{};
    TClock::time_point ScheduleStart{};
    uint64_t Scheduled = 0; // frames fallen due since StartSchedule
    uint64_t Due = 0;       // fallen due, not yet taken
    uint64_t Overrun = 0;   // dropped from the backlog, over all schedules
    uint64_t Abandoned = 0; // dropped at the end of a schedule
    uint64_t Numbered = 0;  // of Overrun + Abandoned, handed out by TakeDropped
    bool Running = false;
};
