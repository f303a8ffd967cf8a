// What is made of decoded groups: groups gathered from status words,
// statistics and RadioText Plus items.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "group_assembler.h"
#include "group_stats.h"
#include "rtplus.h"
#include "status_word.h"

namespace {

using namespace rdsformats;

// Status words as the decoder reports them.
constexpr uint16_t kSearchA = 0x1201, kSearchB = 0x1002, kA = 0x1001, kB = 0x1002, kC = 0x1003, kCp = 0x1004,
                   kDGroup = 0x0000, kDDamaged = 0x1000, kRepairedC = 0x1023, kFailed = 0x1035, kLost = 0x1335,
                   kReset = 0x1115;

TEST(StatusWord, ReadsItsFields)
{
    const struct {
        uint16_t word;
        int sequence, sync, check, blockIndex;
        bool nothing, groupDecoded, usable, known;
    } cases[] = {
        {0x1215, 1, 2, 1, -1, true, false, false, true},   // nothing happened
        {0x0000, 0, 0, 0, 3, false, true, true, true},     // D ends a group
        {0x1201, 1, 2, 0, 0, false, false, true, true},    // A while searching
        {0x1022, 1, 0, 2, 1, false, false, true, true},    // B repaired
        {0x1004, 1, 0, 0, 2, false, false, true, true},    // C'
        {0x1335, 1, 3, 3, -1, false, false, false, true},  // lost, no block
        {0x1115, 1, 1, 1, -1, false, false, false, true},  // automatic reset
        {0xFFF6, 15, 15, 15, -1, false, false, false, false},
    };
    for (const auto& c : cases) {
        const StatusWord s(c.word);
        EXPECT_EQ(s.word(), c.word);
        EXPECT_EQ(s.sequence(), c.sequence) << std::hex << c.word;
        EXPECT_EQ(s.sync(), c.sync) << std::hex << c.word;
        EXPECT_EQ(s.check(), c.check) << std::hex << c.word;
        EXPECT_EQ(s.blockIndex(), c.blockIndex) << std::hex << c.word;
        EXPECT_EQ(s.nothing(), c.nothing) << std::hex << c.word;
        EXPECT_EQ(s.groupDecoded(), c.groupDecoded) << std::hex << c.word;
        EXPECT_EQ(s.blockUsable(), c.usable) << std::hex << c.word;
        EXPECT_EQ(s.blockKnown(), c.known) << std::hex << c.word;
        EXPECT_EQ(s.autoReset(), c.sync == StatusWord::kAutoReset) << std::hex << c.word;
    }
}

TEST(GroupAssembler, GathersGroupsFromStatusWords)
{
    const uint16_t words[4] = {0xC2A1, 0x0408, 0xE0CD, 0x4B45};
    const uint16_t wordsB[4] = {0xC2A1, 0x2808, 0xC2A1, 0x4B45};
    const struct {
        const char* name;
        std::vector<uint16_t> statuses;
        bool versionB;
        std::vector<uint8_t> received;  // of each group handed on
        std::vector<uint8_t> repaired;
    } cases[] = {
        {"sync then two groups", {kSearchA, kSearchB, kC, kDGroup, kA, kB, kC, kDGroup}, false, {0xF, 0xF}, {0, 0}},
        {"version B", {kSearchA, kSearchB, kCp, kDGroup}, true, {0xF}, {0}},
        {"a lone A while searching", {kSearchA, kReset, kSearchA}, false, {}, {}},
        {"C failed", {kSearchA, kSearchB, kC, kDGroup, kA, kB, kFailed, kDDamaged}, false, {0xF, 0xB}, {0, 0}},
        {"A failed", {kSearchA, kSearchB, kC, kDGroup, kFailed, kB, kC, kDDamaged}, false, {0xF, 0xE}, {0, 0}},
        {"D failed, then lost", {kSearchA, kSearchB, kC, kFailed, kLost}, false, {0x7}, {0}},
        {"lost in the middle", {kSearchA, kSearchB, kRepairedC, kLost}, false, {0x7}, {0x4}},
        {"reset ends an open group", {kSearchA, kSearchB, kReset}, false, {0x3}, {0}},
    };
    for (const auto& c : cases) {
        GroupAssembler a;
        std::vector<uint8_t> received, repaired;
        for (uint16_t s : c.statuses)
            if (a.feed(s, c.versionB ? wordsB : words)) {
                received.push_back(a.group().received);
                repaired.push_back(a.group().repaired);
                EXPECT_EQ(a.group().blocks[0], a.group().has(0) ? 0xC2A1 : 0) << c.name;
            }
        if (a.finish()) {
            received.push_back(a.group().received);
            repaired.push_back(a.group().repaired);
        }
        EXPECT_EQ(received, c.received) << c.name;
        EXPECT_EQ(repaired, c.repaired) << c.name;
    }
}

GroupRecord Group(uint16_t b, uint8_t received, uint8_t repaired = 0)
{
    GroupRecord g;
    g.blocks[1] = b;
    g.received = received;
    g.repaired = repaired;
    return g;
}

TEST(GroupStats, CountsTypesSharesAndBlockErrors)
{
    GroupStats s;
    for (int i = 0; i < 5; ++i) s.add(Group(0x0408, 0xF));       // 0A
    for (int i = 0; i < 2; ++i) s.add(Group(0x2000, 0xF, 0x4));  // 2A, C repaired
    s.add(Group(0xE800, 0xB));                                   // 14B without C
    s.add(Group(0x0000, 0x5));                                   // B missing: untyped
    s.add(Group(0x0000, 0x0));                                   // nothing at all
    EXPECT_EQ(s.groups(), 10u);
    EXPECT_EQ(s.count(0, 0), 5u);
    EXPECT_EQ(s.count(2, 0), 2u);
    EXPECT_EQ(s.count(14, 1), 1u);
    EXPECT_EQ(s.untyped(), 2u);
    EXPECT_EQ(s.blocksMissing(), 7u);
    EXPECT_EQ(s.blocksRepaired(), 2u);
    EXPECT_DOUBLE_EQ(s.blockErrorRate(), 17.5);
    EXPECT_EQ(s.text(),
              "group   count   share\n"
              "0A          5   50.0%\n"
              "2A          2   20.0%\n"
              "14B         1   10.0%\n"
              "?           2   20.0%\n"
              "total      10 groups, 40 blocks, 7 not received, 2 repaired\n"
              "block error rate 17.50%\n");
    EXPECT_EQ(s.json(),
              "{\"groups\":10,\"types\":{\"0A\":{\"count\":5,\"percent\":50.00},\"2A\":{\"count\":2,\"percent\":20.00},"
              "\"14B\":{\"count\":1,\"percent\":10.00}},\"untyped\":2,\"blocks\":40,\"blocksMissing\":7,"
              "\"blocksRepaired\":2,\"blockErrorRate\":0.175000}");
    s.clear();
    EXPECT_EQ(s.json(),
              "{\"groups\":0,\"types\":{},\"untyped\":0,\"blocks\":0,\"blocksMissing\":0,"
              "\"blocksRepaired\":0,\"blockErrorRate\":0.000000}");
}

TEST(RtPlus, TagsItemsOfTheCurrentRadiotext)
{
    char rtA[65], rtB[33];
    std::memset(rtB, ' ', 32);
    // "Now: Harbour Lights - Ölfa" with the title at 5 (14 long) and the artist at 22 (4 long).
    std::snprintf(rtA, sizeof rtA, "%-64s", "Now: Harbour Lights - \xD7lfa\r");
    RtPlus rt;
    auto feed = [&](uint16_t b, uint16_t c, uint16_t d) {
        const uint16_t blocks[4] = {0xC2A1, b, c, d};
        rt.feed(blocks, rtA, rtB);
    };
    feed(0x2000, 0x4E6F, 0x773A);  // 2A, flag A, before any announcement
    EXPECT_FALSE(rt.touched());
    feed(0xB000, 0x0000, 0x0000);  // 11A before the announcement: not RT+
    EXPECT_TRUE(rt.items().empty());
    feed(0x3016, 0x0000, RtPlus::kAid);  // 3A: RT+ in 11A
    EXPECT_EQ(rt.carrier(), 22);
    // 11A: toggle 0, running 1; tag 1 title(1) start 5 len 13, tag 2 artist(4) start 22 len 3.
    const uint16_t b = 0xB000 | 0x08 | (1 >> 3);
    const uint16_t c = uint16_t((1 & 7) << 13 | 5 << 7 | 13 << 1 | (4 >> 5));
    const uint16_t d = uint16_t((4 & 31) << 11 | 22 << 5 | 3);
    feed(b, c, d);
    EXPECT_TRUE(rt.touched());
    EXPECT_TRUE(rt.itemRunning());
    using Items = std::vector<std::pair<std::string, std::string>>;
    EXPECT_EQ(rt.items(), (Items{{"item.title", "Harbour Lights"}, {"item.artist", "Ölfa"}}));
    feed(0x2010, 0x4E6F, 0x773A);  // the radiotext flag flips: a new text
    EXPECT_TRUE(rt.items().empty());
    feed(b, c, d);
    feed(b | 0x10, uint16_t(c & ~0xE000u), d);  // toggle: new item, only the artist tag (title slot dummy)
    EXPECT_EQ(rt.items(), (Items{{"item.artist", "Ölfa"}}));
    // A tag beyond the text is left out.
    feed(b | 0x10, uint16_t((1 & 7) << 13 | 60 << 7 | 10 << 1), 0);
    EXPECT_EQ(rt.items(), (Items{{"item.artist", "Ölfa"}}));
    // No item running (same toggle): item tags mean nothing, other classes
    // (here info.news, 12, over "Harbour") stay.
    const uint16_t cNews = uint16_t((12 & 7) << 13 | 5 << 7 | 6 << 1);
    feed(uint16_t(0xB010 | (12 >> 3)), cNews, 0);
    EXPECT_FALSE(rt.itemRunning());
    EXPECT_EQ(rt.items(), (Items{{"info.news", "Harbour"}}));
    EXPECT_STREQ(RtPlus::ClassName(63), "get_data");
    EXPECT_EQ(RtPlus::ClassName(64), nullptr);
}

}  // namespace
