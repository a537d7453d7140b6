#include "platform/ThreadBase.h"

#include <cerrno>
#include <chrono>
#include <exception>
#include <sys/resource.h>
#include <unistd.h>

namespace tcm {

TThreadBase::TThreadBase(bool createSuspended) : Suspended(createSuspended) {}

TThreadBase::~TThreadBase()
{
    WaitForEndInDestructor();
}

void TThreadBase::Resume()
{
    tcm::TMutexLock guard(Lock);
    if (HasStarted.load())
        return;
    Thread = std::thread([this] { Run(); });
    HasStarted.store(true);
}

void TThreadBase::Run()
{
    try {
        Execute();
    } catch (const std::exception& e) {
        tcm::TMutexLock guard(Lock);
        Fatal = e.what();
        if (Fatal.empty())
            Fatal = "exception";
    } catch (...) {
        tcm::TMutexLock guard(Lock);
        Fatal = "unknown exception";
    }
    {
        tcm::TMutexLock guard(Lock);
        Ended.store(true);
    }
    EndedChanged.notify_all();
}

bool TThreadBase::WaitFor(uint32_t timeoutMs)
{
    if (!HasStarted.load())
        return true;
    tcm::TMutexLock lock(Lock);
    const auto ended = [this] { return Ended.load(); };
    if (timeoutMs == 0xFFFFFFFFu) {
        EndedChanged.wait(lock, ended);
        return true;
    }
    return EndedChanged.wait_for(lock, std::chrono::milliseconds(timeoutMs), ended);
}

bool TThreadBase::Started() const
{
    return HasStarted.load();
}

bool TThreadBase::Finished() const
{
    return Ended.load();
}

std::string TThreadBase::FatalError() const
{
    tcm::TMutexLock guard(Lock);
    return Fatal;
}

void TThreadBase::WaitForEndInDestructor()
{
    std::thread::id self = std::this_thread::get_id();
    tcm::TMutexLock lock(Lock);
    if (!Thread.joinable() || Thread.get_id() == self)
        return;
    std::thread running = std::move(Thread);
    lock.unlock();
    running.join();
}

void TThreadBase::RaiseCurrentThreadPriority()
{
    // On Linux the nice value is per thread: PRIO_PROCESS with a thread id
    // changes only that thread. getpriority may return -1 legitimately.
    const id_t tid = static_cast<id_t>(gettid());
    errno = 0;
    const int nice = getpriority(PRIO_PROCESS, tid);
    if (nice == -1 && errno != 0)
        return;
    (void)setpriority(PRIO_PROCESS, tid, nice - 1);
}

} // namespace tcm
