// The RDS character set both ways, and the North American names and calls.
#include <gtest/gtest.h>

#include "rbds.h"
#include "rds_charset.h"

namespace {

using namespace rdsformats;

// Codes 0x20..0xFF, sixteen a row, as UTF-8; "~" stands for a code without
// a character (0x7F, 0xFF).
const char* const kRows[14] = {
    " !\"#¤%&'()*+,-./", "0123456789:;<=>?", "@ABCDEFGHIJKLMNO", "PQRSTUVWXYZ[\\]―_", "‖abcdefghijklmno",
    "pqrstuvwxyz{|}¯~",  "áàéèíìóòúùÑÇŞß¡Ĳ", "âäêëîïôöûüñçşğıĳ", "ªα©‰Ğěňőπ€£$←↑→↓",  "º¹²³±İńűµ¿÷°¼½¾§",
    "ÁÀÉÈÍÌÓÒÚÙŘČŠŽĐĿ",  "ÂÄÊËÎÏÔÖÛÜřčšžđŀ", "ÃÅÆŒŷÝÕØÞŊŔĆŚŹŦð", "ãåæœŵýõøþŋŕćśźŧ~",
};

TEST(RdsCharset, EveryCodeBothWays)
{
    std::size_t checked = 0;
    for (int row = 0; row < 14; ++row) {
        const std::string expected = kRows[row];
        std::size_t pos = 0;
        for (int col = 0; col < 16; ++col) {
            const int code = 0x20 + row * 16 + col;
            const long c = NextUtf8(expected, pos);
            ASSERT_GE(c, 0) << "row " << row;
            SCOPED_TRACE(code);
            if (c == '~') {
                EXPECT_EQ(RdsToUnicode(static_cast<uint8_t>(code)), 0u);
                continue;
            }
            EXPECT_EQ(RdsToUnicode(static_cast<uint8_t>(code)), static_cast<char32_t>(c));
            EXPECT_EQ(UnicodeToRds(static_cast<char32_t>(c)), code);
            ++checked;
        }
        EXPECT_EQ(pos, expected.size());
    }
    EXPECT_EQ(checked, 222u);
    for (int code = 0; code < 0x20; ++code) EXPECT_EQ(RdsToUnicode(static_cast<uint8_t>(code)), 0u) << code;
}

TEST(RdsCharset, TextToUtf8WithPlaceholders)
{
    const struct {
        std::string bytes;
        std::string utf8;
    } cases[] = {
        {"M\x91nner", "Männer"},
        {"Stra\x8D"
         "e",
         "Straße"},
        {"5 \xAB \x24", "5 $ ¤"},
        {"RT\r  ", "RT·  "},
        {"\x7F\xFF", "··"},
        {std::string("AB\0CD", 5), "AB"},
    };
    for (const auto& c : cases) EXPECT_EQ(RdsToUtf8(c.bytes.data(), c.bytes.size()), c.utf8) << c.utf8;
    EXPECT_EQ(RdsToUtf8("\r", 1, "?"), "?");
}

TEST(RdsCharset, Utf8ToRds)
{
    const struct {
        std::string utf8;
        bool ok;
        std::string bytesOrProblem;
    } cases[] = {
        {"RADIO Ö ", true, "RADIO \xD7 "},
        {"€ 5 $", true, "\xA9 5 \xAB"},
        {"ŷŵ", true, "\xE4\xF4"},
        {"a~b", false, "character '~' (U+007E) is not in the RDS character set"},
        {"✓", false, "character '✓' (U+2713) is not in the RDS character set"},
        {"tab\there", false, "control character U+0009 in text"},
        {"bad \xC3", false, "text is not valid UTF-8 (byte 5)"},
        {"over \xC0\x80", false, "text is not valid UTF-8 (byte 6)"},
    };
    for (const auto& c : cases) {
        const RdsEncoding r = Utf8ToRds(c.utf8);
        EXPECT_EQ(r.ok, c.ok) << c.utf8;
        EXPECT_EQ(c.ok ? r.bytes : r.problem, c.bytesOrProblem);
    }
    EXPECT_EQ(Utf8ToRds("RADIO Ö ").bytes.size(), 8u);
}

TEST(Rbds, ProgrammeTypeNames)
{
    const struct {
        int pty;
        const char* name;
    } cases[] = {{0, "None"}, {5, "Rock"}, {10, "Country"}, {24, "Spanish Talk"}, {31, "Emergency"}};
    for (const auto& c : cases) EXPECT_STREQ(RbdsPtyName(c.pty), c.name);
    EXPECT_EQ(RbdsPtyName(32), nullptr);
    EXPECT_EQ(RbdsPtyName(-1), nullptr);
}

TEST(Rbds, CallLetters)
{
    const struct {
        uint16_t pi;
        const char* call;
    } cases[] = {
        {0x1000, "KAAA"}, {0x3AAB, "KQED"}, {0x54A7, "KZZZ"}, {0x54A8, "WAAA"}, {0x994F, "WZZZ"},
        {0x9950, "KEX"},  {0x996B, "KYW"},  {0x99B9, "WRC"},  {0x9961, ""},     {0x99BA, ""},
        {0x0FFF, ""},     {0xC000, ""},     {0xAF3A, "KPXO"}, {0xA3AB, "KMJR"}, {0xAFFF, ""},
    };
    for (const auto& c : cases) EXPECT_EQ(CallLetters(c.pi), c.call) << std::hex << c.pi;
}

}  // namespace
