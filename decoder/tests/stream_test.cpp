// The bit entry: synchronisation, block checks, repair, automatic reset.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "stream_helpers.h"

using namespace murlintest;

namespace {

std::string RandomBits(std::mt19937& rng, std::size_t n)
{
    std::string bits;
    for (std::size_t i = 0; i < n; ++i) bits.push_back(rng() & 1 ? '1' : '0');
    return bits;
}

// Random groups of all 32 group codes, each code at least once.
std::vector<Group> RandomGroups(std::mt19937& rng, int count)
{
    std::vector<Group> groups;
    for (int i = 0; i < count; ++i) {
        const uint16_t code = uint16_t(i < 32 ? i : rng() % 32);
        const uint16_t b = uint16_t((code << 11) | (rng() & 0x07FF));
        groups.push_back({0x2001, b, uint16_t(rng()), uint16_t(rng())});
    }
    return groups;
}

// Whether a 26-bit window read as a block carries the offset of position b.
bool CarriesOffset(uint32_t window, rdsenc::Block b)
{
    return rdsenc::EncodeBlock(uint16_t(window >> 10), b) == (window & 0x3FFFFFF);
}

TEST(Stream, CleanStreamFromAnyOffsetSynchronisesAndDecodesEveryGroup)
{
    std::mt19937 rng(7);
    const std::vector<Group> groups = {{0x2001, 0x0408, 0xE501, 0x4142},  // 0A: C
                                       {0x2001, 0x0C00, 0x2001, 0x4344},  // 1B: C'
                                       {0x2001, 0x5000, 0x1111, 0x2222}};
    const std::string lead = RandomBits(rng, 11);
    RDSInit();
    const auto events = FeedBits(lead + GroupBits(groups));
    const std::vector<Event> expected = {
        {BlockStart(11, 0, 1) - 1, 0x1201}, {BlockStart(11, 0, 2) - 1, 0x1002}, {BlockStart(11, 0, 3) - 1, 0x1003},
        {BlockStart(11, 1, 0) - 1, 0x0000}, {BlockStart(11, 1, 1) - 1, 0x1001}, {BlockStart(11, 1, 2) - 1, 0x1002},
        {BlockStart(11, 1, 3) - 1, 0x1004}, {BlockStart(11, 2, 0) - 1, 0x0000}, {BlockStart(11, 2, 1) - 1, 0x1001},
        {BlockStart(11, 2, 2) - 1, 0x1002}, {BlockStart(11, 2, 3) - 1, 0x1003}, {BlockStart(11, 3, 0) - 1, 0x0000}};
    EXPECT_EQ(events, expected);
}

TEST(Stream, RandomGroupsOfEveryTypeDecodeExactlyOnceAndInvertedAlike)
{
    for (unsigned seed : {1u, 2u, 3u}) {
        std::mt19937 rng(seed);
        const std::vector<Group> groups = RandomGroups(rng, 120);
        const std::size_t leadLength = rng() % 150;
        const std::string bits = RandomBits(rng, leadLength) + GroupBits(groups);
        std::string inverted = bits;
        for (char& c : inverted) c = c == '1' ? '0' : '1';

        for (bool invert : {false, true}) {
            SCOPED_TRACE(testing::Message() << "seed " << seed << " invert " << invert);
            RDSInit();
            RDSStat(3);
            std::size_t decoded = 0;
            for (std::size_t i = 0; i < bits.size(); ++i) {
                const int32_t status = RDSBitFrame((invert ? inverted : bits)[i] == '1', invert);
                if ((status & 0xF000) != 0) continue;
                // A group completes only on the last bit of a block D.
                ASSERT_GE(i + 1, leadLength + 104);
                ASSERT_EQ((i + 1 - leadLength) % 104, 0u) << "at bit " << i;
                const Group& g = groups[(i + 1 - leadLength) / 104 - 1];
                ASSERT_EQ(status, 0x0000);
                EXPECT_EQ(RDSData(0), g.a);
                EXPECT_EQ(RDSData(1), g.b);
                EXPECT_EQ(RDSData(2), g.c);
                EXPECT_EQ(RDSData(3), g.d);
                const DecoderState s = Record();
                EXPECT_EQ(s.groupType, g.b >> 12);
                EXPECT_EQ(s.groupVersion, (g.b >> 11) & 1);
                EXPECT_EQ(s.pty, (g.b >> 5) & 31);
                EXPECT_EQ(s.tp, (g.b >> 10) & 1);
                ++decoded;
            }
            EXPECT_EQ(decoded, groups.size());
            EXPECT_EQ(Record().groupsSeen, 0xFFFFFFFFu);
            EXPECT_EQ(Record().pi, 0x2001);
            EXPECT_EQ(RDSStat(1), 0);
            EXPECT_EQ(RDSStat(2), 0);
        }
    }
}

// A single wrong bit in the information word of each position of a group is
// repaired and counted; in the check word it is not.
TEST(Stream, SingleBitErrorsAreRepairedOnlyInInformationBits)
{
    const std::vector<Group> groups = {{0x2001, 0x0408, 0xE501, 0x4142},
                                       {0x2001, 0x0409, 0x0203, 0x4344},
                                       {0x2001, 0x040A, 0x0405, 0x4546},
                                       {0x2001, 0x040B, 0x0607, 0x4748}};
    const int32_t codes[4] = {1, 2, 3, 0};
    for (int block = 0; block < 4; ++block) {
        for (int bit = 0; bit < 26; ++bit) {
            SCOPED_TRACE(testing::Message() << "block " << block << " bit " << bit);
            std::string bits = GroupBits(groups);
            const std::size_t at = BlockStart(0, 1, block) + std::size_t(bit);
            FlipBit(bits, at);
            StartStream(0x2001);
            RDSStat(3);
            const auto events = FeedBits(bits);
            const std::size_t end = BlockStart(0, 1, block) + 25;
            int32_t statusAtBlock = -1;
            std::size_t groupsDecoded = 0;
            for (const Event& e : events) {
                if (e.bit == end) statusAtBlock = e.status;
                groupsDecoded += (e.status & 0xF000) == 0;
            }
            EXPECT_EQ(RDSStat(1), 1);
            if (bit < 16) {
                const int32_t sequence = block == 3 ? 0 : 0x1000;
                EXPECT_EQ(statusAtBlock, sequence | 0x20 | codes[block]);
                EXPECT_EQ(RDSStat(2), 1);
                EXPECT_EQ(groupsDecoded, 4u);
                EXPECT_STREQ(Record().ps, "ABCDEFGH");
            } else {
                EXPECT_EQ(statusAtBlock, 0x1035);
                EXPECT_EQ(RDSStat(2), 0);
                EXPECT_EQ(groupsDecoded, 3u);  // the damaged group is not decoded
                EXPECT_STREQ(Record().ps, "AB  EFGH");
            }
        }
    }
}

TEST(Stream, RepairedBlockCIsDecodedWithTheRepairedWord)
{
    const std::vector<Group> groups = {{0x2001, 0x0408, 0xE501, 0x4142}, {0x2001, 0x0409, 0x0203, 0x4344}};
    std::string bits = GroupBits(groups);
    FlipBit(bits, BlockStart(0, 1, 2) + 5);
    StartStream(0x2001);
    const auto events = FeedBits(bits);
    ASSERT_GE(events.size(), 2u);
    EXPECT_EQ(events[events.size() - 2], (Event{BlockStart(0, 1, 3) - 1, 0x1023}));
    EXPECT_EQ(events.back(), (Event{BlockStart(0, 2, 0) - 1, 0x0000}));
    EXPECT_EQ(RDSData(2), 0x0203);
    EXPECT_EQ(Record().afList[1], 877);
}

// With block B lost, the decoder cannot know whether C or C' follows. An
// intact block of either kind is taken as it came, neither changed nor
// counted as repaired, whatever the version of the group before.
TEST(Stream, BlockCAfterALostBlockBIsTakenAsItCame)
{
    const struct {
        uint16_t before, lost;              // block B of the group before and of the damaged group
        int32_t status;                     // at the damaged group's block C
    } cases[] = {{0x2800, 0x0408, 0x1003},  // 2B, then 0A: C where C' was guessed
                 {0x0408, 0x2800, 0x1004},  // 0A, then 2B: C' where C was guessed
                 {0x0408, 0x0409, 0x1003},  // the same version: as before
                 {0x2800, 0x2801, 0x1004}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << std::hex << c.before << " then " << c.lost);
        const std::vector<Group> groups = {{0x2001, c.before, 0x2001, 0x4142}, {0x2001, c.lost, 0x4B45, 0x5354}};
        std::string bits = GroupBits(groups);
        FlipBit(bits, BlockStart(0, 1, 1) + 20);  // a check bit of B: unrepairable
        StartStream(0x2001);
        RDSStat(3);
        std::vector<Event> atC;
        for (const Event& e : FeedBits(bits))
            if (e.bit == BlockStart(0, 1, 3) - 1) atC.push_back(e);
        EXPECT_EQ(atC, (std::vector<Event>{{BlockStart(0, 1, 3) - 1, c.status}}));
        EXPECT_EQ(RDSData(2), 0x4B45);
        EXPECT_EQ(RDSStat(2), 0);  // nothing repaired
    }
}

