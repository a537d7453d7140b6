#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "adapter/AdapterCustom.h"
#include "core/CanRateList.h"

namespace {

// An adapter that reports the rates it is given.
class TRateAdapter : public CAdapterCustom {
public:
    explicit TRateAdapter(std::vector<int32_t> rates) : CAdapterCustom(SilentCreate{}), Rates(std::move(rates)) {}
    int32_t GetChannelCount() const override { return 1; }
    bool Open(int32_t) override { return false; }
    void Close(int32_t) override {}
    void GetSupportedRates(std::vector<int32_t>& rates) const override { rates = Rates; }
    const TAdapterKind& GetKind() const override
    {
        static const TAdapterKind kind{"Fake", nullptr};
        return kind;
    }

private:
    std::vector<int32_t> Rates;
};

// An adapter that keeps the base answer: no rates.
class TPlainAdapter : public TRateAdapter {
public:
    TPlainAdapter() : TRateAdapter({}) {}
    void GetSupportedRates(std::vector<int32_t>& rates) const override { CAdapterCustom::GetSupportedRates(rates); }
};

const std::vector<int32_t> kSeeedRates = {5000,   10000,  20000,  50000,  100000, 125000,
                                          200000, 250000, 400000, 500000, 800000, 1000000};

std::vector<std::string> Labels(const TCanRateList& list)
{
    std::vector<std::string> labels;
    list.FillStrings(labels);
    return labels;
}

} // namespace

TEST(CanRateList, GeneralTableAndLookups)
{
    TCanRateList list;
    const std::vector<std::string> expected = {"5 Kbit/sec",   "10 Kbit/sec",  "20 Kbit/sec",  "40 Kbit/sec",
                                               "50 Kbit/sec",  "80 Kbit/sec",  "100 Kbit/sec", "125 Kbit/sec",
                                               "200 Kbit/sec", "250 Kbit/sec", "400 Kbit/sec", "500 Kbit/sec",
                                               "666 Kbit/sec", "800 Kbit/sec", "1 Mbit/sec"};
    EXPECT_EQ(Labels(list), expected);
    EXPECT_EQ(list.RateAt(0), 5000u);
    EXPECT_EQ(list.RateAt(14), 1000000u);
    EXPECT_EQ(list.RateAt(15), 0u);
    EXPECT_EQ(list.RateAt(-1), 0u);
    EXPECT_EQ(list.IndexOfRate(250000), 9);
    EXPECT_EQ(list.IndexOfRate(-1), -1);
    EXPECT_EQ(list.IndexOfRate(250001), -1);

    // A rate already listed is appended again; lookups keep finding the first.
    list.AddRate(250000);
    EXPECT_EQ(list.RateAt(15), 250000u);
    EXPECT_EQ(list.IndexOfRate(250000), 9);

    // A rate above the signed range is never found through a negative value.
    list.Clear();
    EXPECT_EQ(list.RateAt(0), 0u);
    EXPECT_TRUE(Labels(list).empty());
    list.AddRate(3000000000u);
    EXPECT_EQ(list.IndexOfRate(static_cast<int32_t>(-1294967296)), -1);
}

TEST(CanRateList, FillStringsAppendsAfterExistingEntries)
{
    const TCanRateList list;
    std::vector<std::string> box = {"first", "second"};
    list.FillStrings(box);
    ASSERT_EQ(box.size(), 17u);
    EXPECT_EQ(box[0], "first");
    EXPECT_EQ(box[2], "5 Kbit/sec");
    EXPECT_EQ(box[16], "1 Mbit/sec");
    list.FillStrings(static_cast<std::vector<std::string>*>(nullptr)); // no target: nothing happens
}

TEST(CanRateList, LabelsStateTheExactRate)
{
    EXPECT_EQ(TCanRateItem(2000000).GetLabel(), "2 Mbit/sec");
    // Rates of no table: the label falls back to a finer unit instead of
    // dropping the number.
    EXPECT_EQ(TCanRateItem(1500000).GetLabel(), "1500 Kbit/sec");
    EXPECT_EQ(TCanRateItem(83333).GetLabel(), "83333 bit/sec");
    EXPECT_EQ(TCanRateItem(999).GetLabel(), "999 bit/sec");
}

TEST(CanRateList, LoadFromAdapterReplacesByTheAdapterRates)
{
    TCanRateList list;
    const TRateAdapter seeed(kSeeedRates);
    list.LoadFromAdapter(&seeed);
    ASSERT_EQ(list.Count(), 12);
    EXPECT_EQ(list.RateAt(11), 1000000u);
    EXPECT_EQ(list.IndexOfRate(250000), 7);
    EXPECT_EQ(list.IndexOfRate(666000), -1);
    EXPECT_EQ(list.IndexOfRate(40000), -1); // a stored 40000 leaves the rate box without a selection
    EXPECT_EQ(Labels(list)[3], "50 Kbit/sec");

    // Loading again replaces rather than appends.
    list.LoadFromAdapter(&seeed);
    EXPECT_EQ(list.Count(), 12);
}

TEST(CanRateList, AdapterWithoutRatesLeavesTheListAlone)
{
    TCanRateList list;
    const TPlainAdapter plain;
    list.LoadFromAdapter(&plain);
    EXPECT_EQ(list.IndexOfRate(666000), 12);
    list.LoadFromAdapter(nullptr);
    EXPECT_EQ(list.Count(), 15);

    // Values that are no bit rates are left out; with nothing else left the list stays.
    const TRateAdapter broken({0, -125000});
    list.LoadFromAdapter(&broken);
    EXPECT_EQ(list.Count(), 15);

    const TRateAdapter mixed({-1, 125000, 0, 500000});
    list.LoadFromAdapter(&mixed);
    ASSERT_EQ(list.Count(), 2);
    EXPECT_EQ(list.RateAt(0), 125000u);
    EXPECT_EQ(list.RateAt(1), 500000u);
}
