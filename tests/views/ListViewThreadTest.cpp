// The receive table view fed from another thread, as the channel's reading
// thread feeds it while the window thread runs its event loop.
#include <gtest/gtest.h>

#include <atomic>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <thread>

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

#include "ListViewTestSupport.h"
#include "platform/Mutex.h"
#include "views/ListViewFrameTable.h"
#include "views/TarvenixTable.h"

using tcmtest::ExpectViewShowsTable;

namespace {

using TClock = std::chrono::steady_clock;

// Ends the program when a test hangs (a deadlock would otherwise only show
// as the CTest time-out).
class TWatchdog {
public:
    explicit TWatchdog(const char* what, std::chrono::seconds limit = std::chrono::seconds(120))
        : Thread([this, what, limit]() {
              tcm::TMutexLock lock(Lock);
              if (!Done.wait_for(lock, limit, [this]() { return Finished; })) {
                  std::fprintf(stderr, "watchdog: %s did not finish, deadlock?\n", what);
                  std::abort();
              }
          })
    {
    }
    ~TWatchdog()
    {
        {
            tcm::TMutexLock lock(Lock);
            Finished = true;
        }
        Done.notify_all();
        Thread.join();
    }

private:
    tcm::TMutex Lock;
    tcm::TCondition Done;
    bool Finished = false;
    std::thread Thread;
};

// Deterministic traffic over about 500 row identities: standard, extended
// and remote frames, every length from 0 to 8, changing data.
class TTraffic {
public:
    explicit TTraffic(uint32_t identities = 500) : Identities(identities) {}

    TCanFrame Next()
    {
        const uint32_t pick = Random() % Identities;
        TCanFrame frame;
        frame.Standard = pick < 300;
        frame.Request = pick % 17 == 0;
        frame.Id = frame.Standard ? (pick * 7u) & 0x7FFu : 0x1000000u + pick * 12345u;
        frame.Length = static_cast<int32_t>(Random() % 9);
        for (uint8_t& b : frame.Data)
            b = static_cast<uint8_t>(Random());
        Time += 1 + Random() % 3;
        frame.Time = Time;
        return frame;
    }

private:
    uint32_t Random()
    {
        State = State * 1664525u + 1013904223u;
        return State >> 8;
    }
    uint32_t Identities;
    uint32_t State = 12345;
    uint32_t Time = 0;
};

// Runs the window thread's event loop until `done` holds, calling `tick`
// every few milliseconds.
void RunEventLoopUntil(const std::function<bool()>& done, const std::function<void()>& tick = {})
{
    QEventLoop loop;
    QTimer poll;
    poll.setInterval(2);
    QObject::connect(&poll, &QTimer::timeout, &loop, [&]() {
        if (tick)
            tick();
        if (done())
            loop.quit();
    });
    poll.start();
    loop.exec();
}

// Feeds `count` frames as the reading thread does: each frame, then the
// table's pending requests. `gate` runs between chunks of 1000 frames,
// outside the measured time; the result is the time spent feeding, in
// seconds. `performed` counts the clear and rebuild requests carried out.
double Feed(TTarvenixTable& table, int count, std::atomic<int>* fed = nullptr,
            const std::function<void(int)>& gate = {}, int* performed = nullptr, uint32_t identities = 500)
{
    TTraffic traffic(identities);
    TClock::duration spent{};
    for (int chunk = 0; chunk < count; chunk += 1000) {
        if (gate)
            gate(chunk);
        const auto start = TClock::now();
        const int end = std::min(count, chunk + 1000);
        for (int i = chunk; i < end; ++i) {
            table.AddFrame(traffic.Next());
            if (performed)
                *performed += (table.IsClearRequested() ? 1 : 0) + (table.IsRebuildRequested() ? 1 : 0);
            table.ProcessRequests();
        }
        spent += TClock::now() - start;
        if (fed)
            fed->store(end, std::memory_order_relaxed);
    }
    return std::chrono::duration<double>(spent).count();
}

} // namespace

TEST(ListViewFrameTableThreads, HundredThousandFramesFromTheReadingThread)
{
    constexpr int kFrames = 100000;
    TWatchdog watchdog("threaded feed");

    TTarvenixTable table;
    TListViewFrameTable view;
    view.resize(520, 400);
    view.show();
    view.SetTable(&table);

    // The window clears and rebuilds the running table through its requests;
    // the reader waits at a few chunk boundaries until the window has asked,
    // so that the requests surely fall in the middle of the traffic.
    std::atomic<int> fed{0};
    std::atomic<int> step{0};
    std::atomic<bool> finished{false};
    double watched = 0;
    int performed = 0;
    std::thread reader([&]() {
        const auto gate = [&](int chunk) {
            const int wanted = chunk == 30000 ? 1 : chunk == 60000 ? 2 : chunk == 80000 ? 3 : 0;
            while (step.load() < wanted)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
        };
        watched = Feed(table, kFrames, &fed, gate, &performed);
        finished.store(true);
    });
    RunEventLoopUntil([&]() { return finished.load(); },
                      [&]() {
                          const int n = fed.load(std::memory_order_relaxed);
                          if (step == 0 && n >= 30000) {
                              table.RequestClear();
                              ++step;
                          } else if (step == 1 && n >= 60000) {
                              table.RequestRebuild();
                              ++step;
                          } else if (step == 2 && n >= 80000) {
                              table.RequestRebuild();
                              table.RequestClear();
                              ++step;
                          }
                      });
    reader.join();
    QCoreApplication::sendPostedEvents();

    ExpectViewShowsTable(view, table);
    EXPECT_GT(table.Count(), 300);

    const TListViewFrameTable::TStatistics stats = view.Statistics();
    // One hand-over per notification: every frame, every clear, every rebuild.
    EXPECT_EQ(performed, 4);
    EXPECT_EQ(stats.Queued, static_cast<uint64_t>(kFrames + performed));
    std::printf("reading thread while the window drains: %.0f ns per frame (%d frames)\n", watched * 1e9 / kFrames,
                kFrames);
    const double busy = static_cast<double>(stats.BusyNs) * 1e-9;
    std::printf("window thread: %llu drains, %llu line changes applied, %llu queued notifications coalesced away, "
                "%.1f ms busy: %.0f line changes/s, %.0f notifications/s\n",
                static_cast<unsigned long long>(stats.Drains), static_cast<unsigned long long>(stats.Applied),
                static_cast<unsigned long long>(stats.Skipped), busy * 1e3,
                busy > 0 ? static_cast<double>(stats.Applied) / busy : 0.0,
                busy > 0 ? static_cast<double>(stats.Queued) / busy : 0.0);
}

