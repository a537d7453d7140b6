#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "transmit/CanSendList.h"
#include "transmit/PeriodicSendThread.h"

namespace {

using namespace std::chrono_literals;

struct TCountingList {
    TCanSendList List;
    std::atomic<int> Sent{0};
    std::atomic<int> HandlerDelayMs{0};

    TCountingList()
    {
        List.SetPersistent(false);
        List.SetOnSend([this](const TCanFrame&) {
            ++Sent;
            if (HandlerDelayMs > 0)
                std::this_thread::sleep_for(std::chrono::milliseconds(HandlerDelayMs.load()));
            return true;
        });
    }
    TCanSendItem* AddPeriodic(int32_t period, bool active = true)
    {
        auto* item = new TCanSendItem;
        item->SendType = cstPeriodic;
        item->Period = period;
        item->Active = active;
        List.Add(item);
        return item;
    }
};

} // namespace

TEST(PeriodicSendThread, StartsPausedAndWithoutAListOnlySleeps)
{
    TPeriodicSendThread thread;
    EXPECT_TRUE(thread.IsPaused());
    std::this_thread::sleep_for(20ms);
    EXPECT_EQ(thread.Passes(), 0u);
    thread.Resume();
    std::this_thread::sleep_for(50ms);
    // A pass runs at once; with nothing to send the thread then sleeps
    // instead of polling every millisecond.
    EXPECT_GE(thread.Passes(), 1u);
    EXPECT_LE(thread.Passes(), 2u);
    thread.Pause();
}

TEST(PeriodicSendThread, SendsDueItemsAndStopsAtOnceWhenPaused)
{
    TCountingList counting;
    counting.AddPeriodic(10);
    counting.AddPeriodic(10, false); // inactive: never sent
    TPeriodicSendThread thread(&counting.List);
    thread.Resume();
    std::this_thread::sleep_for(140ms);
    thread.Pause();
    const int sent = counting.Sent.load();
    // About 140 / (10 + lateness); the bounds only catch a sender that never
    // runs or ignores the period, whatever the machine's load (the pause may
    // come up to 19 ms late).
    EXPECT_GE(sent, 1);
    EXPECT_LE(sent, 16);
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(counting.Sent.load(), sent); // nothing after the pause (five periods)

    // An overdue item goes out on the first pass after resuming.
    thread.Resume();
    for (int i = 0; i < 200 && counting.Sent.load() == sent; ++i)
        std::this_thread::sleep_for(1ms);
    EXPECT_GT(counting.Sent.load(), sent);
    thread.Terminate();
    const int final = counting.Sent.load();
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(counting.Sent.load(), final); // no pass after the end
}

TEST(PeriodicSendThread, PauseWaitsForThePassAndNeverLeavesTheListLocked)
{
    TCountingList counting;
    counting.AddPeriodic(0);      // due on every pass
    counting.HandlerDelayMs = 20; // a long pass, inside the list's lock
    TPeriodicSendThread thread(&counting.List);
    thread.Resume();
    while (counting.Sent.load() == 0)
        std::this_thread::yield();
    thread.Pause();
    // The window's next Delete must not wait: the lock is free once Pause returns.
    std::unique_lock<tcm::TMutex> lock(counting.List.Lock(), std::try_to_lock);
    EXPECT_TRUE(lock.owns_lock());
    lock.unlock();
    counting.List.Delete(0);
    EXPECT_EQ(counting.List.Count(), 0);
}

TEST(PeriodicSendThread, ListChangesDuringSendingAreSafe)
{
    TCountingList counting;
    TPeriodicSendThread thread(&counting.List);
    thread.Resume();
    const auto end = std::chrono::steady_clock::now() + 300ms;
    for (int round = 0; std::chrono::steady_clock::now() < end; ++round) {
        counting.AddPeriodic(0);
        counting.AddPeriodic(1);
        counting.List.MoveDown(0);
        counting.List.Delete(0);
        std::this_thread::sleep_for(200us); // lets the sender take the lock between edits
        if (round % 10 == 9) {
            while (counting.List.Count() > 0)
                counting.List.Delete(0);
            std::this_thread::sleep_for(1ms);
        }
    }
    thread.Terminate();
    EXPECT_GT(counting.Sent.load(), 0);
}
