#include <gtest/gtest.h>

#include <unistd.h>

#include <cstring>
#include <sstream>

#include "core/CanText.h"
#include "support/ChildProcess.h"
#include "support/TempDir.h"

namespace {

TCanFrame Frame(uint32_t id, bool standard, std::vector<uint8_t> data, bool request = false, int32_t length = -1)
{
    TCanFrame f;
    f.Id = id;
    f.Standard = standard;
    f.Request = request;
    f.Length = length >= 0 ? length : static_cast<int32_t>(data.size());
    std::memcpy(f.Data, data.data(), data.size());
    return f;
}

std::string Describe(const TCanFrame& f)
{
    return FormatCompactFrame(f) + (f.Standard ? " std" : " ext") + " len " + std::to_string(f.Length);
}

} // namespace

// Frames written in the compact form go through can-utils (log2asc, then
// asc2log) and come back equal through our parser.
TEST(CanText, CompactFormRoundTripsThroughCanUtils)
{
    for (const char* tool : {"/usr/bin/log2asc", "/usr/bin/asc2log"})
        ASSERT_EQ(::access(tool, X_OK), 0) << tool << " is missing: install can-utils (scripts/setup.sh)";
    const std::vector<TCanFrame> frames = {
        Frame(0x123, true, {0xDE, 0xAD, 0xBE, 0xEF}),
        Frame(0x000, true, {}),
        Frame(0x7FF, true, {}, true, 4),
        Frame(0x1F334455, false, {}, true),
        Frame(0x1, false, {0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88}),
        Frame(0xABC, false, {0x0A}),
    };
    TempDir dir;
    std::string log;
    for (size_t i = 0; i < frames.size(); ++i) {
        log += "(1700000000." + std::to_string(100000 + i) + ") can0 ";
        AppendCompactFrame(log, frames[i]);
        log += '\n';
    }
    ASSERT_TRUE(WriteWholeFile(dir.File("in.log"), log));
    TChild toAsc({"/usr/bin/log2asc", "-I", dir.File("in.log"), "-O", dir.File("x.asc"), "can0"});
    ASSERT_EQ(toAsc.WaitExit(10000), 0) << toAsc.ErrText;
    TChild toLog({"/usr/bin/asc2log", "-I", dir.File("x.asc"), "-O", dir.File("out.log")});
    ASSERT_EQ(toLog.WaitExit(10000), 0) << toLog.ErrText;

    const auto lines = Lines(ReadWholeFile(dir.File("out.log")));
    ASSERT_EQ(lines.size(), frames.size()) << ReadWholeFile(dir.File("x.asc"));
    for (size_t i = 0; i < frames.size(); ++i) {
        std::istringstream fields(lines[i]);
        std::string time, interface, compact;
        fields >> time >> interface >> compact;
        const auto back = ParseCompactFrame(compact);
        ASSERT_TRUE(back) << lines[i];
        EXPECT_EQ(Describe(*back), Describe(frames[i])) << lines[i];
        EXPECT_EQ(0, std::memcmp(back->Data, frames[i].Data, 8)) << lines[i];
    }
}

// The identifier and data forms are checked through the views' own tests.
TEST(CanText, ParsingRules)
{
    // The compact form cuts what cannot be read back.
    EXPECT_EQ(FormatCompactFrame(Frame(0xFFFF, true, {1, 2}, false, 200)), "7FF#0102000000000000");

    // The candump rule: the identifier's width decides its kind.
    const auto dotted = ParseCompactFrame("1fffffff#de.ad.BE.ef");
    ASSERT_TRUE(dotted);
    EXPECT_EQ(Describe(*dotted), "1FFFFFFF#DEADBEEF ext len 4");
    for (const char* bad : {"12#00", "0123#00", "800#00", "20000000#00", "123#0", "123#.00", "123#00.", "123#00..11",
                            "123#R9", "123#R44", "123#001122334455667788", "123#00 R", " 123#00", "123"})
        EXPECT_FALSE(ParseCompactFrame(bad)) << bad;

    uint32_t value = 0;
    EXPECT_TRUE(ParseHexField("fFfFfFfF", 8, value));
    EXPECT_EQ(value, 0xFFFFFFFFu);
    for (const char* bad : {"", "123", "0x1", "+1", "-1", " 1", "1 ", "G"})
        EXPECT_FALSE(ParseHexField(bad, 2, value)) << bad;
    EXPECT_TRUE(ParseHexValue("000000000000ABCDEF01", value));
    EXPECT_EQ(value, 0xABCDEF01u);
    EXPECT_TRUE(ParseHexValue("0000", value));
    EXPECT_EQ(value, 0u);
    for (const char* bad : {"", "100000000", "0x10", "00G"})
        EXPECT_FALSE(ParseHexValue(bad, value)) << bad;
}
