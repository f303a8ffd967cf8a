// The group decoder: turns the information words of accepted blocks into the
// fields of the record and builds the display texts of each block.
#include <cstdio>
#include <cstring>

#include "decoder.h"

namespace murlin {

namespace {

inline char Digit(unsigned value) { return char('0' + value); }

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
        FormatText(textC, kTextSize, "NO AF");
        if (c1 >= 224 && c1 <= 249) {
            for (auto& f : r.afList)
                f = 0;
            r.afCount = uint8_t(c1 - 224);
            gDecoder.afNext = 1;
            r.afList[0] = AfFrequency(c2);
            FormatText(textC, kTextSize, "AFnn: %02d   AF01:%#05.1f", int(r.afCount),
                          r.afList[0] / 10.0);
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
                FormatText(textC, kTextSize, "AF%02d:%05.1f AF%02d:%#05.1f", int(p), f1 / 10.0,
                              int(p + 1), f2 / 10.0);
            } else {
                FormatText(textC, kTextSize, "AF..:%#05.1f AF..:%#05.1f", f1 / 10.0, f2 / 10.0);
            }
        } else if (c1 == 250) {
            FormatText(textC, kTextSize, "AFMF:%#05.1f", LfMfFrequency(c2) / 10.0);
        }
    }
    FormatText(textD, kTextSize, "DI:%s (%s) PS%02d:'%c' PS%02d:'%c' ('%s')", gDecoder.diDigits,
                  gDecoder.diLetters, int(2 * s), r.ps[2 * s], int(2 * s + 1), r.ps[2 * s + 1], r.ps);
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

    FormatText(textC, kTextSize, "Julian:%d (%4d/%02d/%02d)", mjd, y, m, day);
    FormatText(textD, kTextSize, "H:%02d M:%02d O:%+02.1f", int(r.hour), int(r.minute),
                  r.localOffset / 10.0);
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
        FormatText(textC, kTextSize, "EON PS%02d:'%c' PS%02d:'%c' ('%s')", int(2 * v),
                      r.eonPs[2 * v], int(2 * v + 1), r.eonPs[2 * v + 1], r.eonPs);
        break;
    case 4:
        r.eonAf1 = AfFrequency(hi);
        r.eonAf2 = AfFrequency(lo);
        FormatText(textC, kTextSize, "EON AF1:%#05.1f AF2:%#05.1f", r.eonAf1 / 10.0, r.eonAf2 / 10.0);
        break;
    case 5: case 6: case 7: case 8: case 9:
        r.eonTuned[v - 5] = AfFrequency(hi);
        r.eonMapped[v - 5] = v == 9 ? LfMfFrequency(lo) : AfFrequency(lo);
        FormatText(textC, kTextSize, "EON TF%1d:%#05.1f MF%1d:%#05.1f ", int(v - 4),
                      r.eonTuned[v - 5] / 10.0, int(v - 4), r.eonMapped[v - 5] / 10.0);
        break;
    case 12:
        FormatText(textC, kTextSize, "EON LA:%c EG:%c ILS:%c LSN:%04X", Digit((c >> 14) & 1u),
                      Digit((c >> 13) & 1u), Digit((c >> 12) & 1u), unsigned(c & 0x0FFFu));
        break;
    case 13:
        r.eonPty = uint8_t(c >> 11);
        r.eonTa = uint8_t(c & 1u);
        FormatText(textC, kTextSize, "EON TA:%c PTY:%X", Digit(r.eonTa), unsigned(r.eonPty));
        break;
    case 14:
        r.eonPin = c;
        FormatText(textC, kTextSize, "EON PIN:%04X", unsigned(r.eonPin));
        break;
    default:
        break;
    }
    r.eonPi = gDecoder.lastEonPi;
    FormatText(textD, kTextSize, "EON PI:%04X", unsigned(r.eonPi));
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
    FormatText(text, sizeof text, "PI:%04X", unsigned(r.pi));
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
        FormatText(group, sizeof group, "TA:%c MS:%c", Digit(r.ta), Digit(r.ms));
        break;
    case 2: case 3:   // 1A, 1B
        r.rpc = uint8_t(b & 0x1Fu);
        FormatText(group, sizeof group, "RPC:%0X", unsigned(r.rpc));
        break;
    case 4: case 5: {   // 2A, 2B
        const uint8_t flag = uint8_t((b >> 4) & 1u);
        if (flag != r.textAB) {
            FillSpaces(r.radioText, 64);
            FillSpaces(r.radioTextB, 32);
            r.textAB = flag;
            FormatText(group, sizeof group, "TAB:%c", Digit(r.textAB));
        }
        break;
    }
    case 6:   // 3A
        r.odaGroupType = uint8_t((b >> 1) & 0x0Fu);
        r.odaGroupVersion = uint8_t(b & 1u);
        FormatText(group, sizeof group, "GRP:%02d%c", int(r.odaGroupType), char('A' + r.odaGroupVersion));
        break;
    case 16:   // 8A
        r.tmcT = uint8_t((b >> 4) & 1u);
        r.tmcF = uint8_t((b >> 3) & 1u);
        r.tmcDP = uint8_t(b & 7u);
        FormatText(group, sizeof group, "T:%c F:%c DP:%0X (%s)", Digit(r.tmcT), Digit(r.tmcF),
                      unsigned(r.tmcDP), DurationTexts[r.tmcDP]);
        break;
    case 28:   // 14A
        r.eonTp = uint8_t((b >> 4) & 1u);
        FormatText(group, sizeof group, "EON TP:%c", Digit(r.eonTp));
        break;
    case 29:   // 14B
        r.eonTp = uint8_t((b >> 4) & 1u);
        r.eonTa = uint8_t((b >> 3) & 1u);
        FormatText(group, sizeof group, "EON TP:%c TA:%c", Digit(r.eonTp), Digit(r.eonTa));
        break;
    default:
        break;
    }

    char text[kTextSize];
    FormatText(text, sizeof text, "GRP:%02d%c TP:%c PTY:%X (%s) %c %s", int(r.groupType),
                  char('A' + r.groupVersion), Digit(r.tp), unsigned(r.pty), PtyTexts[r.pty],
                  group[0] != '\0' ? '-' : ' ', group);
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
        FormatText(textC, kTextSize, "SLC:%04X (LA:%c VC:%X SLC:%02X)", unsigned(r.slc),
                      Digit(r.slc >> 15), unsigned((r.slc >> 12) & 7u), unsigned(r.slc & 0x0FFFu));
        FormatText(textD, kTextSize, "PIN:%04X (D:%02d H:%02d M:%02d)", unsigned(r.pin),
                      int(r.pin >> 11), int((r.pin >> 6) & 0x1Fu), int(r.pin & 0x3Fu));
        break;
    case 4: {   // 2A
        gDecoder.rtAddress = uint8_t(b & 0x0Fu);
        const int a = 4 * gDecoder.rtAddress;
        r.radioText[a] = char(c >> 8);
        r.radioText[a + 1] = char(c & 0xFF);
        r.radioText[a + 2] = char(d >> 8);
        r.radioText[a + 3] = char(d & 0xFF);
        FormatText(textC, kTextSize, "RS%02d:'%c' RS%02d:'%c'", a, r.radioText[a], a + 1,
                      r.radioText[a + 1]);
        FormatText(textD, kTextSize, "RS%02d:'%c' RS%02d:'%c'", a + 2, r.radioText[a + 2], a + 3,
                      r.radioText[a + 3]);
        break;
    }
    case 5: {   // 2B
        gDecoder.rtAddress = uint8_t(b & 0x0Fu);
        const int a = 2 * gDecoder.rtAddress;
        r.radioTextB[a] = char(d >> 8);
        r.radioTextB[a + 1] = char(d & 0xFF);
        FormatText(textC, kTextSize, "PI:%04X", unsigned(c));
        FormatText(textD, kTextSize, "RS%02d:'%c' RS%02d:'%c'", a, r.radioTextB[a], a + 1,
                      r.radioTextB[a + 1]);
        break;
    }
    case 6:   // 3A
        r.odaMessage = c;
        r.odaAid = d;
        FormatText(textD, kTextSize, "ODA:%04X AID:%04X", unsigned(r.odaMessage), unsigned(r.odaAid));
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
        FormatText(textC, kTextSize, "D:%c PN:%c EXT:%0X EVT:%03X", Digit(r.tmcD), Digit(r.tmcPN),
                      unsigned(r.tmcExtent), unsigned(r.tmcEvent));
        FormatText(textD, kTextSize, "LOC: %04X", unsigned(r.tmcLocation));
        break;
    case 28:   // 14A
        DecodeOtherNetwork(b, c, d, textC, textD);
        break;
    case 29:   // 14B: names the other network without touching lastEonPi
        r.eonPi = d;
        FormatText(textD, kTextSize, "EON PI:%04X", unsigned(r.eonPi));
        break;
    default:
        break;
    }
    SetBlockLine(2, textC);
    SetBlockLine(3, textD);
}

}  // namespace murlin
