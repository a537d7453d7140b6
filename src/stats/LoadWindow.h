#pragma once
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <vector>

// Time in the statistics is in microseconds on one clock per run; a run's
// figures count from its start.
constexpr int64_t kUsPerSecond = 1000000;

// Amounts (frames or bits) of the last second, kept per eighth of a second:
// "the last second" is the eight whole eighths before the one in progress, so
// the figure moves eight times a second and never counts a part-filled slot.
// The ring holds sixteen eighths, the one in progress and more than a second
// before it. Eighths are numbered from the run's start; an amount past the
// type's largest value stays at that value.
template <typename T> class TLastSecond {
public:
    static constexpr int64_t kSlotUs = kUsPerSecond / 8;

    void Add(int64_t eighth, T amount)
    {
        if (eighth > Latest) {
            // Slots between the last one used and this one saw nothing.
            for (int64_t e = std::max(Latest + 1, eighth - (kSlots - 1)); e <= eighth; ++e)
                Slots[e & (kSlots - 1)] = 0;
            Latest = eighth;
        } else if (Latest - eighth >= kSlots) {
            return; // older than the ring: out of any last second by now
        }
        T& slot = Slots[eighth & (kSlots - 1)];
        slot = static_cast<T>(slot > std::numeric_limits<T>::max() - amount ? std::numeric_limits<T>::max()
                                                                            : slot + amount);
    }

    // The amount of the second before eighth `now` (the eighths now-8 .. now-1).
    uint64_t Sum(int64_t now) const
    {
        uint64_t sum = 0;
        for (int64_t e = std::max<int64_t>(now - 8, 0); e < now; ++e)
            if (e <= Latest && e > Latest - kSlots)
                sum += Slots[e & (kSlots - 1)];
        return sum;
    }

private:
    static constexpr int64_t kSlots = 16;
    int64_t Latest = -kSlots; // the newest eighth that has a slot
    T Slots[kSlots] = {};
};

// The largest amount of bits in any one-second window of a run. The window
// (t - 1 s, t] is slid to every frame's time t; a window anywhere else holds
// no more than the one ending at its last frame, so this is the exact maximum.
// The frames of the last second are kept in a ring (frames of one microsecond
// share one place), so each frame costs a constant amount of work.
//
// The ring holds at most kMaxPoints places, more than a bus at 1 Mbit/s
// carries frames in a second, so the peak is exact for any real bus. Frames
// that come closer together than that (a link without a bus behind it, a made
// up recording) share places a grain of microseconds wide instead, the grain
// doubling while the ring is full: memory stays bounded whatever the rate, and
// the peak may then count frames up to one grain beyond the window's start.
class TPeakWindow {
public:
    static constexpr size_t kMaxPoints = size_t{1} << 15;

    // Frames must come in time order; an earlier time counts as the latest.
    void Add(int64_t timeUs, uint64_t bits);
    void Clear();
    uint64_t PeakBits() const { return Peak; }
    // The end of the window that held the peak.
    int64_t PeakEndUs() const { return PeakEnd; }
    // Bits of the frames in (now - 1 s, now].
    uint64_t BitsEndingAt(int64_t nowUs) const;
    // Places the ring has, and the microseconds one place spans now.
    size_t Capacity() const { return Ring.size(); }
    int64_t GrainUs() const { return Grain; }

private:
    struct TPoint {
        int64_t TimeUs; // the latest frame's time in this place
        uint64_t Bits;
    };
    TPoint& At(size_t i) { return Ring[(Head + i) & (Ring.size() - 1)]; }
    const TPoint& At(size_t i) const { return Ring[(Head + i) & (Ring.size() - 1)]; }
    bool SamePlace(int64_t aUs, int64_t bUs) const;
    void Grow();
    void Coarsen();

    std::vector<TPoint> Ring; // a power of two long once used
    size_t Head = 0;
    size_t Size = 0;
    int64_t Grain = 1;
    uint64_t Sum = 0;
    uint64_t Peak = 0;
    int64_t PeakEnd = 0;
    int64_t LatestUs = INT64_MIN;
};

// Bits per second over a whole run, for a load-over-time picture: one amount
// per second from the start. A run longer than kMaxSlots seconds folds its
// slots in pairs (two seconds each, then four, ...), so the memory stays bounded
// however long the run or however far apart a recording's times are.
class TLoadProfile {
public:
    static constexpr size_t kMaxSlots = 1 << 15;

    void Add(int64_t sinceStartUs, uint64_t bits);
    void Clear();
    // Bits of each slot, the first starting at the run's start.
    const std::vector<uint64_t>& Slots() const { return Bits; }
    int64_t SlotUs() const { return SlotLengthUs; }

private:
    std::vector<uint64_t> Bits;
    int64_t SlotLengthUs = kUsPerSecond;
    // The slot of the last frame and its time span, so that most frames need no division.
    size_t CurrentSlot = 0;
    int64_t CurrentFromUs = 0;
    int64_t CurrentToUs = -1;
};
