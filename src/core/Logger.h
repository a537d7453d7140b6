#pragma once
#include <deque>
#include <mutex>
#include <string>

#include "platform/Mutex.h"

// Thread-safe first-in, first-out store of diagnostic lines. Lines are kept
// exactly as given (no time stamp or prefix) until a consumer takes them.
class TLogger {
public:
    void Add(std::string line);
    bool IsEmpty() const;
    // Removes and returns the oldest line; the empty string when none is pending.
    std::string TakeFirst();

private:
    mutable tcm::TMutex Lock;
    std::deque<std::string> Lines TCM_GUARDED_BY(Lock);
};
