#pragma once
// The test clock (tcm::TFastSleepClock) installed for a scope of a test program.
#include "platform/FastSleepClock.h"

namespace tcmtest {

using TFastSleepClock = tcm::TFastSleepClock;

// Installs a TFastSleepClock for its lifetime.
class TScopedFastClock {
public:
    TScopedFastClock() { tcm::SetClock(&Clock); }
    ~TScopedFastClock() { tcm::SetClock(nullptr); }
    TScopedFastClock(const TScopedFastClock&) = delete;
    TScopedFastClock& operator=(const TScopedFastClock&) = delete;
    const TFastSleepClock& Get() const { return Clock; }
    TFastSleepClock& Get() { return Clock; }

private:
    TFastSleepClock Clock;
};

} // namespace tcmtest
