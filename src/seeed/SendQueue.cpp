#include "seeed/SendQueue.h"

#include <chrono>

void TSendQueue::Push(std::unique_ptr<TCanFrame> frame)
{
    {
        std::lock_guard<std::mutex> guard(Lock);
        Frames.push_back(std::move(frame));
    }
    Arrived.notify_one();
}

std::unique_ptr<TCanFrame> TSendQueue::Pop()
{
    std::lock_guard<std::mutex> guard(Lock);
    if (Frames.empty())
        return nullptr;
    auto frame = std::move(Frames.front());
    Frames.pop_front();
    if (Frames.empty())
        Emptied.notify_all();
    return frame;
}

std::unique_ptr<TCanFrame> TSendQueue::WaitPop(uint32_t timeoutMs, const std::atomic<bool>* stop)
{
    std::unique_lock<std::mutex> guard(Lock);
    if (Frames.empty())
        Arrived.wait_for(guard, std::chrono::milliseconds(timeoutMs),
                         [this, stop] { return !Frames.empty() || (stop && stop->load()); });
    if (Frames.empty())
        return nullptr;
    auto frame = std::move(Frames.front());
    Frames.pop_front();
    if (Frames.empty())
        Emptied.notify_all();
    return frame;
}

bool TSendQueue::WaitEmpty(uint32_t timeoutMs) const
{
    std::unique_lock<std::mutex> guard(Lock);
    return Emptied.wait_for(guard, std::chrono::milliseconds(timeoutMs), [this] { return Frames.empty(); });
}

void TSendQueue::Interrupt()
{
    // Taking the lock orders this after a waiter's look at its flag: the
    // notification cannot fall between that look and its sleep.
    { std::lock_guard<std::mutex> guard(Lock); }
    Arrived.notify_all();
}

int32_t TSendQueue::Count() const
{
    std::lock_guard<std::mutex> guard(Lock);
    return static_cast<int32_t>(Frames.size());
}

void TSendQueue::Clear()
{
    std::deque<std::unique_ptr<TCanFrame>> old;
    {
        std::lock_guard<std::mutex> guard(Lock);
        old.swap(Frames);
        Emptied.notify_all();
    }
}
