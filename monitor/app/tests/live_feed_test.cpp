// The live data handler: what it accepts, the overflow rule and Stop, first
// with a recording callback, then end to end with the real decoder.
#include "live_feed.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "frame_processor.h"
#include "murlin_binding.h"
#include "rds_encoder.h"
#include "test_streams.h"

namespace varnak {
namespace {

using quesmer::ENC_B64;
using quesmer::ENC_B64MIME;
using quesmer::ENC_BIN;
using quesmer::ENC_HEX;

QString Hex(std::size_t n, char c = 'A') { return QString(static_cast<qsizetype>(n), QLatin1Char(c)); }

// A feed whose decoder records every batch.
class FeedTest : public ::testing::Test {
protected:
    LiveFeed feed{[this](const std::string& hex) { batches.push_back(hex); },
                  [this](bool shown) { marks.push_back(shown); }};
    std::vector<std::string> batches;
    std::vector<bool> marks;
};

TEST_F(FeedTest, IgnoresDataWhileInactiveAndInOtherEncodings)
{
    feed.onData(ENC_HEX, Hex(10));
    EXPECT_TRUE(batches.empty()) << "no run started";

    feed.start();
    feed.onData(ENC_HEX, Hex(3000));  // overflow: the mark is shown
    ASSERT_TRUE(feed.overflow());
    const std::size_t decoded = batches.size();
    for (auto enc : {ENC_BIN, ENC_B64, ENC_B64MIME, quesmer::EncTyp(7)}) {
        feed.onData(enc, QStringLiteral("0101"));
        EXPECT_TRUE(feed.overflow()) << "encoding " << enc << " touched the F mark";
    }
    EXPECT_EQ(batches.size(), decoded);

    feed.stop();
    feed.onData(ENC_HEX, Hex(10));
    EXPECT_EQ(batches.size(), decoded) << "data after Stop";
    EXPECT_FALSE(feed.active());
}

// Each event is decoded at once, in whole pairs; the overflow rule keeps
// only what follows the first 2599 characters of a pending text longer than
// 2600, and the next accepted event hides the mark again.
TEST_F(FeedTest, EventsAreDecodedAtOnceAndOverflowKeepsTheNewestText)
{
    const struct {
        std::vector<QString> events;
        std::vector<std::string> batches;
        std::string pending;
        std::vector<bool> marks;
    } cases[] = {
        {{QStringLiteral("0A1b"), QStringLiteral("FF00")}, {"0A1b", "FF00"}, "", {}},
        {{Hex(LiveFeed::kPendingLimit)}, {std::string(2600, 'A')}, "", {}},  // 2600 characters fit
        {{Hex(3001, 'C')}, {std::string(402, 'C')}, "", {true}},
        // A waiting digit counts: the kept text is the last two characters.
        {{QStringLiteral("9"), Hex(LiveFeed::kPendingLimit, '2')}, {"22"}, "", {true}},
        // A lone digit waits for its partner and leads the next event's text.
        {{Hex(2800, '2'), QStringLiteral("345")}, {std::string(200, '2'), "2345"}, "", {true, false}},
        {{QStringLiteral("123")}, {"12"}, "3", {}},
    };
    for (const auto& c : cases) {
        feed.start();  // hides the mark of the case before
        batches.clear();
        marks.clear();
        for (const QString& e : c.events) feed.onData(ENC_HEX, e);
        EXPECT_EQ(batches, c.batches) << c.events.size();
        EXPECT_EQ(feed.pendingHex(), c.pending);
        EXPECT_EQ(marks, c.marks);
        feed.stop();
    }
}

TEST_F(FeedTest, StopDropsWhatWaitsAndANewRunStartsClean)
{
    feed.start();
    feed.onData(ENC_HEX, QStringLiteral("AAA"));
    EXPECT_EQ(feed.pendingHex(), "A");
    feed.stop();
    EXPECT_TRUE(feed.pendingHex().empty());
    feed.onData(ENC_HEX, QStringLiteral("B"));
    feed.start();
    feed.onData(ENC_HEX, QStringLiteral("DDDD"));
    EXPECT_EQ(batches, (std::vector<std::string>{"AA", "DDDD"}));
}

// ---------------------------------------------------------------------------
// End to end with the real decoder: a station arriving in small pieces gives
// exactly the groups of the whole stream decoded in one go.

class GroupRecorder : public FrameListener {
public:
    std::vector<std::string> groups;
    void onGroup(const DecodedGroup& g) override
    {
        groups.push_back(g.lines[0] + g.lines[1] + g.lines[2] + g.lines[3]);
    }
};

TEST(LiveFeedDecoding, PiecesGiveTheGroupsOfTheWholeStream)
{
    const MurlinApi* api = murlin();
    ASSERT_NE(api, nullptr) << "libmurlin.so must stand beside the test";
    const std::string hex = rdsenc::BitsToHex(test::StationBits(6, 37));

    // RDSInit does not clear every decoded field, so both runs start after
    // a run of the same stream.
    GroupRecorder whole;
    for (int run = 0; run < 2; ++run) {
        whole.groups.clear();
        api->RDSInit();
        FrameProcessor p(*api);
        p.setListener(&whole);
        p.process(hex, false);
    }
    ASSERT_GE(whole.groups.size(), 5u * test::kGroupsPerCycle) << "the stream must decode";

    GroupRecorder live;
    FrameProcessor p(*api);
    p.setListener(&live);
    LiveFeed feed([&](const std::string& text) { p.process(text, false); });
    // Pieces of 37 characters: no multiple of a block, and a digit waits for
    // its pair between two pieces.
    api->RDSInit();
    feed.start();
    for (std::size_t sent = 0; sent < hex.size(); sent += 37) {
        const std::size_t n = std::min<std::size_t>(37, hex.size() - sent);
        feed.onData(ENC_HEX, QString::fromLatin1(hex.data() + sent, static_cast<qsizetype>(n)));
    }
    EXPECT_FALSE(feed.overflow());
    EXPECT_TRUE(feed.pendingHex().empty());
    EXPECT_EQ(live.groups, whole.groups);
}

}  // namespace
}  // namespace varnak
