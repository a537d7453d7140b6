#pragma once
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
};

// The operating system's clock.
TClock& SystemClock();
// Installs `clock` for the whole process; nullptr restores the system clock.
// Change it only while no other thread reads the clock.
void SetClock(TClock* clock);

} // namespace tcm
