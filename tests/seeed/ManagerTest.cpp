#include <gtest/gtest.h>

#include <dirent.h>

#include <chrono>
#include <cstring>
#include <thread>

#include "EngineTestSupport.h"
#include "SeeedSimulator.h"
#include "adapter/AdapterSeeed.h"
#include "core/CanSettings.h"
#include "platform/ProgramDir.h"
#include "platform/PseudoTerminal.h"
#include "platform/Tick.h"
#include "seeed/SeeedManager.h"
#include "seeed/SeeedPacket.h"
#include "support/FastClock.h"
#include "support/TempDir.h"
#include "transmit/CanSendList.h"
#include "views/TarvenixTable.h"
#include "views/TarvenixTrace.h"

namespace {

std::vector<uint8_t> Bytes(const TSeeedPacketCustom& p)
{
    return std::vector<uint8_t>(p.Wire(), p.Wire() + p.Size());
}

std::vector<uint8_t> SettingsBytes(int32_t rate, bool extended, uint8_t mode)
{
    TCanSettings s;
    s.Rate = rate;
    s.Extended = extended;
    return Bytes(TSeeedPacketSetAndStart(s, mode));
}

std::vector<uint8_t> ProbeBytes(bool extended)
{
    TCanFrame probe;
    probe.Id = 0x7A5;
    probe.Standard = !extended;
    probe.Length = 8;
    return Bytes(TSeeedPacketFrame(probe));
}

int CountEntries(const char* dir)
{
    int n = 0;
    if (DIR* d = opendir(dir)) {
        while (readdir(d))
            ++n;
        closedir(d);
    }
    return n;
}

// Every test runs with the program folder in a temporary place, so the
// transmit list file never lands beside the test program, and on a clock whose
// long sleeps (an opening's settle pauses) only move the tick count on: times
// the engine waits by its clock are measured in ticks.
class SeeedEngine : public ::testing::Test {
protected:
    const tcmtest::TScopedFastClock Clock;
    void SetUp() override { tcm::SetProgramDirOverride(Dir.Path()); }
    void TearDown() override { tcm::SetProgramDirOverride(""); }

    std::unique_ptr<TSeeedSimulator> StartSim(TSeeedSimOptions options = {})
    {
        auto sim = std::make_unique<TSeeedSimulator>(options);
        EXPECT_TRUE(sim->Start()) << sim->LastError();
        return sim;
    }

    TempDir Dir;
};

TCanSendItem* AddItem(TCanSendList& list, int32_t type, bool active, uint32_t id, int32_t period = 0)
{
    auto* item = new TCanSendItem;
    item->SendType = type;
    item->Active = active;
    item->Period = period;
    item->Frame.Id = id;
    item->Frame.Length = 1;
    item->Frame.Data[0] = static_cast<uint8_t>(id);
    list.Add(item);
    return item;
}

} // namespace

TEST_F(SeeedEngine, StartSendsTheInitialisationTimeLineExactly)
{
    for (bool extended : {false, true}) {
        auto sim = StartSim();
        TSeeedManager manager;
        manager.GetSettings()->Rate = 500000;
        manager.GetSettings()->Extended = extended;
        ASSERT_TRUE(manager.OpenPort(sim->PortPath())) << manager.GetLastError();
        const uint32_t t0 = tcm::TickCount();
        ASSERT_TRUE(manager.Start());
        const uint32_t took = tcm::TickCount() - t0;
        EXPECT_TRUE(manager.IsRunning());

        std::vector<uint8_t> expected = SettingsBytes(500000, extended, kSeeedModeLoopback);
        const auto probe = ProbeBytes(extended);
        const auto normal = SettingsBytes(500000, extended, kSeeedModeNormal);
        expected.insert(expected.end(), probe.begin(), probe.end());
        expected.insert(expected.end(), normal.begin(), normal.end());
        // The last settle pause took no real time: the adapter may still be reading.
        ASSERT_TRUE(sim->WaitSettingsReceived(2, 3000));
        EXPECT_EQ(sim->ReceivedBytes(), expected);
        EXPECT_EQ(probe[3], extended ? 0x02 : 0x01);

        // Two settle times of 200 ms, each a lower bound; the upper bound is the
        // start's own limit.
        const auto settings = sim->ReceivedSettings();
        ASSERT_EQ(settings.size(), 2u);
        EXPECT_GE(took, 395u);
        EXPECT_LT(took, 5000u);

        const auto log = TakeLog(*manager.GetLogger());
        ASSERT_GE(log.size(), 3u);
        EXPECT_EQ(log[0], "** Start");
        EXPECT_TRUE(HasLinePrefix(log, "** TSeeedThreadRead start"));
        EXPECT_TRUE(HasLinePrefix(log, "++ gotServiceFrame id 0x000007A5"));
        EXPECT_FALSE(HasLinePrefix(log, "Wait event"));
        // The probe's echo is a service frame only: not in the trace or the table.
        EXPECT_EQ(manager.GetTrace()->Count(), 0);
        EXPECT_EQ(manager.GetTable()->Count(), 0);

        manager.Stop();
        manager.ClosePort();
        const auto end = TakeLog(*manager.GetLogger());
        ASSERT_FALSE(end.empty());
        EXPECT_EQ(end.front(), "** Stop");
        EXPECT_EQ(end.back(), "** TSeeedThreadRead finish");
    }
}

