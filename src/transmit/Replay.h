#pragma once
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>

#include "core/CanGeneral.h"
#include "platform/Mutex.h"

// Plays a recording onto the bus from a thread of its own, so that the monitor
// keeps receiving meanwhile: frames in file order, each at its original distance
// in time from the first one of the pass (which goes at once), read one at a
// time so any length plays in constant memory.
class TReplay {
public:
    // `send` puts one frame on the transmit path; `report` gets the readers'
    // messages about malformed lines or objects (they are skipped).
    TReplay(std::string path, long loops, std::function<void(const TCanFrame&)> send,
            std::function<void(const std::string&)> report);
    ~TReplay(); // stops and joins

    // Checks that the file opens as a recording; false with `error` set if not.
    static bool CanOpen(const std::string& path, std::string& error);

    // The channel (bus) played from a recording of several; set before Start.
    int Channel = 1;
    // Set before Start(): the file is read through once first, so that
    // PassFrames() is known for a progress bar before the first frame goes.
    bool CountFirst = false;

    void Start();
    void Stop() TCM_EXCLUDES(Lock);
    bool Done() const { return Finished.load(); }
    uint64_t FramesSent() const { return Sent.load(); }
    // Passes asked for (0: without end), passes ended, and the current pass's place.
    long Loops() const { return LoopCount; }
    long PassesDone() const { return Passes.load(); }
    int64_t PassFrames() const { return FramesPerPass.load(); } // -1 while unknown
    uint64_t PassSent() const { return SentThisPass.load(); }

private:
    void Run() TCM_EXCLUDES(Lock);
    // Waits until `due` or Stop(); false when stopped.
    bool WaitUntil(std::chrono::steady_clock::time_point due) TCM_EXCLUDES(Lock);

    const std::string Path;
    bool Stopping() TCM_EXCLUDES(Lock);

    const long LoopCount;
    std::function<void(const TCanFrame&)> Send;
    std::function<void(const std::string&)> Report;
    std::thread Thread;
    tcm::TMutex Lock;
    tcm::TCondition Wake;
    bool StopAsked TCM_GUARDED_BY(Lock) = false;
    std::atomic<bool> Finished{false};
    std::atomic<uint64_t> Sent{0};
    std::atomic<long> Passes{0};
    std::atomic<int64_t> FramesPerPass{-1};
    std::atomic<uint64_t> SentThisPass{0};
};
