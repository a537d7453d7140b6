#include <gtest/gtest.h>

#include <chrono>
#include <set>
#include <thread>
#include <vector>

#include "platform/Tick.h"
#include "views/TarvenixTrace.h"

namespace {

TCanFrame Frame(uint32_t id, bool standard, bool request, uint32_t time, int32_t length, std::vector<uint8_t> data = {})
{
    TCanFrame f;
    f.Id = id;
    f.Standard = standard;
    f.Request = request;
    f.Time = time;
    f.Length = length;
    for (size_t i = 0; i < data.size(); ++i)
        f.Data[i] = data[i];
    return f;
}

std::string Line(const TCanFrame& f, bool outgoing)
{
    return TTarvenixTraceItem(f, outgoing).FormatLine();
}

} // namespace

TEST(Trace, LinesAreExactCharacterForCharacter)
{
    EXPECT_EQ(Line(Frame(0x123, true, false, 5000, 2, {0x01, 0xAB}), false),
              "IN  ts: 5000  id: 123  l: 2  data: 01 AB ");
    EXPECT_EQ(Line(Frame(0x7FF, false, true, 5100, 0), true), "OUT ts: 5100  id: 000007FF  l: 0  Request");
    // A remote entry shows no data whatever its length.
    EXPECT_EQ(Line(Frame(5, true, true, 1, 8, {1, 2, 3}), false), "IN  ts: 1  id: 005  l: 8  Request");
    EXPECT_EQ(Line(Frame(5, false, false, 0, 0), false), "IN  ts: 0  id: 00000005  l: 0  data: ");
    // Length 12 is shown as carried, with exactly the eight bytes held.
    EXPECT_EQ(Line(Frame(0x1FFFFFFF, false, false, 4294967295u, 12, {0, 1, 2, 3, 4, 5, 6, 0xFF}), true),
              "OUT ts: 4294967295  id: 1FFFFFFF  l: 12  data: 00 01 02 03 04 05 06 FF ");
    // A standard identifier wider than three digits shows all of them; an odd length is signed.
    EXPECT_EQ(Line(Frame(0xABCD, true, false, 7, -1), false), "IN  ts: 7  id: ABCD  l: -1  data: ");
    EXPECT_EQ(FormatCanId(0x12, true), "012");
    EXPECT_EQ(FormatCanId(0x12, false), "00000012");
}

TEST(Trace, AddCountItemAndClear)
{
    TTarvenixTraceList trace;
    EXPECT_EQ(trace.Count(), 0);
    EXPECT_EQ(trace.Item(0), nullptr);
    const int n = TTarvenixTraceList::kBlockSize * 2 + 5; // crosses block boundaries
    for (int i = 0; i < n; ++i)
        trace.AddFrame(Frame(static_cast<uint32_t>(i), true, false, static_cast<uint32_t>(i), 1, {uint8_t(i)}), i % 2);
    ASSERT_EQ(trace.Count(), n);
    const TTarvenixTraceItem* first = trace.Item(0);
    for (int i = 0; i < 50; ++i) // more entries never move earlier ones
        trace.AddFrame(Frame(1, true, false, 0, 0), false);
    EXPECT_EQ(trace.Item(0), first);
    for (int i : {0, 1, TTarvenixTraceList::kBlockSize - 1, TTarvenixTraceList::kBlockSize, n - 1}) {
        const auto* item = trace.Item(i);
        ASSERT_NE(item, nullptr);
        EXPECT_EQ(item->Id, static_cast<uint32_t>(i));
        EXPECT_EQ(item->Outgoing, (i % 2) != 0);
        EXPECT_EQ(item->Data[0], static_cast<uint8_t>(i));
    }
    EXPECT_EQ(trace.Item(-1), nullptr);
    EXPECT_EQ(trace.Item(trace.Count()), nullptr);
    trace.Clear();
    EXPECT_EQ(trace.Count(), 0);
    trace.AddFrame(Frame(9, true, false, 3, 0), true);
    EXPECT_EQ(trace.Item(0)->Id, 9u);
}