TEST_F(SeeedEngine, SilentAdapterFailsAndClosesThePort)
{
    TSeeedSimOptions silent;
    silent.Silent = true;
    auto sim = StartSim(silent);
    CAdapterSeeed adapter;
    adapter.Port = sim->PortPath();
    const uint32_t t0 = tcm::TickCount();
    EXPECT_FALSE(adapter.Open(0));
    const uint32_t took = tcm::TickCount() - t0;
    EXPECT_GE(took, 395u);
    EXPECT_LT(took, 5000u);
    EXPECT_EQ(adapter.LastError, "Adapter initialization failed");
    EXPECT_FALSE(adapter.IsOpen(0));

    const auto log = TakeLog(*adapter.GetLogger(0));
    EXPECT_TRUE(HasLinePrefix(log, "Wait event frame got failed! Res = 258, t = "));
    EXPECT_TRUE(HasLinePrefix(log, "t1 = "));
    for (size_t i = 0; i + 1 < log.size(); ++i) {
        if (log[i].rfind("Wait event", 0) == 0) {
            EXPECT_EQ(log[i + 1].rfind("t1 = ", 0), 0u);
        }
    }
    // The adapter was left in loopback: no normal-mode settings were sent.
    const auto settings = sim->ReceivedSettings();
    ASSERT_EQ(settings.size(), 1u);

    // The port was closed again: another exclusive opening succeeds.
    TSeeedManager other;
    EXPECT_TRUE(other.OpenPort(sim->PortPath())) << other.GetLastError();
    other.ClosePort();
}

TEST_F(SeeedEngine, OpenFailuresGiveTheirTexts)
{
    TSeeedManager manager;
    EXPECT_FALSE(manager.OpenPort("/dev/tcm-no-such-port"));
    EXPECT_FALSE(manager.IsPortOpen());
    EXPECT_EQ(manager.GetLastError(), "Opening port is failed!\rPort: /dev/tcm-no-such-port, ErrorCode: 2");

    const std::string plain = Dir.File("not-a-tty");
    ASSERT_TRUE(WriteWholeFile(plain, "x"));
    EXPECT_FALSE(manager.OpenPort(plain));
    EXPECT_EQ(manager.GetLastError().rfind("Setting of port parameters is failed!\rErrorCode: ", 0), 0u)
        << manager.GetLastError();

    // A second opening of an open port fails; after closing, it opens again.
    auto sim = StartSim();
    ASSERT_TRUE(manager.OpenPort(sim->PortPath()));
    TSeeedManager second;
    EXPECT_FALSE(second.OpenPort(sim->PortPath()));
    EXPECT_EQ(second.GetLastError().rfind("Opening port is failed!\rPort: " + sim->PortPath() + ", ErrorCode: ", 0),
              0u);
    manager.ClosePort();
    manager.ClosePort(); // harmless
    EXPECT_TRUE(second.OpenPort(sim->PortPath()));
    second.ClosePort();

    // Stop on a manager that never ran only logs.
    TSeeedManager idle;
    idle.Stop();
    EXPECT_EQ(TakeLog(*idle.GetLogger()), std::vector<std::string>{"** Stop"});
}

