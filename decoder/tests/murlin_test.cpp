// The library interface: exports, counters, reset and the record layout.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <tuple>
#include <vector>

#include "stream_helpers.h"

using namespace murlintest;

namespace {

const std::string kGroupsBits = GroupBits({{0x2001, 0x0408, 0xE501, 0x4142},
                                           {0x2001, 0x0409, 0x0203, 0x4344},
                                           {0x2001, 0x040A, 0x0405, 0x4546},
                                           {0x2001, 0x040B, 0xCDCD, 0x4748}});

TEST(Interface, CountersAreReadAndClearedOnlyThroughRDSStat)
{
    RDSInit();
    RDSStat(3);
    FeedBits(kGroupsBits);
    EXPECT_EQ(RDSStat(0), 16);
    EXPECT_EQ(RDSStat(1), 0);
    EXPECT_EQ(RDSStat(2), 0);

    RDSInit();  // keeps the counters
    EXPECT_EQ(RDSStat(0), 16);

    EXPECT_EQ(RDSStat(-1), 0);
    EXPECT_EQ(RDSStat(0), 0);
    EXPECT_EQ(RDSStat(1), 0);
    EXPECT_EQ(RDSStat(2), 0);
    FeedBits(kGroupsBits);
    EXPECT_EQ(RDSStat(0), 16);
    EXPECT_EQ(RDSStat(3), 0);
    EXPECT_EQ(RDSStat(0), 0);
}

TEST(Interface, OutOfRangeIndicesGiveZeroOrNull)
{
    RDSInit();
    FeedBits(kGroupsBits);
    EXPECT_EQ(RDSData(0), 0x2001);
    EXPECT_EQ(RDSData(1), 0x040B);
    EXPECT_EQ(RDSData(2), 0xCDCD);
    EXPECT_EQ(RDSData(3), 0x4748);
    EXPECT_EQ(RDSData(4), 0);
    EXPECT_EQ(RDSData(-1), 0);
    EXPECT_NE(RDSDisplay(0), nullptr);
    EXPECT_NE(RDSDisplay(3), nullptr);
    EXPECT_EQ(RDSDisplay(4), nullptr);
    EXPECT_EQ(RDSDisplay(-1), nullptr);
}

TEST(Interface, InitClearsDecodedDataButKeepsTheStation)
{
    StartStream(0x2001);
    FeedBits(kGroupsBits);
    DecoderState s = Record();
    ASSERT_EQ(s.pi, 0x2001);
    ASSERT_STREQ(s.ps, "ABCDEFGH");
    ASSERT_EQ(s.afCount, 5);

    RDSInit();
    s = Record();
    EXPECT_EQ(s.pi, 0x2001);
    EXPECT_STREQ(s.ps, "        ");
    EXPECT_STREQ(s.eonPs, "        ");
    EXPECT_EQ(std::string(s.radioText), std::string(64, ' '));
    EXPECT_EQ(std::string(s.radioTextB), std::string(32, ' '));
    EXPECT_EQ(std::string(s.clockText), std::string(24, ' '));
    for (int i = 0; i < 4; ++i) EXPECT_EQ(s.di[i], 0xFF);
    EXPECT_EQ(s.afCount, 0);
    EXPECT_EQ(s.afList[0], 0);
    EXPECT_EQ(s.groupsSeen, 0u);
    // The group header fields of the last block B are kept.
    EXPECT_EQ(s.groupType, 0);
    EXPECT_EQ(s.pty, 0);
    EXPECT_EQ(s.tp, 1);
}

TEST(Interface, RecordCopyLeavesReservedBytesUntouched)
{
    StartStream(0x2001);
    FeedBits(kGroupsBits);
    unsigned char buffer[272];
    std::memset(buffer, 0xA5, sizeof buffer);
    EXPECT_EQ(RDSStruct(reinterpret_cast<DecoderState*>(buffer)), 0);
    // The library never writes its reserved bytes; they stay zero from load.
    EXPECT_EQ(buffer[77], 0);
    EXPECT_EQ(buffer[181], 0);
    EXPECT_EQ(buffer[221], 0);
    EXPECT_EQ(buffer[4] | buffer[5] << 8, 0x2001);  // pi, little-endian
    EXPECT_EQ(std::memcmp(buffer + 16, "ABCDEFGH", 9), 0);
    EXPECT_EQ(buffer[25], 5);  // afCount
    EXPECT_EQ(buffer[26] | buffer[27] << 8, 876);
    EXPECT_EQ(RDSStruct(nullptr), 0);
}

TEST(Descriptors, ProgrammeTypeAndDurationTexts)
{
    EXPECT_STREQ(RDSPTYDesc(0), "None");
    EXPECT_STREQ(RDSPTYDesc(22), "Travel & Touring");
    EXPECT_STREQ(RDSPTYDesc(31), "Alarm");
    EXPECT_EQ(RDSPTYDesc(32), nullptr);
    EXPECT_EQ(RDSPTYDesc(-1), nullptr);
    EXPECT_STREQ(RDSDPDesc(0), "No duration");
    EXPECT_STREQ(RDSDPDesc(7), "All day");
    EXPECT_EQ(RDSDPDesc(8), nullptr);
    EXPECT_EQ(RDSDPDesc(-1), nullptr);
}

TEST(Descriptors, EventLookupRejectsCodesOutsideTheTable)
{
    EXPECT_EQ(RDSEVTDesc(-1), nullptr);
    EXPECT_EQ(RDSEVTDesc(0), nullptr);
    EXPECT_EQ(RDSEVTDesc(3), nullptr);
    EXPECT_EQ(RDSEVTDesc(2048), nullptr);
    EXPECT_EQ(RDSEVTDesc(2049), nullptr);
    EXPECT_EQ(RDSEVTDesc(1 << 20), nullptr);
}

TEST(Descriptors, EventLookupFindsListedCodes)
{
    if (RDSEVTDesc(1) == nullptr) GTEST_SKIP() << "event table not filled in this build";
    EXPECT_STREQ(RDSEVTDesc(1), "Traffic problem");
    EXPECT_STREQ(RDSEVTDesc(2047), "Null message");
    EXPECT_STREQ(RDSEVTDesc(201), "(Q) accident(s)");
    EXPECT_STREQ(RDSEVTDesc(128), "Message cancelled");
}

}  // namespace

