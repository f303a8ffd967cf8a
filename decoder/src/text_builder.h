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

    TextBuilder& str(const char* text);  // %s
    // %c: a zero character ends the text, as it ends the C string.
    TextBuilder& chr(char c)
    {
        if (c == '\0')
            ended_ = true;
        else
            put(c);
        return *this;
    }
    TextBuilder& digit(unsigned value) { return chr(char('0' + value)); }
    TextBuilder& hex(unsigned value, int digits);                   // %0<digits>X
    TextBuilder& dec(int value, int width, char pad = '0');         // %0<width>d, or %<width>d with ' '
    TextBuilder& tenths(int tenths, int width, bool plus = false);  // %0<width>.1f, %+0<width>.1f

    // The first `length` characters of text (no zero among them).
    TextBuilder& append(const char* text, std::size_t length);

private:
    void put(char c)
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
