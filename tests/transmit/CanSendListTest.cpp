#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

#include "platform/ProgramDir.h"
#include "support/TempDir.h"
#include "transmit/CanSendList.h"

namespace {

std::unique_ptr<TCanSendItem> MakeItem(int32_t type, uint32_t id, bool active = true, int32_t period = 0)
{
    auto item = std::make_unique<TCanSendItem>();
    item->SendType = type;
    item->Frame.Id = id;
    item->Active = active;
    item->Period = period;
    return item;
}

std::vector<uint32_t> Ids(const TCanSendList& list)
{
    std::vector<uint32_t> ids;
    for (int32_t i = 0; i < list.Count(); ++i)
        ids.push_back(list.GetItem(i)->Frame.Id);
    return ids;
}

// Every list of these tests keeps its file in a fresh folder.
class TransmitList : public ::testing::Test {
protected:
    void SetUp() override { tcm::SetProgramDirOverride(Dir.Path()); }
    void TearDown() override { tcm::SetProgramDirOverride(""); }

    TempDir Dir;
};

} // namespace

TEST_F(TransmitList, PositionsAndMoves)
{
    TCanSendList list;
    EXPECT_EQ(list.Count(), 0);
    EXPECT_EQ(list.GetItem(0), nullptr);
    EXPECT_FALSE(list.MoveUp(0));
    EXPECT_FALSE(list.MoveDown(0));

    for (uint32_t id = 1; id <= 3; ++id)
        list.Add(MakeItem(cstSingle, id));
    list.Add(nullptr);
    EXPECT_EQ(list.Count(), 3);
    EXPECT_EQ(list.GetItem(-1), nullptr);
    EXPECT_EQ(list.GetItem(3), nullptr);
    EXPECT_EQ(Ids(list), (std::vector<uint32_t>{1, 2, 3}));

    EXPECT_FALSE(list.MoveUp(0));
    EXPECT_FALSE(list.MoveDown(2));
    EXPECT_FALSE(list.MoveUp(3));
    EXPECT_FALSE(list.MoveDown(-1));
    EXPECT_EQ(Ids(list), (std::vector<uint32_t>{1, 2, 3}));

    EXPECT_TRUE(list.MoveDown(0));
    EXPECT_EQ(Ids(list), (std::vector<uint32_t>{2, 1, 3}));
    EXPECT_TRUE(list.MoveUp(2));
    EXPECT_EQ(Ids(list), (std::vector<uint32_t>{2, 3, 1}));
}

TEST_F(TransmitList, DeleteDestroysTheItem)
{
    TCanSendList list;
    auto token = std::make_shared<int>(0);
    auto item = MakeItem(cstSingle, 7);
    item->OnCountChanged = [token](int32_t, uint32_t) {};
    list.Add(item.release());
    list.Add(MakeItem(cstSingle, 8));
    EXPECT_EQ(token.use_count(), 2);

    list.Delete(5); // out of range: nothing happens
    list.Delete(-1);
    EXPECT_EQ(list.Count(), 2);

    list.Delete(0);
    EXPECT_EQ(token.use_count(), 1);
    EXPECT_EQ(Ids(list), (std::vector<uint32_t>{8}));
}

TEST_F(TransmitList, SendHandlerReachesEveryItem)
{
    TCanSendList list;
    std::vector<uint32_t> first;
    std::vector<uint32_t> second;
    list.Add(MakeItem(cstSingle, 1));
    list.GetItem(0)->Send(); // no handler yet
    EXPECT_EQ(list.GetItem(0)->Count, 0);

    list.SetOnSend([&](const TCanFrame& f) {
        first.push_back(f.Id);
        return true;
    });
    list.Add(MakeItem(cstSingle, 2));
    list.GetItem(0)->Send();
    list.GetItem(1)->Send();
    EXPECT_EQ(first, (std::vector<uint32_t>{1, 2}));

    // A new handler replaces the old one on every item, and Add overrides the
    // handler an item came with.
    list.SetOnSend([&](const TCanFrame& f) {
        second.push_back(f.Id);
        return true;
    });
    auto item = MakeItem(cstSingle, 3);
    item->OnSend = [&](const TCanFrame&) {
        ADD_FAILURE() << "own handler kept";
        return true;
    };
    list.Add(std::move(item));
    for (int32_t i = 0; i < list.Count(); ++i)
        list.GetItem(i)->Send();
    EXPECT_EQ(first.size(), 2u);
    EXPECT_EQ(second, (std::vector<uint32_t>{1, 2, 3}));
}

