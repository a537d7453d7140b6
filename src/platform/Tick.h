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

} // namespace tcm
