#pragma once
#include <cstdint>

namespace tcm {

// The system's millisecond tick count: monotonic uptime in milliseconds, truncated
// to 32 bits. It wraps after about 49.7 days; every user takes differences modulo 2^32.
uint32_t TickCount();

// Sleeps the calling thread for at least `ms` milliseconds.
void SleepMs(uint32_t ms);

} // namespace tcm
