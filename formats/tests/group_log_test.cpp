// Group logs: line parsing, writing, time stamps, chunked lines, detection
// of the kind of recording and the bits of a group.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

#include "group_log.h"
#include "rds_encoder.h"

namespace {

using namespace rdsformats;

class GroupLog : public ::testing::Test {
protected:
    // Time stamps are local time: pin the zone down.
    void SetUp() override
    {
        const char* tz = std::getenv("TZ");
        saved_ = tz ? tz : "";
        hadTz_ = tz != nullptr;
        setenv("TZ", "CET-1CEST,M3.5.0,M10.5.0/3", 1);
        tzset();
    }
    void TearDown() override
    {
        if (hadTz_)
            setenv("TZ", saved_.c_str(), 1);
        else
            unsetenv("TZ");
        tzset();
    }
    std::string saved_;
    bool hadTz_ = false;
};

TEST_F(GroupLog, ParsesLines)
{
    const int64_t stamp = 1796756110LL * 100 + 25;  // 2026-12-08 18:55:10.25 UTC
    const struct {
        const char* line;
        bool first;
        LineKind kind;
        uint8_t received;
        uint16_t a, d;
        bool timed;
    } cases[] = {
        {"C2A1 0408 E0CD 4B45", false, LineKind::Group, 0xF, 0xC2A1, 0x4B45, false},
        {"  c2a1 0408 e0cd 4b45 \r", false, LineKind::Group, 0xF, 0xC2A1, 0x4B45, false},
        {"C2A1 ---- E0CD 4B45 @2026/12/08 19:55:10.25", false, LineKind::Group, 0xD, 0xC2A1, 0x4B45, true},
        {"---- ---- ---- ----", false, LineKind::Group, 0x0, 0, 0, false},
        {"C2A10408E0CD4B45", false, LineKind::Group, 0xF, 0xC2A1, 0x4B45, false},
        {"<recorder=\"RDS Logger\" date=\"2026/12/08\" time=\"19:55:10\">", true, LineKind::Header, 0, 0, 0, false},
        {"<recorder=\"RDS Logger\">", false, LineKind::Malformed, 0, 0, 0, false},
        {"", false, LineKind::Blank, 0, 0, 0, false},
        {" \t\r", false, LineKind::Blank, 0, 0, 0, false},
        {"C2A1 0408 E0CD", false, LineKind::Malformed, 0, 0, 0, false},
        {"C2A1 0408 E0CD 4B45 1234", false, LineKind::Malformed, 0, 0, 0, false},
        {"C2A1 0408 E0CD 4B4G", false, LineKind::Malformed, 0, 0, 0, false},
        {"C2A1 0408 E0CD 4B4", false, LineKind::Malformed, 0, 0, 0, false},
        {"C2A1 0408 E0CD -4B4", false, LineKind::Malformed, 0, 0, 0, false},
        {"C2A1 0408 E0CD 4B45 @2026/13/08 19:55:10.25", false, LineKind::Malformed, 0, 0, 0, false},
        {"C2A1 0408 E0CD 4B45 @2026/04/31 19:55:10", false, LineKind::Malformed, 0, 0, 0, false},
        {"C2A1 0408 E0CD 4B45 @yesterday", false, LineKind::Malformed, 0, 0, 0, false},
        {"Bloc A: 0010000000000001 2001 - PI:2001", false, LineKind::Malformed, 0, 0, 0, false},
    };
    for (const auto& c : cases) {
        GroupRecord g;
        EXPECT_EQ(ParseGroupLine(c.line, c.first, g), c.kind) << c.line;
        if (c.kind != LineKind::Group) continue;
        EXPECT_EQ(g.received, c.received) << c.line;
        EXPECT_EQ(g.blocks[0], c.a) << c.line;
        EXPECT_EQ(g.blocks[3], c.d) << c.line;
        EXPECT_EQ(g.time.has_value(), c.timed) << c.line;
        if (c.timed) {
            EXPECT_EQ(*g.time, stamp);
        }
    }
}

TEST_F(GroupLog, WritesLinesThatReadBack)
{
    GroupRecord g;
    g.blocks[0] = 0xC2A1;
    g.blocks[2] = 0x00CD;
    g.blocks[3] = 0x4B45;
    g.received = 0xD;
    std::string line;
    AppendGroupLine(line, g);
    EXPECT_EQ(line, "C2A1 ---- 00CD 4B45");
    g.time = 1796756110LL * 100 + 5;
    line.clear();
    AppendGroupLine(line, g);
    EXPECT_EQ(line, "C2A1 ---- 00CD 4B45 @2026/12/08 19:55:10.05");
    GroupRecord back;
    ASSERT_EQ(ParseGroupLine(line, false, back), LineKind::Group);
    EXPECT_EQ(back.received, g.received);
    EXPECT_EQ(back.time, g.time);
    EXPECT_EQ(FormatIsoUtc(*g.time), "2026-12-08T18:55:10.05Z");
    EXPECT_EQ(FormatIsoUtc(-1), "1969-12-31T23:59:59.99Z");
}

TEST_F(GroupLog, ParserCountsMalformedLines)
{
    GroupLogParser parser;
    const char* lines[] = {
        "<recorder=\"x\">", "", "0000 0000 0000 0001", "junk", "1 2 3 4", "0000 0000 0000 0002", "a", "b", "c", "d",
        "<late header>"};
    std::size_t number = 0, groups = 0;
    for (const char* l : lines) {
        GroupRecord g;
        if (parser.parse(l, ++number, false, g)) ++groups;
    }
    GroupRecord g;
    EXPECT_FALSE(parser.parse("0000 0000 0000 0003", ++number, true, g));  // cut: too long
    EXPECT_EQ(groups, 2u);
    EXPECT_EQ(parser.groups(), 2u);
    EXPECT_EQ(parser.malformed(), 8u);
    EXPECT_EQ(parser.report(), "8 malformed lines skipped (lines 4, 5, 7, 8, 9, ...)");
    GroupLogParser one;
    one.parse("x", 3, false, g);
    EXPECT_EQ(one.report(), "1 malformed line skipped (line 3)");
    EXPECT_EQ(GroupLogParser().report(), "");
}

TEST_F(GroupLog, SplitsChunksIntoBoundedLines)
{
    const std::string text = "ab\r\ncd\n\nefghijkl\rmn";
    for (std::size_t chunk : {std::size_t(1), std::size_t(3), text.size()}) {
        LineSplitter splitter(5);
        std::vector<std::string> lines;
        std::vector<bool> cut;
        auto onLine = [&](std::string_view l, std::size_t number, bool tooLong) {
            EXPECT_EQ(number, lines.size() + 1);
            lines.emplace_back(l);
            cut.push_back(tooLong);
        };
        for (std::size_t i = 0; i < text.size(); i += chunk)
            splitter.feed(text.data() + i, std::min(chunk, text.size() - i), onLine);
        splitter.finish(onLine);
        EXPECT_EQ(lines, (std::vector<std::string>{"ab", "cd", "", "efghi", "mn"})) << chunk;
        EXPECT_EQ(cut, (std::vector<bool>{false, false, false, true, false})) << chunk;
    }
}

TEST_F(GroupLog, DetectsTheKindOfRecording)
{
    const struct {
        std::string head;
        RecordingKind kind;
    } cases[] = {
        {"<recorder=\"RDS Logger\">\r\nC2A1 0408 E0CD 4B45 @2026/12/08 19:55:10.25\r\nC2A1 ---- ---- 4B45\r\n",
         RecordingKind::GroupLog},
        {"C2A1 0408 E0CD 4B45\nC2A1 0409 E0CD 5452\nC2A1 040A E0", RecordingKind::GroupLog},
        {"C2A10408E0CD4B45\n", RecordingKind::GroupLog},
        {"C2A1 0408 E0CD 4B45\njunk\nmore junk\n", RecordingKind::Unknown},
        {"0110100101011100010100010111", RecordingKind::Bits},
        {"0101010101010101\n0101010101010101\n", RecordingKind::Bits},
        {"A5F0 03\n", RecordingKind::Hex},
        {"A5F003C2A1", RecordingKind::Hex},
        {std::string("\x7F"
                     "ELF\0\0",
                     6),
         RecordingKind::Unknown},
        {"Dear diary", RecordingKind::Unknown},
        {std::string("RIFF\x24\0\0\0WAVEfmt ", 16), RecordingKind::Audio},
        {std::string("fLaC\0\0\0\x22", 8), RecordingKind::Audio},
        {std::string("FORM\0\0\0\x10"
                     "AIFFCOMM",
                     16),
         RecordingKind::Audio},
        {"RIFF1234AVI LIST", RecordingKind::Unknown},
        {"", RecordingKind::Unknown},
    };
    for (const auto& c : cases) EXPECT_EQ(DetectRecording(c.head), c.kind) << c.head;
    EXPECT_STREQ(RecordingKindName(RecordingKind::GroupLog), "group log");
}

TEST_F(GroupLog, ShortHeadsOfEveryAudioSignatureAreJudgedWithoutReadingPastTheirEnd)
{
    // A container's signature with its format tag cut off: the head ends
    // anywhere from before the signature to inside the tag ("AIF" suffices
    // for AIFF and AIFC).
    const struct {
        std::string_view magic;
        std::size_t needed;
    } signatures[] = {{{"RIFF\x24\0\0\0WAVE", 12}, 12},
                      {{"RIFX\0\0\0\x24WAVE", 12}, 12},
                      {{"RF64\xFF\xFF\xFF\xFFWAVE", 12}, 12},
                      {{"FORM\0\0\0\x10"
                        "AIFF",
                        12},
                       11}};
    for (const auto& s : signatures) {
        for (std::size_t length = 0; length <= s.magic.size(); ++length) {
            const std::string_view head = s.magic.substr(0, length);
            EXPECT_EQ(DetectRecording(head) == RecordingKind::Audio, length >= s.needed)
                << s.magic.substr(0, 4) << " cut to " << length;
        }
    }
}

TEST_F(GroupLog, ReadingIsChosenByTheHeadAndWhetherItIsAStream)
{
    const struct {
        std::string head;
        Reading file, stream;
    } cases[] = {
        {"0110100101011100\n", Reading::Bits, Reading::Bits},
        {"A5F003C2A1", Reading::Hex, Reading::Hex},
        {"C2A1 0408 E0CD 4B45\nC2A1 0409 E0CD 5452\n", Reading::GroupLog, Reading::GroupLog},
        {std::string("RIFF\x24\0\0\0WAVEfmt ", 16), Reading::Audio, Reading::AudioFromStream},
        {std::string("\x7F"
                     "ELF\0\0",
                     6),
         Reading::MaybeAudio, Reading::Bits},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ChooseReading(c.head, false), c.file) << c.head;
        EXPECT_EQ(ChooseReading(c.head, true), c.stream) << c.head;
    }
}

