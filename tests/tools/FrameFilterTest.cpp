// Receive filters by candump's rules.
#include <gtest/gtest.h>

#include "core/FrameFilter.h"

namespace {

TCanFrame Frame(uint32_t id, bool standard, bool remote = false)
{
    TCanFrame f;
    f.Id = id;
    f.Standard = standard;
    f.Request = remote;
    return f;
}

bool Passes(const char* filter, const TCanFrame& frame)
{
    const auto parsed = TFrameFilter::Parse(filter);
    EXPECT_TRUE(parsed.has_value()) << filter;
    return parsed && parsed->Passes(frame);
}

} // namespace

TEST(FrameFilter, CandumpRulesForKindsMasksAndInversion)
{
    const TCanFrame std123 = Frame(0x123, true);
    const TCanFrame ext123 = Frame(0x123, false);
    const TCanFrame remote123 = Frame(0x123, true, true);
    // Identifier bits only: every kind of frame with that identifier.
    EXPECT_TRUE(Passes("123:7FF", std123));
    EXPECT_TRUE(Passes("123:7FF", ext123));
    EXPECT_TRUE(Passes("123:7FF", remote123));
    EXPECT_FALSE(Passes("123:7FF", Frame(0x124, true)));
    // With the extended and remote bits in the mask: standard data frames only.
    EXPECT_TRUE(Passes("123:C00007FF", std123));
    EXPECT_FALSE(Passes("123:C00007FF", ext123));
    EXPECT_FALSE(Passes("123:C00007FF", remote123));
    // Eight digits name an extended identifier.
    EXPECT_TRUE(Passes("12345678:DFFFFFFF", Frame(0x12345678, false)));
    EXPECT_FALSE(Passes("12345678:DFFFFFFF", Frame(0x12345678, false, true)));
    EXPECT_FALSE(Passes("00000123:80000000", std123));
    // A mask of upper bits: a range of identifiers.
    EXPECT_TRUE(Passes("100:700", Frame(0x1FF, true)));
    EXPECT_FALSE(Passes("100:700", Frame(0x200, true)));
    // Inverted: everything but.
    EXPECT_FALSE(Passes("123~7FF", std123));
    EXPECT_TRUE(Passes("123~7FF", Frame(0x321, true)));

    for (const char* bad : {"", "123", "123:", ":7FF", "12G:7FF", "123;7FF", "123:7FF:1", "123456789:7FF"})
        EXPECT_FALSE(TFrameFilter::Parse(bad).has_value()) << bad;
}

TEST(FrameFilter, ASetPassesWhatAnyOneLetsThrough)
{
    TFrameFilterSet set;
    EXPECT_TRUE(set.Passes(Frame(0x555, true))) << "no filter: everything";
    set.Add(*TFrameFilter::Parse("100:7FF"));
    set.Add(*TFrameFilter::Parse("200:7FF"));
    EXPECT_TRUE(set.Passes(Frame(0x100, true)));
    EXPECT_TRUE(set.Passes(Frame(0x200, false)));
    EXPECT_FALSE(set.Passes(Frame(0x300, true)));
}
