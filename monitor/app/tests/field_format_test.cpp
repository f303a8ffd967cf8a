// The text formats of the indicators and panels.
#include "field_format.h"
#include "signal_status.h"

#include <QLocale>

#include <gtest/gtest.h>

namespace varnak {
namespace {

TEST(FieldFormat, IntegerConversions)
{
    EXPECT_EQ(IntegerToUnsigned(-1), 65535);
    EXPECT_EQ(IntegerToUnsigned(-32768), 32768);
    EXPECT_EQ(IntegerToUnsigned(1234), 1234);
    // Block words as RDS characters; bytes without one as a middle dot.
    const struct {
        int32_t word;
        const char* text;
    } chars[] = {{0x4142, "AB"}, {0x0041, "·A"}, {0x7F20, "· "}, {0, "··"},
                 {0xC37E, "È¯"}, {0x918D, "äß"}, {0x0DFF, "··"}, {0x2460, "¤‖"}};
    for (const auto& c : chars) EXPECT_EQ(IntegerToChar(c.word), QString::fromUtf8(c.text)) << c.text;
}

TEST(FieldFormat, HexAndDecimal)
{
    EXPECT_EQ(Hex(0xF201), QStringLiteral("F201"));
    EXPECT_EQ(Hex(0x0C3A), QStringLiteral("C3A"));
    EXPECT_EQ(Hex(0), QStringLiteral("0"));
    EXPECT_EQ(HexZ(10, 2), QStringLiteral("0A"));
    EXPECT_EQ(HexZ(0x1E05, 4), QStringLiteral("1E05"));
    EXPECT_EQ(HexZ(0x00C3, 4), QStringLiteral("00C3"));
    EXPECT_EQ(Hex4s(0x00C3), QStringLiteral("  C3"));
    EXPECT_EQ(Hex4s(0xCD46), QStringLiteral("CD46"));
    EXPECT_EQ(Dec(7, 2), QStringLiteral("07"));
    EXPECT_EQ(Dec(42, 4), QStringLiteral("0042"));
    EXPECT_EQ(Dec(65535, 5), QStringLiteral("65535"));
    EXPECT_EQ(Dec(123, 2), QStringLiteral("123"));
}

TEST(FieldFormat, FlagsAndLetters)
{
    EXPECT_EQ(FlagNY(0), QStringLiteral("N"));
    EXPECT_EQ(FlagNY(1), QStringLiteral("Y"));
    EXPECT_EQ(FlagNY(2), QString());
    EXPECT_EQ(LetterAB(0), QStringLiteral("A"));
    EXPECT_EQ(LetterAB(1), QStringLiteral("B"));
    const uint8_t di[4] = {1, 0, 0xFF, 0xFF};
    EXPECT_EQ(DiText(di), QStringLiteral("__01"));
}

TEST(FieldFormat, FrequenciesUseTheUsersDecimalSeparator)
{
    const QLocale saved;
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    EXPECT_EQ(Freq(875), QStringLiteral("87.5"));
    EXPECT_EQ(Freq(1079), QStringLiteral("107.9"));
    EXPECT_EQ(Freq(1080), QStringLiteral("108.0"));
    EXPECT_EQ(Freq(5), QStringLiteral("00.5"));
    EXPECT_EQ(Freq(0), QString());
    EXPECT_EQ(Freq(14850), QStringLiteral("1485.0"));  // no digit grouping
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    EXPECT_EQ(Freq(875), QStringLiteral("87,5"));
    EXPECT_EQ(Freq(14850), QStringLiteral("1485,0"));
    QLocale::setDefault(saved);
}

TEST(FieldFormat, TextFieldsAndCounters)
{
    const char ps[9] = {'R', 'A', 'D', 'I', 'O', ' ', '\xD7', ' ', '\0'};
    EXPECT_EQ(FieldText(ps, 9), QString::fromUtf8("RADIO Ö "));
    const char rt[6] = {'E', 'n', 'd', '\r', '\x8D', '\0'};
    EXPECT_EQ(FieldText(rt, 6), QString::fromUtf8("End·ß"));
    const char full[4] = {'a', 'b', 'c', 'd'};  // no terminator: stops at the size
    EXPECT_EQ(FieldText(full, 4), QStringLiteral("abcd"));
    EXPECT_EQ(CounterText("Total Blocs", 123), QStringLiteral("Total Blocs    123"));
    EXPECT_EQ(CounterText("Total Blocs", 12345678), QStringLiteral("Total Blocs12345678"));
    EXPECT_EQ(CounterText("Total Errors", 0), QStringLiteral("Total Errors      0"));
}

// Messages from the core and the radio input: our own leading word is
// capitalised, a file name at the start never.
TEST(FieldFormat, SentencesKeepFileNamesAsTheyAre)
{
    const struct {
        const char* text;
        const char* shown;
    } cases[] = {
        {"cannot create /tmp/a.out: Permission denied", "Cannot create /tmp/a.out: Permission denied"},
        {"half.flac: read error: the audio data is damaged", "half.flac: read error: the audio data is damaged"},
        {"cut.wav is truncated: its header promises 4 samples", "cut.wav is truncated: its header promises 4 samples"},
        {"my recording.wav: holds no samples", "my recording.wav: holds no samples"},
        {"cannot.wav: holds no samples", "cannot.wav: holds no samples"},
        {"standard input: read error: Input/output error", "standard input: read error: Input/output error"},
        {"", ""},
    };
    for (const auto& c : cases) EXPECT_EQ(Sentence(c.text), QString::fromUtf8(c.shown)) << c.text;
}

// The signal as the status bar and the title tell it: no RDS level and no
// CNR without RDS blocks, the block error rate once blocks were checked, and
// the card's own level.
TEST(FieldFormat, SignalTexts)
{
    radio::SignalReport rds;
    rds.pilotPresent = true;
    rds.pilotLevel = 0.09;
    rds.rdsLevel = 0.045;
    rds.cnrDb = 14.24;
    rds.rdsFound = true;
    rds.locked = true;
    rds.bits = 5000;
    radio::SignalReport square;  // a full-scale square wave: a steady tone near 57 kHz
    square.rdsLevel = 0.0004;
    square.cnrDb = 65.8;
    square.bits = 5000;
    radio::SignalReport silent;
    const struct {
        const radio::SignalReport* report;
        BlockErrors errors;
        const char* brief;
        const char* full;
    } radios[] = {
        {&rds,
         {3, 250},
         "RDS 4.5 %, 14.2 dB, BLER 1.2 %, pilot 9.0 %",
         "pilot 9.0 %, RDS 4.5 %, CNR about 14.2 dB, block errors 1.2 % (3 of 250)"},
        {&rds, {}, "RDS 4.5 %, 14.2 dB, pilot 9.0 %", "pilot 9.0 %, RDS 4.5 %, CNR about 14.2 dB"},
        {&square, {0, 5}, "no RDS signal, no pilot", "no pilot, no RDS signal found"},
        {&silent, {}, "no RDS signal, no pilot", "no pilot, no RDS signal found"},
    };
    for (const auto& c : radios) {
        const SignalStatus s = RadioSignalStatus(*c.report, c.errors);
        EXPECT_EQ(s.brief, QString::fromUtf8(c.brief));
        EXPECT_EQ(s.full, QString::fromUtf8(c.full));
    }
    const struct {
        const char* status;
        int level;
        BlockErrors errors;
        const char* brief;
    } cards[] = {
        {"locked", 62, {1, 1000}, "card level 62 (locked), BLER 0.1 %"},
        {"", 17, {}, "card level 17"},
        {"", 0, {}, "card level not yet sent"},
    };
    for (const auto& c : cards)
        EXPECT_EQ(CardSignalStatus(QString::fromLatin1(c.status), c.level, c.errors).brief, QString::fromUtf8(c.brief));
}

}  // namespace
}  // namespace varnak
