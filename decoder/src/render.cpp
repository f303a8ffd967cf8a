// Display lines of the current group, the clock text and the trace output.
#include <cassert>
#include <cstdio>
#include <cstdlib>

#include "decoder.h"
#include "text_builder.h"

namespace murlin {

extern const bool gTraceEnabled = std::getenv("MURLIN_TRACE") != nullptr;

// Line n = "Bloc X: <16 bits> <hex word> <marker> <text>". Line A starts a new
// group, so it empties all four lines first.
void SetBlockLine(int n, const char* text)
{
    if (n == 0)
        for (auto& line : gDecoder.displayLines)
            line[0] = '\0';
    const uint16_t word = gDecoder.blockWords[n];
    char bits[17];
    for (int i = 0; i < 16; ++i)
        bits[i] = (word >> (15 - i)) & 1 ? '1' : '0';
    bits[16] = '\0';
    const char marker = text[0] != '\0' ? '-' : ' ';
    TextBuilder(gDecoder.displayLines[n], kLineSize).Str("Bloc ").Chr(char('A' + n)).Str(": ").Str(bits)
        .Chr(' ').Hex(word, 4).Chr(' ').Chr(marker).Chr(' ').Str(text);
}

// Renders the clock fields into clockText. Dates before March 1900 can give a
// three-digit month or day; the field then holds the first 24 characters
// instead of running over into the bytes after it.
void RenderClockText()
{
    DecoderState& r = gDecoder.record;
    TextBuilder(r.clockText, sizeof r.clockText).Dec(r.year, 4, ' ').Chr('/').Dec(r.month, 2).Chr('/')
        .Dec(r.day, 2).Chr(' ').Dec(r.hour, 2).Chr(':').Dec(r.minute, 2).Str("TU ").Tenths(r.localOffset, 2, true);
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
