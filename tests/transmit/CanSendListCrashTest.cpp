// A process that dies in the middle of saving its transmit list must leave the
// file whole: the old list or the new one, nothing in between.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "support/TempDir.h"
#include "transmit/CanSendList.h"

namespace {

constexpr int kItems = 4000;

void Fill(TCanSendList& list, const std::string& captionPrefix, int32_t period)
{
    for (int i = 0; i < kItems; ++i) {
        auto item = std::make_unique<TCanSendItem>();
        item->SendType = cstPeriodic;
        item->Period = period;
        item->Active = (i % 2) == 0;
        item->Frame.Id = static_cast<uint32_t>(i);
        item->Frame.Length = 8;
        for (int b = 0; b < 8; ++b)
            item->Frame.Data[b] = static_cast<uint8_t>(i + b);
        item->Caption = captionPrefix + std::to_string(i);
        list.Add(std::move(item));
    }
}

} // namespace

TEST(TransmitListCrash, KilledSaveLeavesOldOrNewList)
{
    TempDir dir;
    const std::string path = dir.File("trans_list_crash.dat");
    TCanSendList first;
    TCanSendList second;
    first.SetFileName(path);
    second.SetFileName(path);
    Fill(first, "first list item ", 100);
    Fill(second, "second list, a longer caption for item ", 250);

    second.SaveToFile();
    const std::string secondText = ReadWholeFile(path);
    first.SaveToFile();
    const std::string firstText = ReadWholeFile(path);
    ASSERT_NE(firstText, secondText);
    ASSERT_GT(firstText.size(), static_cast<size_t>(kItems) * 30);

    // Saves in a child whose "go" byte tells the parent that the save starts.
    // Returns the child's id with its pipe read, or -1.
    const auto startSave = [](TCanSendList& list) -> pid_t {
        int ready[2];
        if (pipe(ready) != 0)
            return -1;
        const pid_t child = fork();
        if (child == 0) {
            close(ready[0]);
            const char go = 'g';
            if (write(ready[1], &go, 1) != 1)
                _exit(3);
            try {
                list.SaveToFile();
            } catch (...) {
                _exit(2);
            }
            _exit(0);
        }
        close(ready[1]);
        char go = 0;
        const bool ok = child > 0 && read(ready[0], &go, 1) == 1;
        close(ready[0]);
        return ok ? child : -1;
    };
    const auto finished = [](pid_t child) {
        int status = 0;
        if (waitpid(child, &status, 0) != child)
            return false;
        return WIFSIGNALED(status) || (WIFEXITED(status) && WEXITSTATUS(status) == 0);
    };

    // How long a whole save takes in a child (copying its pages on write included).
    const auto started = std::chrono::steady_clock::now();
    const pid_t calibration = startSave(first);
    ASSERT_GT(calibration, 0);
    ASSERT_TRUE(finished(calibration));
    const auto saveTime = std::chrono::steady_clock::now() - started;
    ASSERT_EQ(ReadWholeFile(path), firstText);

    // The kill comes at moments spread from the start of the save to a little
    // past its usual end, so some rounds die early, some late, some not at all.
    constexpr int kRounds = 60;
    int replaced = 0;
    int kept = 0;
    for (int round = 0; round < kRounds; ++round) {
        const std::string before = ReadWholeFile(path);
        ASSERT_TRUE(before == firstText || before == secondText) << "round " << round;
        TCanSendList& next = before == firstText ? second : first;

        const pid_t child = startSave(next);
        ASSERT_GT(child, 0);
        std::this_thread::sleep_for(saveTime * round / (kRounds * 4 / 5));
        kill(child, SIGKILL);
        ASSERT_TRUE(finished(child)) << "the save failed in round " << round;

        const std::string after = ReadWholeFile(path);
        ASSERT_TRUE(after == firstText || after == secondText)
            << "round " << round << ": " << after.size() << " bytes, neither list";
        (after == before ? kept : replaced) += 1;

        // A killed writer may leave its unfinished temporary file; it never
        // takes the list's name.
        for (const auto& entry : std::filesystem::directory_iterator(dir.Path())) {
            if (entry.path() != path)
                std::filesystem::remove(entry.path());
        }
    }
    RecordProperty("rounds_replaced", std::to_string(replaced));
    RecordProperty("rounds_kept", std::to_string(kept));
    std::printf("kill rounds: %d kept the old list, %d got the new one (save takes %lld us)\n", kept, replaced,
                static_cast<long long>(std::chrono::duration_cast<std::chrono::microseconds>(saveTime).count()));

    // Loading the surviving file gives a whole list.
    TCanSendList loaded;
    loaded.SetPersistent(false);
    loaded.LoadFromFileName(path);
    EXPECT_EQ(loaded.Count(), kItems);
}
