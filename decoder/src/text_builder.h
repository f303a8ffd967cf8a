// Builds a text piece by piece in a fixed buffer, with the meaning of the C
// formats it stands for (%s, %c, %0NX, %0Nd, %Nd and %0N.1f of a value in
// tenths). Display lines are rebuilt at every block, and parsing a format
// string each time would cost more than the whole bit entry.
#pragma once

#include <cstddef>

namespace murlin {

class TextBuilder {
public:
    // size includes the terminating zero; the text is cut to fit.
    TextBuilder(char* out, std::size_t size);

    TextBuilder& Str(const char* text);                 // %s
    TextBuilder& Chr(char c);                           // %c: a zero ends the text
    TextBuilder& Digit(unsigned value) { return Chr(char('0' + value)); }
    TextBuilder& Hex(unsigned value, int digits);       // %0<digits>X
    TextBuilder& Dec(int value, int width, char pad = '0');  // %0<width>d, or %<width>d with ' '
    TextBuilder& Tenths(int tenths, int width, bool plus = false);  // %0<width>.1f, %+0<width>.1f

private:
    void Put(char c)
    {
        if (!ended_ && p_ < last_) {
            *p_++ = c;
            *p_ = '\0';
        }
    }

    char* p_;
    char* last_;
    bool ended_ = false;
};

}  // namespace murlin
