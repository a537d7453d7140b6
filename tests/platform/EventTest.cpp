#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "platform/Event.h"

using tcm::TAutoResetEvent;

namespace {

// The numbers the log reports for a wait.
constexpr uint32_t kSignalled = 0;
constexpr uint32_t kTimedOut = 258;

TEST(AutoResetEvent, SignalIsKeptUntilOneWaitConsumesIt)
{
    TAutoResetEvent event;
    EXPECT_EQ(event.Wait(0), kTimedOut); // created not signalled
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(event.Wait(30), kTimedOut);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(30));

    // A Set before the wait satisfies it; the wait consumes it.
    event.Set();
    EXPECT_EQ(event.Wait(0), kSignalled);
    EXPECT_EQ(event.Wait(10), kTimedOut);

    // Several Sets leave one signal.
    event.Set();
    event.Set();
    EXPECT_EQ(event.Wait(5000), kSignalled);
    EXPECT_EQ(event.Wait(0), kTimedOut);

    // Reset drops a pending signal.
    event.Set();
    event.Reset();
    EXPECT_EQ(event.Wait(10), kTimedOut);
}

TEST(AutoResetEvent, SetFromAnotherThreadWakesAWaiter)
{
    TAutoResetEvent event;
    std::thread setter([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        event.Set();
    });
    EXPECT_EQ(event.Wait(tcm::kWaitInfinite), kSignalled);
    setter.join();

    std::thread again([&] { event.Set(); });
    EXPECT_EQ(event.Wait(10000), kSignalled);
    again.join();
}

TEST(AutoResetEvent, OneSetReleasesOnlyOneOfTwoWaiters)
{
    TAutoResetEvent event;
    std::atomic<int> signalled{0};
    std::atomic<int> timedOut{0};
    auto waiter = [&] {
        const uint32_t result = event.Wait(150);
        if (result == kSignalled)
            ++signalled;
        else if (result == kTimedOut)
            ++timedOut;
    };
    std::thread a(waiter);
    std::thread b(waiter);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    event.Set();
    a.join();
    b.join();
    EXPECT_EQ(signalled.load(), 1);
    EXPECT_EQ(timedOut.load(), 1);
}

} // namespace
