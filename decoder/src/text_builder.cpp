#include "text_builder.h"

#include <algorithm>
#include <cstring>

namespace murlin {

namespace {

// Decimal digits of `value`, most significant first; returns how many.
int Digits(unsigned value, char* out)
{
    char reversed[10];
    int n = 0;
    do {
        reversed[n++] = char('0' + value % 10);
        value /= 10;
    } while (value != 0);
    for (int i = 0; i < n; ++i) out[i] = reversed[n - 1 - i];
    return n;
}

}  // namespace

TextBuilder::TextBuilder(char* out, std::size_t size) : p_(out), last_(out + size - 1) { *p_ = '\0'; }

TextBuilder& TextBuilder::str(const char* text) { return append(text, std::strlen(text)); }

TextBuilder& TextBuilder::hex(unsigned value, int digits)
{
    static constexpr char kHex[] = "0123456789ABCDEF";
    int n = 1;
    while (n < 8 && (value >> (4 * n)) != 0) ++n;
    if (n < digits) n = digits;
    char text[8];
    for (int i = 0; i < n; ++i) text[i] = kHex[(value >> (4 * (n - 1 - i))) & 0xF];
    return append(text, std::size_t(n));
}

TextBuilder& TextBuilder::append(const char* text, std::size_t length)
{
    if (ended_) return *this;
    length = std::min(length, std::size_t(last_ - p_));
    std::memcpy(p_, text, length);
    p_ += length;
    *p_ = '\0';
    return *this;
}

TextBuilder& TextBuilder::dec(int value, int width, char pad)
{
    char digits[10];
    const bool negative = value < 0;
    const int n = Digits(negative ? 0u - unsigned(value) : unsigned(value), digits);
    const int padding = width - n - (negative ? 1 : 0);
    if (pad == ' ')
        for (int i = 0; i < padding; ++i) put(' ');
    if (negative) put('-');
    if (pad != ' ')
        for (int i = 0; i < padding; ++i) put('0');
    for (int i = 0; i < n; ++i) put(digits[i]);
    return *this;
}

TextBuilder& TextBuilder::tenths(int tenths, int width, bool plus)
{
    // A whole number of tenths prints exactly as value / 10.0 with %.1f.
    const bool negative = tenths < 0;
    const unsigned magnitude = negative ? 0u - unsigned(tenths) : unsigned(tenths);
    char digits[10];
    const int n = Digits(magnitude / 10, digits);
    const bool sign = negative || plus;
    if (sign) put(negative ? '-' : '+');
    for (int i = n + 2 + (sign ? 1 : 0); i < width; ++i) put('0');
    for (int i = 0; i < n; ++i) put(digits[i]);
    put('.');
    put(char('0' + magnitude % 10));
    return *this;
}

}  // namespace murlin