TEST_F(TransmitList, ResetCountersAndStandard)
{
    TCanSendList list;
    std::vector<uint32_t> told;
    for (uint32_t i = 0; i < 3; ++i) {
        auto item = MakeItem(cstSingle, i);
        item->Count = static_cast<int32_t>(i) * 10;
        item->Tag = i;
        item->OnCountChanged = [&](int32_t count, uint32_t tag) {
            EXPECT_EQ(count, 0);
            told.push_back(tag);
        };
        list.Add(std::move(item));
    }
    list.ResetCounters();
    EXPECT_EQ(told, (std::vector<uint32_t>{0, 1, 2}));
    for (int32_t i = 0; i < list.Count(); ++i)
        EXPECT_EQ(list.GetItem(i)->Count, 0);

    EXPECT_FALSE(list.Standard);
    list.SetStandard(true);
    EXPECT_TRUE(list.Standard);
    for (int32_t i = 0; i < list.Count(); ++i)
        EXPECT_TRUE(list.GetItem(i)->Frame.Standard);
    list.SetStandard(false);
    for (int32_t i = 0; i < list.Count(); ++i)
        EXPECT_FALSE(list.GetItem(i)->Frame.Standard);
}

TEST_F(TransmitList, PeriodicScanSendsOnlyDueActivePeriodicItems)
{
    TCanSendList list;
    std::vector<uint32_t> sent;
    list.SetOnSend([&](const TCanFrame& f) {
        sent.push_back(f.Id);
        return true;
    });
    list.Add(MakeItem(cstSingle, 0x10, true, 1));
    list.Add(MakeItem(cstOnRequest, 0x20, true, 1));
    list.Add(MakeItem(cstPeriodic, 0x30, false, 1)); // inactive
    list.Add(MakeItem(cstPeriodic, 0x40, true, 100));
    list.Add(MakeItem(cstPeriodic, 0x50, true, 100));
    list.Add(MakeItem(cstPeriodic, 0x60, true, 0)); // due on every call
    for (int32_t i = 0; i < list.Count(); ++i)
        list.GetItem(i)->LastSendTime = 1000;

    // Exactly Period after the last send is due; one millisecond short is not.
    list.GetItem(3)->LastSendTime = 5000 - 100;
    list.GetItem(4)->LastSendTime = 5000 - 99;
    list.SendPeriodic(5000);
    EXPECT_EQ(sent, (std::vector<uint32_t>{0x40, 0x60}));
    EXPECT_EQ(list.GetItem(3)->Count, 1);
    EXPECT_EQ(list.GetItem(4)->Count, 0);
    EXPECT_EQ(list.GetItem(0)->Count, 0);
    EXPECT_EQ(list.GetItem(1)->Count, 0);
    EXPECT_EQ(list.GetItem(2)->Count, 0);

    // A period of 0 is due even when no time has passed.
    sent.clear();
    list.GetItem(5)->LastSendTime = 7000;
    list.GetItem(3)->LastSendTime = 7000;
    list.GetItem(4)->LastSendTime = 7000;
    list.SendPeriodic(7000);
    EXPECT_EQ(sent, (std::vector<uint32_t>{0x60}));
}

TEST_F(TransmitList, PeriodicScanAcrossTickWrapAround)
{
    TCanSendList list;
    std::vector<uint32_t> sent;
    list.SetOnSend([&](const TCanFrame& f) {
        sent.push_back(f.Id);
        return true;
    });
    list.Add(MakeItem(cstPeriodic, 1, true, 146));
    list.Add(MakeItem(cstPeriodic, 2, true, 147));
    list.Add(MakeItem(cstPeriodic, 3, true, 100));    // never sent: due at once
    list.GetItem(0)->LastSendTime = 0xFFFFFFFFu - 95; // 96 ms before the wrap
    list.GetItem(1)->LastSendTime = 0xFFFFFFFFu - 95;
    list.SendPeriodic(50); // 146 ms later
    EXPECT_EQ(sent, (std::vector<uint32_t>{1}));

    // Not yet up for Period milliseconds: a never-sent item waits.
    sent.clear();
    list.GetItem(0)->LastSendTime = 0;
    list.GetItem(1)->LastSendTime = 0;
    list.GetItem(2)->LastSendTime = 0;
    list.SendPeriodic(99);
    EXPECT_TRUE(sent.empty());
    list.SendPeriodic(100);
    EXPECT_EQ(sent, (std::vector<uint32_t>{3}));

    // The sender sleeps until the next active Periodic item is due, across the wrap too.
    int changes = 0;
    list.SetOnChanged([&] { ++changes; });
    list.GetItem(2)->LastSendTime = 90;   // 100 ms period: due at 190
    EXPECT_EQ(list.MsUntilDue(100), 46u); // item 1: 146 after tick 0
    list.GetItem(1)->LastSendTime = 0xFFFFFFFFu - 9;
    EXPECT_EQ(list.MsUntilDue(100), 37u); // item 2: 147 after 10 ms before the wrap
    EXPECT_EQ(list.MsUntilDue(500), 0u);  // overdue
    list.Add(MakeItem(cstSingle, 4));
    EXPECT_EQ(changes, 1);
    TCanSendList idle;
    idle.Add(MakeItem(cstPeriodic, 5, false, 10));
    idle.Add(MakeItem(cstOnRequest, 6, true, 10));
    EXPECT_EQ(idle.MsUntilDue(0), TCanSendList::kNothingDue);
}

