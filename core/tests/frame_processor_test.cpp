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
    std::function<void(uint16_t)> onStatusHook;

    void onAutoReset(bool inverted) override { resets.push_back(inverted); }
    void onStatus(uint16_t status) override
    {
        statuses.push_back(status);
        if (onStatusHook) onStatusHook(status);
    }
    void onGroup(const varnak::DecodedGroup& g) override
    {
        groupLines.push_back(g.lines[0] + "|" + g.lines[3]);
        EXPECT_EQ(g.state.pi, 0xBEEF);
        EXPECT_EQ(g.blockWords[2], 0x102);
    }
};

class FrameProcessorFake : public ::testing::Test {
protected:
    void SetUp() override { fakemurlin::Reset(); }
    varnak::FrameProcessor processor{fakemurlin::Api()};
    Recorder recorder;
};

TEST_F(FrameProcessorFake, EmptyTextCallsNothing)
{
    processor.setListener(&recorder);
    processor.process("", true);
    processor.process("", false);
    EXPECT_TRUE(calls.empty());
    EXPECT_EQ(fakemurlin::readBacks, 0);
}

// Bit text: "1" is a one bit, anything else a zero bit. Hex text: a byte
// per digit pair, an odd last digit read alone.
TEST_F(FrameProcessorFake, TextFeedsBitsOrBytes)
{
    const struct {
        std::string text;
        bool fromFile;
        std::vector<int32_t> values;
    } cases[] = {{"10 1\r\nx1", true, {1, 0, 0, 1, 0, 0, 0, 1}}, {"0aFf7", false, {0x0A, 0xFF, 0x07}}};
    for (const auto& c : cases) {
        fakemurlin::Reset();
        processor.process(c.text, c.fromFile);
        std::vector<int32_t> values;
        for (const auto& call : calls) {
            EXPECT_EQ(call.byte, !c.fromFile) << c.text;
            EXPECT_EQ(call.invert, 0);
            values.push_back(call.value);
        }
        EXPECT_EQ(values, c.values) << c.text;
    }
}

TEST_F(FrameProcessorFake, NonHexPairIsSkippedWithoutRepeatingTheLastStatus)
{
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

// Bits the radio demodulator marked as sure ('I' one, 'O' zero) read as
// bits only with the marks on, and a block made of them alone is reported
// as sure; in a bit file they stay zero bits.
TEST_F(FrameProcessorFake, SureMarksReadAsBitsAndReportSureBlocks)
{
    struct SureRecorder : Recorder {
        std::vector<uint16_t> sure;
        void onSureStatus(uint16_t status) override { sure.push_back(status); }
    };
    const std::string sureBlock = std::string(13, 'I') + std::string(13, 'O');
    const std::string mixedBlock = std::string(25, 'I') + "1";
    const std::string& repairedBlock = sureBlock;  // the same bits, repaired by the script
    const struct {
        bool marks;
        std::vector<uint16_t> sure, plain;
        int ones;
    } cases[] = {
        // Blocks end at characters 26, 52 and 78: correct, correct, repaired.
        {true, {0x1001}, {0x1002, 0x1023}, 13 + 25 + 1 + 13},
        {false, {}, {0x1001, 0x1002, 0x1023}, 1},
    };
    for (const auto& c : cases) {
        fakemurlin::Reset();
        fakemurlin::script = [](std::size_t n) -> uint16_t {
            return n == 25 ? 0x1001 : n == 51 ? 0x1002 : n == 77 ? 0x1023 : MURLIN_STATUS_NONE;
        };
        SureRecorder r;
        processor.setListener(&r);
        processor.setSureMarks(c.marks);
        processor.process(sureBlock + mixedBlock + repairedBlock, true);
        EXPECT_EQ(r.sure, c.sure) << c.marks;
        EXPECT_EQ(r.statuses, c.plain) << c.marks;
        int ones = 0;
        for (const auto& call : calls) ones += call.value;
        EXPECT_EQ(ones, c.ones) << c.marks;
    }
}

TEST_F(FrameProcessorFake, StatusNoneReportsNothingAndOtherStatusesAreReported)
{
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

TEST_F(FrameProcessorFake, PolaritySearchFlipsFromTheEleventhResetAndSaturates)
{
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

TEST_F(FrameProcessorFake, PolaritySearchOffLeavesThePolarityAlone)
{
    fakemurlin::script = [](std::size_t) { return kAutoReset; };
    processor.setListener(&recorder);
    processor.setPolaritySearch(false);
    processor.process(std::string(20, '0'), true);
    EXPECT_EQ(processor.resetCount(), 20);  // still counted
    EXPECT_EQ(recorder.resets, std::vector<bool>(20, false));
    EXPECT_FALSE(processor.inverted());
    processor.setPolaritySearch(true);
    processor.process("0", true);
    EXPECT_TRUE(processor.inverted());
}

TEST_F(FrameProcessorFake, InvertedFlagIsHandedToEveryCall)
{
    processor.setInverted(true);
    processor.process("10", true);
    processor.process("AB", false);
    for (const auto& c : calls) EXPECT_EQ(c.invert, 1);
}

// A recording fed in pieces decodes exactly as in one piece, whatever the
// pieces' sizes: hex pairs split between pieces are joined, a bad pair is
// skipped, a last single digit is read alone.
TEST_F(FrameProcessorFake, StreamInPiecesFeedsAsTheWholeText)
{
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
        whole.reserve(calls.size());
        for (const auto& call : calls) whole.emplace_back(call.byte, call.value);
        for (std::size_t piece = 1; piece <= 7; ++piece) {
            fakemurlin::Reset();
            before = processor.skippedPairs();
            processor.beginStream(c.fromFile);
            for (std::size_t at = 0; at < c.text.size(); at += piece)
                processor.feed(c.text.data() + at, std::min(piece, c.text.size() - at));
            processor.endStream();
            std::vector<std::pair<bool, int32_t>> pieces;
            pieces.reserve(calls.size());
            for (const auto& call : calls) pieces.emplace_back(call.byte, call.value);
            EXPECT_EQ(pieces, whole) << c.text << " in pieces of " << piece;
            EXPECT_EQ(processor.skippedPairs() - before, skipped) << c.text;
        }
    }
}

// The position counts characters across pieces; during a listener call it
// names where the reported block ended (in hex text, the pair before it).
TEST_F(FrameProcessorFake, PositionCountsCharactersAcrossPieces)
{
    const struct {
        bool fromFile;
        std::vector<std::string> pieces;
        std::uint64_t atStatus, atEnd;
    } cases[] = {{true, {"000", "0000000"}, 3, 10}, {false, {"010", "2030"}, 2, 7}};
    processor.setListener(&recorder);
    for (const auto& c : cases) {
        fakemurlin::Reset();
        fakemurlin::script = [&c](std::size_t n) { return n == (c.fromFile ? 2u : 1u) ? 0x1201 : MURLIN_STATUS_NONE; };
        std::vector<std::uint64_t> seen;
        recorder.onStatusHook = [&](uint16_t) { seen.push_back(processor.position()); };
        processor.beginStream(c.fromFile);
        for (const std::string& p : c.pieces) processor.feed(p.data(), p.size());
        processor.endStream();
        EXPECT_EQ(seen, std::vector<std::uint64_t>{c.atStatus}) << c.fromFile;
        EXPECT_EQ(processor.position(), c.atEnd) << c.fromFile;
    }
}

TEST_F(FrameProcessorFake, GroupRecordGoesToTheLogBeforeTheListenerHearsIt)
{
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
        void onGroup(const varnak::DecodedGroup&) override
        {
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
