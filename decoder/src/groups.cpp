// The group decoder: turns the information words of accepted blocks into the
// fields of the record and builds the display texts of each block.
#include <cstring>

#include "decoder.h"
#include "text_builder.h"

namespace murlin {

namespace {

inline char Digit(unsigned value) { return char('0' + value); }

// "<label><i>:'<c>' <label><i+1>:'<c>'", the two-character pair of PS and radiotext.
TextBuilder& CharPair(TextBuilder& t, const char* label, int index, char first, char second)
{
    return t.Str(label).Dec(index, 2).Str(":'").Chr(first).Str("' ").Str(label).Dec(index + 1, 2).Str(":'")
        .Chr(second).Chr('\'');
}

// Group 0A and 0B: decoder identification, PS name and (0A only) the
// alternative frequencies of block C.
void DecodeBasicTuning(uint16_t b, uint16_t c, uint16_t d, char* textC, char* textD)
{
    DecoderState& r = gDecoder.record;
    const unsigned s = b & 3u;
    const unsigned diBit = (b >> 2) & 1u;
    if (s == 0)
        for (auto& v : r.di)
            v = 0xFF;
    r.di[3 - s] = uint8_t(diBit);
    r.ps[2 * s] = char(d >> 8);
    r.ps[2 * s + 1] = char(d & 0xFF);

    if (s == 0) {
        std::memcpy(gDecoder.diDigits, "....", 5);
        std::memcpy(gDecoder.diLetters, "....", 5);
    }
    gDecoder.diDigits[s] = Digit(diBit);
    static constexpr char kSet[4] = {'D', 'C', 'A', 'S'};     // for di[3], di[2], di[1], di[0]
    static constexpr char kClear[4] = {'N', 'N', 'N', 'M'};
    for (int i = 0; i < 4; ++i) {
        const uint8_t v = r.di[3 - i];
        if (v != 0xFF)
            gDecoder.diLetters[i] = v ? kSet[i] : kClear[i];
    }

    if (gDecoder.groupCode == 0) {
        const unsigned c1 = c >> 8;
        const unsigned c2 = c & 0xFFu;
        TextBuilder afLine(textC, kTextSize);
        if (c1 >= 224 && c1 <= 249) {
            for (auto& f : r.afList)
                f = 0;
            r.afCount = uint8_t(c1 - 224);
            gDecoder.afNext = 1;
            r.afList[0] = AfFrequency(c2);
            afLine.Str("AFnn: ").Dec(r.afCount, 2).Str("   AF01:").Tenths(r.afList[0], 5);
        } else if (c1 <= 204) {
            const uint16_t f1 = AfFrequency(c1);
            const uint16_t f2 = AfFrequency(c2);
            const unsigned p = gDecoder.afNext;
            if (p >= 1 && p <= r.afCount) {
                // The list holds 25 entries; a pair reaching past it keeps
                // only what fits.
                if (p < 25)
                    r.afList[p] = f1;
                if (p + 1 < 25)
                    r.afList[p + 1] = f2;
                gDecoder.afNext = uint8_t(p + 2);
                afLine.Str("AF").Dec(int(p), 2).Chr(':').Tenths(f1, 5);
                afLine.Str(" AF").Dec(int(p + 1), 2).Chr(':').Tenths(f2, 5);
            } else {
                afLine.Str("AF..:").Tenths(f1, 5).Str(" AF..:").Tenths(f2, 5);
            }
        } else if (c1 == 250) {
            afLine.Str("AFMF:").Tenths(LfMfFrequency(c2), 5);
        } else {
            afLine.Str("NO AF");   // other codes: nothing to show or store
        }
    }
    TextBuilder line(textD, kTextSize);
    line.Str("DI:").Str(gDecoder.diDigits).Str(" (").Str(gDecoder.diLetters).Str(") ");
    CharPair(line, "PS", int(2 * s), r.ps[2 * s], r.ps[2 * s + 1]).Str(" ('").Str(r.ps).Str("')");
}

// Group 4A: clock time and date (Modified Julian Day, EN 50067 Annex G).
void DecodeClock(uint16_t b, uint16_t c, uint16_t d, char* textC, char* textD)
{
    DecoderState& r = gDecoder.record;
    r.hour = uint8_t(((c & 1u) << 4) | (d >> 12));
    r.minute = uint8_t((d >> 6) & 0x3Fu);
    const int halfHours = d & 0x1F;
    r.localOffset = int16_t((d & 0x20) ? -halfHours * 5 : halfHours * 5);

    const int mjd = int(((b & 3u) << 15) | (c >> 1));
    int y = int((mjd - 15078.2) / 365.25);
    const int yearDays = int(y * 365.25);
    int m = int((mjd - 14956.1 - yearDays) / 30.6001);
    const int day = (mjd - 14956) - yearDays - int(m * 30.6001);
    if (m == 14 || m == 15) {
        y += 1;
        m -= 12;
    }
    r.year = uint16_t(y + 1900);
    r.month = uint8_t(m - 1);
    r.day = uint8_t(day);
    RenderClockText();

    TextBuilder(textC, kTextSize).Str("Julian:").Dec(mjd, 1).Str(" (").Dec(y, 4, ' ').Chr('/')
        .Dec(m, 2).Chr('/').Dec(day, 2).Chr(')');
    TextBuilder(textD, kTextSize).Str("H:").Dec(r.hour, 2).Str(" M:").Dec(r.minute, 2).Str(" O:")
        .Tenths(r.localOffset, 2, true);
}

// Group 14A: enhanced other networks, by variant.
void DecodeOtherNetwork(uint16_t b, uint16_t c, uint16_t d, char* textC, char* textD)
{
    DecoderState& r = gDecoder.record;
    if (d != gDecoder.lastEonPi) {
        ClearEonData();
        gDecoder.lastEonPi = d;
    }
    const unsigned v = b & 0x0Fu;
    const unsigned hi = c >> 8;
    const unsigned lo = c & 0xFFu;
    switch (v) {
    case 0: case 1: case 2: case 3:
        if (v == 0)
            FillSpaces(r.eonPs, 8);
        r.eonPs[2 * v] = char(hi);
        r.eonPs[2 * v + 1] = char(lo);
        {
            TextBuilder line(textC, kTextSize);
            CharPair(line.Str("EON "), "PS", int(2 * v), r.eonPs[2 * v], r.eonPs[2 * v + 1]);
            line.Str(" ('").Str(r.eonPs).Str("')");
        }
        break;
    case 4:
        r.eonAf1 = AfFrequency(hi);
        r.eonAf2 = AfFrequency(lo);
        TextBuilder(textC, kTextSize).Str("EON AF1:").Tenths(r.eonAf1, 5).Str(" AF2:").Tenths(r.eonAf2, 5);
        break;
    case 5: case 6: case 7: case 8: case 9:
        r.eonTuned[v - 5] = AfFrequency(hi);
        r.eonMapped[v - 5] = v == 9 ? LfMfFrequency(lo) : AfFrequency(lo);
        TextBuilder(textC, kTextSize).Str("EON TF").Dec(int(v - 4), 1).Chr(':').Tenths(r.eonTuned[v - 5], 5)
            .Str(" MF").Dec(int(v - 4), 1).Chr(':').Tenths(r.eonMapped[v - 5], 5).Chr(' ');
        break;
    case 12:
        TextBuilder(textC, kTextSize).Str("EON LA:").Digit((c >> 14) & 1u).Str(" EG:").Digit((c >> 13) & 1u)
            .Str(" ILS:").Digit((c >> 12) & 1u).Str(" LSN:").Hex(c & 0x0FFFu, 4);
        break;
    case 13:
        r.eonPty = uint8_t(c >> 11);
        r.eonTa = uint8_t(c & 1u);
        TextBuilder(textC, kTextSize).Str("EON TA:").Digit(r.eonTa).Str(" PTY:").Hex(r.eonPty, 1);
        break;
    case 14:
        r.eonPin = c;
        TextBuilder(textC, kTextSize).Str("EON PIN:").Hex(r.eonPin, 4);
        break;
    default:
        break;
    }
    r.eonPi = gDecoder.lastEonPi;
    TextBuilder(textD, kTextSize).Str("EON PI:").Hex(r.eonPi, 4);
}

}  // namespace

uint16_t AfFrequency(unsigned code) { return code <= 204 ? uint16_t(875 + code) : 0; }

uint16_t LfMfFrequency(unsigned code)
{
    if (code < 16)
        return uint16_t((153 + 9 * (int(code) - 1)) * 10);
    return uint16_t((531 + 9 * (int(code) - 16)) * 10);
}

void HandleBlockA(uint16_t quality)
{
    DecoderState& r = gDecoder.record;
    // Only an error-free block A confirmed by synchronisation names a station.
    if (quality == 0 && gDecoder.blockWords[0] != gDecoder.lastPi) {
        ClearDecodedData();
        r.pi = gDecoder.blockWords[0];
        gDecoder.lastPi = r.pi;
    }
    char text[kTextSize];
    TextBuilder(text, sizeof text).Str("PI:").Hex(r.pi, 4);
    SetBlockLine(0, text);
}

void HandleBlockB()
{
    DecoderState& r = gDecoder.record;
    const uint16_t b = gDecoder.blockWords[1];
    const unsigned code = b >> 11;
    gDecoder.groupCode = uint8_t(code);
    r.groupType = uint8_t(code / 2);
    r.groupVersion = uint8_t(code & 1u);
    r.tp = uint8_t((b >> 10) & 1u);
    r.pty = uint8_t((b >> 5) & 0x1Fu);
    r.groupsSeen |= 1u << code;

    char group[kTextSize] = "";
    switch (code) {
    case 0: case 1: case 31:   // 0A, 0B, 15B
        r.ta = uint8_t((b >> 4) & 1u);
        r.ms = uint8_t((b >> 3) & 1u);
        TextBuilder(group, sizeof group).Str("TA:").Digit(r.ta).Str(" MS:").Digit(r.ms);
        break;
    case 2: case 3:   // 1A, 1B
        r.rpc = uint8_t(b & 0x1Fu);
        TextBuilder(group, sizeof group).Str("RPC:").Hex(r.rpc, 1);
        break;
    case 4: case 5: {   // 2A, 2B
        const uint8_t flag = uint8_t((b >> 4) & 1u);
        if (flag != r.textAB) {
            FillSpaces(r.radioText, 64);
            FillSpaces(r.radioTextB, 32);
            r.textAB = flag;
            TextBuilder(group, sizeof group).Str("TAB:").Digit(r.textAB);
        }
        break;
    }
    case 6:   // 3A
        r.odaGroupType = uint8_t((b >> 1) & 0x0Fu);
        r.odaGroupVersion = uint8_t(b & 1u);
        TextBuilder(group, sizeof group).Str("GRP:").Dec(r.odaGroupType, 2).Chr(char('A' + r.odaGroupVersion));
        break;
    case 16:   // 8A
        r.tmcT = uint8_t((b >> 4) & 1u);
        r.tmcF = uint8_t((b >> 3) & 1u);
        r.tmcDP = uint8_t(b & 7u);
        TextBuilder(group, sizeof group).Str("T:").Digit(r.tmcT).Str(" F:").Digit(r.tmcF).Str(" DP:")
            .Hex(r.tmcDP, 1).Str(" (").Str(DurationTexts[r.tmcDP]).Chr(')');
        break;
    case 28:   // 14A
        r.eonTp = uint8_t((b >> 4) & 1u);
        TextBuilder(group, sizeof group).Str("EON TP:").Digit(r.eonTp);
        break;
    case 29:   // 14B
        r.eonTp = uint8_t((b >> 4) & 1u);
        r.eonTa = uint8_t((b >> 3) & 1u);
        TextBuilder(group, sizeof group).Str("EON TP:").Digit(r.eonTp).Str(" TA:").Digit(r.eonTa);
        break;
    default:
        break;
    }

    char text[kTextSize];
    TextBuilder(text, sizeof text).Str("GRP:").Dec(r.groupType, 2).Chr(char('A' + r.groupVersion))
        .Str(" TP:").Digit(r.tp).Str(" PTY:").Hex(r.pty, 1).Str(" (").Str(PtyTexts[r.pty]).Str(") ")
        .Chr(group[0] != '\0' ? '-' : ' ').Chr(' ').Str(group);
    SetBlockLine(1, text);
}

void DecodeGroup()
{
    DecoderState& r = gDecoder.record;
    const uint16_t b = gDecoder.blockWords[1];
    const uint16_t c = gDecoder.blockWords[2];
    const uint16_t d = gDecoder.blockWords[3];
    char textC[kTextSize] = "";
    char textD[kTextSize] = "";

    switch (gDecoder.groupCode) {
    case 0: case 1:   // 0A, 0B
        DecodeBasicTuning(b, c, d, textC, textD);
        break;
    case 2: case 3:   // 1A, 1B: block C of 1B carries the PI, not the SLC
        if (gDecoder.groupCode == 2)
            r.slc = c;
        r.pin = d;
        TextBuilder(textC, kTextSize).Str("SLC:").Hex(r.slc, 4).Str(" (LA:").Digit(r.slc >> 15).Str(" VC:")
            .Hex((r.slc >> 12) & 7u, 1).Str(" SLC:").Hex(r.slc & 0x0FFFu, 2).Chr(')');
        TextBuilder(textD, kTextSize).Str("PIN:").Hex(r.pin, 4).Str(" (D:").Dec(r.pin >> 11, 2).Str(" H:")
            .Dec((r.pin >> 6) & 0x1F, 2).Str(" M:").Dec(r.pin & 0x3F, 2).Chr(')');
        break;
    case 4: {   // 2A
        gDecoder.rtAddress = uint8_t(b & 0x0Fu);
        const int a = 4 * gDecoder.rtAddress;
        r.radioText[a] = char(c >> 8);
        r.radioText[a + 1] = char(c & 0xFF);
        r.radioText[a + 2] = char(d >> 8);
        r.radioText[a + 3] = char(d & 0xFF);
        TextBuilder lineC(textC, kTextSize);
        CharPair(lineC, "RS", a, r.radioText[a], r.radioText[a + 1]);
        TextBuilder lineD(textD, kTextSize);
        CharPair(lineD, "RS", a + 2, r.radioText[a + 2], r.radioText[a + 3]);
        break;
    }
    case 5: {   // 2B
        gDecoder.rtAddress = uint8_t(b & 0x0Fu);
        const int a = 2 * gDecoder.rtAddress;
        r.radioTextB[a] = char(d >> 8);
        r.radioTextB[a + 1] = char(d & 0xFF);
        TextBuilder(textC, kTextSize).Str("PI:").Hex(c, 4);
        TextBuilder lineD(textD, kTextSize);
        CharPair(lineD, "RS", a, r.radioTextB[a], r.radioTextB[a + 1]);
        break;
    }
    case 6:   // 3A
        r.odaMessage = c;
        r.odaAid = d;
        TextBuilder(textD, kTextSize).Str("ODA:").Hex(r.odaMessage, 4).Str(" AID:").Hex(r.odaAid, 4);
        break;
    case 8:   // 4A
        DecodeClock(b, c, d, textC, textD);
        break;
    case 16:   // 8A: every group taken as a single-group user message
        r.tmcD = uint8_t(c >> 15);
        r.tmcPN = uint8_t((c >> 14) & 1u);
        r.tmcExtent = uint8_t((c >> 11) & 7u);
        r.tmcEvent = uint16_t(c & 0x07FFu);
        r.tmcLocation = d;
        TextBuilder(textC, kTextSize).Str("D:").Digit(r.tmcD).Str(" PN:").Digit(r.tmcPN).Str(" EXT:")
            .Hex(r.tmcExtent, 1).Str(" EVT:").Hex(r.tmcEvent, 3);
        TextBuilder(textD, kTextSize).Str("LOC: ").Hex(r.tmcLocation, 4);
        break;
    case 28:   // 14A
        DecodeOtherNetwork(b, c, d, textC, textD);
        break;
    case 29:   // 14B: names the other network without touching lastEonPi
        r.eonPi = d;
        TextBuilder(textD, kTextSize).Str("EON PI:").Hex(r.eonPi, 4);
        break;
    default:
        break;
    }
    SetBlockLine(2, textC);
    SetBlockLine(3, textD);
}

}  // namespace murlin
