// The live data handler: what it accepts, the busy guard, text arriving
// during a batch, the overflow rule and Stop, first with a recording
// callback, then end to end with the real decoder.
#include "live_feed.h"

#include <gtest/gtest.h>

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

// A feed whose decoder records every batch and can run code in the middle
// of one, as the event loop does while a batch yields.
class FeedTest : public ::testing::Test {
protected:
    LiveFeed feed{[this](const std::string& hex) { decode(hex); }, [this](bool shown) { marks.push_back(shown); }};
    std::vector<std::string> batches;
    std::vector<bool> marks;
    std::vector<std::function<void(const std::string&)>> during;  // one per batch, in order
    int depth = 0, maxDepth = 0;

    void decode(const std::string& hex) {
        ++depth;
        maxDepth = std::max(maxDepth, depth);
        const std::size_t n = batches.size();
        batches.push_back(hex);
        if (n < during.size() && during[n]) during[n](hex);
        --depth;
    }
};

TEST_F(FeedTest, IgnoresDataWhileInactiveAndInOtherEncodings) {
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

TEST_F(FeedTest, EachEventIsDecodedAtOnceWhenIdle) {
    feed.start();
    feed.onData(ENC_HEX, QStringLiteral("0A1b"));
    feed.onData(ENC_HEX, QStringLiteral("FF00"));
    ASSERT_EQ(batches, (std::vector<std::string>{"0A1b", "FF00"}));
    EXPECT_TRUE(feed.pendingHex().empty());
    EXPECT_FALSE(feed.busy());
    EXPECT_TRUE(marks.empty()) << "no overflow, no mark change";
}

TEST_F(FeedTest, TextArrivingDuringABatchIsDecodedRightAfterIt) {
    feed.start();
    during.push_back([this](const std::string&) {
        EXPECT_TRUE(feed.busy());
        feed.onData(ENC_HEX, QStringLiteral("2222"));
        feed.onData(ENC_HEX, QStringLiteral("3333"));
        EXPECT_EQ(feed.pendingHex(), "111122223333") << "the batch and what came after it";
    });
    during.push_back([this](const std::string&) { feed.onData(ENC_HEX, QStringLiteral("4444")); });
    feed.onData(ENC_HEX, QStringLiteral("1111"));

    EXPECT_EQ(batches, (std::vector<std::string>{"1111", "22223333", "4444"}));
    EXPECT_EQ(maxDepth, 1) << "the busy guard let a second batch start inside the first";
    EXPECT_TRUE(feed.pendingHex().empty());
    EXPECT_FALSE(feed.busy());
}

TEST_F(FeedTest, OverflowKeepsTheNewestTextAndCutsTheBatchShort) {
    feed.start();
    const std::string first(2000, '1');
    std::string joined = first + std::string(800, '2');
    // The batch sees its text emptied: it must feed nothing more of it.
    std::size_t batchLengthAfter = 99;
    during.push_back([&](const std::string& hex) {
        feed.onData(ENC_HEX, Hex(800, '2'));
        batchLengthAfter = hex.size();
        EXPECT_TRUE(feed.overflow());
        EXPECT_EQ(feed.pendingHex(), joined.substr(2599)) << "the 201 characters from position 2600";
    });
    feed.onData(ENC_HEX, QString::fromStdString(first));

    EXPECT_EQ(batchLengthAfter, 0u);
    ASSERT_EQ(batches.size(), 2u);
    EXPECT_EQ(batches[1], std::string(200, '2')) << "whole pairs decoded after the batch";
    EXPECT_EQ(feed.pendingHex(), "2") << "a lone digit waits for its partner";
    EXPECT_EQ(marks, (std::vector<bool>{true}));

    // The next event hides the mark; the waiting digit leads its text.
    feed.onData(ENC_HEX, QStringLiteral("345"));
    EXPECT_FALSE(feed.overflow());
    EXPECT_EQ(batches.back(), "2345");
    EXPECT_EQ(marks, (std::vector<bool>{true, false}));
}

TEST_F(FeedTest, OverflowWhenIdleAndAtTheLimit) {
    feed.start();
    feed.onData(ENC_HEX, Hex(LiveFeed::kPendingLimit));
    EXPECT_FALSE(feed.overflow()) << "2600 characters fit";
    EXPECT_EQ(batches.back().size(), LiveFeed::kPendingLimit);

    feed.onData(ENC_HEX, Hex(3001, 'C'));
    EXPECT_TRUE(feed.overflow());
    EXPECT_EQ(batches.back(), std::string(402, 'C')) << "3001 - 2599 characters kept";

    // A batch of the full 2600 and one more character: the kept text starts
    // with the batch's last digit.
    during.resize(batches.size() + 1);
    during.back() = [this](const std::string&) { feed.onData(ENC_HEX, QStringLiteral("DE")); };
    std::string full(LiveFeed::kPendingLimit - 1, '0');
    full += '9';
    feed.onData(ENC_HEX, QString::fromStdString(full));
    EXPECT_EQ(batches.back(), "9D");
    EXPECT_EQ(feed.pendingHex(), "E");
}

TEST_F(FeedTest, StopDuringABatchEndsItAndDropsWhatWaits) {
    feed.start();
    std::size_t batchLengthAfter = 99;
    during.push_back([&](const std::string& hex) {
        feed.onData(ENC_HEX, QStringLiteral("BBBB"));
        feed.stop();
        batchLengthAfter = hex.size();
        feed.onData(ENC_HEX, QStringLiteral("CCCC"));
    });
    feed.onData(ENC_HEX, QStringLiteral("AAAA"));
    EXPECT_EQ(batchLengthAfter, 0u);
    EXPECT_EQ(batches.size(), 1u);
    EXPECT_TRUE(feed.pendingHex().empty());
    EXPECT_FALSE(feed.busy());

    // A new run starts clean.
    feed.start();
    feed.onData(ENC_HEX, QStringLiteral("DDDD"));
    EXPECT_EQ(batches.back(), "DDDD");
}

TEST_F(FeedTest, ANewRunStartedInsideAnOldBatchGetsOnlyItsOwnText) {
    feed.start();
    during.push_back([&](const std::string& hex) {
        feed.stop();
        feed.start();
        EXPECT_TRUE(hex.empty()) << "the old batch must feed no more of the old run";
        feed.onData(ENC_HEX, QStringLiteral("0E0E"));
        EXPECT_TRUE(feed.busy());
    });
    feed.onData(ENC_HEX, QStringLiteral("0A0A"));
    EXPECT_EQ(batches, (std::vector<std::string>{"0A0A", "0E0E"}));
}

// ---------------------------------------------------------------------------
// End to end with the real decoder: a station arriving in small pieces, many
// of them while a batch is being decoded, gives exactly the groups of the
// whole stream decoded in one go.

class GroupRecorder : public FrameListener {
public:
    std::vector<std::string> groups;
    std::function<void()> onStatusHook;
    void onGroup(const DecodedGroup& g) override { groups.push_back(g.lines[0] + g.lines[1] + g.lines[2] + g.lines[3]); }
    void onStatus(uint16_t) override {
        if (onStatusHook) onStatusHook();
    }
};

TEST(LiveFeedDecoding, PiecesArrivingDuringBatchesGiveTheSameGroups) {
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
    // Pieces of 38 characters (not a multiple of a block), the next one
    // delivered at every status word of a batch.
    std::size_t sent = 0;
    int duringBatch = 0;
    auto deliver = [&] {
        if (sent >= hex.size()) return;
        if (feed.busy()) ++duringBatch;
        const std::size_t n = std::min<std::size_t>(38, hex.size() - sent);
        feed.onData(ENC_HEX, QString::fromLatin1(hex.data() + sent, static_cast<qsizetype>(n)));
        sent += n;
    };
    live.onStatusHook = deliver;
    api->RDSInit();
    feed.start();
    while (sent < hex.size()) deliver();
    EXPECT_GT(duringBatch, 20) << "too few pieces arrived during a batch to test anything";
    EXPECT_FALSE(feed.overflow());
    EXPECT_TRUE(feed.pendingHex().empty());
    EXPECT_EQ(live.groups, whole.groups);
}

}  // namespace
}  // namespace varnak
