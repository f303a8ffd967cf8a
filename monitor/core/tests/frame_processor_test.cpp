// The frame processing path against a scripted library: which calls are
// made, in which order, and what the listener hears.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <functional>

#include <string>
#include <vector>

#include "fake_murlin.h"
#include "frame_processor.h"
#include "test_files.h"

namespace {

using fakemurlin::calls;

constexpr uint16_t kAutoReset = 0x1115;
constexpr uint16_t kGroupDone = 0x0000;

struct Recorder : varnak::FrameListener {
    std::vector<uint16_t> statuses;
    std::vector<bool> resets;  // polarity reported with each automatic reset
    std::vector<std::string> groupLines;
    std::vector<std::pair<std::size_t, std::size_t>> progress;
    std::function<void(uint16_t)> onStatusHook;

    void onAutoReset(bool inverted) override { resets.push_back(inverted); }
    void onStatus(uint16_t status) override {
        statuses.push_back(status);
        if (onStatusHook) onStatusHook(status);
    }
    void onGroup(const varnak::DecodedGroup& g) override {
        groupLines.push_back(g.lines[0] + "|" + g.lines[3]);
        EXPECT_EQ(g.state.pi, 0xBEEF);
        EXPECT_EQ(g.blockWords[2], 0x102);
    }
    void onProgress(std::size_t position, std::size_t total) override { progress.emplace_back(position, total); }
};

class FrameProcessorFake : public ::testing::Test {
protected:
    void SetUp() override { fakemurlin::Reset(); }
    varnak::FrameProcessor processor{fakemurlin::Api()};
    Recorder recorder;
};

TEST_F(FrameProcessorFake, EmptyTextCallsNothing) {
    processor.setListener(&recorder);
    processor.process("", true);
    processor.process("", false);
    EXPECT_TRUE(calls.empty());
    EXPECT_TRUE(recorder.progress.empty());
    EXPECT_EQ(fakemurlin::readBacks, 0);
}

TEST_F(FrameProcessorFake, BitTextFeedsOneForCharacterOneOnly) {
    processor.process("10 1\r\nx1", true);
    std::vector<int32_t> bits;
    for (const auto& c : calls) {
        EXPECT_FALSE(c.byte);
        EXPECT_EQ(c.invert, 0);
        bits.push_back(c.value);
    }
    EXPECT_EQ(bits, (std::vector<int32_t>{1, 0, 0, 1, 0, 0, 0, 1}));
}

TEST_F(FrameProcessorFake, HexTextFeedsBytesAndReadsAnOddLastCharacterAlone) {
    processor.process("0aFf7", false);
    ASSERT_EQ(calls.size(), 3u);
    EXPECT_TRUE(calls[0].byte);
    EXPECT_EQ(calls[0].value, 0x0A);
    EXPECT_EQ(calls[1].value, 0xFF);
    EXPECT_EQ(calls[2].value, 0x07);
}

TEST_F(FrameProcessorFake, NonHexPairIsSkippedWithoutRepeatingTheLastStatus) {
    // The first byte completes a group; the bad pair after it must not show it again.
    fakemurlin::script = [](std::size_t n) { return n == 0 ? kGroupDone : MURLIN_STATUS_NONE; };
    processor.setListener(&recorder);
    processor.process("12zz4G56", false);
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].value, 0x12);
    EXPECT_EQ(calls[1].value, 0x56);
    EXPECT_EQ(processor.skippedPairs(), 2u);
    EXPECT_EQ(recorder.groupLines.size(), 1u);
    EXPECT_EQ(recorder.statuses.size(), 1u);
}

TEST_F(FrameProcessorFake, TextAppendedDuringTheCallIsNotRead) {
    std::string text = "0000";
    fakemurlin::script = [](std::size_t n) { return n == 1 ? 0x1201 : MURLIN_STATUS_NONE; };
    recorder.onStatusHook = [&](uint16_t) { text += std::string(5000, '1'); };  // forces a reallocation
    processor.setListener(&recorder);
    processor.process(text, true);
    ASSERT_EQ(calls.size(), 4u);
    for (const auto& c : calls) EXPECT_EQ(c.value, 0);
}

TEST_F(FrameProcessorFake, HexPositionsBeyondAShortenedTextAreSkipped) {
    std::string text = "0102030405";
    fakemurlin::script = [](std::size_t n) { return n == 0 ? 0x1201 : MURLIN_STATUS_NONE; };
    // The text is cut to 5 characters and then grows by appending at the end:
    // positions 3 and 5 read the new text, positions beyond it are skipped.
    recorder.onStatusHook = [&](uint16_t) { text = "01A2B"; };
    processor.setListener(&recorder);
    processor.process(text, false);
    ASSERT_EQ(calls.size(), 3u);
    EXPECT_EQ(calls[1].value, 0xA2);
    EXPECT_EQ(calls[2].value, 0x0B);
    EXPECT_EQ(recorder.statuses.size(), 1u);
}

