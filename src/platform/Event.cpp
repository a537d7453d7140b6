#include "platform/Event.h"

#include <chrono>
#include <system_error>

namespace tcm {

void TAutoResetEvent::Set()
{
    {
        tcm::TMutexLock guard(Lock);
        Signalled = true;
    }
    Changed.notify_one();
}

void TAutoResetEvent::Reset()
{
    tcm::TMutexLock guard(Lock);
    Signalled = false;
}

uint32_t TAutoResetEvent::Wait(uint32_t timeoutMs)
{
    try {
        tcm::TMutexLock lock(Lock);
        const auto isSet = [this]() TCM_REQUIRES(Lock) { return Signalled; };
        if (timeoutMs == kWaitInfinite) {
            Changed.wait(lock, isSet);
        } else {
            const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
            if (!Changed.wait_until(lock, deadline, isSet))
                return kWaitTimeout;
        }
        Signalled = false;
        return kWaitSignalled;
    } catch (const std::system_error&) {
        return kWaitFailed;
    }
}

} // namespace tcm
