// Streams made by the generator, decoded by the Murlin decoder library: what
// was described must come back, through inversion, noise and hex packing.
#include "generator.h"
#include "rds_encoder.h"
#include "station.h"

#include <murlin.h>

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <set>
#include <sstream>
#include <tuple>

namespace {

using namespace rdsgen;

Station Parse(const std::string& text)
{
    std::istringstream in(text);
    return ParseStation(in, "test.rds");
}

struct DecodedGroup {
    DecoderState state;
    std::array<uint16_t, 4> words;
    std::array<std::string, 4> lines;
};

struct Decoded {
    std::vector<DecodedGroup> groups;
    int accepted = 0, badChecks = 0, repaired = 0;
    const DecoderState& last() const { return groups.back().state; }
};

// Puts the decoder in the same state before every run. RDSInit keeps the
// programme identification, block B fields, A/B flag, EON TP and clock, so a
// short stream of another station sets them all first.
void ResetDecoder()
{
    RDSInit();
    std::string other;
    const uint16_t pi = 0xFFFF;
    rdsenc::AppendGroup(other, pi, 0x0000, 0xE0CD, 0x2020);  // 0A
    rdsenc::AppendGroup(other, pi, 0x4000, 0x0000, 0x0000);  // 4A: clock fields 0
    rdsenc::AppendGroup(other, pi, 0x2000, 0x2020, 0x2020);  // 2A: A/B flag 0
    rdsenc::AppendGroup(other, pi, 0xE800, pi, 0x0000);      // 14B: EON TP 0
    rdsenc::AppendGroup(other, pi, 0x0000, 0xE0CD, 0x2020);  // 0A: block B fields 0
    for (char b : other) RDSBitFrame(b == '1', 0);
    RDSInit();
    RDSStat(3);
}

void Collect(Decoded& out, int status)
{
    if (status == MURLIN_STATUS_NONE || (status >> 12) != 0) return;
    DecodedGroup g{};
    RDSStruct(&g.state);
    for (int n = 0; n < 4; ++n) {
        g.words[size_t(n)] = uint16_t(RDSData(n));
        const char* line = RDSDisplay(n);
        g.lines[size_t(n)] = line ? line : "";
    }
    out.groups.push_back(g);
}

void Finish(Decoded& out)
{
    out.accepted = RDSStat(0);
    out.badChecks = RDSStat(1);
    out.repaired = RDSStat(2);
}

Decoded DecodeBits(const std::string& bits, bool invert = false)
{
    ResetDecoder();
    Decoded out;
    for (char b : bits) Collect(out, RDSBitFrame(b == '1', invert));
    Finish(out);
    return out;
}

Decoded DecodeHex(const std::string& hex, bool invert = false)
{
    ResetDecoder();
    Decoded out;
    for (size_t i = 0; i + 1 < hex.size(); i += 2)
        Collect(out, RDSBytFrame(std::stoi(hex.substr(i, 2), nullptr, 16), invert));
    Finish(out);
    return out;
}

std::string Padded(const std::string& text, size_t n)
{
    std::string s = text;
    s.resize(n, ' ');
    return s;
}

const char* const kStation = R"(
pi 0xC2A1
pty 10
tp 1
ta 0
ms music
di stereo dynamic-pty
ps "KESTREL "
af 97.4 89.1 91.6 101.7 104.3 531
rt A "First message on air"
rt A "Second one"
rt B "Bee text"
rt-repeat 3
rpc 5
pin 8:19:30
slc 0 0x0E1
slc 3 0x2A5 la
ct 2026-12-08 19:55:10 +1
oda 0xCD46 8A 0x0064
oda 0x4BD7 11A 0x1234
tmc event=101 location=0x3A2F extent=2 duration=3 direction=1 diversion=0 f=1
tmc event=201 location=0x12C4 extent=1 duration=2 direction=0 diversion=1 t=1 f=0
eon 0xC2A2 ps="KESTRELX" tp=1 ta=1 pty=11 pin=8:20:05 af=88.2,95.3 mapped=97.4:88.2,89.1:95.3,91.6:99.9,101.7:106.1 am=104.3:1485 linkage=0x1234 v10=0x0A0A v11=0x0B0B v15=0x0F0F
raw 5A 0x03 0x4B45 0x5354
schedule 0A 2A 14A 0A 2B 1A 14A 3A 8A 14A 2A 4A 14B 15B 5A 14A
)";

