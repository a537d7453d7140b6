#include "transmit/PeriodicSendThread.h"

#include <algorithm>
#include <chrono>
#include <utility>

#include "platform/Tick.h"
#include "transmit/CanSendList.h"

TPeriodicSendThread::TPeriodicSendThread(TCanSendList* list) : List(nullptr)
{
    SetList(list);
    Thread = std::thread([this] { Execute(); });
}

TPeriodicSendThread::~TPeriodicSendThread()
{
    Terminate();
}

void TPeriodicSendThread::SetList(TCanSendList* list)
{
    TCanSendList* old = nullptr;
    {
        tcm::TMutexLock guard(Lock);
        old = std::exchange(List, list);
    }
    if (old == list)
        return;
    if (old)
        old->SetOnChanged(nullptr);
    if (list)
        list->SetOnChanged([this] { Wake(); });
}

void TPeriodicSendThread::Wake()
{
    {
        tcm::TMutexLock guard(Lock);
        Woken = true;
    }
    Changed.notify_all();
}

void TPeriodicSendThread::Resume()
{
    {
        tcm::TMutexLock guard(Lock);
        Paused = false;
    }
    Changed.notify_all();
}

void TPeriodicSendThread::Pause()
{
    tcm::TMutexLock guard(Lock);
    Paused = true;
    // A pass in progress finishes first; it holds the list's lock, not ours.
    Changed.wait(guard, [this]() TCM_REQUIRES(Lock) { return !InPass; });
}

void TPeriodicSendThread::Terminate()
{
    {
        tcm::TMutexLock guard(Lock);
        Terminated = true;
    }
    Changed.notify_all();
    if (Thread.joinable())
        Thread.join();
}

bool TPeriodicSendThread::IsPaused() const
{
    tcm::TMutexLock guard(Lock);
    return Paused;
}

uint64_t TPeriodicSendThread::Passes() const
{
    tcm::TMutexLock guard(Lock);
    return PassCount;
}

void TPeriodicSendThread::Execute()
{
    for (;;) {
        TCanSendList* list = nullptr;
        {
            tcm::TMutexLock guard(Lock);
            Changed.wait(guard, [this]() TCM_REQUIRES(Lock) { return Terminated || !Paused; });
            if (Terminated)
                return;
            InPass = true;
            list = List;
        }
        uint32_t wait = kMaxWaitMs;
        if (list) {
            list->SendPeriodic(tcm::TickCount());
            wait = std::clamp(list->MsUntilDue(tcm::TickCount()), kMinWaitMs, kMaxWaitMs);
        }
        tcm::TMutexLock guard(Lock);
        InPass = false;
        ++PassCount;
        Woken = false;
        Changed.notify_all();
        // The due time is a lower bound: the wait may end later, never earlier,
        // so an interval is Period plus lateness. A change of the list, a pause
        // or the end cut it short.
        Changed.wait_for(guard, std::chrono::milliseconds(wait),
                         [this]() TCM_REQUIRES(Lock) { return Woken || Paused || Terminated; });
    }
}
