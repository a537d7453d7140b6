#pragma once
// A clock for tests: the system's time, except that a long sleep returns at once
// and moves the tick count on by the time slept. Code bound by fixed waits (the
// adapter's settle pauses) then runs its real steps in a fraction of the time,
// and "waited at least N ms" still holds when measured in ticks. Short sleeps
// (the rests of polling loops, such as a simulator whose reading is held) are
// slept for real: skipped, they would turn those loops into spinning ones and
// run the tick count ahead of every other thread.
#include <atomic>
#include <cstdint>

#include "platform/Tick.h"

namespace tcm {

class TFastSleepClock final : public TClock {
public:
    uint32_t TickCount() override;
    TTickWallClock TickAndWallClock() override;
    int64_t MonotonicUs() override;
    static constexpr uint32_t kSkipFromMs = 100;
    void SleepMs(uint32_t ms) override;
    uint32_t SkippedMs() const { return Skipped.load(); }
    // Moves the tick count on by `ms` at once, as if that time had passed.
    void Advance(uint32_t ms) { Skipped.fetch_add(ms); }

private:
    std::atomic<uint32_t> Skipped{0};
};

// The environment variable through which a test runs the programs it starts on
// a TFastSleepClock ("1"), so that their openings do not wait out the settle
// pauses in real time. Nobody else sets it.
inline constexpr char kFastSleepEnv[] = "TCM_TEST_FAST_SLEEP";

// Installs a TFastSleepClock for the whole process when kFastSleepEnv is "1";
// called first thing in main, before any thread reads the clock.
void UseFastSleepClockWhenAsked();

} // namespace tcm