TEST_F(SeeedEngine, ReceivedFramesReachTraceAndTableInOrder)
{
    TSeeedSimOptions traffic;
    traffic.FramesPerSecond = 8000;
    traffic.IdCount = 5;
    traffic.GarbageShare = 0.1;
    auto sim = StartSim(traffic);
    TSeeedManager manager;
    manager.GetSettings()->Rate = 250000;
    ASSERT_TRUE(manager.OpenPort(sim->PortPath()));
    ASSERT_TRUE(manager.Start());
    // Frames that arrive between the normal-mode settings packet and the start
    // of the running state are traced but not counted in the table; on a loaded
    // machine that takes a few milliseconds, so wait for a margin beyond 1000.
    ASSERT_TRUE(WaitUntil([&] { return manager.GetTrace()->Count() >= 1200; }));
    manager.Stop();
    manager.ClosePort();

    // Sequence numbers in data bytes 0..3 run without a gap: nothing lost, nothing invented.
    TTarvenixTraceList& trace = *manager.GetTrace();
    ASSERT_GE(trace.Count(), 1000);
    uint32_t previous = 0;
    for (int32_t i = 0; i < trace.Count(); ++i) {
        const TTarvenixTraceItem* item = trace.Item(i);
        EXPECT_FALSE(item->Outgoing);
        uint32_t seq = 0;
        std::memcpy(&seq, item->Data, 4);
        if (i > 0) {
            ASSERT_EQ(seq, previous + 1) << "at entry " << i;
        }
        previous = seq;
    }
    TTarvenixTable& table = *manager.GetTable();
    EXPECT_EQ(table.Count(), 5);
    int32_t counted = 0;
    for (int32_t i = 0; i < table.Count(); ++i)
        counted += table.Item(i)->Count;
    // Frames that arrive after Stop has cleared the running flag are traced
    // but no longer counted in the table.
    EXPECT_LE(counted, trace.Count());
    EXPECT_GE(counted, 1000);
}

TEST_F(SeeedEngine, RemoteFramesTriggerEveryActiveOnRequestItem)
{
    auto sim = StartSim();
    TSeeedManager manager;
    TCanSendList& list = *manager.GetSendList();
    AddItem(list, cstOnRequest, true, 0x111);
    AddItem(list, cstOnRequest, false, 0x222); // inactive: never sent
    AddItem(list, cstSingle, true, 0x333);
    AddItem(list, cstOnRequest, true, 0x444);
    list.SetStandard(true);
    ASSERT_TRUE(manager.OpenPort(sim->PortPath()));
    ASSERT_TRUE(manager.Start());
    sim->ClearHistory();

    TCanFrame remote;
    remote.Id = 0x7FF; // matches no item: every active OnRequest item answers anyway
    remote.Request = true;
    remote.Standard = true;
    sim->SendFrame(remote);
    sim->SendFrame(remote);
    ASSERT_TRUE(sim->WaitFramesReceived(4, 3000));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    std::vector<uint32_t> ids;
    for (const auto& f : sim->ReceivedFrames())
        ids.push_back(f.Id);
    EXPECT_EQ(ids, (std::vector<uint32_t>{0x111, 0x444, 0x111, 0x444}));
    {
        // The reading thread counts the sends; reading them here takes the list's lock.
        tcm::TMutexLock guard(list.Lock());
        EXPECT_EQ(list.GetItem(0)->Count, 2);
        EXPECT_EQ(list.GetItem(1)->Count, 0);
    }

    // The answers are traced as outgoing with the time just before their write.
    ASSERT_TRUE(WaitUntil([&] { return manager.GetTrace()->Count() >= 6; }));
    int outgoing = 0;
    for (int32_t i = 0; i < manager.GetTrace()->Count(); ++i)
        outgoing += manager.GetTrace()->Item(i)->Outgoing ? 1 : 0;
    EXPECT_EQ(outgoing, 4);
    manager.Stop();
    manager.ClosePort();
}

TEST_F(SeeedEngine, FramesQueuedBeforeStartAreNeverWritten)
{
    auto sim = StartSim();
    TSeeedManager manager;
    TCanFrame early;
    early.Id = 0x55;
    early.Standard = true;
    manager.QueueFrame(early);
    manager.QueueFrame(early);
    EXPECT_EQ(manager.QueuedFrames(), 2);
    EXPECT_FALSE(manager.WaitQueueEmpty(10)); // no sender runs yet
    ASSERT_TRUE(manager.OpenPort(sim->PortPath()));
    ASSERT_TRUE(manager.Start());
    TCanFrame late;
    late.Id = 0x66;
    late.Standard = true;
    late.Time = 12345;
    manager.QueueFrame(late);
    ASSERT_TRUE(sim->WaitFramesReceived(2, 3000)); // the probe and the late frame
    EXPECT_TRUE(manager.WaitQueueEmpty(3000));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    std::vector<uint32_t> ids;
    for (const auto& f : sim->ReceivedFrames())
        ids.push_back(f.Id);
    EXPECT_EQ(ids, (std::vector<uint32_t>{0x7A5, 0x66}));
    ASSERT_TRUE(WaitUntil([&] { return manager.GetTrace()->Count() == 1; }));
    const TTarvenixTraceItem* out = manager.GetTrace()->Item(0);
    EXPECT_TRUE(out->Outgoing);
    EXPECT_NE(out->Time, 12345u); // stamped anew just before the write
    manager.Stop();
    manager.ClosePort();
}

