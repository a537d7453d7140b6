#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "views/TarvenixTable.h"

namespace {

TCanFrame Frame(uint32_t id, bool standard, bool request, uint32_t time = 0, int32_t length = 0)
{
    TCanFrame f;
    f.Id = id;
    f.Standard = standard;
    f.Request = request;
    f.Time = time;
    f.Length = length;
    for (int i = 0; i < 8; ++i)
        f.Data[i] = static_cast<uint8_t>(0x10 * (i + 1) + (time & 0xF));
    return f;
}

struct Recorder {
    std::vector<std::string> Events;
    void Attach(TTarvenixTable& t)
    {
        t.SetOnRowChanged([this](const TTarvenixTableItem& row, int32_t index, bool isNew) {
            Events.push_back("row " + std::to_string(row.Key) + " @" + std::to_string(index) + (isNew ? " new" : ""));
        });
        t.SetOnCleared([this] { Events.push_back("cleared"); });
        t.SetOnRebuild([this] { Events.push_back("rebuild"); });
    }
};

} // namespace

TEST(ReceiveTable, KeysOrderRowsByIdentifierThenKind)
{
    const TCanFrame frames[] = {Frame(0x100, false, false), Frame(0x100, true, true), Frame(0x0FF, false, false),
                                Frame(0x100, false, true), Frame(0x100, true, false)};
    // Every insertion order gives the same rows.
    int order[] = {0, 1, 2, 3, 4};
    do {
        TTarvenixTable table;
        for (int i : order)
            table.AddFrame(frames[i]);
        ASSERT_EQ(table.Count(), 5);
        std::vector<uint32_t> keys;
        for (int i = 0; i < table.Count(); ++i)
            keys.push_back(table.Item(i)->Key);
        EXPECT_EQ(keys, (std::vector<uint32_t>{0x3FF, 0x400, 0x401, 0x402, 0x403}));
    } while (std::next_permutation(std::begin(order), std::end(order)));
}

TEST(ReceiveTable, NotificationsCarryInsertionIndexAndNewMark)
{
    TTarvenixTable table;
    Recorder rec;
    rec.Attach(table);
    table.AddFrame(Frame(0x200, true, false)); // key 0x801
    table.AddFrame(Frame(0x300, true, false)); // key 0xC01, appended
    table.AddFrame(Frame(0x100, true, false)); // key 0x401, inserted before both
    table.AddFrame(Frame(0x300, true, false)); // existing, now at 2
    EXPECT_EQ(rec.Events,
              (std::vector<std::string>{"row 2049 @0 new", "row 3073 @1 new", "row 1025 @0 new", "row 3073 @2"}));
    int32_t index = 99;
    EXPECT_EQ(table.Find(0x801, index), table.Item(1));
    EXPECT_EQ(index, 1);
    EXPECT_EQ(table.Find(0x802, index), nullptr);
    EXPECT_EQ(index, 2);
    EXPECT_EQ(table.Find(0xFFFFFFFF, index), nullptr);
    EXPECT_EQ(index, -1);
    EXPECT_EQ(table.Item(-1), nullptr);
    EXPECT_EQ(table.Item(table.Count()), nullptr);
}

TEST(ReceiveTable, RowCountsLengthDataAndPeriod)
{
    TTarvenixTable table;
    TCanFrame f = Frame(0x12, true, false, 1000, 12);
    table.AddFrame(f);
    TTarvenixTableItem* row = table.Item(0);
    ASSERT_NE(row, nullptr);
    EXPECT_EQ(row->Count, 1);
    EXPECT_EQ(row->Period, 0);
    EXPECT_EQ(row->Length, 8); // clamped
    EXPECT_EQ(row->DataByte(7), f.Data[7]);
    EXPECT_EQ(row->DataByte(8), 0xFF);
    EXPECT_EQ(row->DataByte(-1), 0xFF);

    std::vector<int32_t> periods;
    for (uint32_t t : {1100u, 1300u, 1300u}) {
        table.AddFrame(Frame(0x12, true, false, t, 2));
        periods.push_back(row->Period);
    }
    EXPECT_EQ(periods, (std::vector<int32_t>{100, 113, 99}));
    EXPECT_EQ(row->Count, 4);
    EXPECT_EQ(row->Length, 2);
    EXPECT_EQ(row->DataByte(0), 0x14);      // from the latest frame
    EXPECT_EQ(row->DataByte(5), f.Data[5]); // past Length: left from the first frame
}