TEST_F(FrameProcessorFake, StopReturnsBeforeTheNextBit) {
    fakemurlin::script = [](std::size_t n) { return n == 2 ? kGroupDone : MURLIN_STATUS_NONE; };
    recorder.onStatusHook = [&](uint16_t) { processor.requestStop(); };
    processor.setListener(&recorder);
    processor.process(std::string(100, '1'), true);
    EXPECT_EQ(calls.size(), 3u);
    EXPECT_TRUE(processor.stopRequested());
    // The status that asked for the stop was handled in full.
    EXPECT_EQ(recorder.groupLines.size(), 1u);

    // A stop already requested still lets exactly one bit through, then returns.
    processor.process(std::string(100, '1'), true);
    EXPECT_EQ(calls.size(), 4u);
    processor.clearStop();
    recorder.onStatusHook = nullptr;
    processor.process("11", true);
    EXPECT_EQ(calls.size(), 6u);
}

TEST_F(FrameProcessorFake, ANewRunStartedFromAListenerCallEndsTheOldOne) {
    // Stop and a new analysis can both be clicked while a run yields inside a
    // listener call. The new run clears the stop flag; once it has ended, the
    // old run further up the stack must not go on feeding its old text.
    fakemurlin::script = [](std::size_t n) { return n == 1 ? 0x1201 : MURLIN_STATUS_NONE; };
    bool nested = false;
    recorder.onStatusHook = [&](uint16_t) {
        if (nested) return;
        nested = true;
        processor.requestStop();
        processor.clearStop();
        processor.process("11", true);
    };
    processor.setListener(&recorder);
    processor.process(std::string(100, '0'), true);
    // Two bits of the old run, then the two of the new one, and nothing more.
    ASSERT_EQ(calls.size(), 4u);
    EXPECT_EQ(calls[2].value, 1);
    EXPECT_EQ(calls[3].value, 1);
}

TEST_F(FrameProcessorFake, StatusNoneReportsNothingAndOtherStatusesAreReported) {
    fakemurlin::script = [](std::size_t n) -> uint16_t {
        static const uint16_t s[] = {MURLIN_STATUS_NONE, 0x1201, 0x1002, 0x1035, 0x1335, kGroupDone};
        return s[n];
    };
    processor.setListener(&recorder);
    processor.process("000000", true);
    EXPECT_EQ(recorder.statuses, (std::vector<uint16_t>{0x1201, 0x1002, 0x1035, 0x1335, kGroupDone}));
    EXPECT_TRUE(recorder.resets.empty());
    ASSERT_EQ(recorder.groupLines.size(), 1u);
    EXPECT_EQ(recorder.groupLines[0], "line A|line D");
}

TEST_F(FrameProcessorFake, PolaritySearchFlipsFromTheEleventhResetAndSaturates) {
    fakemurlin::script = [](std::size_t) { return kAutoReset; };
    processor.setListener(&recorder);
    processor.process(std::string(10, '0'), true);
    EXPECT_EQ(processor.resetCount(), 10);
    EXPECT_EQ(recorder.resets, std::vector<bool>(10, false));
    for (const auto& c : calls) EXPECT_EQ(c.invert, 0);

    processor.process("000", true);
    EXPECT_EQ(processor.resetCount(), 13);
    EXPECT_EQ(std::vector<bool>(recorder.resets.begin() + 10, recorder.resets.end()),
              (std::vector<bool>{true, false, true}));
    // The flip takes effect on the next bit.
    EXPECT_EQ(calls[10].invert, 0);
    EXPECT_EQ(calls[11].invert, 1);
    EXPECT_EQ(calls[12].invert, 0);

    // Far beyond 32767 resets the count stays at its top and keeps flipping.
    processor.process(std::string(40000, '0'), true);
    EXPECT_EQ(processor.resetCount(), 32767);
    const std::size_t n = recorder.resets.size();
    ASSERT_EQ(n, 40013u);
    EXPECT_NE(recorder.resets[n - 1], recorder.resets[n - 2]);
    EXPECT_NE(recorder.resets[n - 2], recorder.resets[n - 3]);
    EXPECT_EQ(processor.inverted(), recorder.resets[n - 1]);
}

TEST_F(FrameProcessorFake, InvertedFlagIsHandedToEveryCall) {
    processor.setInverted(true);
    processor.process("10", true);
    processor.process("AB", false);
    for (const auto& c : calls) EXPECT_EQ(c.invert, 1);
}

TEST_F(FrameProcessorFake, ProgressEveryIntervalAndOnceAfterTheLast) {
    processor.setListener(&recorder);
    processor.setProgressInterval(4);
    processor.process(std::string(10, '0'), true);
    using P = std::pair<std::size_t, std::size_t>;
    EXPECT_EQ(recorder.progress, (std::vector<P>{{4, 10}, {8, 10}, {10, 10}}));

    recorder.progress.clear();
    processor.process(std::string(8, '0'), true);  // the last position falls on the interval
    EXPECT_EQ(recorder.progress, (std::vector<P>{{4, 8}, {8, 8}}));

    recorder.progress.clear();
    processor.process("0102030", false);  // 4 positions in 7 characters
    EXPECT_EQ(recorder.progress, (std::vector<P>{{7, 7}}));
}