TEST(ListViewFrameTableThreads, WindowWaitingForTheReaderDoesNotDeadlock)
{
    // The stop sequence: the window thread waits for the reading thread to
    // end without serving its event loop meanwhile.
    constexpr int kFrames = 100000;
    TWatchdog watchdog("stop sequence");
    TTarvenixTable table;
    TListViewFrameTable view;
    view.SetTable(&table);
    double watched = 0;
    std::thread reader([&]() { watched = Feed(table, kFrames); });
    reader.join();
    EXPECT_EQ(view.LineCount(), 0); // nothing applied while the window thread was not serving events

    // Served afterwards, every notification arrives, in order.
    const auto start = TClock::now();
    QCoreApplication::sendPostedEvents();
    const double drain = std::chrono::duration<double>(TClock::now() - start).count();
    ExpectViewShowsTable(view, table);
    EXPECT_EQ(view.Statistics().Queued, static_cast<uint64_t>(kFrames));

    std::printf("backlog of %d notifications applied in %.1f ms\n", kFrames, drain * 1e3);
}

TEST(ListViewFrameTableThreads, HandOverCostOnTheReadingThread)
{
    // The reading thread's share of the hand-over: the same traffic over a
    // few identities (so that the table's own search costs little) into a
    // watched and an unwatched table, best of three alternating runs.
    constexpr int kFrames = 200000;
    TWatchdog watchdog("hand-over cost");
    double watchedBest = 1e9;
    double bareBest = 1e9;
    for (int round = 0; round < 3; ++round) {
        TTarvenixTable watchedTable;
        TListViewFrameTable view;
        view.SetTable(&watchedTable);
        double watched = 0;
        std::thread reader([&]() { watched = Feed(watchedTable, kFrames, nullptr, {}, nullptr, 16); });
        reader.join();
        TTarvenixTable bareTable;
        double bare = 0;
        std::thread reference([&]() { bare = Feed(bareTable, kFrames, nullptr, {}, nullptr, 16); });
        reference.join();
        watchedBest = std::min(watchedBest, watched);
        bareBest = std::min(bareBest, bare);

        QCoreApplication::sendPostedEvents();
        ExpectViewShowsTable(view, watchedTable);
        EXPECT_EQ(view.Statistics().Queued, static_cast<uint64_t>(kFrames));
        view.SetTable(nullptr);
    }
    std::printf("hand-over on the reading thread: %.0f ns per frame (%.0f with the view attached, %.0f without)\n",
                (watchedBest - bareBest) * 1e9 / kFrames, watchedBest * 1e9 / kFrames, bareBest * 1e9 / kFrames);
}

TEST(ListViewFrameTableThreads, SetTableWhileTheReaderFeedsDoesNotDeadlock)
{
    TWatchdog watchdog("SetTable during feed");
    TTarvenixTable table;
    TListViewFrameTable view;
    std::atomic<bool> stop{false};
    std::thread reader([&]() {
        TTraffic traffic;
        while (!stop.load()) {
            table.AddFrame(traffic.Next());
            table.ProcessRequests();
        }
    });

    for (int i = 0; i < 300; ++i) {
        view.SetTable(nullptr);
        if (i % 3 == 0)
            QCoreApplication::processEvents();
        view.SetTable(&table);
        table.RequestRebuild();
        if (i % 2 == 0)
            QCoreApplication::processEvents();
    }
    // Attached for good: once the reader has taken up the rebuild requested
    // after the last attachment (a rebuild resets the flag before it
    // notifies), the view must end in step with the table.
    table.RequestRebuild();
    RunEventLoopUntil([&]() { return !table.IsRebuildRequested(); });
    stop.store(true);
    reader.join();
    QCoreApplication::sendPostedEvents();
    ExpectViewShowsTable(view, table);

    view.SetTable(nullptr);
}

TEST(ListViewFrameTableThreads, QueuedWorkOfADetachedTableIsDropped)
{
    TWatchdog watchdog("detach");
    TTarvenixTable first;
    TListViewFrameTable view;
    view.SetTable(&first);
    std::thread reader([&]() { Feed(first, 20000); });
    reader.join(); // everything of `first` is queued, nothing applied yet

    TTarvenixTable second;
    view.SetTable(&second);
    second.AddFrame(tcmtest::Frame(0x123, true, false, {1, 2}));
    ASSERT_EQ(view.LineCount(), 1);
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents();
    ExpectViewShowsTable(view, second);

    // Detached altogether: work queued by a reader of `second` is dropped too.
    std::thread reader2([&]() { Feed(second, 5000); });
    reader2.join();
    view.SetTable(nullptr);
    QCoreApplication::sendPostedEvents();
    EXPECT_EQ(view.LineCount(), 1);
}
