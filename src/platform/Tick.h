#pragma once
#include <atomic>
#include <cstdint>

namespace tcm {

// The system's millisecond tick count: monotonic uptime in milliseconds, truncated
// to 32 bits. It wraps after about 49.7 days; every user takes differences modulo 2^32.
uint32_t TickCount();

// The tick count and the wall clock read at the same moment: WallUs is UTC in
// microseconds since the Unix epoch at the start of millisecond Tick, so that a
// tick t maps to WallUs + (t - Tick) * 1000.
struct TTickWallClock {
    uint32_t Tick = 0;
    int64_t WallUs = 0;
};
TTickWallClock TickAndWallClock();

// Sleeps the calling thread for at least `ms` milliseconds.
void SleepMs(uint32_t ms);

// The monotonic clock in microseconds (the tick count's clock, not truncated); only
// differences mean anything.
int64_t MonotonicUs();

// Where the three functions above take their time from. The program keeps the
// system clock; a test may install another (say one whose sleeps only move the
// tick count on) so that sequences bound by fixed waits run in a fraction of
// their real time while every "at least N ms" rule still holds by the ticks.
class TClock {
public:
    virtual ~TClock() = default;
    virtual uint32_t TickCount() = 0;
    virtual TTickWallClock TickAndWallClock() = 0;
    virtual void SleepMs(uint32_t ms) = 0;
    // The system's monotonic microseconds unless a clock moves its ticks on by itself.
    virtual int64_t MonotonicUs();
};

// The operating system's clock.
TClock& SystemClock();
// Installs `clock` for the whole process; nullptr restores the system clock.
// Change it only while no other thread reads the clock.
void SetClock(TClock* clock);

// Frame times: UTC microseconds since the Unix epoch taken from the monotonic clock,
// which is anchored to the wall clock once (at construction and at every Anchor()).
// The times carry real microseconds, and setting the system's wall clock meanwhile
// neither moves them back nor makes them jump.
class TFrameClock {
public:
    TFrameClock() { Anchor(); }
    // Ties the monotonic clock to the wall clock now; called when a channel opens.
    void Anchor();
    int64_t NowUs() const;
    // `us`, or the last stamp handed out when `us` is earlier: stamps taken in order
    // never go back. Safe from several threads.
    int64_t Stamp(int64_t us);

private:
    std::atomic<int64_t> WallAtAnchorUs{0};
    std::atomic<int64_t> MonoAtAnchorUs{0};
    std::atomic<int64_t> LastUs{INT64_MIN};
};

} // namespace tcm