// A recording fed in pieces decodes exactly as in one piece, whatever the
// pieces' sizes: hex pairs split between pieces are joined, a bad pair is
// skipped, a last single digit is read alone.
TEST_F(FrameProcessorFake, StreamInPiecesFeedsAsTheWholeText) {
    const struct {
        std::string text;
        bool fromFile;
    } cases[] = {{"10 1\r\nx1011", true}, {"0aFf7c12zz4G56e", false}, {"0aFf", false}};
    for (const auto& c : cases) {
        fakemurlin::Reset();
        std::size_t before = processor.skippedPairs();
        processor.process(c.text, c.fromFile);
        const std::size_t skipped = processor.skippedPairs() - before;
        std::vector<std::pair<bool, int32_t>> whole;
        for (const auto& call : calls) whole.emplace_back(call.byte, call.value);
        for (std::size_t piece = 1; piece <= 7; ++piece) {
            fakemurlin::Reset();
            before = processor.skippedPairs();
            processor.beginStream(c.fromFile, c.text.size());
            for (std::size_t at = 0; at < c.text.size(); at += piece)
                EXPECT_TRUE(processor.feed(c.text.data() + at, std::min(piece, c.text.size() - at)));
            processor.endStream();
            std::vector<std::pair<bool, int32_t>> pieces;
            for (const auto& call : calls) pieces.emplace_back(call.byte, call.value);
            EXPECT_EQ(pieces, whole) << c.text << " in pieces of " << piece;
            EXPECT_EQ(processor.skippedPairs() - before, skipped) << c.text;
        }
    }
}

TEST_F(FrameProcessorFake, StreamProgressCountsAcrossPiecesAndStopEndsIt) {
    using P = std::pair<std::size_t, std::size_t>;
    processor.setListener(&recorder);
    processor.setProgressInterval(4);
    const struct {
        std::uint64_t total;
        std::vector<P> progress;
    } cases[] = {
        {10, {{4, 10}, {8, 10}, {10, 10}}},
        {0, {{4, 0}, {8, 0}, {10, 10}}},  // a pipe: length unknown
        {6, {{4, 6}, {8, 0}, {10, 10}}},  // more came than expected
    };
    for (const auto& c : cases) {
        recorder.progress.clear();
        processor.beginStream(true, c.total);
        EXPECT_TRUE(processor.feed("000", 3));
        EXPECT_TRUE(processor.feed("0000000", 7));
        processor.endStream();
        EXPECT_EQ(recorder.progress, c.progress) << c.total;
    }

    // A stop from a listener call ends the stream; nothing more is fed.
    fakemurlin::Reset();
    fakemurlin::script = [](std::size_t n) { return n == 2 ? kGroupDone : MURLIN_STATUS_NONE; };
    recorder.onStatusHook = [&](uint16_t) { processor.requestStop(); };
    recorder.progress.clear();
    processor.beginStream(true, 0);
    EXPECT_FALSE(processor.feed("11111", 5));
    EXPECT_FALSE(processor.feed("11111", 5));
    processor.endStream();
    EXPECT_EQ(calls.size(), 3u);
    EXPECT_EQ(recorder.progress, (std::vector<P>{}));

    // So does a run started from a listener call.
    processor.clearStop();
    fakemurlin::Reset();
    fakemurlin::script = [](std::size_t n) { return n == 0 ? 0x1201 : MURLIN_STATUS_NONE; };
    recorder.onStatusHook = [&](uint16_t) { processor.process("1", true); };
    processor.beginStream(true, 0);
    EXPECT_FALSE(processor.feed("000", 3));
    EXPECT_EQ(calls.size(), 2u);
}

TEST_F(FrameProcessorFake, GroupRecordGoesToTheLogBeforeTheListenerHearsIt) {
    const varnaktest::TempDir dir;
    const std::string path = dir / "group.out";
    varnak::DecodeLog log;
    ASSERT_TRUE(log.open(path));
    fakemurlin::script = [](std::size_t n) { return n == 1 ? kGroupDone : MURLIN_STATUS_NONE; };
    std::size_t bytesAtGroup = 0;
    recorder.onStatusHook = nullptr;
    struct : varnak::FrameListener {
        varnak::DecodeLog* log;
        std::string path;
        std::size_t* bytes;
        void onGroup(const varnak::DecodedGroup&) override {
            log->flush();
            *bytes = varnaktest::ReadAll(path).size();
        }
    } listener;
    listener.log = &log;
    listener.path = path;
    listener.bytes = &bytesAtGroup;
    processor.setListener(&listener);
    processor.setLog(&log);
    processor.process("000", true);
    EXPECT_TRUE(log.close());
    EXPECT_EQ(bytesAtGroup, 38u + 4 * 8u);
}

}  // namespace
