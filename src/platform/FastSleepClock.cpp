#include "platform/FastSleepClock.h"

#include <cstdlib>
#include <cstring>
#include <thread>

namespace tcm {

uint32_t TFastSleepClock::TickCount()
{
    return SystemClock().TickCount() + Skipped.load();
}

TTickWallClock TFastSleepClock::TickAndWallClock()
{
    TTickWallClock pair = SystemClock().TickAndWallClock();
    const uint32_t skipped = Skipped.load();
    pair.Tick += skipped;
    pair.WallUs += static_cast<int64_t>(skipped) * 1000;
    return pair;
}

int64_t TFastSleepClock::MonotonicUs()
{
    return SystemClock().MonotonicUs() + static_cast<int64_t>(Skipped.load()) * 1000;
}

void TFastSleepClock::SleepMs(uint32_t ms)
{
    if (ms < kSkipFromMs) {
        SystemClock().SleepMs(ms);
        return;
    }
    Skipped.fetch_add(ms);
    std::this_thread::yield();
}

void UseFastSleepClockWhenAsked()
{
    const char* value = std::getenv(kFastSleepEnv);
    if (value == nullptr || std::strcmp(value, "1") != 0)
        return;
    static TFastSleepClock clock; // lives as long as the process
    SetClock(&clock);
}

} // namespace tcm
