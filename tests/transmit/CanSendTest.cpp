#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "platform/Tick.h"
#include "transmit/CanSend.h"

namespace {

// An item whose every loadable field holds a value no record below produces,
// so a test sees which fields LoadFromString wrote.
TCanSendItem Scribbled()
{
    TCanSendItem item;
    item.Caption = "old";
    item.SendType = cstOnRequest;
    item.Period = 77;
    item.Active = true;
    item.Frame.Id = 0x555;
    item.Frame.Request = true;
    item.Frame.Length = 5;
    for (uint8_t& b : item.Frame.Data)
        b = 0xEE;
    return item;
}

} // namespace

TEST(TransmitItem, TypeNamesAndPeriod)
{
    TCanSendItem item;
    const std::vector<std::pair<int32_t, std::string>> names = {
        {0, "Single"}, {1, "Periodic"}, {2, "OnRequest"}, {3, "Unknown"}, {-1, "Unknown"}};
    for (const auto& [code, name] : names) {
        item.SendType = code;
        EXPECT_EQ(item.GetTypeName(), name) << code;
    }

    item.SetPeriod(0);
    EXPECT_EQ(item.Period, 1);
    item.SetPeriod(-5);
    EXPECT_EQ(item.Period, 1);
    item.SetPeriod(250);
    EXPECT_EQ(item.Period, 250);
}

TEST(TransmitItem, SendingAndCounting)
{
    TCanSendItem item;
    item.Tag = 0x00020005;
    std::vector<std::string> events;
    item.OnCountChanged = [&](int32_t count, uint32_t tag) {
        events.push_back("count " + std::to_string(count) + " tag " + std::to_string(tag));
    };

    // Without a send handler nothing happens.
    item.Send();
    EXPECT_EQ(item.Count, 0);
    EXPECT_EQ(item.LastSendTime, 0u);
    EXPECT_TRUE(events.empty());

    item.Count = 4;
    item.OnSend = [&](const TCanFrame& frame) {
        // The item's own frame, handed over before the count is raised.
        EXPECT_EQ(&frame, &item.Frame);
        events.push_back("send " + std::to_string(item.Count));
        return true;
    };
    const uint32_t before = tcm::TickCount();
    item.Send();
    const uint32_t after = tcm::TickCount();
    EXPECT_EQ(item.Count, 5);
    EXPECT_LE(item.LastSendTime - before, after - before);

    item.ResetCount();
    item.ResetCount(); // already 0: still tells
    EXPECT_EQ(events,
              (std::vector<std::string>{"send 4", "count 5 tag 131077", "count 0 tag 131077", "count 0 tag 131077"}));

    item.Count = INT32_MAX;
    item.IncCount();
    EXPECT_EQ(item.Count, INT32_MIN);
}

TEST(TransmitItem, ExampleRecordsRoundTrip)
{
    TCanSendItem periodic;
    periodic.SendType = cstPeriodic;
    periodic.Active = true;
    periodic.Period = 100;
    periodic.Frame.Id = 0x123;
    periodic.Frame.Length = 2;
    periodic.Frame.Data[0] = 0x01;
    periodic.Frame.Data[1] = 0x02;
    periodic.Caption = "Test";
    EXPECT_EQ(periodic.SaveToString(), "1;64;1;123;0;2;0102;Test;");

    TCanSendItem single;
    single.Frame.Id = 0x7FF;
    EXPECT_EQ(single.SaveToString(), "0;0;0;7FF;0;0;;;");

    // Reading a line and writing it again gives the same line, and the data
    // bytes beyond Length are cleared.
    TCanSendItem read = Scribbled();
    ASSERT_TRUE(read.LoadFromString("1;64;1;123;0;2;0102;Test;"));
    EXPECT_EQ(read.SaveToString(), "1;64;1;123;0;2;0102;Test;");
    const uint8_t data[8] = {1, 2, 0, 0, 0, 0, 0, 0};
    EXPECT_EQ(std::memcmp(read.Frame.Data, data, 8), 0);

    read = Scribbled();
    ASSERT_TRUE(read.LoadFromString("0;0;0;7FF;0;0;;;"));
    EXPECT_EQ(read.SaveToString(), "0;0;0;7FF;0;0;;;");
}

