#include "platform/Tick.h"

#include <atomic>
#include <cerrno>
#include <ctime>

namespace tcm {

namespace {

uint32_t SystemTickCount()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    const uint64_t ms = static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u;
    return static_cast<uint32_t>(ms);
}

int64_t Nanoseconds(clockid_t clock)
{
    timespec ts{};
    clock_gettime(clock, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

TTickWallClock SystemTickAndWallClock()
{
    // The wall clock is read between two monotonic readings and paired with
    // their midpoint, so the pair is off by at most half the time it took.
    const int64_t before = Nanoseconds(CLOCK_MONOTONIC);
    const int64_t wall = Nanoseconds(CLOCK_REALTIME);
    const int64_t after = Nanoseconds(CLOCK_MONOTONIC);
    const int64_t monoUs = (before + (after - before) / 2) / 1000;
    TTickWallClock pair;
    pair.Tick = static_cast<uint32_t>(static_cast<uint64_t>(monoUs / 1000));
    pair.WallUs = wall / 1000 - monoUs % 1000;
    return pair;
}

void SystemSleepMs(uint32_t ms)
{
    timespec req{static_cast<time_t>(ms / 1000u), static_cast<long>(ms % 1000u) * 1000000L};
    while (nanosleep(&req, &req) != 0 && errno == EINTR) {}
}

class TSystemClock final : public TClock {
public:
    uint32_t TickCount() override { return SystemTickCount(); }
    TTickWallClock TickAndWallClock() override { return SystemTickAndWallClock(); }
    void SleepMs(uint32_t ms) override { SystemSleepMs(ms); }
};

TSystemClock g_systemClock;
std::atomic<TClock*> g_clock{&g_systemClock};

} // namespace

TClock& SystemClock()
{
    return g_systemClock;
}

void SetClock(TClock* clock)
{
    g_clock.store(clock != nullptr ? clock : &g_systemClock);
}

uint32_t TickCount()
{
    return g_clock.load(std::memory_order_acquire)->TickCount();
}

TTickWallClock TickAndWallClock()
{
    return g_clock.load(std::memory_order_acquire)->TickAndWallClock();
}

void SleepMs(uint32_t ms)
{
    g_clock.load(std::memory_order_acquire)->SleepMs(ms);
}

int64_t TClock::MonotonicUs()
{
    return Nanoseconds(CLOCK_MONOTONIC) / 1000;
}

int64_t MonotonicUs()
{
    return g_clock.load(std::memory_order_acquire)->MonotonicUs();
}

void TFrameClock::Anchor()
{
    // The pair gives the wall time at the start of its millisecond tick; the
    // microseconds since that tick began come from the monotonic reading.
    TClock& clock = *g_clock.load(std::memory_order_acquire);
    const TTickWallClock pair = clock.TickAndWallClock();
    const int64_t mono = clock.MonotonicUs();
    const auto sinceTickMs =
        static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(mono / 1000)) - pair.Tick);
    WallAtAnchorUs.store(pair.WallUs + int64_t(sinceTickMs) * 1000 + mono % 1000);
    MonoAtAnchorUs.store(mono);
    LastUs.store(INT64_MIN);
}

int64_t TFrameClock::NowUs() const
{
    return WallAtAnchorUs.load(std::memory_order_relaxed) +
           (MonotonicUs() - MonoAtAnchorUs.load(std::memory_order_relaxed));
}

int64_t TFrameClock::Stamp(int64_t us)
{
    int64_t last = LastUs.load(std::memory_order_relaxed);
    while (us > last && !LastUs.compare_exchange_weak(last, us, std::memory_order_relaxed)) {}
    return us > last ? us : last;
}

} // namespace tcm