class RoundTrip : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        station_ = new Station(Parse(kStation));
        StreamOptions o;
        o.groups = 600;
        o.garbageBits = 77;
        clean_ = new std::string(GenerateBits(*station_, o));
        decoded_ = new Decoded(DecodeBits(*clean_));
    }
    static void TearDownTestSuite()
    {
        delete station_;
        delete clean_;
        delete decoded_;
    }
    static Station* station_;
    static std::string* clean_;
    static Decoded* decoded_;
};
Station* RoundTrip::station_ = nullptr;
std::string* RoundTrip::clean_ = nullptr;
Decoded* RoundTrip::decoded_ = nullptr;

TEST_F(RoundTrip, EveryGroupOfACleanStreamDecodes)
{
    // 600 groups after leading garbage: all but the first, whose block A is
    // only found by the search, reach the decoder.
    EXPECT_GE(decoded_->groups.size(), 599u);
    EXPECT_EQ(decoded_->badChecks, 0);
    EXPECT_EQ(decoded_->repaired, 0);
}

TEST_F(RoundTrip, BasicTuningData)
{
    const DecoderState& s = decoded_->last();
    EXPECT_EQ(s.pi, 0xC2A1);
    EXPECT_EQ(s.pty, 10);
    EXPECT_EQ(s.tp, 1);
    EXPECT_EQ(s.ta, 0);
    EXPECT_EQ(s.ms, 1);
    EXPECT_STREQ(s.ps, "KESTREL ");
    // d0 stereo, d3 dynamic PTY.
    EXPECT_EQ(s.di[0], 1);
    EXPECT_EQ(s.di[1], 0);
    EXPECT_EQ(s.di[2], 0);
    EXPECT_EQ(s.di[3], 1);
    // Method A: the count includes the MF entry, which the decoder only shows.
    EXPECT_EQ(s.afCount, 6);
    const uint16_t fm[] = {974, 891, 916, 1017, 1043};
    for (int i = 0; i < 5; ++i) EXPECT_EQ(s.afList[i], fm[i]) << "entry " << i;
    for (int i = 5; i < 25; ++i) EXPECT_EQ(s.afList[i], 0) << "entry " << i;
    bool mfShown = false;
    for (const auto& g : decoded_->groups) mfShown |= g.lines[2].find("AFMF:531.0") != std::string::npos;
    EXPECT_TRUE(mfShown);
    EXPECT_EQ(s.groupsSeen, 1u << 0 | 1u << 2 | 1u << 4 | 1u << 5 | 1u << 6 | 1u << 8 | 1u << 10 | 1u << 16 | 1u << 28 |
                                1u << 29 | 1u << 31);
}

TEST_F(RoundTrip, RadiotextAAndBWithFlagFlips)
{
    std::set<std::string> fullA;
    std::set<int> flags;
    bool fullB = false;
    int flips = 0;
    int lastFlag = -1;
    for (const auto& g : decoded_->groups) {
        const DecoderState& s = g.state;
        if (s.groupType != 2) continue;
        fullA.insert(s.radioText);
        fullB |= std::string(s.radioTextB) == Padded("Bee text", 32);
        flags.insert(s.textAB);
        if (lastFlag >= 0 && s.textAB != lastFlag) ++flips;
        lastFlag = s.textAB;
    }
    EXPECT_TRUE(fullA.count(Padded("First message on air", 64)));
    EXPECT_TRUE(fullA.count(Padded("Second one", 64)));
    // No mixture of the two messages ever shows: the flip clears the text,
    // so every position holds a space or the character of one message.
    const std::string messages[] = {Padded("First message on air", 64), Padded("Second one", 64)};
    for (const auto& t : fullA) {
        bool fits = false;
        for (const auto& m : messages) {
            bool all = true;
            for (size_t i = 0; i < 64; ++i) all &= t[i] == ' ' || t[i] == m[i];
            fits |= all;
        }
        EXPECT_TRUE(fits) << t;
    }
    EXPECT_TRUE(fullB);
    EXPECT_EQ(flags, (std::set<int>{0, 1}));
    EXPECT_GE(flips, 4);
}