TEST(Stream, TwoBadBlocksInARowLoseSynchronisation)
{
    std::vector<Group> groups(4, Group{0x2001, 0x0408, 0x1234, 0x4142});
    std::string bits = GroupBits(groups);
    FlipBit(bits, BlockStart(0, 1, 2) + 20);  // check bits of C
    FlipBit(bits, BlockStart(0, 1, 3) + 20);  // check bits of D
    RDSInit();
    const auto events = FeedBits(bits);
    std::vector<Event> tail(events.begin() + 6, events.end());
    // C bad (tolerated), D bad (lost), then the search one block later finds
    // block A of the next group at its boundary.
    const std::vector<Event> expected = {{BlockStart(0, 1, 3) - 1, 0x1035}, {BlockStart(0, 2, 0) - 1, 0x1335},
                                         {BlockStart(0, 2, 1) - 1, 0x1201}, {BlockStart(0, 2, 2) - 1, 0x1002},
                                         {BlockStart(0, 2, 3) - 1, 0x1003}, {BlockStart(0, 3, 0) - 1, 0x0000},
                                         {BlockStart(0, 3, 1) - 1, 0x1001}, {BlockStart(0, 3, 2) - 1, 0x1002},
                                         {BlockStart(0, 3, 3) - 1, 0x1003}, {BlockStart(0, 4, 0) - 1, 0x0000}};
    EXPECT_EQ(tail, expected);
}