namespace {

// Several decoders: two streams fed in turns, each into its own decoder,
// decode exactly as each does alone, and the library's own one is untouched.
TEST(Interface, DecodersOfTheirOwnKeepTheirStreamsApart)
{
    const std::string other = GroupBits({{0x54A8, 0x0400, 0xE0CD, 0x5241},
                                         {0x54A8, 0x0401, 0xE0CD, 0x4449},
                                         {0x54A8, 0x0402, 0xE0CD, 0x4F20},
                                         {0x54A8, 0x0403, 0xE0CD, 0x3120}});
    const auto alone = [](const std::string& bits) {
        std::vector<uint64_t> storage(RDSDecoderSize() / 8 + 1);
        EXPECT_EQ(RDSDecoderInit(storage.data(), RDSDecoderSize()), 0);
        RDSDecoderSelect(storage.data());
        std::vector<Event> events = FeedBits(bits);
        const DecoderState record = Record();
        RDSDecoderSelect(nullptr);
        return std::make_pair(std::move(events), record);
    };
    const auto [eventsA, recordA] = alone(kGroupsBits);
    const auto [eventsB, recordB] = alone(other);
    RDSInit();
    const DecoderState own = Record();

    std::vector<uint64_t> a(RDSDecoderSize() / 8 + 1), b(a.size());
    ASSERT_EQ(RDSDecoderInit(a.data(), RDSDecoderSize()), 0);
    ASSERT_EQ(RDSDecoderInit(b.data(), RDSDecoderSize()), 0);
    std::vector<Event> gotA, gotB;
    for (std::size_t at = 0; at < kGroupsBits.size(); at += 40) {
        for (auto [storage, bits, got] :
             {std::tuple(a.data(), &kGroupsBits, &gotA), std::tuple(b.data(), &other, &gotB)}) {
            EXPECT_EQ(RDSDecoderSelect(storage), nullptr);
            for (const Event& e : FeedBits(bits->substr(at, 40))) got->push_back({e.bit + at, e.status});
            EXPECT_EQ(RDSDecoderSelect(nullptr), storage);
        }
    }
    EXPECT_EQ(gotA, eventsA);
    EXPECT_EQ(gotB, eventsB);
    for (auto [storage, record] : {std::pair(a.data(), &recordA), std::pair(b.data(), &recordB)}) {
        RDSDecoderSelect(storage);
        const DecoderState got = Record();
        EXPECT_EQ(std::memcmp(&got, record, sizeof got), 0);
        EXPECT_EQ(RDSStat(0), 16);
    }
    RDSDecoderSelect(nullptr);
    const DecoderState ownAfter = Record();
    EXPECT_EQ(std::memcmp(&ownAfter, &own, sizeof own), 0);

    // Storage that cannot hold a decoder is refused and left alone.
    std::vector<uint64_t> spare(a.size(), 0x5A5A5A5A5A5A5A5Au);
    auto* bytes = reinterpret_cast<char*>(spare.data());
    EXPECT_EQ(RDSDecoderInit(nullptr, RDSDecoderSize()), -1);
    EXPECT_EQ(RDSDecoderInit(spare.data(), RDSDecoderSize() - 1), -1);
    EXPECT_EQ(RDSDecoderInit(bytes + 4, RDSDecoderSize()), -1);
    EXPECT_EQ(spare[0], 0x5A5A5A5A5A5A5A5Au);
}

}  // namespace