TEST(Trace, ConcurrentWritersWhileOneThreadReads)
{
    TTarvenixTraceList trace;
    constexpr int kThreads = 3;
    constexpr int kFrames = 60000;
    std::vector<std::thread> writers;
    for (int t = 0; t < kThreads; ++t)
        writers.emplace_back([&trace, t] {
            for (int i = 0; i < kFrames; ++i)
                trace.AddFrame(Frame(static_cast<uint32_t>(t), true, false, static_cast<uint32_t>(i), 0), false);
        });
    // The reader walks entries as they appear and checks per-thread order.
    std::vector<uint32_t> next(kThreads, 0);
    int32_t seen = 0;
    bool ordered = true;
    while (seen < kThreads * kFrames) {
        const int32_t count = trace.Count();
        for (; seen < count; ++seen) {
            const auto* item = trace.Item(seen);
            ordered = ordered && item != nullptr && item->Time == next[item->Id];
            if (item)
                next[item->Id] = item->Time + 1;
        }
    }
    for (auto& w : writers)
        w.join();
    EXPECT_TRUE(ordered);
    EXPECT_EQ(trace.Count(), kThreads * kFrames);
    for (uint32_t n : next)
        EXPECT_EQ(n, static_cast<uint32_t>(kFrames));
}

// Entries' wall-clock times follow their ticks from a reference taken with the
// first entry after Clear, across the 32-bit wrap, and leave the lines alone.
TEST(Trace, WallClockTimeOfEntries)
{
    const auto wallNowUs = [] {
        return std::chrono::duration_cast<std::chrono::microseconds>(
                   std::chrono::system_clock::now().time_since_epoch())
            .count();
    };
    TTarvenixTraceList trace;
    const uint32_t tick = tcm::TickCount();
    const int64_t before = wallNowUs();
    trace.AddFrame(Frame(1, true, false, tick, 0), false);
    trace.AddFrame(Frame(2, true, false, tick + 1500, 0), false);
    trace.AddFrame(Frame(3, true, false, tick - 5, 0), true); // stamped before the first one
    const int64_t first = trace.WallTimeUs(*trace.Item(0));
    // The first entry's millisecond started at most 1 ms before it was added.
    EXPECT_GE(first, before - 1000 - 20000) << "20 ms for a clock step or a descheduled thread";
    EXPECT_LE(first, wallNowUs());
    EXPECT_EQ(trace.WallTimeUs(*trace.Item(1)) - first, 1500000);
    EXPECT_EQ(trace.WallTimeUs(*trace.Item(2)) - first, -5000);
    EXPECT_EQ(trace.Item(0)->FormatLine(), "IN  ts: " + std::to_string(tick) + "  id: 001  l: 0  data: ");

    // After Clear the next first entry sets a new reference; ticks wrap modulo 2^32.
    trace.Clear();
    EXPECT_EQ(trace.WallTimeUs(TTarvenixTraceItem(Frame(1, true, false, tick, 0), false)), 0);
    trace.AddFrame(Frame(1, true, false, 0xFFFFFF00u, 0), false);
    trace.AddFrame(Frame(2, true, false, 0x00000010u, 0), false);
    EXPECT_EQ(trace.WallTimeUs(*trace.Item(1)) - trace.WallTimeUs(*trace.Item(0)), 0x110 * 1000);
}

// A consumer that keeps nothing frees whole blocks behind it; indexes stay put
// and a freed block serves the next one.
TEST(Trace, ReleasedBlocksAreGoneIndexesStay)
{
    TTarvenixTraceList trace;
    const int32_t block = TTarvenixTraceList::kBlockSize;
    for (int32_t i = 0; i < 2 * block + 3; ++i)
        trace.AddFrame(Frame(static_cast<uint32_t>(i), false, false, 0, 0), false);
    const size_t full = trace.MemoryUsed();
    trace.ReleaseBefore(2 * block - 1); // only the first block lies wholly before it
    EXPECT_EQ(trace.Count(), 2 * block + 3);
    EXPECT_EQ(trace.Item(block - 1), nullptr);
    ASSERT_NE(trace.Item(block), nullptr);
    EXPECT_EQ(trace.Item(2 * block + 2)->Id, static_cast<uint32_t>(2 * block + 2));
    EXPECT_EQ(trace.MemoryUsed(), full); // the freed block is kept for reuse
    for (int32_t i = 0; i < block; ++i)
        trace.AddFrame(Frame(7, false, false, 0, 0), false);
    EXPECT_EQ(trace.MemoryUsed(), full);
    EXPECT_EQ(trace.Item(3 * block + 2)->Id, 7u);
}
