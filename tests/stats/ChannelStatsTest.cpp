#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <thread>
#include <vector>

#include "platform/Tick.h"
#include "stats/ChannelStats.h"
#include "stats/FrameBits.h"
#include "stats/LoadWindow.h"
#include "stats/StatsFigures.h"

namespace {

TCanFrame Frame(uint32_t id, bool standard, int length, uint8_t fill = 0)
{
    TCanFrame f;
    f.Id = id;
    f.Standard = standard;
    f.Length = length;
    std::fill(std::begin(f.Data), std::end(f.Data), fill);
    return f;
}

} // namespace

// A message every 10 ms with known jitter, another one sent, and a remote
// frame of the same number as a third kind: per-identifier figures, sorting,
// shares, the channel's load and its peak against a brute-force search.
TEST(ChannelStats, FiguresOfKnownTraffic)
{
    TStatsAccumulator stats;
    stats.Start(500000, 1000000); // the run starts at 1 s on its clock
    const TCanFrame periodic = Frame(0x1A0, true, 8, 0x55);
    const TCanFrame sent = Frame(0x18DAF110, false, 3, 0xFF);
    TCanFrame remote = Frame(0x1A0, true, 0);
    remote.Request = true;

    struct TAt {
        int64_t Time;
        const TCanFrame* Frame;
        bool Outgoing;
    };
    std::vector<TAt> traffic;
    // 0x1A0 at 10 ms with +-100 us alternating: periods 10.1, 9.9, 10.1, ...
    for (int i = 0; i < 301; ++i)
        traffic.push_back({1000000 + i * 10000 + (i % 2 ? 100 : 0), &periodic, false});
    // A burst of sent frames: 50 of them within 200 ms from 2.0 s.
    for (int i = 0; i < 50; ++i)
        traffic.push_back({2000000 + i * 4000 + 1, &sent, true});
    traffic.push_back({3500000, &remote, false});
    std::sort(traffic.begin(), traffic.end(), [](const TAt& a, const TAt& b) { return a.Time < b.Time; });
    std::vector<std::pair<int64_t, int>> all; // every frame's time and bits, for the brute force
    for (const TAt& at : traffic) {
        stats.Add(*at.Frame, at.Outgoing, at.Time);
        all.emplace_back(at.Time, CanFrameBits(*at.Frame));
    }

    const TStatsSnapshot snapshot = stats.Snapshot(4000000); // 3 s into the run
    const TChannelFigures channel = ChannelFigures(snapshot);
    uint64_t bits = 0;
    for (const auto& [t, b] : all)
        bits += static_cast<uint64_t>(b);
    EXPECT_EQ(channel.Frames, 352u);
    EXPECT_EQ(channel.Bits, bits);
    EXPECT_DOUBLE_EQ(channel.Seconds, 3.0);
    EXPECT_NEAR(channel.RunLoadPercent, static_cast<double>(bits) * 100.0 / (500000.0 * 3.0), 1e-9);

    uint64_t peak = 0;
    for (size_t end = 0; end < all.size(); ++end) {
        uint64_t window = 0;
        for (size_t i = 0; i <= end; ++i)
            if (all[i].first > all[end].first - 1000000)
                window += static_cast<uint64_t>(all[i].second);
        peak = std::max(peak, window);
    }
    EXPECT_EQ(snapshot.Channel.PeakBits, peak);
    EXPECT_NEAR(channel.PeakPercent, static_cast<double>(peak) * 100.0 / 500000.0, 1e-9);
    // The last whole second before the snapshot (3.0 to 4.0 s on the clock,
    // the frame at 4.0 s opening the next eighth) held 100 frames of 0x1A0 and
    // the remote frame.
    EXPECT_DOUBLE_EQ(channel.InFramesPerSecond, 101.0);
    EXPECT_DOUBLE_EQ(channel.OutFramesPerSecond, 0.0);

    const std::vector<TIdFigures> ids = IdFigures(snapshot);
    ASSERT_EQ(ids.size(), 3u);
    EXPECT_EQ(IdText(ids[0]), "1A0");
    EXPECT_EQ(ids[0].Kind, kStatsStandard);
    EXPECT_EQ(ids[1].Kind, kStatsStandard | kStatsRemote);
    EXPECT_EQ(IdText(ids[2]), "18DAF110");
    EXPECT_EQ(ids[2].Kind, kStatsOutgoing);

    const TIdFigures& p = ids[0];
    EXPECT_EQ(p.Count, 301u);
    EXPECT_TRUE(p.HasPeriod);
    EXPECT_NEAR(p.PeriodMeanMs, 10.0, 1e-9);
    EXPECT_NEAR(p.PeriodMinMs, 9.9, 1e-9);
    EXPECT_NEAR(p.PeriodMaxMs, 10.1, 1e-9);
    EXPECT_NEAR(p.JitterMs, 0.1, 1e-9);
    EXPECT_NEAR(p.RateRun, 301.0 / 3.0, 1e-9);
    EXPECT_DOUBLE_EQ(p.RateLastSecond, 100.0);
    EXPECT_EQ(p.LastLength, 8);
    EXPECT_EQ(p.LastBits, static_cast<uint32_t>(CanFrameBits(periodic)));
    EXPECT_FALSE(ids[1].HasPeriod);
    double shares = 0;
    for (const auto& id : ids)
        shares += id.SharePercent;
    EXPECT_NEAR(shares, 100.0, 1e-9);

    EXPECT_EQ(IdLine(p).rfind("1A0      std data IN  count 301, ", 0), 0u) << IdLine(p);
    char expected[160];
    std::snprintf(expected, sizeof expected,
                  "bus: 352 frames, %llu bits in 3.000 s, load %.2f %% (peak %.2f %% in one second)",
                  static_cast<unsigned long long>(bits), channel.RunLoadPercent, channel.PeakPercent);
    EXPECT_EQ(TotalsLine(channel), expected);
}

