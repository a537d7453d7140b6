#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include "core/Logger.h"
#include "support/FullDisk.h"
#include "views/TarvenixTrace.h"

namespace fs = std::filesystem;

namespace {

constexpr int32_t kBlock = TTarvenixTraceList::kBlockSize;

TCanFrame FrameNo(int32_t i)
{
    TCanFrame f;
    f.Id = static_cast<uint32_t>(i) * 2654435761u & 0x1FFFFFFF;
    f.Time = static_cast<uint32_t>(i) * 3;
    f.Length = i % 9;
    f.Standard = i % 3 == 0;
    f.Request = i % 7 == 0;
    for (int b = 0; b < 8; ++b)
        f.Data[b] = static_cast<uint8_t>(i >> (b % 4 * 8)) ^ static_cast<uint8_t>(b);
    return f;
}

void AddFrames(TTarvenixTraceList& trace, int32_t first, int32_t count)
{
    for (int32_t i = first; i < first + count; ++i)
        trace.AddFrame(FrameNo(i), i % 2 == 0);
}

// The index of the first entry that differs from what was added, or -1.
int32_t FirstWrongEntry(const TTarvenixTraceList& trace, int32_t first, int32_t count)
{
    for (int32_t i = 0; i < count; ++i) {
        const TTarvenixTraceItem* item = trace.Item(i);
        if (!item || item->FormatLine() != TTarvenixTraceItem(FrameNo(first + i), (first + i) % 2 == 0).FormatLine() ||
            item->AsFrame().Data[7] != FrameNo(first + i).Data[7])
            return i;
    }
    return -1;
}

// Descriptors of this process open on files of `folder` (unlinked ones included).
int OpenFilesIn(const fs::path& folder)
{
    int n = 0;
    for (const auto& fd : fs::directory_iterator("/proc/self/fd")) {
        std::error_code ec;
        const std::string target = fs::read_symlink(fd.path(), ec).string();
        if (!ec && target.rfind(folder.string() + "/", 0) == 0)
            ++n;
    }
    return n;
}

} // namespace