TEST_F(TransmitList, OnRequestScanAnswersWithEveryActiveOnRequestItem)
{
    TCanSendList list;
    std::vector<uint32_t> sent;
    list.SetOnSend([&](const TCanFrame& f) {
        sent.push_back(f.Id);
        return true;
    });
    list.Add(MakeItem(cstOnRequest, 0xA));
    list.Add(MakeItem(cstPeriodic, 0xB, true, 0));
    list.Add(MakeItem(cstOnRequest, 0xC, false));
    list.Add(MakeItem(cstSingle, 0xD));
    list.Add(MakeItem(cstOnRequest, 0xE));

    list.SendOnRequest();
    list.SendOnRequest();
    EXPECT_EQ(sent, (std::vector<uint32_t>{0xA, 0xE, 0xA, 0xE}));
    EXPECT_EQ(list.GetItem(0)->Count, 2);
    EXPECT_EQ(list.GetItem(4)->Count, 2);
    EXPECT_EQ(list.GetItem(1)->Count, 0);
    EXPECT_EQ(list.GetItem(2)->Count, 0);
}

TEST_F(TransmitList, FileName)
{
    TCanSendList list;
    list.NameSuffix = "seed";
    EXPECT_EQ(list.GetFileName(), Dir.Path() + "trans_list_seed.dat");
    list.SetFileName(Dir.File("elsewhere.dat"));
    EXPECT_EQ(list.GetFileName(), Dir.File("elsewhere.dat"));
    list.SetFileName("");
    EXPECT_EQ(list.GetFileName(), Dir.Path() + "trans_list_seed.dat");
}

TEST_F(TransmitList, SaveWritesRecordsWithCrLf)
{
    const std::string path = Dir.File("trans_list_seed.dat");
    ASSERT_TRUE(WriteWholeFile(path, "stale content\r\n"));
    {
        TCanSendList list;
        list.NameSuffix = "seed";
        list.SaveToFile();
        EXPECT_EQ(std::filesystem::file_size(path), 0u); // an empty list, an empty file

        auto item = MakeItem(cstPeriodic, 0x123, true, 100);
        item->Frame.Length = 2;
        item->Frame.Data[0] = 1;
        item->Frame.Data[1] = 2;
        item->Caption = "Test";
        list.Add(std::move(item));
        list.Add(MakeItem(cstSingle, 0x7FF, false));
        list.SaveToFile();
        EXPECT_EQ(ReadWholeFile(path), "1;64;1;123;0;2;0102;Test;\r\n0;0;0;7FF;0;0;;;\r\n");

        list.Delete(0);
    }
    // The destructor saves what is in memory.
    EXPECT_EQ(ReadWholeFile(path), "0;0;0;7FF;0;0;;;\r\n");
    // No temporary file is left beside it.
    size_t files = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(Dir.Path()))
        ++files;
    EXPECT_EQ(files, 1u);
}