// A long gap, times that run back, and far more identifiers than are listed:
// nothing is lost from the totals, the profile stays bounded.
TEST(ChannelStats, HostileTimesAndIdentifierFlood)
{
    TStatsAccumulator stats;
    stats.Start(125000, 0);
    const TCanFrame f = Frame(1, false, 8);
    stats.Add(f, false, 5000000);
    stats.Add(f, false, 4000000);          // back in time: a zero period
    stats.Add(f, false, int64_t{1} << 50); // decades later
    TStatsSnapshot s = stats.Snapshot(int64_t{1} << 50);
    ASSERT_EQ(s.Ids.size(), 1u);
    EXPECT_EQ(s.Ids[0].PeriodMinUs, 0);
    EXPECT_LE(s.ProfileBits.size(), TLoadProfile::kMaxSlots);
    uint64_t profiled = 0;
    for (uint64_t b : s.ProfileBits)
        profiled += b;
    EXPECT_EQ(profiled, s.Channel.In.Bits);

    stats.Start(125000, 0);
    const size_t extra = 1000;
    for (size_t i = 0; i < TStatsAccumulator::kMaxIdentifiers + extra; ++i)
        stats.Add(Frame(static_cast<uint32_t>(i), false, 0), false, static_cast<int64_t>(i));
    s = stats.Snapshot(1000000);
    EXPECT_EQ(s.Ids.size(), TStatsAccumulator::kMaxIdentifiers);
    EXPECT_EQ(s.Channel.Untracked, extra);
    EXPECT_EQ(s.Channel.In.Frames, TStatsAccumulator::kMaxIdentifiers + extra);

    // A user that lists no identifiers keeps the totals only.
    stats.LimitIdentifiers(0);
    stats.Start(125000, 0);
    for (uint32_t i = 0; i < 100; ++i)
        stats.Add(Frame(i, false, 0), i % 2 == 0, i);
    s = stats.Snapshot(1000000);
    EXPECT_TRUE(s.Ids.empty());
    EXPECT_EQ(s.Channel.Untracked, 100u);
    EXPECT_EQ(s.Channel.In.Frames + s.Channel.Out.Frames, 100u);
}

// Frames a microsecond apart for two seconds (far closer than any bus carries
// them): the peak window's memory stays bounded and its peak within one grain
// of the exact one; after a quiet gap, frames at a real bus's pace are counted
// exactly again.
TEST(ChannelStats, PeakWindowUnderFramesCloserThanABus)
{
    constexpr uint64_t kBits = 65;
    TPeakWindow window;
    int64_t t = 1000000;
    int64_t coarsest = 1;
    for (int i = 0; i < 2000000; ++i, ++t) {
        window.Add(t, kBits);
        coarsest = std::max(coarsest, window.GrainUs());
    }
    EXPECT_LE(window.Capacity(), TPeakWindow::kMaxPoints);
    EXPECT_GT(coarsest, 1);
    const uint64_t exact = 1000000 * kBits; // every second holds a million frames
    EXPECT_GE(window.PeakBits(), exact);
    EXPECT_LE(window.PeakBits(), exact + static_cast<uint64_t>(coarsest) * kBits);

    t += 2 * kUsPerSecond;
    for (int i = 0; i < 30000; ++i, t += 50)
        window.Add(t, kBits);
    EXPECT_EQ(window.GrainUs(), 1);
    EXPECT_EQ(window.BitsEndingAt(t - 50), 20000 * kBits);
}

// Two feeding threads and a reader taking snapshots all the while (run under
// ThreadSanitizer too): every frame is counted once, in its direction.
TEST(ChannelStats, FeedersAndReaderAtOnce)
{
    tcm::TFrameClock clock;
    TChannelStats stats;
    stats.Start(1000000, &clock);
    constexpr int kFrames = 20000;
    auto feed = [&](uint32_t ids, bool standard, bool outgoing) {
        for (int i = 0; i < kFrames; ++i) {
            TCanFrame f = Frame(static_cast<uint32_t>(i) % ids, standard, 8);
            f.TimeUs = clock.NowUs();
            stats.Add(f, outgoing);
        }
    };
    std::thread in(feed, 2000u, true, false);
    std::thread out([&] {
        feed(50u, false, true);
        stats.CountNotTaken();
    });
    size_t snapshots = 0;
    for (; snapshots < 20; ++snapshots) {
        const TStatsSnapshot s = stats.Snapshot();
        uint64_t counted = 0;
        for (const auto& id : s.Ids)
            counted += id.Count;
        EXPECT_GE(counted + 64, s.Channel.In.Frames + s.Channel.Out.Frames); // copied a moment later
    }
    in.join();
    out.join();
    stats.SetParserDrops(3, 70);
    stats.Stop();
    const TStatsSnapshot s = stats.Snapshot();
    EXPECT_EQ(s.Channel.In.Frames, static_cast<uint64_t>(kFrames));
    EXPECT_EQ(s.Channel.Out.Frames, static_cast<uint64_t>(kFrames));
    EXPECT_EQ(s.Ids.size(), 2050u);
    EXPECT_EQ(s.Channel.NotTaken, 1u);
    EXPECT_EQ(s.Channel.ParserDamaged, 3u);
    EXPECT_EQ(s.Channel.ParserSkipped, 70u);
    EXPECT_GE(s.Channel.StopUs, 0);
}