TEST_F(GroupLog, ReaderRecognisesTheLogAndHandsOnGroupsWithBits)
{
    const std::string log = "\xEF\xBB\xBF<recorder=\"x\">\r\nC2A1 0408 E0CD 4B45\r\njunk\r\n2001 ---- 0000 0000";
    for (std::size_t chunk : {std::size_t(7), log.size()}) {
        GroupLogReader reader;
        std::vector<uint16_t> pis;
        auto onGroup = [&](const GroupRecord& g, const std::string& bits) {
            EXPECT_EQ(bits.size(), 104u);
            pis.push_back(g.blocks[0]);
        };
        for (std::size_t i = 0; i < log.size(); i += chunk)
            ASSERT_TRUE(reader.feed(log.data() + i, std::min(chunk, log.size() - i), onGroup));
        EXPECT_TRUE(reader.finish(onGroup));
        EXPECT_EQ(pis, (std::vector<uint16_t>{0xC2A1, 0x2001})) << chunk;
        EXPECT_EQ(reader.parser().report(), "1 malformed line skipped (line 3)");
    }
    const auto none = [](const GroupRecord&, const std::string&) {};
    GroupLogReader bits;
    EXPECT_TRUE(bits.feed("0110", 4, none));  // too short to judge yet
    EXPECT_FALSE(bits.finish(none));
    EXPECT_EQ(bits.error(), "not a group log: it holds bit text");
    GroupLogReader binary;
    const std::string zeros(GroupLogReader::kHeadSize, '\0');
    EXPECT_FALSE(binary.feed(zeros.data(), zeros.size(), none));
    EXPECT_EQ(binary.error(), "not a recording: neither a group log nor bit or hexadecimal text");
    GroupLogReader empty;
    EXPECT_FALSE(empty.finish(none));
    EXPECT_EQ(empty.error(), "");
}

TEST_F(GroupLog, GroupBitsCarryCheckWordsAndLoseMissingBlocks)
{
    GroupRecord g;
    g.blocks[0] = 0xC2A1;
    g.blocks[1] = 0x2800;  // 2B: block C goes with the C' offset
    g.blocks[2] = 0xC2A1;
    g.blocks[3] = 0x4142;
    g.received = 0xB;  // C missing
    std::string bits;
    AppendGroupBits(bits, g);
    std::string expected;
    rdsenc::AppendBlock(expected, 0xC2A1, rdsenc::Block::A);
    rdsenc::AppendBlock(expected, 0x2800, rdsenc::Block::B);
    expected.append(26, '0');
    rdsenc::AppendBlock(expected, 0x4142, rdsenc::Block::D);
    EXPECT_EQ(bits, expected);
    g.received = 0xF;
    bits.clear();
    AppendGroupBits(bits, g);
    std::string c;
    rdsenc::AppendBlock(c, 0xC2A1, rdsenc::Block::Cprime);
    EXPECT_EQ(bits.substr(52, 26), c);
}

}  // namespace
