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
    return t.str(label)
        .dec(index, 2)
        .str(":'")
        .chr(first)
        .str("' ")
        .str(label)
        .dec(index + 1, 2)
        .str(":'")
        .chr(second)
        .chr('\'');
}

// Group 0A and 0B: decoder identification, PS name and (0A only) the
// alternative frequencies of block C.
void DecodeBasicTuning(uint16_t b, uint16_t c, uint16_t d, char* textC, char* textD)
{
    DecoderState& r = Current().record;
    const unsigned s = b & 3u;
    const unsigned diBit = (b >> 2) & 1u;
    if (s == 0)
        for (auto& v : r.di) v = 0xFF;
    r.di[3 - s] = uint8_t(diBit);
    r.ps[2 * s] = char(d >> 8);
    r.ps[2 * s + 1] = char(d & 0xFF);

    if (s == 0) {
        std::memcpy(Current().diDigits, "....", 5);
        std::memcpy(Current().diLetters, "....", 5);
    }
    Current().diDigits[s] = Digit(diBit);
    static constexpr char kSet[4] = {'D', 'C', 'A', 'S'};  // for di[3], di[2], di[1], di[0]
    static constexpr char kClear[4] = {'N', 'N', 'N', 'M'};
    for (int i = 0; i < 4; ++i) {
        const uint8_t v = r.di[3 - i];
        if (v != 0xFF) Current().diLetters[i] = v ? kSet[i] : kClear[i];
    }

    if (Current().groupCode == 0) {
        const unsigned c1 = c >> 8;
        const unsigned c2 = c & 0xFFu;
        TextBuilder afLine(textC, kTextSize);
        if (c1 >= 224 && c1 <= 249) {
            for (auto& f : r.afList) f = 0;
            r.afCount = uint8_t(c1 - 224);
            Current().afNext = 1;
            r.afList[0] = AfFrequency(c2);
            afLine.str("AFnn: ").dec(r.afCount, 2).str("   AF01:").tenths(r.afList[0], 5);
        } else if (c1 <= 204) {
            const uint16_t f1 = AfFrequency(c1);
            const uint16_t f2 = AfFrequency(c2);
            const unsigned p = Current().afNext;
            if (p >= 1 && p <= r.afCount) {
                // The list holds 25 entries; a pair reaching past it keeps
                // only what fits.
                if (p < 25) r.afList[p] = f1;
                if (p + 1 < 25) r.afList[p + 1] = f2;
                Current().afNext = uint8_t(p + 2);
                afLine.str("AF").dec(int(p), 2).chr(':').tenths(f1, 5);
                afLine.str(" AF").dec(int(p + 1), 2).chr(':').tenths(f2, 5);
            } else {
                afLine.str("AF..:").tenths(f1, 5).str(" AF..:").tenths(f2, 5);
            }
        } else if (c1 == 250) {
            afLine.str("AFMF:").tenths(LfMfFrequency(c2), 5);
        } else {
            afLine.str("NO AF");  // other codes: nothing to show or store
        }
    }
    TextBuilder line(textD, kTextSize);
    line.str("DI:").str(Current().diDigits).str(" (").str(Current().diLetters).str(") ");
    CharPair(line, "PS", int(2 * s), r.ps[2 * s], r.ps[2 * s + 1]).str(" ('").str(r.ps).str("')");
}

// Group 4A: clock time and date (Modified Julian Day, EN 50067 Annex G).
void DecodeClock(uint16_t b, uint16_t c, uint16_t d, char* textC, char* textD)
{
    DecoderState& r = Current().record;
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

    TextBuilder(textC, kTextSize)
        .str("Julian:")
        .dec(mjd, 1)
        .str(" (")
        .dec(y, 4, ' ')
        .chr('/')
        .dec(m, 2)
        .chr('/')
        .dec(day, 2)
        .chr(')');
    TextBuilder(textD, kTextSize)
        .str("H:")
        .dec(r.hour, 2)
        .str(" M:")
        .dec(r.minute, 2)
        .str(" O:")
        .tenths(r.localOffset, 2, true);
}

