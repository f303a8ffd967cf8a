#include "hex_text.h"

#include <cctype>
#include <cstdio>

namespace varnak {

bool HexText::clean(char* text, std::size_t& size)
{
    std::size_t kept = 0;
    for (std::size_t i = 0; i < size; ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        ++column_;
        if (c == '\n') {
            ++line_;
            column_ = 0;
            continue;
        }
        if (c == ' ' || c == '\t' || c == '\r' || c == '\f' || c == '\v') continue;
        if (!std::isxdigit(c)) {
            char shown[16];
            if (c >= 0x20 && c < 0x7F)
                std::snprintf(shown, sizeof shown, "'%c'", c);
            else
                std::snprintf(shown, sizeof shown, "byte 0x%02X", c);
            error_ = "line " + std::to_string(line_) + ", column " + std::to_string(column_) + ": " + shown +
                     " is not a hexadecimal digit";
            size = kept;
            return false;
        }
        text[kept++] = static_cast<char>(c);
    }
    size = kept;
    return true;
}

}  // namespace varnak
