// The plot's samples and their min/max summary against a plain copy of the
// samples, and the fed series against the decoder on the same frames.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <random>

#include "plot/PlotFeed.h"
#include "signals/DbcReader.h"
#include "support/FullDisk.h"
#include "views/TarvenixTrace.h"

namespace {

TPlotSpan Brute(const std::vector<TPlotSample>& samples, int64_t first, int64_t end)
{
    TPlotSpan span;
    for (int64_t i = first; i < end; ++i)
        span.Add(samples[static_cast<size_t>(i)]);
    return span;
}

void ExpectSame(const TPlotSpan& mine, const TPlotSpan& theirs)
{
    EXPECT_EQ(mine.Count, theirs.Count);
    if (mine.Count == 0 || theirs.Count == 0)
        return;
    EXPECT_EQ(mine.FirstUs, theirs.FirstUs);
    EXPECT_EQ(mine.LastUs, theirs.LastUs);
    EXPECT_EQ(mine.Min, theirs.Min);
    EXPECT_EQ(mine.Max, theirs.Max);
    EXPECT_EQ(mine.First, theirs.First);
    EXPECT_EQ(mine.Last, theirs.Last);
}

long RssFileKiB()
{
    std::ifstream in("/proc/self/status");
    std::string line;
    while (std::getline(in, line))
        if (line.rfind("RssFile:", 0) == 0)
            return std::strtol(line.c_str() + 8, nullptr, 10);
    return -1;
}

// A feed of one 16-bit raw field given `frames` frames whose field is the frame's number.
void FeedCounter(TPlotFeed& feed, int frames)
{
    std::string error;
    feed.Add(*TPlotSource::RawField(0x100, false, 0, 16, TDbcByteOrder::Intel, false, error));
    uint8_t data[8] = {};
    for (int i = 0; i < frames; ++i) {
        data[0] = static_cast<uint8_t>(i);
        data[1] = static_cast<uint8_t>(i >> 8);
        feed.AddFrame(0x100, false, false, data, 8, int64_t{1'000'000} + i * 100);
    }
}

// The index of the first sample that is not the counter's, or -1.
int64_t FirstWrongSample(const TPlotSeries& series, int frames)
{
    if (series.Count() != frames)
        return 0;
    for (int i = 0; i < frames; ++i)
        if (series.Sample(i).Value != (i & 0xFFFF) || series.Sample(i).TimeUs != 1'000'000 + int64_t{i} * 100)
            return i;
    return -1;
}

} // namespace

// Samples written to the cache file leave resident memory, and reading them
// back (through the buffer, across its chunks and blocks) does not map them
// in again; a file that cannot
// grow (here a size limit, as a full disk would do) is named as the plot's
// own, and its samples are kept in memory without a loss.
TEST(PlotStorage, PagesLeaveMemoryAndAFullDiskNamesThePlotsFile)
{
    TCacheHome home;
    constexpr int kFrames = 1'500'000; // 23 MiB of samples
    {
        const long before = RssFileKiB();
        TPlotFeed feed;
        FeedCounter(feed, kFrames);
        const long written = RssFileKiB();
        EXPECT_LT(written - before, 3 * 1024) << "KiB resident after writing";
        EXPECT_EQ(FirstWrongSample(feed.Samples(0), kFrames), -1);
        EXPECT_LT(RssFileKiB() - before, 3 * 1024) << "KiB resident after reading every sample";
        EXPECT_EQ(feed.StorageProblem(), "");
    }

    const int result = RunWithFileLimit(3 * kPlotBlockBytes, [&] {
        TPlotFeed feed;
        FeedCounter(feed, kFrames / 4);
        int fault = FirstWrongSample(feed.Samples(0), kFrames / 4) == -1 ? 0 : 1;
        const std::string problem = feed.StorageProblem();
        if (problem.rfind("Plot storage: Unable to grow the plot sample file in the cache folder " +
                              home.Folder().string() + " (error 27",
                          0) != 0 ||
            problem.find("New samples are kept in memory.") == std::string::npos)
            fault |= 2;
        return fault;
    });
    EXPECT_EQ(result, 0) << "1: samples wrong, 2: the problem's text wrong, above 127: a signal";
}

