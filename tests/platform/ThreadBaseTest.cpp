#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <stdexcept>
#include <sys/resource.h>
#include <thread>
#include <unistd.h>

#include "platform/Event.h"
#include "platform/ThreadBase.h"

using tcm::TThreadBase;

namespace {

// A body that runs until released.
class TGatedThread : public TThreadBase {
public:
    explicit TGatedThread(bool suspended = true) : TThreadBase(suspended) {}
    ~TGatedThread() override { WaitForEndInDestructor(); }

    tcm::TAutoResetEvent Gate;
    std::atomic<int> Runs{0};
    std::atomic<bool> Done{false};

protected:
    void Execute() override
    {
        ++Runs;
        Gate.Wait(tcm::kWaitInfinite);
        Done.store(true);
    }
};

TEST(ThreadBase, WaitForTimesOutWhileTheBodyRunsAndSucceedsAfter)
{
    TGatedThread thread;
    thread.Resume();
    thread.Resume(); // starts nothing more
    EXPECT_FALSE(thread.WaitFor(20));
    EXPECT_FALSE(thread.Finished());
    EXPECT_TRUE(thread.Started());

    thread.Gate.Set();
    EXPECT_TRUE(thread.WaitFor(10000));
    EXPECT_TRUE(thread.Finished());
    EXPECT_TRUE(thread.Done.load());
    EXPECT_TRUE(thread.WaitFor(0)); // stays ended
    EXPECT_TRUE(thread.FatalError().empty());
    thread.Resume();
    EXPECT_EQ(thread.Runs.load(), 1);
}

TEST(ThreadBase, ThreadNeverResumedIsDestroyedCleanly)
{
    auto thread = std::make_unique<TGatedThread>();
    EXPECT_TRUE(thread->WaitFor(0));
    EXPECT_FALSE(thread->Started());
    EXPECT_FALSE(thread->Finished());
    thread.reset();

    // Created "running": still waits for Resume, because the body is virtual.
    TGatedThread notSuspended(false);
    EXPECT_FALSE(notSuspended.CreatedSuspended());
    EXPECT_FALSE(notSuspended.Started());
    notSuspended.Start();
    notSuspended.Gate.Set();
    EXPECT_TRUE(notSuspended.WaitFor(10000));
    EXPECT_EQ(notSuspended.Runs.load(), 1);
}

// A body that takes a while and reports its end to the outside.
class TSlowThread : public TThreadBase {
public:
    explicit TSlowThread(std::atomic<bool>& ended) : TThreadBase(true), Ended(ended) {}
    ~TSlowThread() override { WaitForEndInDestructor(); }

protected:
    void Execute() override
    {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        Ended.store(true);
    }

private:
    std::atomic<bool>& Ended;
};

TEST(ThreadBase, DestructionWaitsForTheBody)
{
    std::atomic<bool> ended{false};
    {
        TSlowThread thread(ended);
        thread.Resume();
    }
    EXPECT_TRUE(ended.load());
}

class TThrowingThread : public TThreadBase {
public:
    TThrowingThread() : TThreadBase(true) {}
    ~TThrowingThread() override { WaitForEndInDestructor(); }

protected:
    void Execute() override { throw std::runtime_error("port vanished"); }
};

TEST(ThreadBase, ExceptionInTheBodyEndsTheThreadWithoutTakingTheProgramDown)
{
    TThrowingThread thread;
    thread.Resume();
    ASSERT_TRUE(thread.WaitFor(10000));
    EXPECT_TRUE(thread.Finished());
    EXPECT_EQ(thread.FatalError(), "port vanished");
}

// Runs one function as the body.
class TFunctionThread : public TThreadBase {
public:
    explicit TFunctionThread(std::function<void()> body) : TThreadBase(true), Body(std::move(body)) {}
    ~TFunctionThread() override { WaitForEndInDestructor(); }

protected:
    void Execute() override { Body(); }

private:
    std::function<void()> Body;
};

TEST(ThreadBase, RaisedPriorityIsOneStepForTheCallingThreadOnly)
{
    const int mainBefore = getpriority(PRIO_PROCESS, static_cast<id_t>(gettid()));
    int before = 0;
    int after = 0;
    TFunctionThread thread([&] {
        before = getpriority(PRIO_PROCESS, static_cast<id_t>(gettid()));
        TThreadBase::RaiseCurrentThreadPriority(); // never fails loudly
        after = getpriority(PRIO_PROCESS, static_cast<id_t>(gettid()));
    });
    thread.Resume();
    ASSERT_TRUE(thread.WaitFor(10000));

    if (geteuid() == 0 && before > -20)
        EXPECT_EQ(after, before - 1);
    else
        EXPECT_TRUE(after == before || after == before - 1) << before << " -> " << after;
    EXPECT_EQ(getpriority(PRIO_PROCESS, static_cast<id_t>(gettid())), mainBefore);
}

} // namespace
