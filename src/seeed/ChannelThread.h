#pragma once
#include <atomic>
#include <cstdint>

#include "platform/ThreadBase.h"

class TLogger;
class TTarvenixTraceList;

// Base of a channel's worker threads: a stop flag that the worker loops test,
// and the channel's log and trace (not owned).
class TChannelCustomThread : public tcm::TThreadBase {
public:
    explicit TChannelCustomThread(bool createSuspended) : TThreadBase(createSuspended) {}

    // Asks the loop to end and waits at most `timeoutMs` for it; true when it ended.
    bool StopAndWait(uint32_t timeoutMs)
    {
        StopRequested.store(true);
        WakeUp();
        return WaitFor(timeoutMs);
    }
    // Ends the loop's current wait early, so that it looks at its flags now.
    virtual void WakeUp() {}

    std::atomic<bool> StopRequested{false};
    TLogger* Logger = nullptr;
    TTarvenixTraceList* Trace = nullptr;
};