TEST(ReceiveTable, PeriodAcrossTickWrapAndBackwardsTime)
{
    TTarvenixTable table;
    table.AddFrame(Frame(1, true, false, 0xFFFFFFF0u));
    table.AddFrame(Frame(1, true, false, 16));
    EXPECT_EQ(table.Item(0)->Period, 32);

    table.AddFrame(Frame(2, true, false, 5000));
    table.AddFrame(Frame(2, true, false, 4999)); // 1 ms backwards: 2^32-1, negative, so 0
    EXPECT_EQ(table.Item(1)->Period, 0);

    // A large interval in the average stays non-negative.
    table.AddFrame(Frame(3, true, false, 0));
    table.AddFrame(Frame(3, true, false, 0x7FFFFFF0u));
    table.AddFrame(Frame(3, true, false, 0xFFFFFFE0u));
    EXPECT_GE(table.Item(2)->Period, 0);
}

TEST(ReceiveTable, RequestsRunRebuildFirstThenClear)
{
    TTarvenixTable table;
    Recorder rec;
    rec.Attach(table);
    table.AddFrame(Frame(7, true, false));
    table.RequestClear();
    table.RequestRebuild();
    EXPECT_EQ(table.Count(), 1); // requests alone change nothing
    table.ProcessRequests();
    EXPECT_EQ(table.Count(), 0);
    EXPECT_FALSE(table.IsClearRequested());
    EXPECT_FALSE(table.IsRebuildRequested());
    table.ProcessRequests(); // nothing pending
    table.Clear();           // an empty table still notifies
    EXPECT_EQ(rec.Events, (std::vector<std::string>{"row 29 @0 new", "rebuild", "cleared", "cleared"}));
}

TEST(ReceiveTable, DetachedHooksAreNotCalled)
{
    TTarvenixTable table;
    Recorder rec;
    rec.Attach(table);
    table.SetOnRowChanged(nullptr);
    table.SetOnCleared(nullptr);
    table.SetOnRebuild(nullptr);
    table.AddFrame(Frame(7, true, false));
    table.Rebuild();
    table.Clear();
    EXPECT_TRUE(rec.Events.empty());
}

// Every notification, and every Find, names the row's true position while new
// identifiers are inserted in scattered order between updates of known ones,
// also after a clear. The positions are checked against a plain sorted list.
TEST(ReceiveTable, PositionsStayTrueWhileRowsAreInsertedAnywhere)
{
    TTarvenixTable table;
    std::vector<uint32_t> sorted; // the keys seen, in order
    int checked = 0;
    table.SetOnRowChanged([&](const TTarvenixTableItem& row, int32_t index, bool isNew) {
        const auto at = std::lower_bound(sorted.begin(), sorted.end(), row.Key);
        ASSERT_TRUE(at != sorted.end() && *at == row.Key);
        EXPECT_EQ(index, at - sorted.begin()) << "key " << row.Key << (isNew ? " new" : "");
        EXPECT_EQ(table.Item(index), &row);
        ++checked;
    });
    std::mt19937 random(7);
    for (int round = 0; round < 2; ++round) {
        for (int i = 0; i < 3000; ++i) {
            // Mostly new identifiers at random places; now and then a burst of known ones.
            const bool known = !sorted.empty() && random() % 3 == 0;
            const uint32_t id = known ? sorted[random() % sorted.size()] >> 2 : random() % 0x800;
            const TCanFrame frame = Frame(id, true, false, static_cast<uint32_t>(i));
            const uint32_t key = TTarvenixTableItem::MakeKey(frame.Id, frame.Request, frame.Standard);
            const auto at = std::lower_bound(sorted.begin(), sorted.end(), key);
            if (at == sorted.end() || *at != key)
                sorted.insert(at, key);
            table.AddFrame(frame);
        }
        ASSERT_EQ(table.Count(), static_cast<int32_t>(sorted.size()));
        for (size_t i = 0; i < sorted.size(); i += 97) {
            int32_t index = -2;
            EXPECT_EQ(table.Find(sorted[i], index), table.Item(static_cast<int32_t>(i)));
            EXPECT_EQ(index, static_cast<int32_t>(i));
        }
        table.Clear();
        sorted.clear();
    }
    EXPECT_EQ(checked, 6000);
}
