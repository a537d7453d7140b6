#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include <QCoreApplication>
#include <QObject>

#include "views/WindowQueue.h"

namespace {

using TQueue = TWindowQueue<std::string>;
using TRule = TQueue::TRule;

struct TReceiver {
    QObject Object;
    std::vector<std::vector<std::string>> Batches;
    std::shared_ptr<TQueue> Queue =
        TQueue::Create(&Object, [this](std::vector<std::string>& batch) { Batches.push_back(batch); });
    ~TReceiver() { Queue->Close(); }
};

} // namespace

TEST(WindowQueue, KeepsOrderMergesPerKeyUntilABarrierAndDropsStaleWork)
{
    TReceiver r;
    const uint64_t first = r.Queue->Generation();
    // Pushed from another thread: nothing is applied until the window thread serves its events.
    std::thread worker([&] {
        r.Queue->Push(first, TRule::Merge, "a1", 1);
        r.Queue->Push(first, TRule::Merge, "b1", 2);
        r.Queue->Push(first, TRule::Merge, "a2", 1); // replaces a1 in its place
        r.Queue->Push(first, TRule::Append, "new");  // barrier
        r.Queue->Push(first, TRule::Merge, "a3", 1); // not merged with a2 across the barrier
        r.Queue->Push(TQueue::kCurrent, TRule::Merge, "b2", 2);
    });
    worker.join();
    EXPECT_TRUE(r.Batches.empty());
    QCoreApplication::sendPostedEvents();
    ASSERT_EQ(r.Batches.size(), 1u); // one posted drain for all of it
    EXPECT_EQ(r.Batches[0], (std::vector<std::string>{"a2", "b1", "new", "a3", "b2"}));

    // A replace-all entry drops what is queued before it; keys start afresh after it.
    r.Queue->Push(first, TRule::Merge, "a4", 1);
    r.Queue->Push(first, TRule::ReplaceAll, "clear");
    r.Queue->Push(first, TRule::Merge, "a5", 1);
    r.Queue->Drain(); // a direct drain leaves the posted one nothing to do
    QCoreApplication::sendPostedEvents();
    ASSERT_EQ(r.Batches.size(), 2u);
    EXPECT_EQ(r.Batches[1], (std::vector<std::string>{"clear", "a5"}));

    // A new generation drops queued work and refuses pushes for the old one.
    r.Queue->Push(first, TRule::Append, "old queued");
    const uint64_t second = r.Queue->NewGeneration();
    EXPECT_FALSE(r.Queue->Push(first, TRule::Append, "old late"));
    EXPECT_TRUE(r.Queue->Push(second, TRule::Append, "current"));
    QCoreApplication::sendPostedEvents();
    ASSERT_EQ(r.Batches.size(), 3u);
    EXPECT_EQ(r.Batches[2], (std::vector<std::string>{"current"}));

    const TQueue::TCounters counts = r.Queue->Counts();
    EXPECT_EQ(counts.Queued, 11u);
    EXPECT_EQ(counts.Redundant, 3u); // a1 merged, a4 replaced, "old queued" dropped
    EXPECT_EQ(counts.Drains, 3u);

    // Closed (its receiver going): queued and later work reach nothing.
    QObject receiver;
    std::vector<std::string> applied;
    auto closed = TQueue::Create(
        &receiver, [&](std::vector<std::string>& batch) { applied.insert(applied.end(), batch.begin(), batch.end()); });
    closed->Push(TQueue::kCurrent, TRule::Append, "queued before the close");
    closed->Close();
    EXPECT_FALSE(closed->Push(TQueue::kCurrent, TRule::Append, "after"));
    QCoreApplication::sendPostedEvents();
    closed->Drain();
    EXPECT_TRUE(applied.empty());
}
