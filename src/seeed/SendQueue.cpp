#include "seeed/SendQueue.h"

#include <chrono>

void TSendQueue::Push(std::unique_ptr<TCanFrame> frame)
{
    {
        tcm::TMutexLock guard(Lock);
        Frames.push_back(std::move(frame));
    }
    Arrived.notify_one();
}

std::unique_ptr<TCanFrame> TSendQueue::TakeFront()
{
    if (Frames.empty())
        return nullptr;
    auto frame = std::move(Frames.front());
    Frames.pop_front();
    if (Frames.empty())
        Emptied.notify_all();
    return frame;
}

std::unique_ptr<TCanFrame> TSendQueue::Pop()
{
    tcm::TMutexLock guard(Lock);
    return TakeFront();
}

std::unique_ptr<TCanFrame> TSendQueue::WaitPop(uint32_t timeoutMs, const std::atomic<bool>* stop)
{
    tcm::TMutexLock guard(Lock);
    if (Frames.empty())
        Arrived.wait_for(guard, std::chrono::milliseconds(timeoutMs),
                         [this, stop]() TCM_REQUIRES(Lock) { return !Frames.empty() || (stop && stop->load()); });
    return TakeFront();
}

bool TSendQueue::WaitEmpty(uint32_t timeoutMs) const
{
    tcm::TMutexLock guard(Lock);
    return Emptied.wait_for(guard, std::chrono::milliseconds(timeoutMs),
                            [this]() TCM_REQUIRES(Lock) { return Frames.empty(); });
}

void TSendQueue::Interrupt()
{
    // Taking the lock orders this after a waiter's look at its flag: the
    // notification cannot fall between that look and its sleep.
    {
        tcm::TMutexLock guard(Lock);
    }
    Arrived.notify_all();
}

int32_t TSendQueue::Count() const
{
    tcm::TMutexLock guard(Lock);
    return static_cast<int32_t>(Frames.size());
}

void TSendQueue::Clear()
{
    std::deque<std::unique_ptr<TCanFrame>> old;
    {
        tcm::TMutexLock guard(Lock);
        old.swap(Frames);
        Emptied.notify_all();
    }
}
