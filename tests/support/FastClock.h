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
#include <thread>

#include "platform/Tick.h"

namespace tcmtest {

class TFastSleepClock final : public tcm::TClock {
public:
    uint32_t TickCount() override { return tcm::SystemClock().TickCount() + Skipped.load(); }
    tcm::TTickWallClock TickAndWallClock() override
    {
        tcm::TTickWallClock pair = tcm::SystemClock().TickAndWallClock();
        const uint32_t skipped = Skipped.load();
        pair.Tick += skipped;
        pair.WallUs += static_cast<int64_t>(skipped) * 1000;
        return pair;
    }
    int64_t MonotonicUs() override
    {
        return tcm::SystemClock().MonotonicUs() + static_cast<int64_t>(Skipped.load()) * 1000;
    }
    static constexpr uint32_t kSkipFromMs = 100;
    void SleepMs(uint32_t ms) override
    {
        if (ms < kSkipFromMs) {
            tcm::SystemClock().SleepMs(ms);
            return;
        }
        Skipped.fetch_add(ms);
        std::this_thread::yield();
    }
    uint32_t SkippedMs() const { return Skipped.load(); }
    // Moves the tick count on by `ms` at once, as if that time had passed.
    void Advance(uint32_t ms) { Skipped.fetch_add(ms); }

private:
    std::atomic<uint32_t> Skipped{0};
};

// Installs a TFastSleepClock for its lifetime.
class TScopedFastClock {
public:
    TScopedFastClock() { tcm::SetClock(&Clock); }
    ~TScopedFastClock() { tcm::SetClock(nullptr); }
    TScopedFastClock(const TScopedFastClock&) = delete;
    TScopedFastClock& operator=(const TScopedFastClock&) = delete;
    const TFastSleepClock& Get() const { return Clock; }
    TFastSleepClock& Get() { return Clock; }

private:
    TFastSleepClock Clock;
};

} // namespace tcmtest
