#pragma once
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

#include "platform/Mutex.h"

namespace tcm {

// Base of the worker threads: a body (Execute), a wait for its end with a time
// limit, a priority step, and destruction that waits for the end.
//
// Starting: a thread cannot run the derived class's Execute before the derived
// constructor has finished, so no thread starts inside the constructor. The
// body starts on the first Resume() (or Start(), the same) whether or not the
// object was created suspended; `createSuspended` is kept for the callers'
// reading. Later Resume() calls do nothing: there is no suspending a running
// thread.
//
// Ending: the thread is never detached. A derived class whose Execute uses its
// own members calls WaitForEndInDestructor() first in its destructor, so that
// the body never outlives them; the base destructor joins as well.
// An exception that escapes Execute ends the thread normally; its text is kept
// in FatalError().
class TThreadBase {
public:
    explicit TThreadBase(bool createSuspended);
    virtual ~TThreadBase(); // waits for the body to end if it was started
    TThreadBase(const TThreadBase&) = delete;
    TThreadBase& operator=(const TThreadBase&) = delete;

    void Resume(); // starts the body, once
    void Start() { Resume(); }

    // True when the body has ended within timeoutMs (0xFFFFFFFF: without
    // limit), and true at once for a thread never started.
    bool WaitFor(uint32_t timeoutMs);
    bool Started() const;
    bool Finished() const; // the body ran and has ended
    bool CreatedSuspended() const { return Suspended; }
    // The text of an exception that ended the body; empty otherwise. Read it
    // after the end.
    std::string FatalError() const;

    // Raises the calling thread one step above normal priority (nice one lower
    // than now). Best effort: a refusal is ignored.
    static void RaiseCurrentThreadPriority();

protected:
    virtual void Execute() = 0;
    void WaitForEndInDestructor();

private:
    void Run();

    const bool Suspended;
    std::thread Thread;
    std::atomic<bool> HasStarted{false};
    std::atomic<bool> Ended{false};
    mutable tcm::TMutex Lock; // guards the end notification, Fatal and the start
    tcm::TCondition EndedChanged;
    std::string Fatal TCM_GUARDED_BY(Lock);
};

} // namespace tcm
