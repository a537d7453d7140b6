#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "core/Logger.h"

TEST(Logger, KeepsLinesInOrderIncludingEmptyOnes)
{
    TLogger log;
    EXPECT_TRUE(log.IsEmpty());
    EXPECT_EQ(log.TakeFirst(), "");
    EXPECT_TRUE(log.IsEmpty());
    log.Add("** Start");
    log.Add("");
    log.Add("WriteFile is failed. Error = 5");
    EXPECT_FALSE(log.IsEmpty());
    EXPECT_EQ(log.TakeFirst(), "** Start");
    EXPECT_FALSE(log.IsEmpty()); // the empty line is still pending
    EXPECT_EQ(log.TakeFirst(), "");
    log.Add("late");
    EXPECT_EQ(log.TakeFirst(), "WriteFile is failed. Error = 5");
    EXPECT_EQ(log.TakeFirst(), "late");
    EXPECT_TRUE(log.IsEmpty());
}

TEST(Logger, ManyWritersOneReaderLoseNothingAndKeepOrderPerThread)
{
    TLogger log;
    constexpr int kThreads = 4;
    constexpr int kLines = 20000;
    std::vector<std::thread> writers;
    for (int t = 0; t < kThreads; ++t)
        writers.emplace_back([&log, t] {
            for (int i = 0; i < kLines; ++i)
                log.Add(std::to_string(t) + ":" + std::to_string(i));
        });
    std::vector<int> next(kThreads, 0);
    int taken = 0;
    bool ordered = true;
    auto drain = [&] {
        while (!log.IsEmpty()) {
            const std::string line = log.TakeFirst();
            const auto colon = line.find(':');
            const int t = std::stoi(line.substr(0, colon));
            const int i = std::stoi(line.substr(colon + 1));
            ordered = ordered && i == next[static_cast<size_t>(t)];
            next[static_cast<size_t>(t)] = i + 1;
            ++taken;
        }
    };
    while (taken < kThreads * kLines)
        drain();
    for (auto& w : writers)
        w.join();
    drain();
    EXPECT_TRUE(ordered);
    EXPECT_EQ(taken, kThreads * kLines);
}
