#include "transmit/PeriodicSendThread.h"

#include "platform/Tick.h"
#include "transmit/CanSendList.h"

TPeriodicSendThread::TPeriodicSendThread(TCanSendList* list) : List(list)
{
    Thread = std::thread([this] { Execute(); });
}

TPeriodicSendThread::~TPeriodicSendThread()
{
    Terminate();
}

void TPeriodicSendThread::SetList(TCanSendList* list)
{
    std::lock_guard<std::mutex> guard(Lock);
    List = list;
}

TCanSendList* TPeriodicSendThread::GetList() const
{
    std::lock_guard<std::mutex> guard(Lock);
    return List;
}

void TPeriodicSendThread::Resume()
{
    {
        std::lock_guard<std::mutex> guard(Lock);
        Paused = false;
    }
    Changed.notify_all();
}

void TPeriodicSendThread::Pause()
{
    std::unique_lock<std::mutex> guard(Lock);
    Paused = true;
    // A pass in progress finishes first; it holds the list's lock, not ours.
    Changed.wait(guard, [this] { return !InPass; });
}

void TPeriodicSendThread::Terminate()
{
    {
        std::lock_guard<std::mutex> guard(Lock);
        Terminated = true;
    }
    Changed.notify_all();
    if (Thread.joinable())
        Thread.join();
}

bool TPeriodicSendThread::IsPaused() const
{
    std::lock_guard<std::mutex> guard(Lock);
    return Paused;
}

uint64_t TPeriodicSendThread::Passes() const
{
    std::lock_guard<std::mutex> guard(Lock);
    return PassCount;
}

void TPeriodicSendThread::Execute()
{
    for (;;) {
        TCanSendList* list = nullptr;
        {
            std::unique_lock<std::mutex> guard(Lock);
            Changed.wait(guard, [this] { return Terminated || !Paused; });
            if (Terminated)
                return;
            InPass = true;
            list = List;
        }
        if (list)
            list->SendPeriodic(tcm::TickCount());
        {
            std::lock_guard<std::mutex> guard(Lock);
            InPass = false;
            ++PassCount;
        }
        Changed.notify_all();
        tcm::SleepMs(1);
    }
}
