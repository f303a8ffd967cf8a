// The group decoder: which bits of which group land in which field.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "stream_helpers.h"

using namespace murlintest;

namespace {

constexpr uint16_t kPi = 0xD3A2;

uint16_t BlockB(unsigned code, unsigned low5) { return uint16_t((code << 11) | (1u << 10) | (3u << 5) | low5); }

// Decodes the groups as a new stream from the station kPi, which the decoder
// already knows (so its first confirmed block A does not clear the data).
DecoderState Decode(const std::vector<Group>& groups)
{
    StartStream(kPi);
    FeedBits(GroupBits(groups));
    return Record();
}

Group AfGroup(uint16_t c) { return {kPi, BlockB(0, 0), c, 0x2020}; }

TEST(AlternativeFrequencies, CountCodeOpensTheListAndPairsFillIt)
{
    const DecoderState s = Decode({AfGroup(0xE501), AfGroup(0x0203), AfGroup(0x0405)});
    EXPECT_EQ(s.afCount, 5);
    const uint16_t expected[6] = {876, 877, 878, 879, 880, 0};
    for (int i = 0; i < 6; ++i) EXPECT_EQ(s.afList[i], expected[i]) << i;
    // The next pair goes to entries 5 and 6 (afNext is 5).
    FeedBits(GroupBits({AfGroup(0x0607)}));
    EXPECT_STREQ(RDSDisplay(2), "Bloc C: 0000011000000111 0607 - AF05:088.1 AF06:088.2");
    EXPECT_EQ(Record().afList[5], 881);
}

TEST(AlternativeFrequencies, PairWithoutCountCodeIsShownNotStored)
{
    const DecoderState s = Decode({AfGroup(0x0203)});
    EXPECT_EQ(s.afList[1], 0);
    EXPECT_EQ(s.afCount, 0);
    EXPECT_STREQ(RDSDisplay(2), "Bloc C: 0000001000000011 0203 - AF..:087.7 AF..:087.8");
}

TEST(AlternativeFrequencies, ListStopsAtItsTwentyFifthEntry)
{
    std::vector<Group> groups = {{kPi, BlockB(2, 0x15), 0x0000, 0x0000},  // 1A: rpc 0x15, slc 0
                                 AfGroup(0xF901)};
    for (int i = 0; i < 13; ++i) groups.push_back(AfGroup(uint16_t(((2 + 2 * i) << 8) | (3 + 2 * i))));
    const DecoderState s = Decode(groups);
    EXPECT_EQ(s.afCount, 25);
    for (int i = 0; i < 25; ++i) EXPECT_EQ(s.afList[i], 876 + i) << i;
    // The fields after the list are untouched by the thirteenth pair.
    EXPECT_EQ(s.rpc, 0x15);
    EXPECT_EQ(s.reserved77, 0);
    EXPECT_EQ(s.slc, 0);
}

TEST(AlternativeFrequencies, SpecialCodes)
{
    DecoderState s = Decode({AfGroup(0xE0CD)});  // count 0, filler
    EXPECT_EQ(s.afCount, 0);
    EXPECT_EQ(s.afList[0], 0);
    EXPECT_STREQ(RDSDisplay(2), "Bloc C: 1110000011001101 E0CD - AFnn: 00   AF01:000.0");
    Decode({AfGroup(0xFA10)});
    EXPECT_STREQ(RDSDisplay(2), "Bloc C: 1111101000010000 FA10 - AFMF:531.0");
    Decode({AfGroup(0xCD01)});
    EXPECT_STREQ(RDSDisplay(2), "Bloc C: 1100110100000001 CD01 - NO AF");
}

TEST(BasicTuning, PsNameAndDecoderIdentification)
{
    const DecoderState s = Decode({{kPi, BlockB(0, 0x04 | 0), 0xE000, 0x5241},
                                   {kPi, BlockB(0, 0x00 | 1), 0xE000, 0x4449},
                                   {kPi, BlockB(1, 0x04 | 2), kPi, 0x4F20},
                                   {kPi, BlockB(0, 0x04 | 3), 0xE000, 0x3120}});
    EXPECT_STREQ(s.ps, "RADIO 1 ");
    EXPECT_EQ(s.di[3], 1);
    EXPECT_EQ(s.di[2], 0);
    EXPECT_EQ(s.di[1], 1);
    EXPECT_EQ(s.di[0], 1);
    EXPECT_EQ(s.groupsSeen, 0x3u);
    EXPECT_STREQ(RDSDisplay(3), "Bloc D: 0011000100100000 3120 - DI:1011 (DNAS) PS06:'1' PS07:' ' ('RADIO 1 ')");
}

TEST(BasicTuning, NewStationClearsDataOnlyFromAnErrorFreeBlockA)
{
    const Group ps = {kPi, BlockB(0, 0), 0xE000, 0x4142};
    const Group other = {0x1111, BlockB(0, 1), 0xE000, 0x4344};
    std::string bits = GroupBits({ps, other, other});
    FlipBit(bits, BlockStart(0, 1, 0) + 4);  // block A of the first 0x1111 group: repaired
    StartStream(kPi);
    const auto events = FeedBits(bits.substr(0, BlockStart(0, 2, 0)));
    ASSERT_EQ(events.back().status, 0x0000);
    DecoderState s = Record();
    EXPECT_EQ(s.pi, kPi);  // a repaired block A never changes the station
    EXPECT_STREQ(s.ps, "ABCD    ");
    FeedBits(bits.substr(BlockStart(0, 2, 0)));
    s = Record();
    EXPECT_EQ(s.pi, 0x1111);
    EXPECT_STREQ(s.ps, "  CD    ");
}

TEST(Groups, PagingSlowLabellingAndProgrammeItem)
{
    DecoderState s = Decode({{kPi, BlockB(2, 0x13), 0x9ABC, 0xC9A5}});
    EXPECT_EQ(s.rpc, 0x13);
    EXPECT_EQ(s.slc, 0x9ABC);
    EXPECT_EQ(s.pin, 0xC9A5);
    EXPECT_STREQ(RDSDisplay(2), "Bloc C: 1001101010111100 9ABC - SLC:9ABC (LA:1 VC:1 SLC:ABC)");
    EXPECT_STREQ(RDSDisplay(3), "Bloc D: 1100100110100101 C9A5 - PIN:C9A5 (D:25 H:06 M:37)");
    FeedBits(GroupBits({{kPi, BlockB(3, 0x02), kPi, 0x1234}}));
    s = Record();
    EXPECT_EQ(s.slc, 0x9ABC);  // block C of 1B is the PI
    EXPECT_EQ(s.pin, 0x1234);
}

TEST(Groups, RadiotextAndItsABFlag)
{
    DecoderState s = Decode({{kPi, BlockB(4, 0x00), 0x4869, 0x2074},  // "Hi t" at 0
                             {kPi, BlockB(4, 0x0F), 0x6865, 0x7265},  // "here" at 60
                             {kPi, BlockB(5, 0x03), kPi, 0x4F4B}});   // 2B "OK" at 6
    EXPECT_EQ(std::string(s.radioText, 4), "Hi t");
    EXPECT_EQ(std::string(s.radioText + 60), "here");
    EXPECT_EQ(std::string(s.radioTextB, 8), "      OK");
    EXPECT_EQ(std::strlen(s.radioText), 64u);
    EXPECT_STREQ(RDSDisplay(2), "Bloc C: 1101001110100010 D3A2 - PI:D3A2");
    EXPECT_STREQ(RDSDisplay(3), "Bloc D: 0100111101001011 4F4B - RS06:'O' RS07:'K'");

    // The flag changes: both texts are cleared before the new characters.
    FeedBits(GroupBits({{kPi, BlockB(4, 0x11), 0x0D00, 0x2020}}));
    s = Record();
    EXPECT_EQ(s.textAB, 1);
    EXPECT_EQ(std::string(s.radioText, 8), std::string("    \r\0  ", 8));  // stored as received
    EXPECT_EQ(std::string(s.radioText + 6, 58), std::string(58, ' '));
    EXPECT_EQ(std::string(s.radioTextB), std::string(32, ' '));
}

TEST(Groups, OpenDataApplication)
{
    const DecoderState s = Decode({{kPi, BlockB(6, 0x17), 0x1357, 0xCD46}});
    EXPECT_EQ(s.odaGroupType, 11);
    EXPECT_EQ(s.odaGroupVersion, 1);
    EXPECT_EQ(s.odaMessage, 0x1357);
    EXPECT_EQ(s.odaAid, 0xCD46);
}

Group ClockGroup(int mjd, int hour, int minute, bool negative, int halfHours)
{
    const uint16_t b = BlockB(8, unsigned(mjd >> 15) & 3u);
    const uint16_t c = uint16_t(((mjd & 0x7FFF) << 1) | (hour >> 4));
    const uint16_t d = uint16_t(((hour & 15) << 12) | (minute << 6) | (negative ? 0x20 : 0) | halfHours);
    return {kPi, b, c, d};
}

TEST(Clock, DateTimeAndOffset)
{
    DecoderState s = Decode({ClockGroup(54521, 15, 51, false, 2)});
    EXPECT_EQ(s.year, 2008);
    EXPECT_EQ(s.month, 2);
    EXPECT_EQ(s.day, 25);
    EXPECT_EQ(s.hour, 15);
    EXPECT_EQ(s.minute, 51);
    EXPECT_EQ(s.localOffset, 10);
    EXPECT_STREQ(s.clockText, "2008/02/25 15:51TU +1.0");
    EXPECT_STREQ(RDSDisplay(2), "Bloc C: 1010100111110010 A9F2 - Julian:54521 ( 108/03/25)");
    EXPECT_STREQ(RDSDisplay(3), "Bloc D: 1111110011000010 FCC2 - H:15 M:51 O:+1.0");

    s = Decode({ClockGroup(54521, 0, 0, true, 2)});
    EXPECT_EQ(s.localOffset, -10);
    s = Decode({ClockGroup(54521, 0, 0, false, 3)});
    EXPECT_EQ(s.localOffset, 15);
    EXPECT_STREQ(s.clockText, "2008/02/25 00:00TU +1.5");
    s = Decode({ClockGroup(15079, 23, 59, true, 31)});  // 1 March 1900
    EXPECT_EQ(s.year, 1900);
    EXPECT_EQ(s.month, 3);
    EXPECT_EQ(s.day, 1);
    EXPECT_STREQ(s.clockText, "1900/03/01 23:59TU -15.5");
    // The clock is kept by a reset.
    RDSInit();
    EXPECT_EQ(Record().year, 1900);
}

TEST(Clock, MeaninglessEarlyDateStaysInsideItsField)
{
    const DecoderState s = Decode({ClockGroup(0, 31, 63, true, 31)});
    EXPECT_EQ(s.month, 255);
    EXPECT_EQ(s.year, 1859);
    EXPECT_EQ(std::strlen(s.clockText), 24u);
    EXPECT_STREQ(s.clockText, "1859/255/19 31:63TU -15.");
    EXPECT_EQ(s.reserved221, 0);
    EXPECT_EQ(s.tmcT, 0);
}

TEST(Tmc, UserMessageFields)
{
    const uint16_t c = uint16_t(0x8000 | (5 << 11) | 0x65);  // D 1, PN 0, extent 5, event 101
    const DecoderState s = Decode({{kPi, BlockB(16, 0x0D), c, 0x3A7F}});
    EXPECT_EQ(s.tmcT, 0);
    EXPECT_EQ(s.tmcF, 1);
    EXPECT_EQ(s.tmcDP, 5);
    EXPECT_EQ(s.tmcD, 1);
    EXPECT_EQ(s.tmcPN, 0);
    EXPECT_EQ(s.tmcExtent, 5);
    EXPECT_EQ(s.tmcEvent, 101);
    EXPECT_EQ(s.tmcLocation, 0x3A7F);
    EXPECT_STREQ(RDSDisplay(2), "Bloc C: 1010100001100101 A865 - D:1 PN:0 EXT:5 EVT:065");
    EXPECT_STREQ(RDSDisplay(3), "Bloc D: 0011101001111111 3A7F - LOC: 3A7F");
}

Group Eon(unsigned variant, uint16_t c, uint16_t otherPi, unsigned tp = 1)
{
    return {kPi, BlockB(28, (tp << 4) | variant), c, otherPi};
}

TEST(OtherNetworks, VariantsFillTheirFields)
{
    DecoderState s =
        Decode({Eon(0, 0x4142, 0x5555), Eon(3, 0x4748, 0x5555), Eon(4, 0x0102, 0x5555), Eon(5, 0x0304, 0x5555),
                Eon(9, 0x0510, 0x5555), Eon(13, 0x5001, 0x5555), Eon(14, 0xBEEF, 0x5555)});
    EXPECT_EQ(s.eonPi, 0x5555);
    EXPECT_STREQ(s.eonPs, "AB    GH");
    EXPECT_EQ(s.eonAf1, 876);
    EXPECT_EQ(s.eonAf2, 877);
    EXPECT_EQ(s.eonTuned[0], 878);
    EXPECT_EQ(s.eonMapped[0], 879);
    EXPECT_EQ(s.eonTuned[4], 880);
    EXPECT_EQ(s.eonMapped[4], 5310);
    EXPECT_EQ(s.eonPty, 10);
    EXPECT_EQ(s.eonTa, 1);
    EXPECT_EQ(s.eonPin, 0xBEEF);
    EXPECT_EQ(s.eonTp, 1);

    FeedBits(GroupBits({Eon(13, 0x5000, 0x5555), Eon(9, 0x0501, 0x5555)}));
    s = Record();
    EXPECT_EQ(s.eonTa, 0);
    EXPECT_EQ(s.eonMapped[4], 1530);
    EXPECT_STREQ(RDSDisplay(2), "Bloc C: 0000010100000001 0501 - EON TF5:088.0 MF5:153.0 ");
    EXPECT_STREQ(RDSDisplay(3), "Bloc D: 0101010101010101 5555 - EON PI:5555");
}

TEST(OtherNetworks, AnotherNetworkResetsTheEonFieldsBut14BDoesNot)
{
    DecoderState s = Decode(
        {Eon(0, 0x4142, 0x5555), Eon(14, 0xBEEF, 0x5555), {kPi, BlockB(29, 0x18), kPi, 0x7777}});  // 14B: TP 1, TA 1
    EXPECT_EQ(s.eonPi, 0x7777);
    EXPECT_EQ(s.eonPin, 0xBEEF);
    EXPECT_EQ(s.eonTa, 1);
    FeedBits(GroupBits({Eon(1, 0x4344, 0x6666, 0)}));
    s = Record();
    EXPECT_EQ(s.eonPi, 0x6666);
    EXPECT_EQ(s.eonPin, 0);
    EXPECT_EQ(s.eonTa, 0);
    EXPECT_EQ(s.eonTp, 0);
    EXPECT_STREQ(s.eonPs, "  CD    ");
    EXPECT_STREQ(RDSDisplay(2), "Bloc C: 0100001101000100 4344 - EON PS02:'C' PS03:'D' ('  CD    ')");
}

TEST(OtherNetworks, LinkageIsOnlyShown)
{
    Decode({Eon(12, 0x6ABC, 0x5555)});
    EXPECT_STREQ(RDSDisplay(2), "Bloc C: 0110101010111100 6ABC - EON LA:1 EG:1 ILS:0 LSN:0ABC");
}

}  // namespace
