#pragma once
// Locks whose rules the compiler checks. Built with clang and -Wthread-safety,
// every field marked TCM_GUARDED_BY(lock) may only be touched while that lock
// is held, a function marked TCM_REQUIRES(lock) only called with it held and
// one marked TCM_EXCLUDES(lock) only without it. With other compilers the marks
// are empty and these are plain std::mutex wrappers.
//
//     class TQueue {
//     public:
//         void Push(int v) TCM_EXCLUDES(Lock) { tcm::TMutexLock guard(Lock); Items.push_back(v); }
//     private:
//         tcm::TMutex Lock;
//         std::vector<int> Items TCM_GUARDED_BY(Lock);
//     };
#include <condition_variable>
#include <mutex>

#if defined(__clang__)
#define TCM_THREAD_ANNOTATION(x) __attribute__((x))
#else
#define TCM_THREAD_ANNOTATION(x)
#endif

#define TCM_CAPABILITY(name) TCM_THREAD_ANNOTATION(capability(name))
#define TCM_SCOPED_CAPABILITY TCM_THREAD_ANNOTATION(scoped_lockable)
#define TCM_GUARDED_BY(lock) TCM_THREAD_ANNOTATION(guarded_by(lock))
#define TCM_PT_GUARDED_BY(lock) TCM_THREAD_ANNOTATION(pt_guarded_by(lock))
#define TCM_REQUIRES(...) TCM_THREAD_ANNOTATION(requires_capability(__VA_ARGS__))
#define TCM_EXCLUDES(...) TCM_THREAD_ANNOTATION(locks_excluded(__VA_ARGS__))
#define TCM_ACQUIRE(...) TCM_THREAD_ANNOTATION(acquire_capability(__VA_ARGS__))
#define TCM_RELEASE(...) TCM_THREAD_ANNOTATION(release_capability(__VA_ARGS__))
#define TCM_RETURN_CAPABILITY(lock) TCM_THREAD_ANNOTATION(lock_returned(lock))
// For the few places whose rule is "one thread only" rather than a lock; say why beside it.
#define TCM_NO_THREAD_SAFETY_ANALYSIS TCM_THREAD_ANNOTATION(no_thread_safety_analysis)

namespace tcm {

// A std::mutex the analysis knows about. Also a Lockable, so
// std::condition_variable_any can wait on a TMutexLock.
class TCM_CAPABILITY("mutex") TMutex {
public:
    TMutex() = default;
    TMutex(const TMutex&) = delete;
    TMutex& operator=(const TMutex&) = delete;

    void lock() TCM_ACQUIRE() { Native.lock(); }
    void unlock() TCM_RELEASE() { Native.unlock(); }
    bool try_lock() TCM_THREAD_ANNOTATION(try_acquire_capability(true)) { return Native.try_lock(); }

private:
    std::mutex Native;
};

// Holds a TMutex for its scope, like std::unique_lock: unlock() and lock() let
// go of it and take it again in between (the analysis follows both), and a
// condition variable (TCondition) uses them while it waits.
class TCM_SCOPED_CAPABILITY TMutexLock {
public:
    explicit TMutexLock(TMutex& mutex) TCM_ACQUIRE(mutex) : Mutex(mutex) { Mutex.lock(); }
    ~TMutexLock() TCM_RELEASE()
    {
        if (Owned)
            Mutex.unlock();
    }
    TMutexLock(const TMutexLock&) = delete;
    TMutexLock& operator=(const TMutexLock&) = delete;

    void lock() TCM_ACQUIRE()
    {
        Mutex.lock();
        Owned = true;
    }
    void unlock() TCM_RELEASE()
    {
        Owned = false;
        Mutex.unlock();
    }

private:
    TMutex& Mutex;
    bool Owned = true;
};

// The condition variable that waits on a TMutexLock.
using TCondition = std::condition_variable_any;

} // namespace tcm
