#pragma once
#include <condition_variable>
#include <cstdint>
#include <mutex>

#include "platform/Mutex.h"

namespace tcm {

// Result codes of a wait, the numbers that the log reports.
constexpr uint32_t kWaitSignalled = 0;
constexpr uint32_t kWaitTimeout = 258;
constexpr uint32_t kWaitFailed = 0xFFFFFFFF;
// A time-out that never ends.
constexpr uint32_t kWaitInfinite = 0xFFFFFFFF;

// An auto-reset event, created not signalled. Set signals it; a successful
// Wait consumes the signal, so it releases one waiter. A Set made before the
// Wait begins still satisfies that Wait. Several Sets without a Wait between
// them leave one signal, not several.
class TAutoResetEvent {
public:
    TAutoResetEvent() = default;
    TAutoResetEvent(const TAutoResetEvent&) = delete;
    TAutoResetEvent& operator=(const TAutoResetEvent&) = delete;

    void Set();
    void Reset();
    // Waits at most timeoutMs (kWaitInfinite: without limit; 0: only looks) on
    // the steady clock. Returns kWaitSignalled, kWaitTimeout or kWaitFailed.
    uint32_t Wait(uint32_t timeoutMs);

private:
    tcm::TMutex Lock;
    tcm::TCondition Changed;
    bool Signalled TCM_GUARDED_BY(Lock) = false;
};

} // namespace tcm
