// Texts with per-character confidence, the station's texts gathered from
// groups, and the wide texts of eRT and long PS.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ert.h"
#include "oda_names.h"
#include "station_texts.h"
#include "text_confidence.h"
#include "tmc_message.h"

namespace {

using namespace rdsformats;

TEST(ConfidentText, ConfirmsOnlyWhatCameTwiceTheSameInCleanBlocks)
{
    struct Put {
        std::size_t pos;
        const char* bytes;
        bool clean;
        bool sure = false;  // the demodulator was sure of the block
    };
    const struct {
        const char* name;
        std::vector<Put> puts;
        const char* mask;
        const char* text;
        bool complete;
    } cases[] = {
        {"nothing", {}, "----", "    ", false},
        {"once sure", {{0, "AB", true, true}, {2, "CD", true, true}}, "cccc", "ABCD", true},
        {"sure but repaired", {{0, "AB", false, true}}, "pp--", "AB  ", false},
        {"a sure change demotes the others",
         {{0, "AB", true, true}, {2, "CD", true, true}, {2, "CX", true, true}},
         "ppcc",
         "ABCX",
         false},
        {"once clean", {{0, "AB", true}}, "pp--", "AB  ", false},
        {"twice clean", {{0, "AB", true}, {0, "AB", true}, {2, "CD", true}, {2, "CD", true}}, "cccc", "ABCD", true},
        {"repaired never confirms", {{0, "AB", false}, {0, "AB", false}, {0, "AB", false}}, "pp--", "AB  ", false},
        {"repaired then clean twice", {{0, "AB", false}, {0, "AB", true}, {0, "AB", true}}, "cc--", "AB  ", false},
        {"a repaired block disagreeing with a confirmed character is left out",
         {{0, "AB", true}, {0, "AB", true}, {0, "XB", false}},
         "cc--",
         "AB  ",
         false},
        {"a clean change demotes every other confirmed character",
         {{0, "AB", true}, {0, "AB", true}, {2, "CD", true}, {2, "CD", true}, {2, "CX", true}},
         "ppcp",
         "ABCX",
         false},
        {"and they come back with one clean reception",
         {{0, "AB", true},
          {0, "AB", true},
          {2, "CD", true},
          {2, "CD", true},
          {2, "CX", true},
          {0, "AB", true},
          {2, "CX", true}},
         "cccc",
         "ABCX",
         true},
    };
    for (const auto& c : cases) {
        ConfidentText t(4);
        for (const Put& p : c.puts) t.put(p.pos, reinterpret_cast<const uint8_t*>(p.bytes), 2, p.clean, p.sure);
        EXPECT_EQ(t.mask(4), c.mask) << c.name;
        EXPECT_EQ(RdsTextUtf8(t, 4), c.text) << c.name;
        EXPECT_EQ(t.complete(), c.complete) << c.name;
    }
}

TEST(ConfidentText, EndCodeAndLimitEndTheText)
{
    ConfidentText t(8, 0x0D);
    const uint8_t bytes[4] = {'H', 'i', 0x0D, ' '};
    t.put(0, bytes, 4, true);
    EXPECT_EQ(t.length(), 2u);
    EXPECT_FALSE(t.complete());
    t.put(0, bytes, 4, true);
    EXPECT_TRUE(t.complete());  // the end code confirmed too; the rest never comes
    ConfidentText u(8, 0x0D);
    u.put(0, bytes, 2, true);
    u.put(0, bytes, 2, true);
    EXPECT_FALSE(u.complete());
    u.setLimit(2);
    EXPECT_TRUE(u.complete());
    u.clear();
    EXPECT_EQ(u.limit(), 8u);
    EXPECT_FALSE(u.any());
}

GroupRecord Group(uint16_t a, uint16_t b, uint16_t c, uint16_t d, uint8_t repaired = 0)
{
    GroupRecord g;
    g.blocks[0] = a;
    g.blocks[1] = b;
    g.blocks[2] = c;
    g.blocks[3] = d;
    g.received = 0xF;
    g.repaired = repaired;
    return g;
}

TEST(StationTexts, RadiotextEndsWhereTheStationStartsOverAndAtItsFlag)
{
    StationTexts s;
    // "Hello, w" in two segments of 2A, sent three times over without end code.
    for (int round = 0; round < 3; ++round) {
        s.feed(Group(0x2001, 0x2000, 0x4865, 0x6C6C));
        s.feed(Group(0x2001, 0x2001, 0x6F2C, 0x2077));
    }
    EXPECT_TRUE(s.radiotext(0).complete());
    EXPECT_EQ(RdsTextUtf8(s.radiotext(0), s.radiotext(0).length()), "Hello, w");
    // A flipped A/B flag in a repaired block B is taken for an error...
    s.feed(Group(0x2001, 0x2010, 0x4865, 0x6C6C, 2));
    EXPECT_TRUE(s.radiotext(0).complete());
    // ... in a clean one it announces a new text.
    s.feed(Group(0x2001, 0x2010, 0x4865, 0x6C6C));
    EXPECT_EQ(s.radiotext(0).mask(8), "pppp----");
    // Another PI in a clean block A: another station, everything cleared.
    s.feed(Group(0x2002, 0x0000, 0xE0CD, 0x4142));
    EXPECT_EQ(s.pi(), 0x2002);
    EXPECT_FALSE(s.radiotext(0).any());
    EXPECT_EQ(s.ps().mask(8), "pp------");
}

TEST(StationTexts, DynamicPsIsASequence)
{
    StationTexts s;
    const char* const names[] = {"NOW     ", "PLAYING ", "ABBA    ", "NOW     "};
    for (const char* name : names)
        for (int round = 0; round < 2; ++round)
            for (unsigned seg = 0; seg < 4; ++seg)
                s.feed(Group(0x2001, static_cast<uint16_t>(seg), 0xE0CD,
                             static_cast<uint16_t>(uint8_t(name[seg * 2]) << 8 | uint8_t(name[seg * 2 + 1]))));
    EXPECT_TRUE(s.dynamicPs());
    EXPECT_EQ(std::vector<std::string>(s.psSequence().begin(), s.psSequence().end()),
              (std::vector<std::string>{"NOW     ", "PLAYING ", "ABBA    ", "NOW     "}));
}

TEST(WideText, Utf8AndUcs2WithTheirMasks)
{
    const struct {
        std::vector<uint8_t> bytes;
        bool ucs2, twice;
        const char* text;
        const char* mask;
    } cases[] = {
        {{'K', 0xC3, 0xBC, 0x0D}, false, true, "Kü", "cc"},
        {{'K', 0xC3, 0xBC, 0x0D}, false, false, "Kü", "pp"},
        {{0x00, 'K', 0x00, 0xFC, 0x0D, 0x0D}, true, true, "Kü", "cc"},
        {{'A', 0xFF, 'B', 0x0D},
         false,
         true,
         "A\xEF\xBF\xBD"
         "B",
         "ccc"},
    };
    for (const auto& c : cases) {
        ConfidentText t(8, 0x0D);
        for (int n = 0; n < (c.twice ? 2 : 1); ++n) t.put(0, c.bytes.data(), c.bytes.size(), true);
        const WideText w = DecodeWideText(t, c.ucs2);
        EXPECT_EQ(w.text, c.text);
        EXPECT_EQ(w.mask, c.mask);
    }
}

TEST(TmcAssembler, MultiGroupMessagesWholeOnlyWithoutGaps)
{
    // Event 12 (quantifier type 0) at location 203, continuity index 3; its
    // optional content packed over two more groups: duration 2 (label 0),
    // three control codes (label 1), then the 5-bit quantifier 3 (label 4)
    // and zeros.
    const uint16_t first[3] = {0x0003, 0x800C, 203};
    const uint16_t second[3] = {0x0003, 0x5000 | 0x042, 0x0408};  // second group, one more follows
    const uint16_t last[3] = {0x0003, 0x0418, 0x0000};            // group sequence indicator 0
    const struct {
        const char* name;
        std::vector<int> groups;  // 0 first, 1 second, 2 last, 3 last with another continuity index
        bool whole;
    } cases[] = {
        {"in order", {0, 1, 2}, true},
        {"repeated groups", {0, 0, 1, 1, 2}, true},
        {"second group lost", {0, 2}, false},
        {"first group lost", {1, 2}, false},
        {"another continuity index", {0, 1, 3}, false},
    };
    for (const auto& c : cases) {
        TmcAssembler a;
        bool whole = false;
        for (int g : c.groups) {
            const uint16_t* w = g == 0 ? first : g == 1 ? second : last;
            const uint16_t b = g == 3 ? 0x0004 : w[0];
            whole = a.feed(b, w[1], w[2]);
        }
        EXPECT_EQ(whole, c.whole) << c.name;
        if (!c.whole) continue;
        const TmcMessage& m = *a.last();
        EXPECT_EQ(m.event, 12) << c.name;
        EXPECT_EQ(m.location, 203) << c.name;
        EXPECT_EQ(m.duration, 2) << c.name;
        EXPECT_EQ(m.groups, 3) << c.name;
        ASSERT_TRUE(m.quantifier) << c.name;
        EXPECT_EQ(*m.quantifier, 3u) << c.name;
        EXPECT_EQ(TmcFillQuantity("(Q) accident(s)", TmcQuantifierText(TmcQuantifierType(m.event), *m.quantifier)),
                  "3 accidents");
        // Kept among the recent messages while others come.
        a.feed(0x0008, 0x0065, 500);  // a single-group message, event 101
        ASSERT_NE(a.recent(12, 203), nullptr) << c.name;
        EXPECT_EQ(*a.recent(12, 203)->quantifier, 3u) << c.name;
        EXPECT_EQ(a.recent(12, 500), nullptr) << c.name;
    }
    // A quantifier field of the wrong width for the event is not its quantifier.
    TmcAssembler a;
    a.feed(0x0003, 0x800C, 203);
    EXPECT_TRUE(a.feed(0x0003, uint16_t(0x4000 | 0x500), 0x3000));  // label 5, 8 bits
    EXPECT_FALSE(a.last()->quantifier);
    // Without a quantity the phrase stays as it is.
    EXPECT_EQ(TmcFillQuantity("(Q) accident(s)", {}), "(Q) accident(s)");
}

TEST(OdaNames, KnownAidsByName)
{
    EXPECT_STREQ(OdaName(0x4BD7), "RT+");
    EXPECT_STREQ(OdaName(0x6552), "eRT");
    EXPECT_STREQ(OdaName(0xCD46), "TMC");
    EXPECT_EQ(OdaName(0x1234), nullptr);
    EXPECT_EQ(OdaLabel(0x0093), "DAB cross-reference (0093)");
    EXPECT_EQ(OdaLabel(0x1234), "1234");
}

}  // namespace