TEST(PlotSeries, SummaryLookupsAndColumnsMatchTheSamples)
{
    std::mt19937_64 random(7);
    TPlotSeries series(std::make_shared<tcm::TBackingStore>(kPlotBlockBytes, kPlotFileName));
    std::vector<TPlotSample> copy;
    // 300,000 samples (several file blocks, four summary levels): gaps of 0
    // to 200 us, a random walk with spikes, and one time that goes back.
    int64_t time = 1'700'000'000'000'000;
    double value = 0;
    for (int i = 0; i < 300'000; ++i) {
        time += static_cast<int64_t>(random() % 201);
        value += static_cast<double>(random() % 2001) / 1000.0 - 1.0;
        const double v = random() % 5000 == 0 ? value * 100 : value;
        const int64_t t = i == 150'000 ? time - 5000 : time; // counts as the time before it
        ASSERT_TRUE(series.Append(t, v));
        copy.push_back({i == 150'000 ? copy.back().TimeUs : t, v});
    }
    ASSERT_EQ(series.Count(), 300'000);
    EXPECT_EQ(series.FirstTimeUs(), copy.front().TimeUs);
    EXPECT_EQ(series.LastTimeUs(), copy.back().TimeUs);
    EXPECT_EQ(series.StorageProblem(), "");
    for (int64_t i = 0; i < series.Count(); i += 997)
        EXPECT_EQ(series.Sample(i).TimeUs, copy[static_cast<size_t>(i)].TimeUs);

    const int64_t begin = copy.front().TimeUs - 10, end = copy.back().TimeUs + 10;
    for (int k = 0; k < 2000; ++k) {
        const int64_t t = begin + static_cast<int64_t>(random() % static_cast<uint64_t>(end - begin));
        const auto at = std::lower_bound(copy.begin(), copy.end(), t,
                                         [](const TPlotSample& s, int64_t when) { return s.TimeUs < when; });
        ASSERT_EQ(series.LowerBound(t), at - copy.begin()) << t;
    }
    EXPECT_EQ(series.LowerBound(end), series.Count());
    EXPECT_EQ(series.AtOrBefore(begin), -1);

    for (int k = 0; k < 300; ++k) {
        int64_t a = static_cast<int64_t>(random() % copy.size()), b = static_cast<int64_t>(random() % copy.size());
        if (a > b)
            std::swap(a, b);
        ExpectSame(series.Summary(a, b), Brute(copy, a, b));
    }

    // Few samples per column: every column is exactly its samples.
    std::vector<TPlotSpan> columns;
    const int64_t from = copy[1000].TimeUs, to = copy[4000].TimeUs;
    series.Columns(from, to, 800, columns);
    ASSERT_EQ(columns.size(), 800u);
    for (int c = 0; c < 800; ++c) {
        const int64_t a = series.LowerBound(from + (to - from) * c / 800);
        const int64_t b = series.LowerBound(from + (to - from) * (c + 1) / 800);
        ExpectSame(columns[static_cast<size_t>(c)], Brute(copy, a, b));
    }

    // Many samples per column: the columns add up to the whole range, in
    // order, each within half a column of its own time range.
    series.Columns(begin, end, 300, columns);
    TPlotSpan all;
    const double width = static_cast<double>(end - begin) / 300;
    for (int c = 0; c < 300; ++c) {
        const TPlotSpan& column = columns[static_cast<size_t>(c)];
        if (column.Count == 0)
            continue;
        EXPECT_GE(static_cast<double>(column.FirstUs), static_cast<double>(begin) + width * (c - 0.5)) << c;
        EXPECT_LT(static_cast<double>(column.LastUs), static_cast<double>(begin) + width * (c + 1.5)) << c;
        all.Add(column);
    }
    ExpectSame(all, Brute(copy, 0, static_cast<int64_t>(copy.size())));
}

TEST(PlotFeed, FedSeriesHoldTheDecodersValuesOfTheSameFrames)
{
    TDbcDatabase db;
    std::string error;
    ASSERT_TRUE(LoadDbcFile(TCM_DBC_TEST_DIR "/data/vehicle.dbc", db, error)) << error;
    TPlotFeed feed;
    std::vector<TPlotSource> sources;
    ASSERT_TRUE(FindPlotSources(db, {"ENGINE_DATA.ENGINE_SPEED", "GEAR", "CabinTemp", "Pressure", "RequestCounter"},
                                sources, error))
        << error;
    EXPECT_FALSE(FindPlotSources(db, {"ENGINE_DATA.Nope"}, sources, error));
    EXPECT_EQ(error, "no signal ENGINE_DATA.Nope in the database");
    for (const TPlotSource& s : sources)
        feed.Add(s);
    // Byte 2 of 0x514 and a signed Motorola nibble range of it, as raw fields.
    feed.Add(*TPlotSource::RawField(0x514, false, 16, 8, TDbcByteOrder::Intel, false, error));
    feed.Add(*TPlotSource::RawField(0x514, false, 23, 5, TDbcByteOrder::Motorola, true, error));
    EXPECT_EQ(feed.Source(5).Name(), "0x514 byte 2");
    EXPECT_EQ(feed.Source(6).Name(), "0x514 bits 23|5@0-");
    EXPECT_FALSE(TPlotSource::RawField(0x514, false, 60, 8, TDbcByteOrder::Intel, false, error));
    EXPECT_TRUE(feed.Source(1).Steps());  // GEAR: enumerated
    EXPECT_FALSE(feed.Source(0).Steps()); // 0.125 rpm per bit

    // Frames of the trace: engine data, the multiplexed diagnosis message
    // with every page, a short frame, a remote frame and an unknown identifier.
    std::mt19937 random(3);
    TTarvenixTraceList trace;
    for (int i = 0; i < 3000; ++i) {
        TCanFrame f;
        const int kind = static_cast<int>(random() % 5);
        f.Id = kind == 0 ? 608 : (kind == 4 ? 0x123 : 1300);
        f.Standard = true;
        f.Length = random() % 10 == 0 ? 3 : 8;
        f.Request = random() % 50 == 0;
        for (uint8_t& b : f.Data)
            b = static_cast<uint8_t>(random());
        if (f.Id == 1300) {
            f.Data[0] = static_cast<uint8_t>(random() % 7); // Service, pages 0..6
            f.Data[1] = static_cast<uint8_t>(random() % 9); // SubFunction 0..8
        }
        f.TimeUs = 1'000'000 + i * 100;
        trace.AddFrame(f, false);
    }
    int64_t next = 0;
    while (feed.FeedFrom(trace, next, 777) > 0) {}
    EXPECT_EQ(next, 3000);

    std::vector<size_t> at(feed.Count(), 0);
    std::vector<TDbcDecoded> decoded;
    for (int64_t i = 0; i < trace.Count(); ++i) {
        const TTarvenixTraceItem& item = *trace.Item(i);
        if (item.Request || (item.Id != 608 && item.Id != 1300))
            continue;
        decoded.clear();
        DecodeDbcFrame(*db.Find(item.Id, false), item.Data, item.Length, decoded);
        for (const TDbcDecoded& d : decoded) {
            for (size_t s = 0; s < 5; ++s) {
                if (feed.Source(s).Signal().Name != d.Signal->Name || feed.Source(s).Id() != item.Id)
                    continue;
                ASSERT_LT(static_cast<int64_t>(at[s]), feed.Samples(s).Count()) << d.Signal->Name;
                const TPlotSample& sample = feed.Samples(s).Sample(static_cast<int64_t>(at[s]++));
                EXPECT_EQ(sample.Value, d.Value) << d.Signal->Name << " frame " << i;
                EXPECT_EQ(sample.TimeUs, item.TimeUs);
            }
        }
        if (item.Id == 1300) { // lengths 3 and 8 both carry byte 2
            EXPECT_EQ(feed.Samples(5).Sample(static_cast<int64_t>(at[5]++)).Value, item.Data[2]);
            const int nibble = (item.Data[2] >> 3) & 0x1F; // bits 23..19, sign in the top one
            EXPECT_EQ(feed.Samples(6).Sample(static_cast<int64_t>(at[6]++)).Value, nibble >= 16 ? nibble - 32 : nibble);
        }
    }
    for (size_t s = 0; s < feed.Count(); ++s)
        EXPECT_EQ(static_cast<int64_t>(at[s]), feed.Samples(s).Count()) << feed.Source(s).Name();
    EXPECT_GT(feed.Samples(2).Count(), 50); // each page was seen
    EXPECT_GT(feed.Samples(3).Count(), 50);
    EXPECT_GT(feed.Samples(4).Count(), 50);

    feed.Remove(0);
    EXPECT_EQ(feed.Source(0).Name(), "ENGINE_DATA.GEAR");
    feed.ClearSamples();
    EXPECT_EQ(feed.Samples(0).Count(), 0);
}
