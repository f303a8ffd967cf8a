// The station history: which texts count as received, bounded lists, the
// time series and the export formats, fed group by group.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "station_history.h"

namespace {

using rdsformats::GroupRecord;
using rdsformats::StationHistory;

constexpr uint16_t kPi = 0xC201;

GroupRecord Group(uint16_t b, uint16_t c, uint16_t d, uint8_t received = 0xF)
{
    GroupRecord g;
    g.blocks[0] = kPi;
    g.blocks[1] = b;
    g.blocks[2] = c;
    g.blocks[3] = d;
    g.received = received;
    for (int n = 0; n < 4; ++n)
        if (!(received >> n & 1)) g.blocks[n] = 0;
    return g;
}

// A 0A group carrying segment `segment` of the 8-character `ps`.
GroupRecord Ps(const char* ps, int segment, uint8_t received = 0xF, bool ta = false)
{
    const uint16_t d = static_cast<uint16_t>((unsigned char)ps[segment * 2] << 8 | (unsigned char)ps[segment * 2 + 1]);
    return Group(static_cast<uint16_t>(0x0400 | (ta ? 0x10 : 0) | segment), 0xE0CD, d, received);
}

// A 2A group with segment `segment` of `rt` (padded with spaces), flag `ab`.
GroupRecord Rt(const std::string& rt, int segment, int ab, uint8_t received = 0xF)
{
    std::string t = rt + std::string(64, ' ');
    const auto w = [&](int i) { return static_cast<uint16_t>((unsigned char)t[i] << 8 | (unsigned char)t[i + 1]); };
    return Group(static_cast<uint16_t>(0x2000 | ab << 4 | segment), w(segment * 4), w(segment * 4 + 2), received);
}

std::vector<std::string> Texts(const rdsformats::BoundedList<rdsformats::TextEntry>& list)
{
    std::vector<std::string> out;
    for (const auto& e : list.items) out.push_back(e.text);
    return out;
}

TEST(StationHistory, OnlyTextsReceivedWholeFromValidBlocksEnter)
{
    struct Case {
        const char* name;
        std::vector<GroupRecord> groups;
        std::vector<std::string> ps, rt;
    };
    const Case cases[] = {
        {"a PS of four valid segments",
         {Ps("RADIO 1 ", 0), Ps("RADIO 1 ", 1), Ps("RADIO 1 ", 2), Ps("RADIO 1 ", 3)},
         {"RADIO 1 "},
         {}},
        {"a segment with a lost block is not taken",
         {Ps("RADIO 1 ", 0), Ps("RADIO 1 ", 1), Ps("RADIO 1 ", 2), Ps("RADIO 1 ", 3, 0x7)},
         {},
         {}},
        {"a changed segment restarts the text: no mix of old and new",
         {Ps("RADIO 1 ", 0), Ps("RADIO 1 ", 1), Ps("RADIO 1 ", 2), Ps("RADIO 1 ", 3), Ps("NEWS AT ", 0),
          Ps("NEWS AT ", 1, 0x7), Ps("NEWS AT ", 2), Ps("NEWS AT ", 3)},
         {"RADIO 1 "},
         {}},
        {"... until the missing segment comes valid",
         {Ps("RADIO 1 ", 0), Ps("RADIO 1 ", 1), Ps("RADIO 1 ", 2), Ps("RADIO 1 ", 3), Ps("NEWS AT ", 0),
          Ps("NEWS AT ", 1, 0x7), Ps("NEWS AT ", 2), Ps("NEWS AT ", 3), Ps("NEWS AT ", 1)},
         {"RADIO 1 ", "NEWS AT "},
         {}},
        {"a dynamic PS gives a list of texts, a repeat only moves its last time",
         {Ps("RADIO 1 ", 0), Ps("RADIO 1 ", 1), Ps("RADIO 1 ", 2), Ps("RADIO 1 ", 3), Ps("RADIO 1 ", 0),
          Ps("NEWS AT ", 0), Ps("NEWS AT ", 1), Ps("NEWS AT ", 2), Ps("NEWS AT ", 3), Ps("RADIO 1 ", 0),
          Ps("RADIO 1 ", 1), Ps("RADIO 1 ", 2), Ps("RADIO 1 ", 3)},
         {"RADIO 1 ", "NEWS AT ", "RADIO 1 "},
         {}},
        {"a radiotext up to its end code", {Rt("Hello\r", 0, 0), Rt("Hello\r", 1, 0)}, {}, {"Hello"}},
        {"a radiotext without end code, complete when it starts over",
         {Rt("Morning show", 0, 0), Rt("Morning show", 1, 0), Rt("Morning show", 2, 0), Rt("Morning show", 0, 0)},
         {},
         {"Morning show"}},
        {"... or when the A/B flag turns",
         {Rt("Morning show", 0, 0), Rt("Morning show", 1, 0), Rt("Morning show", 2, 0), Rt("Next", 0, 1)},
         {},
         {"Morning show"}},
        {"a group lost in between leaves the text incomplete",
         {Rt("Morning show", 0, 0), Rt("Morning show", 1, 0), Rt("Morning show", 2, 0, 0xB), Rt("Morning show", 0, 0),
          Rt("Morning show", 1, 0)},
         {},
         {}},
        {"a radiotext that lost a block in its last segment is not cut short",
         {Rt("Hello world\r", 0, 0), Rt("Hello world\r", 1, 0), Rt("Hello world\r", 2, 0, 0x7),
          Rt("Hello world\r", 0, 0)},
         {},
         {}},
    };
    for (const Case& c : cases) {
        StationHistory h;
        h.reset(false);
        int64_t t = 0;
        for (const GroupRecord& g : c.groups) h.add(g, t += 9);
        const auto& stations = h.stations();
        const bool any = !stations.empty();
        EXPECT_EQ(any ? Texts(stations.at(kPi).ps) : std::vector<std::string>{}, c.ps) << c.name;
        EXPECT_EQ(any ? Texts(stations.at(kPi).radiotext) : std::vector<std::string>{}, c.rt) << c.name;
    }
}

TEST(StationHistory, TimesFlagsAndStatistics)
{
    StationHistory h;
    h.reset(false);
    int64_t t = 0;
    for (int round = 0; round < 2; ++round)
        for (int s = 0; s < 4; ++s) h.add(Ps("RADIO 1 ", s, 0xF, round == 1), t += 100);
    h.add(Group(0x4541, 0xA9F2, 0xFCC2), t += 100);  // 4A: 2026-12-08 ...
    h.add(Group(0x0000, 0, 0, 0x1), t += 100);       // block B lost: untyped
    GroupRecord repaired = Ps("OTHER   ", 0);
    repaired.blocks[0] = 0x1234;
    repaired.repaired = 0x1;
    h.add(repaired, t += 100);  // a repaired block A with a new PI: no station
    EXPECT_EQ(h.stations().size(), 1u);
    const auto& s = h.stations().at(kPi);
    ASSERT_EQ(s.ps.items.size(), 1u);
    EXPECT_EQ(s.ps.items[0].first, 400);
    EXPECT_EQ(s.ps.items[0].last, 800);
    ASSERT_EQ(s.flags.items.size(), 2u);
    EXPECT_EQ(s.flags.items[1].time, 500);
    EXPECT_TRUE(s.flags.items[1].ta);
    ASSERT_EQ(s.clock.items.size(), 1u);
    EXPECT_FALSE(s.clock.items[0].offset);  // recording offsets: no clock to compare with
    EXPECT_EQ(h.stats().count(0, 0), 9u);
    EXPECT_EQ(h.stats().untyped(), 1u);
    EXPECT_EQ(h.stats().blocksMissing(), 3u);
    EXPECT_EQ(h.formatTime(367512), "+01:01:15.12");
    EXPECT_NE(h.text().find("  PS   +00:00:04.00 to +00:00:08.00  \"RADIO 1 \"\n"), std::string::npos) << h.text();
    EXPECT_NE(h.statsCsv().find("0A,9,81.82,"), std::string::npos) << h.statsCsv();
    // A clock time the decoder had to repair is not believed: one mended
    // wrong bit would put the station's clock years off.
    GroupRecord mended = Group(0x4541, 0xA9F2, 0x0CC2);
    mended.repaired = 0x8;
    h.add(mended, t += 100);
    EXPECT_EQ(h.stations().at(kPi).clock.items.size(), 1u);
}

TEST(StationHistory, ListsAndSeriesStayBounded)
{
    StationHistory h(4);
    h.reset(false);
    int64_t t = 0;
    const char* const names[] = {"ONE     ", "TWO     ", "THREE   "};
    for (int i = 0; i < 30; ++i)
        for (int s = 0; s < 4; ++s) h.add(Ps(names[i % 3], s), t += 100);
    const auto& s = h.stations().at(kPi);
    EXPECT_EQ(s.ps.items.size(), 4u);
    EXPECT_EQ(s.ps.dropped, 26u);
    EXPECT_TRUE(h.truncated());
    EXPECT_NE(h.text().find("(26 older PS entries dropped)"), std::string::npos);
    // 120 one-second intervals merged down to at most 4, every group kept.
    EXPECT_LE(h.series().size(), 4u);
    EXPECT_GE(h.seriesInterval(), 3200);
    uint64_t groups = 0;
    for (const auto& p : h.series()) groups += p.groups;
    EXPECT_EQ(groups, 120u);
}

TEST(StationHistory, CsvQuotesTextsAndJsonEscapesThem)
{
    StationHistory h;
    h.reset(false);
    for (int s = 0; s < 4; ++s) h.add(Ps("A,\"B\"   ", s), 10 * s);
    EXPECT_NE(h.historyCsv().find("C201,PS,+00:00:00.30,+00:00:00.30,\"A,\"\"B\"\"   \"\r\n"), std::string::npos)
        << h.historyCsv();
    EXPECT_NE(h.json().find("\"ps\":[{\"text\":\"A,\\\"B\\\"   \",\"first\":0.30,\"last\":0.30}]"), std::string::npos)
        << h.json();
}

}  // namespace
