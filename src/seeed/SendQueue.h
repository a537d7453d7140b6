#pragma once
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>

#include "platform/Mutex.h"
#include "core/CanGeneral.h"

// Unbounded first-in, first-out queue of owned frames between every sender and
// the task thread. Any number of producers, one consumer; each operation holds
// the lock only for its own length.
class TSendQueue {
public:
    void Push(std::unique_ptr<TCanFrame> frame);
    // The oldest frame, or none when the queue is empty.
    std::unique_ptr<TCanFrame> Pop();
    // Like Pop, but waits up to `timeoutMs` for a frame to arrive, or until
    // `stop` (when given) is set and Interrupt called.
    std::unique_ptr<TCanFrame> WaitPop(uint32_t timeoutMs, const std::atomic<bool>* stop = nullptr);
    // Wakes every waiter to look at its stop flag (set the flag first).
    void Interrupt();
    int32_t Count() const;
    // Waits up to `timeoutMs` for the queue to be empty; true when it is.
    bool WaitEmpty(uint32_t timeoutMs) const;
    // Frees every frame still waiting.
    void Clear();

private:
    // The first frame, or null; tells anyone waiting for an empty queue.
    std::unique_ptr<TCanFrame> TakeFront() TCM_REQUIRES(Lock);

    mutable tcm::TMutex Lock;
    tcm::TCondition Arrived;
    mutable tcm::TCondition Emptied;
    std::deque<std::unique_ptr<TCanFrame>> Frames TCM_GUARDED_BY(Lock);
};