TEST_F(SeeedEngine, RepeatedOpenAndCloseLeavesNoThreadOrDescriptor)
{
    auto sim = StartSim();
    CAdapterSeeed adapter;
    adapter.Port = sim->PortPath();
    // The opening's two settle pauses only move the tick count on, so the 50
    // cycles take their real steps without sleeping 400 ms each.
    const uint32_t skippedBefore = Clock.Get().SkippedMs();
    // Warm up once so lazily created process resources are counted before.
    ASSERT_TRUE(adapter.Open(0));
    adapter.Close(0);
    const int fds = CountEntries("/proc/self/fd");
    const int threads = CountEntries("/proc/self/task");
    for (int i = 0; i < 50; ++i) {
        ASSERT_TRUE(adapter.Open(0)) << "cycle " << i << ": " << adapter.LastError;
        EXPECT_TRUE(adapter.IsOpen(0));
        adapter.Close(0);
        EXPECT_FALSE(adapter.IsOpen(0));
    }
    EXPECT_EQ(CountEntries("/proc/self/fd"), fds);
    EXPECT_EQ(CountEntries("/proc/self/task"), threads);
    EXPECT_GE(Clock.Get().SkippedMs() - skippedBefore, 51u * 400u) << "every opening still waits its settle pauses";
}

TEST_F(SeeedEngine, LostPortIsReportedOnceAndDoesNotSpin)
{
    auto sim = StartSim();
    TSeeedManager manager;
    ASSERT_TRUE(manager.OpenPort(sim->PortPath()));
    ASSERT_TRUE(manager.Start());
    TakeLog(*manager.GetLogger());
    const std::clock_t cpu0 = std::clock();
    sim->Unplug();
    ASSERT_TRUE(WaitUntil([&] { return manager.IsPortLost(); }));
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    const double cpuMs = 1000.0 * static_cast<double>(std::clock() - cpu0) / CLOCKS_PER_SEC;
    const auto log = TakeLog(*manager.GetLogger());
    int failures = 0;
    for (const auto& line : log)
        failures += line.rfind("ReadFile is failed. Error = ", 0) == 0 ? 1 : 0;
    EXPECT_EQ(failures, 1);
    // A spinning reader would burn the whole 150 ms; resting costs a little.
    EXPECT_LT(cpuMs, 75.0) << "of 150 ms";
    manager.Stop();
    manager.ClosePort();
}

TEST_F(SeeedEngine, WriteThatTimesOutIsLoggedAsFailed)
{
    // A hand-made adapter: answers the probe, then never reads again, so the
    // terminal's buffer fills and writes run into their time limit.
    tcm::TPseudoTerminal pty;
    ASSERT_TRUE(pty.Open());
    std::atomic<bool> answered{false};
    std::thread device([&] {
        std::vector<uint8_t> got;
        uint8_t buf[256];
        while (got.size() < 40) {
            const int n = pty.Read(buf, sizeof(buf), 50);
            if (n > 0)
                got.insert(got.end(), buf, buf + n);
        }
        pty.Write(got.data() + 20, 20); // echo of the probe
        answered = true;
    });
    TSeeedManager manager;
    ASSERT_TRUE(manager.OpenPort(pty.SlavePath()));
    ASSERT_TRUE(manager.Start());
    device.join();
    TakeLog(*manager.GetLogger());
    TCanFrame f;
    f.Standard = true;
    f.Length = 8;
    for (int i = 0; i < 20000; ++i)
        manager.QueueFrame(f);
    ASSERT_TRUE(WaitUntil(
        [&] {
            const auto log = TakeLog(*manager.GetLogger());
            return HasLinePrefix(log, "WriteFile is failed. Error = " + std::to_string(ETIMEDOUT));
        },
        20000));
    manager.Stop();
    manager.ClosePort();
    EXPECT_TRUE(answered.load());
}