// Many blocks go to an unlinked file in the user's cache folder: every entry
// reads back as added at the address it first had, an entry list taken by
// TakeAll keeps its file, and Clear lets the file go.
TEST(TraceStorage, ManyBlocksInTheCacheFileStayReadableUntilClear)
{
    TCacheHome home;
    TLogger logger;
    TTarvenixTraceList trace;
    trace.SetLogger(&logger);
    const int32_t count = 9 * kBlock + 77;
    AddFrames(trace, 0, 10);
    const TTarvenixTraceItem* early = trace.Item(5);
    AddFrames(trace, 10, count - 10);
    ASSERT_EQ(trace.Count(), count);
    EXPECT_EQ(trace.Item(5), early);
    EXPECT_EQ(FirstWrongEntry(trace, 0, count), -1);
    EXPECT_TRUE(logger.IsEmpty());

    struct stat st {};
    ASSERT_EQ(stat(home.Folder().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    EXPECT_TRUE(fs::is_empty(home.Folder())); // nothing there to leave behind
    EXPECT_EQ(OpenFilesIn(home.Folder()), 1);

    // A cleared list hands its entries over with their file; the trace goes on in a new one.
    auto removed = trace.TakeAll();
    AddFrames(trace, 1000, kBlock + 1);
    EXPECT_EQ(OpenFilesIn(home.Folder()), 2);
    EXPECT_EQ(FirstWrongEntry(*removed, 0, count), -1);
    EXPECT_EQ(FirstWrongEntry(trace, 1000, kBlock + 1), -1);
    removed.reset();
    trace.Clear();
    EXPECT_EQ(trace.Count(), 0);
    EXPECT_EQ(trace.Item(0), nullptr);
    EXPECT_EQ(OpenFilesIn(home.Folder()), 0);
    AddFrames(trace, 5, 3);
    EXPECT_EQ(FirstWrongEntry(trace, 5, 3), -1);
}

// A consumer that lets go of what it has read (the headless tools) cycles
// through two blocks of ordinary memory, read a run at a time; the cache file
// is made only for a backlog beyond them.
TEST(TraceStorage, AConsumerThatKeepsUpNeedsNoCacheFile)
{
    TCacheHome home;
    TTarvenixTraceList trace;
    trace.KeepBlocksInMemory(2);
    int64_t next = 0;
    const auto follow = [&] {
        while (next < trace.Count()) {
            int64_t count = 0;
            const TTarvenixTraceItem* run = trace.ItemRun(next, count);
            ASSERT_NE(run, nullptr) << next;
            ASSERT_EQ(count, std::min<int64_t>(trace.Count() - next, kBlock - next % kBlock));
            const auto i = static_cast<int32_t>(next + count - 1);
            EXPECT_EQ(run[0].FormatLine(), trace.Item(next)->FormatLine());
            EXPECT_EQ(run[count - 1].FormatLine(), TTarvenixTraceItem(FrameNo(i), i % 2 == 0).FormatLine());
            next += count;
        }
        trace.ReleaseBefore(next);
    };
    for (int32_t round = 0; round < 5; ++round) {
        AddFrames(trace, round * kBlock, kBlock / 2 + 1);
        follow();
        AddFrames(trace, round * kBlock + kBlock / 2 + 1, kBlock / 2 - 1);
        follow();
    }
    EXPECT_EQ(next, 5 * kBlock);
    EXPECT_EQ(OpenFilesIn(home.Folder()), 0);
    EXPECT_LT(trace.MemoryUsed(), 3 * kBlock * sizeof(TTarvenixTraceItem));

    // Three blocks behind: the third goes to the file, and every entry still reads back.
    AddFrames(trace, 5 * kBlock, 3 * kBlock);
    EXPECT_EQ(OpenFilesIn(home.Folder()), 1);
    follow();
    EXPECT_EQ(next, 8 * kBlock);
}

// A file that cannot grow (here a file size limit, as a full disk would do)
// is told once in the log; newer blocks stay in memory and nothing is lost.
TEST(TraceStorage, AFullDiskIsToldOnceAndTheNewestEntriesStay)
{
    TCacheHome home;
    const int result = RunWithFileLimit(3 * kBlock * sizeof(TTarvenixTraceItem), [&] {
        TLogger logger;
        TTarvenixTraceList trace;
        trace.SetLogger(&logger);
        const int32_t count = 8 * kBlock + 100;
        AddFrames(trace, 0, count);
        int fault = FirstWrongEntry(trace, 0, count) == -1 ? 0 : 1;
        const std::string line = logger.TakeFirst();
        if (line.rfind("Trace storage: Unable to grow the trace file in the cache folder " + home.Folder().string(),
                       0) != 0 ||
            line.find("New trace entries are kept in memory.") == std::string::npos || !logger.IsEmpty())
            fault |= 2;
        trace.Clear();
        AddFrames(trace, 7, 5 * kBlock);
        if (FirstWrongEntry(trace, 7, 5 * kBlock) != -1)
            fault |= 4;
        if (!logger.IsEmpty())
            fault |= 8;
        return fault;
    });
    EXPECT_EQ(result, 0) << "1: entries wrong, 2: notice wrong, 4: entries after Clear, 8: told twice, above 127: "
                            "a signal";
}

// A capture past 2^31 and 2^32 entries keeps counting and finding its entries;
// a full cache folder and then exhausted memory end the trace's growth with
// one notice each, never with an exception, and a limit ends it the same way.
TEST(TraceStorage, CountsPastTwoToThe32AndATraceThatCanKeepNoMoreSaysSoOnce)
{
    for (const int64_t start : {(int64_t{1} << 31) - 5, (int64_t{1} << 32) - 5}) {
        TLogger logger;
        TTarvenixTraceList trace;
        trace.SetLogger(&logger);
        trace.StartAt(start);
        AddFrames(trace, 0, 10);
        EXPECT_EQ(trace.Count(), start + 10);
        EXPECT_EQ(trace.Item(start - 1), nullptr);
        for (int32_t i = 0; i < 10; ++i) {
            const TTarvenixTraceItem* item = trace.Item(start + i);
            ASSERT_NE(item, nullptr) << i;
            EXPECT_EQ(item->FormatLine(), TTarvenixTraceItem(FrameNo(i), i % 2 == 0).FormatLine());
        }
        trace.ReleaseBefore(start + 10);
        trace.SetLimit(start + 12);
        AddFrames(trace, 10, 5);
        EXPECT_EQ(trace.Count(), start + 12);
        EXPECT_TRUE(trace.IsFull());
        EXPECT_EQ(trace.TurnedAway(), 3);
        EXPECT_EQ(logger.TakeFirst(), trace.FullText());
        EXPECT_TRUE(logger.IsEmpty());
    }

#if defined(__SANITIZE_THREAD__) || defined(__SANITIZE_ADDRESS__)
    // A sanitizer's own allocator aborts under an address-space limit, so the
    // out-of-memory half runs in the plain build only.
    return;
#endif
    TCacheHome home;
    const int result = RunWithFileLimit(2 * kBlock * sizeof(TTarvenixTraceItem), [&] {
        // Room for about thirty more blocks in memory.
        long pages = 0;
        if (std::FILE* statm = std::fopen("/proc/self/statm", "r")) {
            if (std::fscanf(statm, "%ld", &pages) != 1)
                pages = 0;
            std::fclose(statm);
        }
        const rlim_t memoryLimit = static_cast<rlim_t>(pages) * 4096 + (16u << 20);
        const rlimit as{memoryLimit, memoryLimit};
        setrlimit(RLIMIT_AS, &as);
        TLogger logger;
        int fault = 0;
        {
            TTarvenixTraceList trace;
            trace.SetLogger(&logger);
            int32_t added = 0;
            while (added < 400 * kBlock && trace.AddFrame(FrameNo(added), added % 2 == 0))
                ++added;
            if (!trace.IsFull() || added >= 400 * kBlock || trace.Count() != added)
                fault |= 1;
            if (trace.AddFrame(FrameNo(0), false) || trace.TurnedAway() != 2)
                fault |= 2;
            if (logger.TakeFirst().find("New trace entries are kept in memory.") == std::string::npos ||
                logger.TakeFirst() != trace.FullText() ||
                trace.FullText().find("no memory is left") == std::string::npos || !logger.IsEmpty())
                fault |= 4;
            if (FirstWrongEntry(trace, 0, added) != -1)
                fault |= 8;
        }
        return fault;
    });
    EXPECT_EQ(result, 0) << "1: not full, 2: not turned away, 4: notices wrong, 8: entries wrong, above 127: a signal";
}
