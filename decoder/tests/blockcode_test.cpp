// The block code and the byte entry, tested against the decoder's internals
// (this binary links the library's objects, not the shared library).
#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "decoder.h"
#include "stream_helpers.h"
#include "text_builder.h"

using namespace murlin;
using namespace murlintest;

namespace {

constexpr rdsenc::Block kPositions[5] = {rdsenc::Block::A, rdsenc::Block::B, rdsenc::Block::C, rdsenc::Block::Cprime,
                                         rdsenc::Block::D};

// The syndrome by its definition: XOR of the parity rows of the set bits.
uint16_t SlowSyndrome(uint32_t word)
{
    static const uint16_t rows[26] = {0x31B, 0x38F, 0x2A7, 0x0F7, 0x1EE, 0x3DC, 0x201, 0x1BB, 0x376,
                                      0x355, 0x313, 0x39F, 0x287, 0x0B7, 0x16E, 0x2DC, 0x001, 0x002,
                                      0x004, 0x008, 0x010, 0x020, 0x040, 0x080, 0x100, 0x200};
    uint16_t s = 0;
    for (int i = 0; i < 26; ++i)
        if ((word >> i) & 1) s ^= rows[i];
    return s;
}

TEST(BlockCode, CheckWordsAndOffsets)
{
    EXPECT_EQ(rdsenc::CheckWord(0, rdsenc::Block::A), 0x0FC);
    EXPECT_EQ(rdsenc::CheckWord(0x2001, rdsenc::Block::A), 0x2EA);
    EXPECT_EQ(rdsenc::CheckWord(0x2001, rdsenc::Block::B), 0x38E);
    EXPECT_EQ(IdentifyOffset(0x0FC), kBlockA);
    EXPECT_EQ(IdentifyOffset((0x2001u << 10) | 0x2EA), kBlockA);
    EXPECT_EQ(IdentifyOffset((0x2001u << 10) | 0x38E), kBlockB);
    EXPECT_EQ(IdentifyOffset(0), -1);
}

TEST(BlockCode, TableSyndromeEqualsTheDefinition)
{
    std::mt19937 rng(3);
    for (int i = 0; i < 20000; ++i) {
        const uint32_t word = rng() & 0x3FFFFFF;
        const int k = int(rng() % 5);
        ASSERT_EQ(BlockSyndrome(word, OffsetWord(k)), SlowSyndrome(word ^ OffsetWord(k))) << word;
    }
    for (int k = 0; k < 5; ++k) {
        const uint32_t word = rdsenc::EncodeBlock(0xBEEF, kPositions[k]);
        EXPECT_EQ(IdentifyOffset(word), k);
        EXPECT_EQ(BlockSyndrome(word, OffsetWord(k)), 0);
        // An inverted block carries no offset at all.
        EXPECT_EQ(IdentifyOffset(~word & 0x3FFFFFF), -1);
    }
}

TEST(BlockCode, BurstRepairExamples)
{
    const uint32_t word = (0x2001u << 10) | 0x2EA;
    uint32_t bad = word ^ (1u << 25);
    EXPECT_EQ(BlockSyndrome(bad, 0x0FC), 0x200);
    EXPECT_EQ(CorrectBurst(uint16_t(bad >> 10), 0x200), 0x2001);
    bad = word ^ (7u << 20);
    EXPECT_EQ(BlockSyndrome(bad, 0x0FC), 0x070);
    EXPECT_EQ(CorrectBurst(uint16_t(bad >> 10), 0x070), 0x2001);
    bad = word ^ (1u << 3);  // in the check word: not repairable
    EXPECT_EQ(BlockSyndrome(bad, 0x0FC), 0x0F7);
    EXPECT_EQ(CorrectBurst(0x2001, 0x0F7), 0x2001);
}

TEST(BlockCode, EveryBurstUpToFiveInformationBitsIsRepaired)
{
    std::mt19937 rng(9);
    for (int trial = 0; trial < 20; ++trial) {
        const uint16_t info = uint16_t(rng());
        const int k = trial % 5;
        const uint32_t word = rdsenc::EncodeBlock(info, kPositions[k]);
        for (int length = 1; length <= 5; ++length)
            for (uint32_t inner = 0; inner < (length > 2 ? 1u << (length - 2) : 1u); ++inner) {
                // A burst starts and ends with a wrong bit.
                const uint32_t pattern = length == 1 ? 1u : (1u | (inner << 1) | (1u << (length - 1)));
                for (int low = 10; low + length <= 26; ++low) {
                    const uint32_t bad = word ^ (pattern << low);
                    const uint16_t s = BlockSyndrome(bad, OffsetWord(k));
                    ASSERT_NE(s, 0);
                    ASSERT_EQ(CorrectBurst(uint16_t(bad >> 10), s), info) << "burst " << pattern << " at " << low;
                }
            }
    }
}

// Feeds the stream as bytes and records each event at the bit where it
// happened: bits handed in minus those still pending.
std::vector<Event> FeedBytesWithPositions(const std::string& bits, bool invert)
{
    const std::string bytes = rdsenc::PackBits(bits);
    std::vector<Event> events;
    std::size_t handedIn = 0;
    for (unsigned char byte : bytes) {
        handedIn += 8;
        const int32_t status = RDSBytFrame(byte, invert);
        if (status != kStatusNone) events.push_back({handedIn - Current().sync.bytePending - 1, status});
    }
    // Flush what is still pending with a byte of padding beyond the stream.
    while (Current().sync.bytePending > 0) {
        handedIn += 8;
        const int32_t status = RDSBytFrame(0, invert);
        if (status != kStatusNone && handedIn - Current().sync.bytePending - 1 < bits.size())
            events.push_back({handedIn - Current().sync.bytePending - 1, status});
    }
    return events;
}

TEST(ByteEntry, BytesGiveTheSameEventsAtTheSameBitsAsBits)
{
    std::mt19937 rng(21);
    for (int round = 0; round < 6; ++round) {
        std::string bits;
        for (int i = 0; i < int(rng() % 300); ++i) bits.push_back(rng() & 1 ? '1' : '0');
        for (int g = 0; g < 60; ++g)
            rdsenc::AppendGroup(bits, 0x2001, uint16_t(rng()), uint16_t(rng()), uint16_t(rng()));
        // Some damage: repaired, tolerated and losing blocks.
        for (int e = 0; e < 25; ++e) FlipBit(bits, rng() % bits.size());
        bits.resize(bits.size() - bits.size() % 8);

        RDSInit();
        const auto byBits = FeedBits(bits);
        RDSInit();
        const auto byBytes = FeedBytesWithPositions(bits, false);
        EXPECT_EQ(byBytes, byBits) << "round " << round;
        EXPECT_GT(byBits.size(), 200u);
    }
}

TEST(ByteEntry, InvertedBytesDecodeLikeTheCleanStream)
{
    std::mt19937 rng(4);
    std::string bits;
    for (int g = 0; g < 30; ++g) rdsenc::AppendGroup(bits, 0x2001, uint16_t(rng()), uint16_t(rng()), uint16_t(rng()));
    std::string inverted = bits;
    for (char& c : inverted) c = c == '1' ? '0' : '1';
    RDSInit();
    const auto clean = FeedBytesWithPositions(bits, false);
    RDSInit();
    EXPECT_EQ(FeedBytesWithPositions(inverted, true), clean);
}

TEST(ByteEntry, AutomaticResetDropsTheRestOfTheByte)
{
    RDSInit();
    for (int i = 0; i < 3; ++i) RDSBitFrame(0, 0);
    // Bits 4..203 in 25 bytes, then a byte holding bits 204..211: the reset
    // comes at its fifth bit (bit 208) and its last three bits are dropped.
    for (int i = 0; i < 25; ++i) ASSERT_EQ(RDSBytFrame(0, 0), kStatusNone);
    EXPECT_EQ(RDSBytFrame(0xFF, 0), kStatusAutoReset);
    EXPECT_EQ(Current().sync.bytePending, 0);
    EXPECT_EQ(Current().sync.bitCount, 0);
    EXPECT_EQ(Current().sync.shiftRegister, 0u);
    // The next reset is 208 bits of the following bytes later.
    for (int i = 0; i < 25; ++i) ASSERT_EQ(RDSBytFrame(0, 0), kStatusNone);
    EXPECT_EQ(RDSBytFrame(0, 0), kStatusAutoReset);
}

// The text builder prints exactly what the C formats it stands for print.
TEST(TextBuilder, MatchesTheCFormats)
{
    char built[64];
    char expected[64];
    for (int v = -2100; v <= 27000; v += (v > -50 && v < 1200) ? 1 : 7) {
        const unsigned u = unsigned(v) & 0xFFFF;
        for (int width : {1, 2, 3, 4}) {
            TextBuilder(built, sizeof built).hex(u, width);
            std::snprintf(expected, sizeof expected, "%0*X", width, u);
            ASSERT_STREQ(built, expected);
            TextBuilder(built, sizeof built).dec(v, width);
            std::snprintf(expected, sizeof expected, "%0*d", width, v);
            ASSERT_STREQ(built, expected);
            TextBuilder(built, sizeof built).dec(v, width, ' ');
            std::snprintf(expected, sizeof expected, "%*d", width, v);
            ASSERT_STREQ(built, expected);
        }
        TextBuilder(built, sizeof built).tenths(v, 5);
        std::snprintf(expected, sizeof expected, "%#05.1f", v / 10.0);
        ASSERT_STREQ(built, expected);
        TextBuilder(built, sizeof built).tenths(v, 2, true);
        std::snprintf(expected, sizeof expected, "%+02.1f", v / 10.0);
        ASSERT_STREQ(built, expected);
    }
}

TEST(TextBuilder, CutsToFitAndAZeroCharacterEndsTheText)
{
    char out[8];
    TextBuilder(out, sizeof out).str("abc").dec(123456, 1);
    EXPECT_STREQ(out, "abc1234");
    TextBuilder(out, sizeof out).str("ab").chr('\0').str("cd");
    EXPECT_STREQ(out, "ab");
}

}  // namespace