// Group 14A: enhanced other networks, by variant.
void DecodeOtherNetwork(uint16_t b, uint16_t c, uint16_t d, char* textC, char* textD)
{
    DecoderState& r = Current().record;
    if (d != Current().lastEonPi) {
        ClearEonData();
        Current().lastEonPi = d;
    }
    const unsigned v = b & 0x0Fu;
    const unsigned hi = c >> 8;
    const unsigned lo = c & 0xFFu;
    switch (v) {
        case 0:
        case 1:
        case 2:
        case 3:
            if (v == 0) FillSpaces(r.eonPs, 8);
            r.eonPs[2 * v] = char(hi);
            r.eonPs[2 * v + 1] = char(lo);
            {
                TextBuilder line(textC, kTextSize);
                CharPair(line.str("EON "), "PS", int(2 * v), r.eonPs[2 * v], r.eonPs[2 * v + 1]);
                line.str(" ('").str(r.eonPs).str("')");
            }
            break;
        case 4:
            r.eonAf1 = AfFrequency(hi);
            r.eonAf2 = AfFrequency(lo);
            TextBuilder(textC, kTextSize).str("EON AF1:").tenths(r.eonAf1, 5).str(" AF2:").tenths(r.eonAf2, 5);
            break;
        case 5:
        case 6:
        case 7:
        case 8:
        case 9:
            r.eonTuned[v - 5] = AfFrequency(hi);
            r.eonMapped[v - 5] = v == 9 ? LfMfFrequency(lo) : AfFrequency(lo);
            TextBuilder(textC, kTextSize)
                .str("EON TF")
                .dec(int(v - 4), 1)
                .chr(':')
                .tenths(r.eonTuned[v - 5], 5)
                .str(" MF")
                .dec(int(v - 4), 1)
                .chr(':')
                .tenths(r.eonMapped[v - 5], 5)
                .chr(' ');
            break;
        case 12:
            TextBuilder(textC, kTextSize)
                .str("EON LA:")
                .digit((c >> 14) & 1u)
                .str(" EG:")
                .digit((c >> 13) & 1u)
                .str(" ILS:")
                .digit((c >> 12) & 1u)
                .str(" LSN:")
                .hex(c & 0x0FFFu, 4);
            break;
        case 13:
            r.eonPty = uint8_t(c >> 11);
            r.eonTa = uint8_t(c & 1u);
            TextBuilder(textC, kTextSize).str("EON TA:").digit(r.eonTa).str(" PTY:").hex(r.eonPty, 1);
            break;
        case 14:
            r.eonPin = c;
            TextBuilder(textC, kTextSize).str("EON PIN:").hex(r.eonPin, 4);
            break;
        default:
            break;
    }
    r.eonPi = Current().lastEonPi;
    TextBuilder(textD, kTextSize).str("EON PI:").hex(r.eonPi, 4);
}

}  // namespace

uint16_t AfFrequency(unsigned code) { return code <= 204 ? uint16_t(875 + code) : 0; }

uint16_t LfMfFrequency(unsigned code)
{
    if (code < 16) return uint16_t((153 + 9 * (int(code) - 1)) * 10);
    return uint16_t((531 + 9 * (int(code) - 16)) * 10);
}

void HandleBlockA(uint16_t quality)
{
    DecoderState& r = Current().record;
    // Only an error-free block A confirmed by synchronisation names a station.
    if (quality == 0 && Current().blockWords[0] != Current().lastPi) {
        ClearDecodedData();
        r.pi = Current().blockWords[0];
        Current().lastPi = r.pi;
    }
    char text[kTextSize];
    TextBuilder(text, sizeof text).str("PI:").hex(r.pi, 4);
    SetBlockLine(0, text);
}

void HandleBlockB()
{
    DecoderState& r = Current().record;
    const uint16_t b = Current().blockWords[1];
    const unsigned code = b >> 11;
    Current().groupCode = uint8_t(code);
    r.groupType = uint8_t(code / 2);
    r.groupVersion = uint8_t(code & 1u);
    r.tp = uint8_t((b >> 10) & 1u);
    r.pty = uint8_t((b >> 5) & 0x1Fu);
    r.groupsSeen |= 1u << code;

    char group[kTextSize] = "";
    switch (code) {
        case 0:
        case 1:
        case 31:  // 0A, 0B, 15B
            r.ta = uint8_t((b >> 4) & 1u);
            r.ms = uint8_t((b >> 3) & 1u);
            TextBuilder(group, sizeof group).str("TA:").digit(r.ta).str(" MS:").digit(r.ms);
            break;
        case 2:
        case 3:  // 1A, 1B
            r.rpc = uint8_t(b & 0x1Fu);
            TextBuilder(group, sizeof group).str("RPC:").hex(r.rpc, 1);
            break;
        case 4:
        case 5: {  // 2A, 2B
            const uint8_t flag = uint8_t((b >> 4) & 1u);
            if (flag != r.textAB) {
                FillSpaces(r.radioText, 64);
                FillSpaces(r.radioTextB, 32);
                r.textAB = flag;
                TextBuilder(group, sizeof group).str("TAB:").digit(r.textAB);
            }
            break;
        }
        case 6:  // 3A
            r.odaGroupType = uint8_t((b >> 1) & 0x0Fu);
            r.odaGroupVersion = uint8_t(b & 1u);
            TextBuilder(group, sizeof group).str("GRP:").dec(r.odaGroupType, 2).chr(char('A' + r.odaGroupVersion));
            break;
        case 16:  // 8A
            r.tmcT = uint8_t((b >> 4) & 1u);
            r.tmcF = uint8_t((b >> 3) & 1u);
            r.tmcDP = uint8_t(b & 7u);
            TextBuilder(group, sizeof group)
                .str("T:")
                .digit(r.tmcT)
                .str(" F:")
                .digit(r.tmcF)
                .str(" DP:")
                .hex(r.tmcDP, 1)
                .str(" (")
                .str(kDurationTexts[r.tmcDP])
                .chr(')');
            break;
        case 28:  // 14A
            r.eonTp = uint8_t((b >> 4) & 1u);
            TextBuilder(group, sizeof group).str("EON TP:").digit(r.eonTp);
            break;
        case 29:  // 14B
            r.eonTp = uint8_t((b >> 4) & 1u);
            r.eonTa = uint8_t((b >> 3) & 1u);
            TextBuilder(group, sizeof group).str("EON TP:").digit(r.eonTp).str(" TA:").digit(r.eonTa);
            break;
        default:
            break;
    }

    char text[kTextSize];
    TextBuilder(text, sizeof text)
        .str("GRP:")
        .dec(r.groupType, 2)
        .chr(char('A' + r.groupVersion))
        .str(" TP:")
        .digit(r.tp)
        .str(" PTY:")
        .hex(r.pty, 1)
        .str(" (")
        .str(kPtyTexts[r.pty])
        .str(") ")
        .chr(group[0] != '\0' ? '-' : ' ')
        .chr(' ')
        .str(group);
    SetBlockLine(1, text);
}

