#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <unordered_map>
#include <utility>
#include <vector>

#include <QMetaObject>
#include <QObject>

#include "platform/Mutex.h"

// Work handed from worker threads to the window thread: the one way the
// window's views take changes made elsewhere (the trace and the log are
// polled by timers instead).
//
// Pushing never waits for the window thread: it takes this queue's short lock
// and, when the queue was empty, posts one call to the receiver's thread that
// drains everything queued by then, in order, through `apply`.
//
// - Append: the entry goes last and is a barrier: nothing queued before it is
//   merged with anything pushed after it.
// - Merge: an entry with the same merge key queued since the last barrier is
//   replaced in its place (only the newest state of a row matters); otherwise
//   the entry goes last.
// - ReplaceAll: everything queued is dropped (the entry makes it redundant)
//   and the entry goes last, as a barrier.
//
// Generations: work belongs to the generation it was pushed for. NewGeneration
// (when a view detaches from its source, or reads everything afresh) drops all
// queued work, and pushes for an older generation are refused from then on.
// Close, when the receiver goes, drops everything for good; the queue is held
// by shared pointer so that late pushes from threads still holding it reach
// nothing. A posted drain dies with its receiver.
template <typename TEntry> class TWindowQueue : public std::enable_shared_from_this<TWindowQueue<TEntry>> {
public:
    using TApply = std::function<void(std::vector<TEntry>& batch)>;
    enum class TRule : uint8_t { Append, Merge, ReplaceAll };
    static constexpr uint64_t kCurrent = UINT64_MAX; // push for whatever generation is current

    struct TCounters {
        uint64_t Queued = 0;    // pushes accepted
        uint64_t Redundant = 0; // queued entries merged or replaced before a drain
        uint64_t Drains = 0;    // drains that found work
    };

    // `receiver` lives on the window thread and must Close() the queue before it goes.
    static std::shared_ptr<TWindowQueue> Create(QObject* receiver, TApply apply)
    {
        return std::shared_ptr<TWindowQueue>(new TWindowQueue(receiver, std::move(apply)));
    }

    // Any thread. False when the entry was refused (stale generation, closed queue).
    bool Push(uint64_t generation, TRule rule, TEntry entry, uint64_t mergeKey = 0) TCM_EXCLUDES(Lock)
    {
        tcm::TMutexLock guard(Lock);
        if (Receiver == nullptr || (generation != kCurrent && generation != Current))
            return false;
        ++Counters.Queued;
        if (rule == TRule::Merge) {
            const auto [slot, added] = MergeSlots.try_emplace(mergeKey, Pending.size());
            if (!added) {
                Pending[slot->second] = std::move(entry);
                ++Counters.Redundant;
                return true;
            }
        } else {
            if (rule == TRule::ReplaceAll) {
                Counters.Redundant += Pending.size();
                Pending.clear();
            }
            MergeSlots.clear();
        }
        Pending.push_back(std::move(entry));
        if (!DrainPosted) {
            DrainPosted = true;
            // Delivered on the receiver's thread; dropped if the receiver is destroyed first.
            QMetaObject::invokeMethod(
                Receiver, [self = this->shared_from_this()] { self->Drain(); }, Qt::QueuedConnection);
        }
        return true;
    }

    // Drops everything queued and makes every earlier generation stale.
    uint64_t NewGeneration() TCM_EXCLUDES(Lock)
    {
        tcm::TMutexLock guard(Lock);
        Counters.Redundant += Pending.size();
        Pending.clear();
        MergeSlots.clear();
        return ++Current;
    }

    uint64_t Generation() const TCM_EXCLUDES(Lock)
    {
        tcm::TMutexLock guard(Lock);
        return Current;
    }

    // Window thread: applies everything queued so far. Runs by itself from the
    // posted call; callable directly to bring the receiver up to date.
    void Drain() TCM_EXCLUDES(Lock)
    {
        {
            tcm::TMutexLock guard(Lock);
            DrainPosted = false;
            if (Pending.empty())
                return;
            Work.swap(Pending);
            MergeSlots.clear();
            ++Counters.Drains;
        }
        Apply(Work);
        Work.clear();
    }

    // The receiver goes: nothing queued or pushed later is applied.
    void Close() TCM_EXCLUDES(Lock)
    {
        tcm::TMutexLock guard(Lock);
        Receiver = nullptr;
        Pending.clear();
        MergeSlots.clear();
    }

    TCounters Counts() const TCM_EXCLUDES(Lock)
    {
        tcm::TMutexLock guard(Lock);
        return Counters;
    }

private:
    TWindowQueue(QObject* receiver, TApply apply) : Receiver(receiver), Apply(std::move(apply)) {}

    mutable tcm::TMutex Lock;
    QObject* Receiver TCM_GUARDED_BY(Lock);
    std::vector<TEntry> Pending TCM_GUARDED_BY(Lock);
    // Merge key -> place in Pending, since the last barrier.
    std::unordered_map<uint64_t, size_t> MergeSlots TCM_GUARDED_BY(Lock);
    uint64_t Current TCM_GUARDED_BY(Lock) = 0; // the generation
    bool DrainPosted TCM_GUARDED_BY(Lock) = false;
    TCounters Counters TCM_GUARDED_BY(Lock);
    // Window thread only: the drain's batch and what applies it.
    const TApply Apply;
    std::vector<TEntry> Work;
};
