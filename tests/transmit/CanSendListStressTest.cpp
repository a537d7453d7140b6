// Several threads on one transmit list, as in a running channel: the periodic
// thread scans every millisecond, the receive path answers remote frames, and
// the window's thread edits the list all the while.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <map>
#include <memory>
#include <random>
#include <set>
#include <thread>

#include "platform/Mutex.h"
#include "platform/Tick.h"
#include "support/TempDir.h"
#include "transmit/CanSendList.h"

namespace {

// What the handlers saw, checked at the end. Handlers run on the scanning
// threads with the list's lock held; this lock is taken inside it and never
// the other way round.
struct TSeen {
    tcm::TMutex Lock;
    std::set<uint32_t> Deleted;            // identifiers whose Delete has returned
    std::map<uint32_t, int32_t> LastCount; // by tag, the last count told
    long SentAfterDelete = 0;
    long TornFrames = 0;
    long BadCounts = 0;
    long PeriodicSends = 0;
    long RequestSends = 0;
};

// Bytes 0..3 carry the identifier and byte 4 the length, so a frame read while
// half changed shows up.
bool Consistent(const TCanFrame& f)
{
    for (int i = 0; i < 4; ++i) {
        if (f.Data[i] != static_cast<uint8_t>(f.Id >> (8 * i)))
            return false;
    }
    return f.Data[4] == static_cast<uint8_t>(f.Length);
}

// Odd identifiers are Periodic items, even ones OnRequest items.
std::unique_ptr<TCanSendItem> NewItem(uint32_t id, TSeen& seen, std::mt19937& rng)
{
    auto item = std::make_unique<TCanSendItem>();
    item->Frame.Id = id;
    item->Frame.Length = 8;
    for (int i = 0; i < 4; ++i)
        item->Frame.Data[i] = static_cast<uint8_t>(id >> (8 * i));
    item->Frame.Data[4] = 8;
    item->SendType = (id & 1) ? cstPeriodic : cstOnRequest;
    item->Period = static_cast<int32_t>(rng() % 3);
    item->Active = true;
    item->Tag = id;
    item->OnCountChanged = [&seen](int32_t count, uint32_t tag) {
        tcm::TMutexLock guard(seen.Lock);
        int32_t& last = seen.LastCount[tag];
        if ((count != 0 && count != last + 1) || seen.Deleted.count(tag) != 0)
            ++seen.BadCounts;
        last = count;
    };
    return item;
}

} // namespace

TEST(TransmitListStress, ScansAndEditsInParallel)
{
    TempDir dir;
    TSeen seen;
    TCanSendList list;
    list.SetFileName(dir.File("stress.dat"));
    list.SetOnSend([&seen](const TCanFrame& f) {
        tcm::TMutexLock guard(seen.Lock);
        if (seen.Deleted.count(f.Id) != 0)
            ++seen.SentAfterDelete;
        if (!Consistent(f))
            ++seen.TornFrames;
        ++((f.Id & 1) ? seen.PeriodicSends : seen.RequestSends);
        return true;
    });

    std::mt19937 rng(20240611);
    uint32_t nextId = 1;
    for (int i = 0; i < 20; ++i)
        list.Add(NewItem(nextId++, seen, rng));

    std::atomic<bool> stop{false};
    std::thread periodic([&] {
        while (!stop.load()) {
            list.SendPeriodic(tcm::TickCount());
            tcm::SleepMs(1);
        }
    });
    std::thread request([&] {
        while (!stop.load()) {
            list.SendOnRequest();
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
    });

    // The window's side: add, delete, move, edit in place, reset, switch mode, save.
    long deletes = 0;
    long operations = 0;
    const auto start = std::chrono::steady_clock::now();
    auto lastSave = start;
    bool standard = false;
    // One second: a scan or a delete without the lock failed every run of that
    // length on an idle machine, a reset without it nine runs in ten (the
    // thread sanitizer's run of this program reports each of them as a race).
    while (std::chrono::steady_clock::now() - start < std::chrono::seconds(1)) {
        const int32_t count = list.Count();
        const uint32_t choice = rng() % 100;
        if (choice < 30) {
            if (count < 40)
                list.Add(NewItem(nextId++, seen, rng));
        } else if (choice < 55) {
            if (count > 0) {
                const int32_t index = static_cast<int32_t>(rng() % static_cast<uint32_t>(count));
                const uint32_t id = list.GetItem(index)->Frame.Id;
                list.Delete(index);
                tcm::TMutexLock guard(seen.Lock);
                seen.Deleted.insert(id);
                ++deletes;
            }
        } else if (choice < 70) {
            if (count > 0) {
                const int32_t index = static_cast<int32_t>(rng() % static_cast<uint32_t>(count));
                if (rng() & 1)
                    list.MoveUp(index);
                else
                    list.MoveDown(index);
            }
        } else if (choice < 90) {
            if (count > 0) {
                // The item dialog's change of an item in place.
                TCanSendItem* item = list.GetItem(static_cast<int32_t>(rng() % static_cast<uint32_t>(count)));
                const int32_t length = static_cast<int32_t>(1 + rng() % 8);
                const bool active = (rng() % 4) != 0;
                tcm::TMutexLock guard(list.Lock());
                item->Frame.Length = length;
                item->Frame.Data[4] = static_cast<uint8_t>(length);
                item->Active = active;
                item->Period = static_cast<int32_t>(rng() % 3);
            }
        } else if (choice < 95) {
            list.ResetCounters();
        } else {
            standard = !standard;
            list.SetStandard(standard);
        }
        const auto now = std::chrono::steady_clock::now();
        if (now - lastSave > std::chrono::milliseconds(250)) {
            list.SaveToFile();
            lastSave = now;
        }
        if (++operations % 8 == 0)
            std::this_thread::sleep_for(std::chrono::microseconds(50));
    }

    stop.store(true);
    periodic.join();
    request.join();

    tcm::TMutexLock guard(seen.Lock);
    EXPECT_EQ(seen.SentAfterDelete, 0);
    EXPECT_EQ(seen.TornFrames, 0);
    EXPECT_EQ(seen.BadCounts, 0);
    // The checks above mean something only if all sides really ran.
    EXPECT_GT(seen.PeriodicSends, 0);
    EXPECT_GT(seen.RequestSends, 0);
    EXPECT_GT(deletes, 0);
    for (int32_t i = 0; i < list.Count(); ++i) {
        const TCanSendItem* item = list.GetItem(i);
        EXPECT_EQ(item->Count, seen.LastCount[item->Tag]) << item->Tag;
    }
    RecordProperty("operations", std::to_string(operations));
    RecordProperty("periodic_sends", std::to_string(seen.PeriodicSends));
    RecordProperty("request_sends", std::to_string(seen.RequestSends));
}
