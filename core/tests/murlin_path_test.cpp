// The frame processing path with the real decoder library, bound by name
// from beside this test program.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "frame_processor.h"
#include "murlin_binding.h"
#include "test_files.h"
#include "test_streams.h"

namespace {

struct Collector : varnak::FrameListener {
    std::vector<uint16_t> statuses;
    std::vector<bool> resets;
    std::vector<std::string> records;  // the four lines of each group
    std::vector<DecoderState> states;

    void onAutoReset(bool inverted) override { resets.push_back(inverted); }
    void onStatus(uint16_t status) override { statuses.push_back(status); }
    void onGroup(const varnak::DecodedGroup& g) override
    {
        records.push_back(g.lines[0] + "\n" + g.lines[1] + "\n" + g.lines[2] + "\n" + g.lines[3]);
        states.push_back(g.state);
    }
};

class MurlinPath : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string error;
        api = varnak::murlin(&error);
        ASSERT_NE(api, nullptr) << error;
        api->RDSInit();
        processor = std::make_unique<varnak::FrameProcessor>(*api);
        processor->setListener(&collector);
    }
    const varnak::MurlinApi* api = nullptr;
    std::unique_ptr<varnak::FrameProcessor> processor;
    Collector collector;
};

TEST_F(MurlinPath, BindingGivesAllTenFunctionsAndTheSameTableEveryTime)
{
    EXPECT_EQ(varnak::murlin(), api);
    EXPECT_STREQ(api->RDSPTYDesc(31), "Alarm");
    EXPECT_EQ(api->RDSPTYDesc(32), nullptr);
    EXPECT_EQ(varnak::StrFromPtr(api->RDSDisplay(4)), "");
}

TEST(MurlinCandidates, BesideTheProgramThenTheInstalledLibraryFolder)
{
    const std::string installed =
        std::filesystem::path("/opt/v/bin/" MURLIN_LIBDIR_FROM_BINDIR "/" MURLIN_LIBRARY).lexically_normal().string();
    const struct {
        std::string folder;
        std::vector<std::string> expected;
    } cases[] = {
        {"", {}},  // executable unknown: the system path only
        {"/opt/v/bin", {"/opt/v/bin/" MURLIN_LIBRARY, installed}},
    };
    for (const auto& c : cases) EXPECT_EQ(varnak::MurlinCandidates(c.folder), c.expected) << c.folder;
    EXPECT_EQ(installed.find(".."), std::string::npos) << installed;
    EXPECT_STREQ(MURLIN_LIBRARY, "libmurlin.so.0");
}

TEST_F(MurlinPath, OneOneAnd207ZerosResetAtThe208thBitWithoutAFlip)
{
    processor->process("1" + std::string(206, '0'), true);
    EXPECT_TRUE(collector.resets.empty());
    processor->process("0", true);
    ASSERT_EQ(collector.resets.size(), 1u);
    EXPECT_FALSE(collector.resets[0]);
    EXPECT_EQ(processor->resetCount(), 1);
    EXPECT_FALSE(processor->inverted());
    EXPECT_EQ(collector.statuses, std::vector<uint16_t>{0x1115});
}

TEST_F(MurlinPath, ElevenRunsOfNoiseFlipOnTheEleventhAndEveryLaterOne)
{
    const std::string run(208, '0');
    for (int k = 1; k <= 13; ++k) {
        processor->process(run, true);
        ASSERT_EQ(processor->resetCount(), k);
        EXPECT_EQ(processor->inverted(), k == 11 || k == 13) << "after run " << k;
    }
}

TEST_F(MurlinPath, CleanStreamDecodesEveryGroup)
{
    processor->process(varnaktest::StationBits(40), true);
    // Blocks A and B of the first group are found by the search and still count.
    ASSERT_EQ(collector.records.size(), 40u);
    const DecoderState& last = collector.states.back();
    EXPECT_EQ(last.pi, varnaktest::kTestPi);
    EXPECT_EQ(std::string(last.ps, 8), varnaktest::kTestPs);
    EXPECT_EQ(std::string(last.radioText, 64), varnaktest::kTestRadiotext);
    EXPECT_EQ(collector.records[5].substr(0, 40), "Bloc A: 0010000000000001 2001 - PI:2001\n");
    EXPECT_TRUE(collector.resets.empty());
}

TEST_F(MurlinPath, HexTextAndInvertedStreamGiveTheSameGroups)
{
    const std::string bits = varnaktest::StationBits(24);
    processor->process(bits, true);
    const auto fromBits = collector.records;
    ASSERT_FALSE(fromBits.empty());

    Collector hex;
    api->RDSInit();
    processor->setListener(&hex);
    processor->process(rdsenc::BitsToHex(bits), false);
    EXPECT_EQ(hex.records, fromBits);

    Collector inverted;
    api->RDSInit();
    processor->setListener(&inverted);
    processor->setInverted(true);
    processor->process(varnaktest::Inverted(bits), true);
    EXPECT_EQ(inverted.records, fromBits);
}

TEST_F(MurlinPath, InvertedStreamIsFoundByThePolaritySearch)
{
    // Noise first uses up the ten resets that change nothing.
    std::string text(10 * 208, '0');
    text += varnaktest::Inverted(varnaktest::StationBits(60));
    processor->process(text, true);
    EXPECT_GE(processor->resetCount(), 11);
    EXPECT_TRUE(processor->inverted());
    ASSERT_FALSE(collector.states.empty());
    EXPECT_EQ(std::string(collector.states.back().ps, 8), varnaktest::kTestPs);
}

TEST_F(MurlinPath, DecodeLogHoldsEveryGroupByteForByte)
{
    const varnaktest::TempDir dir;
    const std::string path = dir / "stream.out";
    varnak::DecodeLog log;
    ASSERT_TRUE(log.open(path));
    processor->setLog(&log);
    processor->process(varnaktest::StationBits(12), true);
    ASSERT_TRUE(log.close()) << log.error();

    std::string expected;
    for (const std::string& r : collector.records) {
        std::string crlf;
        for (char c : r) crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
        expected += std::string(36, '-') + "\r\n" + crlf + "\r\n";
    }
    EXPECT_EQ(varnaktest::ReadAll(path), expected);
    EXPECT_EQ(collector.records.size(), 12u);
}

}  // namespace
