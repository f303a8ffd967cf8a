// Display lines of the current group, the clock text and the trace output.
#include <cassert>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "decoder.h"
#include "text_builder.h"

namespace murlin {

extern const bool gTraceEnabled = std::getenv("MURLIN_TRACE") != nullptr;

// Line n = "Bloc X: <16 bits> <hex word> <marker> <text>". Line A starts a new
// group, so it empties all four lines first.
void SetBlockLine(int n, const char* text)
{
    if (n == 0)
        for (auto& line : Current().displayLines) line[0] = '\0';
    const uint16_t word = Current().blockWords[n];
    static constexpr char kNibbles[16][5] = {"0000", "0001", "0010", "0011", "0100", "0101", "0110", "0111",
                                             "1000", "1001", "1010", "1011", "1100", "1101", "1110", "1111"};
    char bits[16];
    for (int i = 0; i < 4; ++i) std::memcpy(bits + 4 * i, kNibbles[(word >> (12 - 4 * i)) & 0xF], 4);
    const char marker = text[0] != '\0' ? '-' : ' ';
    TextBuilder(Current().displayLines[n], kLineSize)
        .str("Bloc ")
        .chr(char('A' + n))
        .str(": ")
        .append(bits, sizeof bits)
        .chr(' ')
        .hex(word, 4)
        .chr(' ')
        .chr(marker)
        .chr(' ')
        .str(text);
}

// Renders the clock fields into clockText. Dates before March 1900 can give a
// three-digit month or day; the field then holds the first 24 characters
// instead of running over into the bytes after it.
void RenderClockText()
{
    DecoderState& r = Current().record;
    TextBuilder(r.clockText, sizeof r.clockText)
        .dec(r.year, 4, ' ')
        .chr('/')
        .dec(r.month, 2)
        .chr('/')
        .dec(r.day, 2)
        .chr(' ')
        .dec(r.hour, 2)
        .chr(':')
        .dec(r.minute, 2)
        .str("TU ")
        .tenths(r.localOffset, 2, true);
}

void TraceMessage(const char* format, int64_t value)
{
    char buffer[512];
    const int length = std::snprintf(buffer, sizeof buffer, format, static_cast<long long>(value));
    assert(length >= 0 && length < int(sizeof buffer));
    (void)length;
    std::fputs(buffer, stderr);
}

}  // namespace murlin