TEST(Stream, BadBlockAfterARepairedOneLosesSynchronisation)
{
    std::vector<Group> groups(3, Group{0x2001, 0x0408, 0x1234, 0x4142});
    std::string bits = GroupBits(groups);
    FlipBit(bits, BlockStart(0, 1, 1) + 3);   // B: repaired
    FlipBit(bits, BlockStart(0, 1, 2) + 20);  // C: check bits, unrepairable
    RDSInit();
    RDSStat(3);
    const auto events = FeedBits(bits);
    ASSERT_GE(events.size(), 7u);
    EXPECT_EQ(events[5], (Event{BlockStart(0, 1, 2) - 1, 0x1022}));
    EXPECT_EQ(events[6], (Event{BlockStart(0, 1, 3) - 1, 0x1335}));
    EXPECT_EQ(RDSStat(1), 2);
    EXPECT_EQ(RDSStat(2), 1);
}

// Noise that never carries a block A offset: the decoder resets itself at
// exactly every 208th bit and its data stays cleared.
TEST(Stream, NoiseResetsEvery208Bits)
{
    std::mt19937 rng(5);
    std::string bits;
    uint32_t window = 0;
    for (int i = 0; i < 208 * 12; ++i) {
        if (i % 208 == 0) window = 0;  // the decoder's register restarts at each reset
        uint32_t bit = rng() & 1;
        if (CarriesOffset(((window << 1) | bit) & 0x3FFFFFF, rdsenc::Block::A)) bit ^= 1;
        window = ((window << 1) | bit) & 0x3FFFFFF;
        bits.push_back(bit ? '1' : '0');
    }
    RDSInit();
    const auto events = FeedBits(bits);
    ASSERT_EQ(events.size(), 12u);
    for (std::size_t k = 0; k < events.size(); ++k) EXPECT_EQ(events[k], (Event{208 * (k + 1) - 1, 0x1115}));
    EXPECT_STREQ(Record().ps, "        ");
    EXPECT_EQ(Record().groupsSeen, 0u);
}

TEST(Stream, ChanceBlockABeforeBit208StopsTheAutomaticReset)
{
    std::string bits(174, '0');
    rdsenc::AppendBlock(bits, 0x1234, rdsenc::Block::A);
    bits += std::string(1000, '0');
    RDSInit();
    const auto events = FeedBits(bits);
    const std::vector<Event> expected = {{199, 0x1201}};
    EXPECT_EQ(events, expected);
    // Waiting for block B at bit 208, so no reset then or ever after.
}

}  // namespace