TEST_F(TransmitList, LoadSkipsRejectedAndEmptyLinesAndAppends)
{
    const std::string path = Dir.File("trans_list_seed.dat");
    ASSERT_TRUE(WriteWholeFile(path, "1;64;1;123;0;2;0102;Test;\r\n"
                                     "3;0;0;7FF;0;0;;bad type;\r\n"
                                     "\r\n"
                                     "\n"
                                     "0;0;0;7FF;0;0;;lf only;\n"
                                     "2;0;1;55;0;1;AA;no line end;"));
    TCanSendList list;
    list.NameSuffix = "seed";
    std::vector<uint32_t> sent;
    list.SetOnSend([&](const TCanFrame& f) {
        sent.push_back(f.Id);
        return true;
    });
    list.LoadFromFile();
    ASSERT_EQ(Ids(list), (std::vector<uint32_t>{0x123, 0x7FF, 0x55}));
    EXPECT_EQ(list.GetItem(0)->Caption, "Test");
    EXPECT_EQ(list.GetItem(1)->Caption, "lf only");
    EXPECT_EQ(list.GetItem(2)->Caption, "no line end");
    EXPECT_FALSE(list.GetItem(0)->Frame.Standard);

    // Loaded items got the list's handler.
    list.SendOnRequest();
    EXPECT_EQ(sent, (std::vector<uint32_t>{0x55}));

    list.LoadFromFile();
    EXPECT_EQ(Ids(list), (std::vector<uint32_t>{0x123, 0x7FF, 0x55, 0x123, 0x7FF, 0x55}));
    list.SetStandard(true);
    for (int32_t i = 0; i < list.Count(); ++i)
        EXPECT_TRUE(list.GetItem(i)->Frame.Standard);

    // Saving writes back what was accepted, with CR LF throughout.
    list.SaveToFile();
    const std::string once = "1;64;1;123;0;2;0102;Test;\r\n0;0;0;7FF;0;0;;lf only;\r\n2;0;1;55;0;1;AA;no line end;\r\n";
    EXPECT_EQ(ReadWholeFile(path), once + once);
}

TEST_F(TransmitList, MissingFileAndNoFileAtAll)
{
    TCanSendList list;
    list.NameSuffix = "none";
    list.Add(MakeItem(cstSingle, 1));
    EXPECT_NO_THROW(list.LoadFromFile());
    EXPECT_EQ(list.Count(), 1);

    // A list that is not persistent neither reads nor writes.
    const std::string path = Dir.File("trans_list_kept.dat");
    ASSERT_TRUE(WriteWholeFile(path, "0;0;0;1;0;0;;;\r\n"));
    {
        TCanSendList transient;
        transient.NameSuffix = "kept";
        transient.SetPersistent(false);
        transient.LoadFromFile();
        EXPECT_EQ(transient.Count(), 0);
        transient.Add(MakeItem(cstSingle, 2));
        transient.SaveToFile();
        // A file named by the caller is still read.
        transient.LoadFromFileName(path);
        EXPECT_EQ(Ids(transient), (std::vector<uint32_t>{2, 1}));
    }
    EXPECT_EQ(ReadWholeFile(path), "0;0;0;1;0;0;;;\r\n");

    // A file named by the caller must exist.
    try {
        list.LoadFromFileName(Dir.File("absent.dat"));
        ADD_FAILURE() << "no error for a missing file";
    } catch (const std::system_error& e) {
        EXPECT_EQ(e.code().value(), ENOENT);
        EXPECT_NE(std::string(e.what()).find("absent.dat"), std::string::npos);
    }
}

TEST_F(TransmitList, InputOutputErrorsNameTheFile)
{
    // A folder where the file should be cannot be read.
    const std::string folder = Dir.File("trans_list_dir.dat");
    std::filesystem::create_directory(folder);
    TCanSendList list;
    list.NameSuffix = "dir";
    try {
        list.LoadFromFile();
        ADD_FAILURE() << "no error for an unreadable file";
    } catch (const std::system_error& e) {
        EXPECT_EQ(e.code().value(), EISDIR);
        EXPECT_NE(std::string(e.what()).find(folder), std::string::npos) << e.what();
    }
    EXPECT_EQ(list.Count(), 0);

    // A file in a folder that does not exist cannot be written.
    const std::string unwritable = Dir.File("no-such-folder/list.dat");
    list.SetFileName(unwritable);
    list.Add(MakeItem(cstSingle, 1));
    try {
        list.SaveToFile();
        ADD_FAILURE() << "no error for an unwritable file";
    } catch (const std::system_error& e) {
        EXPECT_EQ(e.code().value(), ENOENT);
        EXPECT_NE(std::string(e.what()).find(unwritable), std::string::npos) << e.what();
    }
    list.SetFileName("");
    list.SetPersistent(false);
}

TEST_F(TransmitList, FailedSaveDuringDestructionGoesToTheOwner)
{
    const std::string unwritable = Dir.File("no-such-folder/list.dat");
    std::vector<std::string> texts;
    {
        TCanSendList list;
        list.SetFileName(unwritable);
        list.Add(MakeItem(cstSingle, 1));
        list.SetOnSaveError([&](const std::string& text) { texts.push_back(text); });
    } // must not throw
    ASSERT_EQ(texts.size(), 1u);
    EXPECT_NE(texts[0].find(unwritable), std::string::npos) << texts[0];

    // A handler that throws itself does not escape the destructor either.
    EXPECT_NO_FATAL_FAILURE({
        TCanSendList list;
        list.SetFileName(unwritable);
        list.SetOnSaveError([](const std::string& text) { throw std::runtime_error(text); });
    });
}
