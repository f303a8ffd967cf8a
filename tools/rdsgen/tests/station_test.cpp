// The description parser, the command line and the stream options, without
// a decoder: what is refused, and with which message.
#include "station.h"
#include "generator.h"
#include "options.h"
#include "rds_encoder.h"

#include <gtest/gtest.h>

#include <set>
#include <sstream>

namespace {

using namespace rdsgen;

Station Parse(const std::string& text)
{
    std::istringstream in(text);
    return ParseStation(in, "test.rds");
}

// The error message of a description that must be refused.
std::string ErrorOf(const std::string& text)
{
    try {
        Parse(text);
    } catch (const DescriptionError& e) {
        return e.what();
    }
    return "(accepted)";
}

TEST(Description, ReadsEverySetting)
{
    const Station s = Parse(R"(# a comment line
pi 0xC2A1   # trailing comment
pty 10
tp on
ta 1
ms speech
di stereo dynamic-pty
ps "AB \"C\" #"
af 97.4 87.6 107.9 153 531 1602
rt A "Hello"
rt "World"
rt B "Short"
rt-repeat 4
rpc 7
pin 8:19:30
slc 3 0x2A5 la
ct 2026-12-08 19:55:10 -5.5
oda 0xCD46 8A 0x64
tmc event=101 location=0x3A2F extent=2 duration=3 direction=1 diversion=1 t=1 f=0
eon 0xC2A2 ps="OTHER" tp=1 ta=1 pty=11 pin=1:2:3 af=88.2,95.3,99.0 mapped=97.4:88.2 am=97.4:1485 linkage=0x1234 v10=5
raw 5A 0x1F pi 0x5678
schedule 0A*3 2A 5A
)");
    EXPECT_EQ(s.pi, 0xC2A1);
    EXPECT_EQ(s.pty, 10);
    EXPECT_TRUE(s.tp);
    EXPECT_TRUE(s.ta);
    EXPECT_FALSE(s.ms);
    EXPECT_EQ(s.di, 0x9);
    EXPECT_EQ(s.ps, "AB \"C\" #");
    ASSERT_EQ(s.af.size(), 6u);
    EXPECT_EQ(s.af[0].code, 99);
    EXPECT_EQ(s.af[1].code, 1);
    EXPECT_EQ(s.af[2].code, 204);
    EXPECT_TRUE(s.af[3].lfmf);
    EXPECT_EQ(s.af[3].code, 1);
    EXPECT_EQ(s.af[4].code, 16);
    EXPECT_EQ(s.af[5].code, 135);
    ASSERT_EQ(s.radioTextA.size(), 2u);
    EXPECT_EQ(s.radioTextA[1], "World" + std::string(59, ' '));
    ASSERT_EQ(s.radioTextB.size(), 1u);
    EXPECT_EQ(s.radioTextB[0].size(), 32u);
    EXPECT_EQ(s.rtRepeat, 4);
    EXPECT_EQ(s.rpc, 7);
    EXPECT_EQ(s.pin, uint16_t(8 << 11 | 19 << 6 | 30));
    ASSERT_EQ(s.slc.size(), 1u);
    EXPECT_EQ(s.slc[0], 0x8000 | 3 << 12 | 0x2A5);
    ASSERT_TRUE(s.clock);
    EXPECT_EQ(s.clock->offsetHalfHours, -11);
    EXPECT_EQ(s.clock->startSeconds % 86400, 19 * 3600 + 55 * 60 + 10);
    ASSERT_EQ(s.oda.size(), 1u);
    EXPECT_EQ(s.oda[0].group, (GroupId{8, 0}));
    ASSERT_EQ(s.tmc.size(), 1u);
    EXPECT_TRUE(s.tmc[0].tuning);
    EXPECT_FALSE(s.tmc[0].single);
    ASSERT_EQ(s.eon.size(), 1u);
    const EonNetwork& n = s.eon[0];
    EXPECT_EQ(n.variants[0], uint16_t('O' << 8 | 'T'));
    EXPECT_EQ(n.variants[3], uint16_t(' ' << 8 | ' '));
    EXPECT_EQ(n.variants[4], uint16_t(7 << 8 | 78));
    EXPECT_EQ(n.extraAf, std::vector<uint16_t>{uint16_t(115 << 8 | 205)});
    EXPECT_EQ(n.variants[9], uint16_t(99 << 8 | (16 + (1485 - 531) / 9)));
    EXPECT_EQ(n.variants[13], uint16_t(11 << 11 | 1));
    EXPECT_EQ(n.variants[10], 5);
    EXPECT_FALSE(n.variants[11]);
    ASSERT_EQ(s.raw.size(), 1u);
    EXPECT_FALSE(s.raw[0].c);
    EXPECT_EQ(s.schedule.size(), 5u);
}

TEST(Description, RefusesBadLinesNamingFileLineAndProblem)
{
    const std::pair<const char*, const char*> cases[] = {
        {"pi 0xC2A1\npz 3\n", "test.rds:2: unknown key 'pz'"},
        {"pi 0x1FFFF\n", "test.rds:1: pi: 0x1FFFF is out of range 0..65535"},
        {"pi 0xC2A1\npi 0xC2A2\n", "test.rds:2: pi: given twice"},
        {"pi 1\nps \"TOO LONG NAME\"\n", "test.rds:2: ps: text of 13 characters is longer than 8"},
        {"pi 1\nps \"OPEN\n", "test.rds:2: quoted text is not closed"},
        {"pi 1\naf 87.55\n", "test.rds:2: af: 87.55 MHz is not on the 100 kHz raster"},
        {"pi 1\naf 108.0\n", "test.rds:2: af: 108.0 MHz is outside 87.6..107.9"},
        {"pi 1\naf 530\n", "test.rds:2: af: 530 kHz is not an LF (153..279) or MF (531..1602) channel in 9 kHz steps"},
        {"pi 1\npty 32\n", "test.rds:2: pty: 32 is out of range 0..31"},
        {"pi 1\ntp maybe\n", "test.rds:2: tp: 'maybe' is not 0/1 or on/off"},
        {"pi 1\nct 2026-02-30 10:00 +1\n", "test.rds:2: ct: 2026-02-30 is not a date"},
        {"pi 1\nct 2026-02-03 10:00 +1.25\n", "test.rds:2: ct: local offset +1.25 is not a multiple of half an hour"},
        {"pi 1\nct 2026-02-03 10:00 1\n",
         "test.rds:2: ct: local offset '1' must start with + or -, in hours, e.g. +1 or -5.5"},
        {"pi 1\nct 2026-02-03 10:00 --5\n", "test.rds:2: ct: local offset --5 has more than one sign"},
        {"pi 1\nct 2026-02-03 10:00 +-5\n", "test.rds:2: ct: local offset +-5 has more than one sign"},
        {"pi 1\ntmc event=101\n", "test.rds:2: tmc: event= and location= are required"},
        {"pi 1\ntmc event=2048 location=1\n", "test.rds:2: tmc event: 2048 is out of range 0..2047"},
        {"pi 1\neon 0x22 colour=red\n", "test.rds:2: eon: unknown field 'colour'"},
        {"pi 1\neon 0x22 am=97.4:98.0\n", "test.rds:2: eon am: the mapped frequency 98.0 must be LF/MF in kHz"},
        {"pi 1\nraw 16A 0 0 0\n", "test.rds:2: raw: '16A' is not a group such as 0A or 14B"},
        {"pi 1\nschedule 0A 8A\n", "test.rds:2: schedule: group 8A needs a tmc line"},
        {"pi 1\nschedule 0A*0\n", "test.rds:2: schedule count: 0 is out of range 1..1000"},
        {"pi 1\npin 32:1:1\n", "test.rds:2: pin day: 32 is out of range 0..31"},
        {"ps \"ABC\"\n", "test.rds: no pi line: the programme identification is required"},
        {"pi 1\nrt A \"\"\n", "test.rds:2: rt: empty text"},
        {"pi 1\nrt C \"x\"\n", "test.rds:2: rt: version 'C' is not A or B"},
        {"pi 1\nps \"RADIO ÖÖÖ\"\n", "test.rds:2: ps: text of 9 characters is longer than 8"},
        {"pi 1\nps \"a~b\"\n", "test.rds:2: ps: character '~' (U+007E) is not in the RDS character set"},
        {"pi 1\nrt A \"caf\xE9\"\n", "test.rds:2: rt A: text is not valid UTF-8 (byte 4)"},
        {"pi 1\neon 2 ps=\"✓\"\n", "test.rds:2: eon ps: character '✓' (U+2713) is not in the RDS character set"},
        {"pi 1\nlong-ps \"Radio Kestrel, the coast's own st\"\n",
         "test.rds:2: long-ps: the text is 33 bytes, at most 32"},
        {"pi 1\nlong-ps \"caf\xE9\"\n", "test.rds:2: long-ps: the text is not valid UTF-8"},
        {"pi 1\nert 16A \"x\"\n", "test.rds:2: ert: '16A' is not a group such as 0A or 14B"},
        {"pi 1\nert 12A \"\"\n", "test.rds:2: ert: empty text"},
        {"pi 1\ndab-ensemble 13A 0xE1C2 225650\n",
         "test.rds:2: dab-ensemble: the frequency must be a multiple of 16 kHz"},
        {"pi 1\ndab-ensemble 13A 0xE1C2 225648 4\n", "test.rds:2: dab-ensemble mode: 4 is out of range 0..3"},
        {"pi 1\ndab-service 13A 0xE1C2\n", "test.rds:2: dab-service"},
    };
    for (const auto& [text, message] : cases) {
        const std::string got = ErrorOf(text);
        EXPECT_EQ(got.substr(0, std::string(message).size()), message) << "for: " << text;
    }
}

TEST(Description, TextIsUtf8SentInTheRdsCharacterSet)
{
    const Station s = Parse("pi 1\nps \"RADIO Ö \"\nrt B \"Straße 5 €\"\neon 2 ps=\"Ärger\"\n");
    EXPECT_EQ(s.ps, "RADIO \xD7 ");
    ASSERT_EQ(s.radioTextB.size(), 1u);
    EXPECT_EQ(s.radioTextB[0],
              "Stra\x8D"
              "e 5 \xA9" +
                  std::string(22, ' '));
    EXPECT_EQ(s.eon[0].variants[0], uint16_t(0xD172));  // "Är"
}

TEST(Description, DefaultScheduleHoldsOnlyDescribedGroups)
{
    const Station bare = Parse("pi 0x1234\n");
    ASSERT_FALSE(bare.schedule.empty());
    for (GroupId g : bare.schedule) EXPECT_EQ(g, (GroupId{0, 0}));

    const Station full = Parse(
        "pi 1\nrt A \"x\"\nrt B \"y\"\npin 1:1:1\noda 1 8A\ntmc event=1 location=1\n"
        "eon 2 ps=\"N\"\nraw 5A 0 0 0\n");
    std::set<std::string> names;
    for (GroupId g : full.schedule) names.insert(GroupName(g));
    EXPECT_EQ(names, (std::set<std::string>{"0A", "1A", "2A", "2B", "3A", "5A", "8A", "14A", "14B"}));
}

TEST(CommandLine, ReadsOptionsAndRefusesBadOnes)
{
    const CommandLine cl = ParseCommandLine({"rdsgen", "s.rds", "--hex", "-o", "out.txt", "--seconds", "2.5",
                                             "--garbage", "33", "--error-rate", "0.001", "--burst", "100:50", "--burst",
                                             "1s:0.5s:0.25", "--invert", "--seed", "7"});
    EXPECT_EQ(cl.description, "s.rds");
    EXPECT_EQ(cl.output, "out.txt");
    EXPECT_TRUE(cl.hex);
    EXPECT_DOUBLE_EQ(cl.stream.seconds, 2.5);
    EXPECT_EQ(cl.stream.garbageBits, 33);
    EXPECT_DOUBLE_EQ(cl.stream.errorRate, 0.001);
    ASSERT_EQ(cl.stream.bursts.size(), 2u);
    EXPECT_EQ(cl.stream.bursts[0].start, 100);
    EXPECT_EQ(cl.stream.bursts[0].length, 50);
    EXPECT_DOUBLE_EQ(cl.stream.bursts[0].rate, 0.5);
    EXPECT_EQ(cl.stream.bursts[1].start, 1188);  // 1 s at 1187.5 bit/s, rounded
    EXPECT_EQ(cl.stream.bursts[1].length, 594);
    EXPECT_DOUBLE_EQ(cl.stream.bursts[1].rate, 0.25);
    EXPECT_TRUE(cl.stream.invert);
    EXPECT_EQ(cl.stream.seed, 7u);
    EXPECT_EQ(ParseCommandLine({"rdsgen", "s.rds"}).output, "-");

    const std::pair<QStringList, std::string> bad[] = {
        {{"rdsgen"}, "no station description file given"},
        {{"rdsgen", "a", "b"}, "more than one description file given: a b"},
        {{"rdsgen", "a", "--colour"}, "unknown option '--colour'"},
        {{"rdsgen", "a", "--seconds", "abc"}, "--seconds: 'abc' is not a number"},
        {{"rdsgen", "a", "--seconds", "0"}, "--seconds: must be above 0"},
        {{"rdsgen", "a", "-d", "1", "-n", "3"}, "--seconds and --groups cannot both be given"},
        {{"rdsgen", "a", "--groups", "-2"}, "--groups: -2 is out of range"},
        {{"rdsgen", "a", "--groups", "1000001"}, "--groups: 1000001 is out of range 1..1000000"},
        {{"rdsgen", "a", "--error-rate", "1.5"}, "--error-rate: must be within 0..1"},
        {{"rdsgen", "a", "--burst", "10"}, "--burst: '10' is not at:length or at:length:rate"},
        {{"rdsgen", "a", "--burst", "10:x"}, "--burst length: 'x' is not a whole number"},
        {{"rdsgen", "a", "--seed", "1", "--seed", "2"}, "--seed given more than once"},
        {{"rdsgen", "a", "--output"}, "option '--output' needs a file name"},
    };
    for (const auto& [args, message] : bad) {
        std::string got = "(accepted)";
        try {
            ParseCommandLine(args);
        } catch (const UsageError& e) {
            got = e.what();
        }
        EXPECT_EQ(got.substr(0, message.size()), message) << args.join(' ').toStdString();
    }
}

TEST(Stream, LengthGarbageBurstsAndSeed)
{
    const Station s = Parse("pi 0x1234\nps \"ABCDEFGH\"\n");
    StreamOptions o;
    o.seconds = 2;
    EXPECT_EQ(GenerateBits(s, o).size(), 2375u);
    o.garbageBits = 10;
    EXPECT_EQ(GenerateBits(s, o).size(), 2385u);
    o.groups = 3;
    const std::string clean = GenerateBits(s, o);
    ASSERT_EQ(clean.size(), 10u + 3 * 104);
    EXPECT_EQ(clean.find_first_not_of("01"), std::string::npos);

    // The same seed gives the same stream, another seed other garbage.
    EXPECT_EQ(GenerateBits(s, o), clean);
    StreamOptions other = o;
    other.seed = 2;
    EXPECT_NE(GenerateBits(s, other).substr(0, 10), clean.substr(0, 10));
    EXPECT_EQ(GenerateBits(s, other).substr(10), clean.substr(10));

    // A burst changes only the bits it covers.
    StreamOptions noisy = o;
    noisy.bursts.push_back({100, 60, 1.0});
    const std::string hit = GenerateBits(s, noisy);
    for (size_t i = 0; i < clean.size(); ++i) EXPECT_EQ(hit[i] != clean[i], i >= 100 && i < 160) << "bit " << i;

    // Inversion flips every bit.
    StreamOptions inverted = o;
    inverted.invert = true;
    const std::string inv = GenerateBits(s, inverted);
    for (size_t i = 0; i < clean.size(); ++i) ASSERT_NE(inv[i], clean[i]);
}

TEST(Stream, HexPacksTheBitsMostSignificantFirst)
{
    EXPECT_EQ(rdsenc::BitsToHex("10000000"
                                "00000001"
                                "1111"),
              "8001F0");
    EXPECT_EQ(rdsenc::BitsToHex(""), "");
    const Station s = Parse("pi 0xC2A1\n");
    StreamOptions o;
    o.groups = 1;
    // Block A of PI 0xC2A1 starts the stream: its 16 information bits first.
    EXPECT_EQ(rdsenc::BitsToHex(GenerateBits(s, o)).substr(0, 4), "C2A1");
}

}  // namespace