TEST(TransmitItem, RecordWritesUpperCaseAndFullWidthValues)
{
    TCanSendItem item;
    item.SendType = cstOnRequest;
    item.Period = 1000;
    item.Frame.Id = 0x1ABCDEF0;
    item.Frame.Request = true;
    item.Frame.Length = 8;
    const uint8_t data[8] = {0x00, 0x0F, 0xA0, 0xFF, 0x10, 0x09, 0xBC, 0xDE};
    std::memcpy(item.Frame.Data, data, 8);
    EXPECT_EQ(item.SaveToString(), "2;3E8;0;1ABCDEF0;1;8;000FA0FF1009BCDE;;");

    // Bytes beyond Length are kept but not written.
    item.Frame.Length = 1;
    EXPECT_EQ(item.SaveToString(), "2;3E8;0;1ABCDEF0;1;1;00;;");
}

TEST(TransmitItem, RejectedRecords)
{
    const char* rejected[] = {
        "3;0;0;7FF;0;0;;;",         // unknown type
        "-1;0;0;7FF;0;0;;;",        // signs are malformed
        ";0;0;7FF;0;0;;;",          // empty type
        "1x;0;0;7FF;0;0;;;",        // malformed type
        "100000000;0;0;7FF;0;0;;;", // does not fit in 32 bits
        "FFFFFFFF;0;0;7FF;0;0;;;",  // reads as -1
        "1;80000000;1;7FF;0;0;;;",  // negative period
        "1;;1;7FF;0;0;;;",          // empty period
        "0;0;0;;0;0;;;",            // empty identifier
        "0;0;0;80000000;0;0;;;",    // identifier with the top bit set
        "0;0;0; 7FF;0;0;;;",        // blanks are malformed
        "0;0;0;0x7FF;0;0;;;",       // so is a prefix
        "0;0;0;7FF;0;9;;;",         // length above 8
        "0;0;0;7FF;0;;;;",          // empty length
        "0;0;0;7FF;0",              // text ends before the length
        "",
    };
    for (const char* text : rejected) {
        TCanSendItem item;
        EXPECT_FALSE(item.LoadFromString(text)) << text;
    }

    // Fields read before the rejection keep their new values.
    TCanSendItem item = Scribbled();
    EXPECT_FALSE(item.LoadFromString("1;C8;0;100;0;9;01;x;"));
    EXPECT_EQ(item.SendType, cstPeriodic);
    EXPECT_EQ(item.Period, 200);
    EXPECT_FALSE(item.Active);
    EXPECT_EQ(item.Frame.Id, 0x100u);
    EXPECT_EQ(item.Caption, "old");
}

TEST(TransmitItem, NumericFieldReading)
{
    TCanSendItem item = Scribbled();
    ASSERT_TRUE(item.LoadFromString("00000001;3e8;1;7fffffff;0;0008;aabbccddeeff0011;x;"));
    EXPECT_EQ(item.SendType, cstPeriodic);
    EXPECT_EQ(item.Period, 1000);
    EXPECT_EQ(item.Frame.Id, 0x7FFFFFFFu);
    EXPECT_EQ(item.Frame.Length, 8);
    EXPECT_EQ(item.SaveToString(), "1;3E8;1;7FFFFFFF;0;8;AABBCCDDEEFF0011;x;");

    // Leading zeros beyond eight digits are fine while the value fits.
    ASSERT_TRUE(item.LoadFromString("0000000002;0;0;0;0;0;;;"));
    EXPECT_EQ(item.SendType, cstOnRequest);
    EXPECT_EQ(item.Frame.Id, 0u);

    // A period of 0 is taken as it is.
    ASSERT_TRUE(item.LoadFromString("1;0;1;1;0;0;;;"));
    EXPECT_EQ(item.Period, 0);
}

