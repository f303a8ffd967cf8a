// Display lines of the current group, the clock text and the trace output.
#include <cassert>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>

#include "decoder.h"

namespace murlin {

int FormatText(char* out, std::size_t size, const char* format, ...)
{
    std::va_list args;
    va_start(args, format);
    const int length = std::vsnprintf(out, size, format, args);
    va_end(args);
    return length;
}

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
    FormatText(gDecoder.displayLines[n], kLineSize, "Bloc %c: %s %04X %c %s", 'A' + n, bits,
                  unsigned(word), marker, text);
}

// Renders the clock fields into clockText. Dates before March 1900 can give a
// three-digit month or day; the field then holds the first 24 characters
// instead of running over into the bytes after it.
void RenderClockText()
{
    DecoderState& r = gDecoder.record;
    FormatText(r.clockText, sizeof r.clockText, "%4d/%02d/%02d %02d:%02dTU %+02.1f", int(r.year),
                  int(r.month), int(r.day), int(r.hour), int(r.minute), r.localOffset / 10.0);
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