void DecodeGroup()
{
    DecoderState& r = Current().record;
    const uint16_t b = Current().blockWords[1];
    const uint16_t c = Current().blockWords[2];
    const uint16_t d = Current().blockWords[3];
    char textC[kTextSize] = "";
    char textD[kTextSize] = "";

    switch (Current().groupCode) {
        case 0:
        case 1:  // 0A, 0B
            DecodeBasicTuning(b, c, d, textC, textD);
            break;
        case 2:
        case 3:  // 1A, 1B: block C of 1B carries the PI, not the SLC
            if (Current().groupCode == 2) r.slc = c;
            r.pin = d;
            TextBuilder(textC, kTextSize)
                .str("SLC:")
                .hex(r.slc, 4)
                .str(" (LA:")
                .digit(r.slc >> 15)
                .str(" VC:")
                .hex((r.slc >> 12) & 7u, 1)
                .str(" SLC:")
                .hex(r.slc & 0x0FFFu, 2)
                .chr(')');
            TextBuilder(textD, kTextSize)
                .str("PIN:")
                .hex(r.pin, 4)
                .str(" (D:")
                .dec(r.pin >> 11, 2)
                .str(" H:")
                .dec((r.pin >> 6) & 0x1F, 2)
                .str(" M:")
                .dec(r.pin & 0x3F, 2)
                .chr(')');
            break;
        case 4: {  // 2A
            Current().rtAddress = uint8_t(b & 0x0Fu);
            const int a = 4 * Current().rtAddress;
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
        case 5: {  // 2B
            Current().rtAddress = uint8_t(b & 0x0Fu);
            const int a = 2 * Current().rtAddress;
            r.radioTextB[a] = char(d >> 8);
            r.radioTextB[a + 1] = char(d & 0xFF);
            TextBuilder(textC, kTextSize).str("PI:").hex(c, 4);
            TextBuilder lineD(textD, kTextSize);
            CharPair(lineD, "RS", a, r.radioTextB[a], r.radioTextB[a + 1]);
            break;
        }
        case 6:  // 3A
            r.odaMessage = c;
            r.odaAid = d;
            TextBuilder(textD, kTextSize).str("ODA:").hex(r.odaMessage, 4).str(" AID:").hex(r.odaAid, 4);
            break;
        case 8:  // 4A
            DecodeClock(b, c, d, textC, textD);
            break;
        case 16:  // 8A: every group taken as a single-group user message
            r.tmcD = uint8_t(c >> 15);
            r.tmcPN = uint8_t((c >> 14) & 1u);
            r.tmcExtent = uint8_t((c >> 11) & 7u);
            r.tmcEvent = uint16_t(c & 0x07FFu);
            r.tmcLocation = d;
            TextBuilder(textC, kTextSize)
                .str("D:")
                .digit(r.tmcD)
                .str(" PN:")
                .digit(r.tmcPN)
                .str(" EXT:")
                .hex(r.tmcExtent, 1)
                .str(" EVT:")
                .hex(r.tmcEvent, 3);
            TextBuilder(textD, kTextSize).str("LOC: ").hex(r.tmcLocation, 4);
            break;
        case 28:  // 14A
            DecodeOtherNetwork(b, c, d, textC, textD);
            break;
        case 29:  // 14B: names the other network without touching lastEonPi
            r.eonPi = d;
            TextBuilder(textD, kTextSize).str("EON PI:").hex(r.eonPi, 4);
            break;
        default:
            break;
    }
    SetBlockLine(2, textC);
    SetBlockLine(3, textD);
}

}  // namespace murlin