TEST(TransmitItem, FlagFieldsNeverReject)
{
    const std::vector<std::pair<std::string, bool>> flags = {{"1", true},  {"01", true}, {"0", false}, {"2", false},
                                                             {"x", false}, {"", false},  {"-1", false}};
    for (const auto& [text, expected] : flags) {
        TCanSendItem item = Scribbled();
        ASSERT_TRUE(item.LoadFromString("1;1;" + text + ";1;" + text + ";0;;;")) << text;
        EXPECT_EQ(item.Active, expected) << text;
        EXPECT_EQ(item.Frame.Request, expected) << text;
    }
}

TEST(TransmitItem, DataFieldReading)
{
    TCanSendItem item = Scribbled();
    // Shorter than the length: the missing bytes become 0.
    ASSERT_TRUE(item.LoadFromString("0;0;0;1;0;4;0102;;"));
    const uint8_t shortData[8] = {1, 2, 0, 0, 0, 0, 0, 0};
    EXPECT_EQ(std::memcmp(item.Frame.Data, shortData, 8), 0);

    // Longer than the length: up to eight bytes are stored, beyond Length too.
    item = Scribbled();
    ASSERT_TRUE(item.LoadFromString("0;0;0;1;0;2;0102030405060708090A;;"));
    const uint8_t longData[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    EXPECT_EQ(std::memcmp(item.Frame.Data, longData, 8), 0);
    EXPECT_EQ(item.SaveToString(), "0;0;0;1;0;2;0102;;");

    // A pair that is not hexadecimal gives 0; a lone last character is ignored.
    item = Scribbled();
    ASSERT_TRUE(item.LoadFromString("0;0;0;1;0;4;0GzZ7f3;;"));
    const uint8_t oddData[8] = {0, 0, 0x7F, 0, 0, 0, 0, 0};
    EXPECT_EQ(std::memcmp(item.Frame.Data, oddData, 8), 0);
}

TEST(TransmitItem, CaptionReading)
{
    // Seven fields and no caption.
    TCanSendItem item = Scribbled();
    ASSERT_TRUE(item.LoadFromString("0;0;0;7FF;0;0;;"));
    EXPECT_EQ(item.Caption, "");
    // No closing ';' after the caption.
    ASSERT_TRUE(item.LoadFromString("0;0;0;7FF;0;0;;Test"));
    EXPECT_EQ(item.Caption, "Test");
    // Eight-bit text is kept as it is.
    ASSERT_TRUE(item.LoadFromString("0;0;0;7FF;0;0;;Motor \xB0"
                                    "C ;"));
    EXPECT_EQ(item.Caption, "Motor \xB0"
                            "C ");

    // A caption with ';' is written unchanged and cut at its first ';' when read.
    item.Caption = "left;right";
    const std::string line = item.SaveToString();
    EXPECT_EQ(line, "0;0;0;7FF;0;0;;left;right;");
    TCanSendItem back;
    ASSERT_TRUE(back.LoadFromString(line));
    EXPECT_EQ(back.Caption, "left");
}

TEST(TransmitItem, LoadingLeavesModeCounterAndHandlersAlone)
{
    TCanSendItem item;
    item.Frame.Standard = true;
    item.Count = 12;
    item.LastSendTime = 3456;
    item.Tag = 0x10002;
    int sent = 0;
    item.OnSend = [&](const TCanFrame&) {
        ++sent;
        return true;
    };
    item.OnCountChanged = [](int32_t, uint32_t) {};

    ASSERT_TRUE(item.LoadFromString("1;64;1;123;0;2;0102;Test;"));
    EXPECT_TRUE(item.Frame.Standard);
    EXPECT_EQ(item.Count, 12);
    EXPECT_EQ(item.LastSendTime, 3456u);
    EXPECT_EQ(item.Tag, 0x10002u);
    ASSERT_TRUE(item.OnSend);
    EXPECT_TRUE(item.OnCountChanged);
    item.Send();
    EXPECT_EQ(sent, 1);
}
