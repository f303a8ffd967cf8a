// The display lines of the four blocks.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "stream_helpers.h"

using namespace murlintest;

namespace {

TEST(DisplayLines, BlockALineShowsTheStoredProgrammeIdentification)
{
    RDSInit();
    FeedBits(GroupBits({{0x1234, 0x0000, 0x0000, 0x0000}, {0x1234, 0x0000, 0x0000, 0x0000}}));
    EXPECT_STREQ(RDSDisplay(0), "Bloc A: 0001001000110100 1234 - PI:1234");
    // The block A found while searching does not confirm a new station yet.
    RDSInit();
    FeedBits(GroupBits({{0x2001, 0x0000, 0x0000, 0x0000}}));
    EXPECT_STREQ(RDSDisplay(0), "Bloc A: 0010000000000001 2001 - PI:1234");
    FeedBits(GroupBits({{0x2001, 0x0000, 0x0000, 0x0000}}));
    EXPECT_STREQ(RDSDisplay(0), "Bloc A: 0010000000000001 2001 - PI:2001");
}

TEST(DisplayLines, PsSegmentRightAfterAReset)
{
    RDSInit();
    FeedBits(GroupBits({{0x2001, 0x0004, 0xE000, 0x4142}}));
    EXPECT_STREQ(RDSDisplay(3), "Bloc D: 0100000101000010 4142 - DI:1... (D...) PS00:'A' PS01:'B' ('AB      ')");
    EXPECT_STREQ(RDSDisplay(1), "Bloc B: 0000000000000100 0004 - GRP:00A TP:0 PTY:0 (None) - TA:0 MS:0");
}

TEST(DisplayLines, GroupWithoutACaseShowsOnlyItsWords)
{
    RDSInit();
    FeedBits(GroupBits({{0x2001, 0x5000, 0x1234, 0xABCD}}));
    EXPECT_STREQ(RDSDisplay(1), "Bloc B: 0101000000000000 5000 - GRP:05A TP:0 PTY:0 (None)   ");
    EXPECT_STREQ(RDSDisplay(2), "Bloc C: 0001001000110100 1234   ");
    EXPECT_STREQ(RDSDisplay(3), "Bloc D: 1010101111001101 ABCD   ");
}

TEST(DisplayLines, TmcLineB)
{
    RDSInit();
    FeedBits(GroupBits({{0x2001, 0x842A, 0x0000, 0x0000}}));
    EXPECT_STREQ(RDSDisplay(1),
                 "Bloc B: 1000010000101010 842A - GRP:08A TP:1 PTY:1 (News) - T:0 F:1 DP:2 (30 minutes)");
}

TEST(DisplayLines, RadiotextFlagAppearsOnlyWhenItChanges)
{
    RDSInit();
    FeedBits(GroupBits({{0x2001, 0x2000, 0x4142, 0x4344}, {0x2001, 0x2010, 0x4142, 0x4344}}));
    std::string line = RDSDisplay(1);
    EXPECT_EQ(line.substr(line.size() - 7), "- TAB:1");
    FeedBits(GroupBits({{0x2001, 0x2011, 0x4142, 0x4344}}));
    line = RDSDisplay(1);
    EXPECT_EQ(line.substr(line.size() - 9), "(None)   ");
    EXPECT_STREQ(RDSDisplay(2), "Bloc C: 0100000101000010 4142 - RS04:'A' RS05:'B'");
}

TEST(DisplayLines, ZeroCharacterEndsTheRenderedText)
{
    RDSInit();
    FeedBits(GroupBits({{0x2001, 0x0000, 0xE000, 0x4100}}));
    EXPECT_STREQ(RDSDisplay(3), "Bloc D: 0100000100000000 4100 - DI:0... (N...) PS00:'A' PS01:'");
}

TEST(DisplayLines, DamagedGroupLeavesLinesCAndDEmpty)
{
    std::string bits = GroupBits({{0x2001, 0x5000, 0x1234, 0xABCD}, {0x2001, 0x5000, 0x1234, 0xABCD}});
    FlipBit(bits, BlockStart(0, 1, 2) + 24);  // check bit of C
    RDSInit();
    FeedBits(bits);
    EXPECT_STREQ(RDSDisplay(0), "Bloc A: 0010000000000001 2001 - PI:2001");
    EXPECT_NE(std::string(RDSDisplay(1)), "");
    EXPECT_STREQ(RDSDisplay(2), "");
    EXPECT_STREQ(RDSDisplay(3), "");
}

TEST(DisplayLines, InitKeepsTheLines)
{
    RDSInit();
    FeedBits(GroupBits({{0x2001, 0x5000, 0x1234, 0xABCD}}));
    RDSInit();
    EXPECT_STREQ(RDSDisplay(2), "Bloc C: 0001001000110100 1234   ");
}

}  // namespace