TEST_F(RoundTrip, ClockTimeAndOffset)
{
    const DecoderState& s = decoded_->last();
    EXPECT_EQ(s.year, 2026);
    EXPECT_EQ(s.month, 12);
    EXPECT_EQ(s.day, 8);
    EXPECT_EQ(s.hour, 19);
    // 600 groups last about 52.5 s from 19:55:10.
    EXPECT_EQ(s.minute, 56);
    EXPECT_EQ(s.localOffset, 10);
    EXPECT_STREQ(s.clockText, "2026/12/08 19:56TU +1.0");
}

TEST_F(RoundTrip, PinSlowLabellingAndPaging)
{
    std::set<uint16_t> slc;
    for (const auto& g : decoded_->groups)
        if (g.state.groupType == 1) slc.insert(g.state.slc);
    EXPECT_EQ(slc, (std::set<uint16_t>{0x00E1, 0x8000 | 0x3000 | 0x2A5}));
    const DecoderState& s = decoded_->last();
    EXPECT_EQ(s.pin, 8 << 11 | 19 << 6 | 30);
    EXPECT_EQ(s.rpc, 5);
}

TEST_F(RoundTrip, OpenDataApplications)
{
    std::set<std::tuple<int, int, int, int>> oda;
    for (const auto& g : decoded_->groups)
        if (g.state.groupType == 3)
            oda.insert({g.state.odaGroupType, g.state.odaGroupVersion, g.state.odaMessage, g.state.odaAid});
    EXPECT_EQ(oda, (std::set<std::tuple<int, int, int, int>>{{8, 0, 0x0064, 0xCD46}, {11, 0, 0x1234, 0x4BD7}}));
}

TEST_F(RoundTrip, TmcMessages)
{
    using Tmc = std::tuple<int, int, int, int, int, int, int, int>;  // T F DP D PN extent event location
    std::set<Tmc> seen;
    for (const auto& g : decoded_->groups) {
        const DecoderState& s = g.state;
        if (s.groupType == 8)
            seen.insert({s.tmcT, s.tmcF, s.tmcDP, s.tmcD, s.tmcPN, s.tmcExtent, s.tmcEvent, s.tmcLocation});
    }
    EXPECT_EQ(seen, (std::set<Tmc>{{0, 1, 3, 0, 1, 2, 101, 0x3A2F}, {1, 0, 2, 1, 0, 1, 201, 0x12C4}}));
}

TEST_F(RoundTrip, EnhancedOtherNetworksEveryVariant)
{
    std::set<int> variants;
    bool fourteenB = false;
    for (const auto& g : decoded_->groups) {
        if (g.state.groupType != 14) continue;
        if (g.state.groupVersion == 0) {
            variants.insert(g.words[1] & 15);
        } else {
            fourteenB |= g.words[3] == 0xC2A2 && g.words[2] == 0xC2A1;
        }
        if (g.state.groupVersion == 0 && (g.words[1] & 15) == 12) {
            EXPECT_NE(g.lines[2].find("EON LA:0 EG:0 ILS:1 LSN:0234"), std::string::npos) << g.lines[2];
        }
    }
    std::set<int> all;
    for (int v = 0; v < 16; ++v) all.insert(v);
    EXPECT_EQ(variants, all);
    EXPECT_TRUE(fourteenB);

    const DecoderState& s = decoded_->last();
    EXPECT_EQ(s.eonPi, 0xC2A2);
    EXPECT_STREQ(s.eonPs, "KESTRELX");
    EXPECT_EQ(s.eonTp, 1);
    EXPECT_EQ(s.eonTa, 1);
    EXPECT_EQ(s.eonPty, 11);
    EXPECT_EQ(s.eonPin, 8 << 11 | 20 << 6 | 5);
    EXPECT_EQ(s.eonAf1, 882);
    EXPECT_EQ(s.eonAf2, 953);
    const uint16_t tuned[] = {974, 891, 916, 1017, 1043};
    const uint16_t mapped[] = {882, 953, 999, 1061, 14850};  // the last in 0.1 kHz: 1485 kHz
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(s.eonTuned[i], tuned[i]) << i;
        EXPECT_EQ(s.eonMapped[i], mapped[i]) << i;
    }
}

