#include <gtest/gtest.h>

#include <cstring>

#include "core/CanGeneral.h"
#include "core/CanSettings.h"

TEST(CanFrame, NewFrameIsAllZeroAndExtended)
{
    TCanFrame f;
    EXPECT_EQ(f.Id, 0u);
    EXPECT_EQ(f.Length, 0);
    EXPECT_FALSE(f.Request);
    EXPECT_FALSE(f.Standard);
    EXPECT_EQ(f.Time, 0u);
    for (uint8_t b : f.Data)
        EXPECT_EQ(b, 0);
    TCanSettings s;
    EXPECT_EQ(s.Rate, 0);
    EXPECT_FALSE(s.Extended);
}

TEST(CanFrame, AssignCopiesTimeAndAllEightBytes)
{
    TCanFrame a;
    a.Id = 0x1ABCDEF;
    a.Length = 2;
    a.Request = true;
    a.Standard = true;
    a.Time = 0xFFFFFFF0u;
    for (int i = 0; i < 8; ++i)
        a.Data[i] = static_cast<uint8_t>(0x10 + i);
    TCanFrame b;
    b.Assign(a);
    EXPECT_EQ(b.Id, a.Id);
    EXPECT_EQ(b.Length, 2);
    EXPECT_TRUE(b.Request);
    EXPECT_TRUE(b.Standard);
    EXPECT_EQ(b.Time, 0xFFFFFFF0u);
    EXPECT_EQ(0, std::memcmp(a.Data, b.Data, 8));
    a.Data[7] = 0;
    EXPECT_EQ(b.Data[7], 0x17); // nothing is shared
    EXPECT_EQ(CanDataBytes(12), 8);
    EXPECT_EQ(CanDataBytes(-3), 0);
    EXPECT_EQ(CanDataBytes(5), 5);
}
