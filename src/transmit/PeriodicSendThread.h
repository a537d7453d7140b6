#pragma once
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

#include "platform/Mutex.h"

class TCanSendList;

// Keeps the Periodic items of one channel's transmit list going: each pass
// reads the clock and lets the list send what is due; between passes it sleeps
// until the next item falls due (at least 1 ms), the list changes, or it is
// paused or ended. Pausing takes effect only between passes, never while the
// list's lock is held. The thread hooks the list's change notification
// (SetOnChanged); the list must outlive that hook or be replaced by SetList.
class TPeriodicSendThread {
public:
    // The thread starts paused and without a list.
    explicit TPeriodicSendThread(TCanSendList* list = nullptr);
    // Stops for good: no pass runs once this returns.
    ~TPeriodicSendThread();
    TPeriodicSendThread(const TPeriodicSendThread&) = delete;
    TPeriodicSendThread& operator=(const TPeriodicSendThread&) = delete;

    // Changed only while paused.
    void SetList(TCanSendList* list);
    // Ends the current wait between passes: the list changed.
    void Wake();
    // The longest sleep between passes, and the shortest.
    static constexpr uint32_t kMaxWaitMs = 1000;
    static constexpr uint32_t kMinWaitMs = 1;

    void Resume();
    // Returns once no pass is running; the next pass waits for Resume.
    void Pause();
    // Ends the thread for good (also done by the destructor).
    void Terminate();

    bool IsPaused() const;
    // Passes run so far, for tests and measurements.
    uint64_t Passes() const;

private:
    void Execute();

    mutable tcm::TMutex Lock;
    tcm::TCondition Changed;
    TCanSendList* List TCM_GUARDED_BY(Lock);
    bool Paused TCM_GUARDED_BY(Lock) = true;
    bool InPass TCM_GUARDED_BY(Lock) = false;
    bool Terminated TCM_GUARDED_BY(Lock) = false;
    bool Woken TCM_GUARDED_BY(Lock) = false;
    uint64_t PassCount TCM_GUARDED_BY(Lock) = 0;
    std::thread Thread;
};