TEST_F(RoundTrip, RawAndFifteenBGroups)
{
    bool raw = false, fifteen = false;
    for (const auto& g : decoded_->groups) {
        if (g.state.groupType == 5)
            raw |= (g.words[1] & 0xF81F) == 0x5003 && g.words[2] == 0x4B45 && g.words[3] == 0x5354;
        if (g.state.groupType == 15) fifteen |= g.words[3] == g.words[1] && g.words[2] == 0xC2A1;
    }
    EXPECT_TRUE(raw);
    EXPECT_TRUE(fifteen);
}

TEST_F(RoundTrip, InvertedStreamWithInvertFlagDecodesTheSame)
{
    StreamOptions o;
    o.groups = 600;
    o.garbageBits = 77;
    o.invert = true;
    const Decoded inv = DecodeBits(GenerateBits(*station_, o), true);
    ASSERT_EQ(inv.groups.size(), decoded_->groups.size());
    for (size_t i = 0; i < inv.groups.size(); ++i) {
        ASSERT_EQ(std::memcmp(&inv.groups[i].state, &decoded_->groups[i].state, sizeof(DecoderState)), 0) << i;
        ASSERT_EQ(inv.groups[i].lines, decoded_->groups[i].lines) << i;
    }
    // Without the flag an inverted stream never synchronises.
    EXPECT_TRUE(DecodeBits(GenerateBits(*station_, o), false).groups.empty());
}

TEST_F(RoundTrip, HexTextCarriesTheSameBits)
{
    const Decoded hex = DecodeHex(rdsenc::BitsToHex(*clean_));
    ASSERT_EQ(hex.groups.size(), decoded_->groups.size());
    for (size_t i = 0; i < hex.groups.size(); ++i)
        ASSERT_EQ(std::memcmp(&hex.groups[i].state, &decoded_->groups[i].state, sizeof(DecoderState)), 0) << i;
}

TEST_F(RoundTrip, LowErrorRateStillDecodesWithRepairs)
{
    StreamOptions o;
    o.groups = 600;
    o.garbageBits = 77;
    o.errorRate = 0.002;
    o.seed = 11;
    const Decoded noisy = DecodeBits(GenerateBits(*station_, o));
    EXPECT_GT(noisy.repaired, 10);
    EXPECT_GT(noisy.badChecks, noisy.repaired / 2);
    EXPECT_GE(noisy.groups.size(), decoded_->groups.size() * 8 / 10);
    EXPECT_EQ(noisy.last().pi, 0xC2A1);
    EXPECT_STREQ(noisy.last().ps, "KESTREL ");
}

TEST_F(RoundTrip, BurstLosesGroupsOnlyWhileItLasts)
{
    StreamOptions o;
    o.groups = 600;
    o.garbageBits = 77;
    o.bursts.push_back({20000, 2000, 0.5});
    const Decoded hit = DecodeBits(GenerateBits(*station_, o));
    // About 20 groups lie in the burst; resynchronising costs a few more.
    EXPECT_LT(hit.groups.size(), decoded_->groups.size() - 15);
    EXPECT_GT(hit.groups.size(), decoded_->groups.size() - 40);
    EXPECT_STREQ(hit.last().ps, "KESTREL ");
}

TEST(RoundTripClock, NegativeOffsetAndDateRollOver)
{
    const Station s = Parse("pi 0x1234\nct 2026-12-31 23:59:50 -5.5\nschedule 0A\n");
    StreamOptions o;
    o.seconds = 20;
    const Decoded d = DecodeBits(GenerateBits(s, o));
    ASSERT_FALSE(d.groups.empty());
    // The clock group at the new minute carries the new year.
    const DecoderState& last = d.last();
    EXPECT_EQ(last.year, 2027);
    EXPECT_EQ(last.month, 1);
    EXPECT_EQ(last.day, 1);
    EXPECT_EQ(last.hour, 0);
    EXPECT_EQ(last.minute, 0);
    EXPECT_EQ(last.localOffset, -55);
}

}  // namespace
