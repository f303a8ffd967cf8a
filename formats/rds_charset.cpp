#include "rds_charset.h"

#include <array>
#include <cstdio>

namespace rdsformats {
namespace {

// Codes 0x80..0xFF of the EBU Latin table; 0 marks the unused 0xFF.
constexpr char32_t kUpperHalf[128] = {
    U'á', U'à', U'é', U'è', U'í', U'ì', U'ó', U'ò', U'ú', U'ù', U'Ñ', U'Ç', U'Ş', U'ß', U'¡', U'Ĳ',  // 0x80
    U'â', U'ä', U'ê', U'ë', U'î', U'ï', U'ô', U'ö', U'û', U'ü', U'ñ', U'ç', U'ş', U'ğ', U'ı', U'ĳ',  // 0x90
    U'ª', U'α', U'©', U'‰', U'Ğ', U'ě', U'ň', U'ő', U'π', U'€', U'£', U'$', U'←', U'↑', U'→', U'↓',  // 0xA0
    U'º', U'¹', U'²', U'³', U'±', U'İ', U'ń', U'ű', U'µ', U'¿', U'÷', U'°', U'¼', U'½', U'¾', U'§',  // 0xB0
    U'Á', U'À', U'É', U'È', U'Í', U'Ì', U'Ó', U'Ò', U'Ú', U'Ù', U'Ř', U'Č', U'Š', U'Ž', U'Đ', U'Ŀ',  // 0xC0
    U'Â', U'Ä', U'Ê', U'Ë', U'Î', U'Ï', U'Ô', U'Ö', U'Û', U'Ü', U'ř', U'č', U'š', U'ž', U'đ', U'ŀ',  // 0xD0
    U'Ã', U'Å', U'Æ', U'Œ', U'ŷ', U'Ý', U'Õ', U'Ø', U'Þ', U'Ŋ', U'Ŕ', U'Ć', U'Ś', U'Ź', U'Ŧ', U'ð',  // 0xE0
    U'ã', U'å', U'æ', U'œ', U'ŵ', U'ý', U'õ', U'ø', U'þ', U'ŋ', U'ŕ', U'ć', U'ś', U'ź', U'ŧ', 0,     // 0xF0
};

constexpr std::array<char32_t, 256> MakeTable()
{
    std::array<char32_t, 256> t{};
    for (int c = 0x20; c < 0x7F; ++c) t[c] = static_cast<char32_t>(c);
    // Where the lower half differs from ASCII.
    t[0x24] = U'¤';
    t[0x5E] = U'―';
    t[0x60] = U'‖';
    t[0x7E] = U'¯';
    for (int c = 0; c < 128; ++c) t[0x80 + c] = kUpperHalf[c];
    return t;
}
constexpr std::array<char32_t, 256> kTable = MakeTable();

}  // namespace

char32_t RdsToUnicode(uint8_t code) { return kTable[code]; }

int UnicodeToRds(char32_t character)
{
    if (character == 0) return -1;
    // 0x20..0x7D map to themselves except the four codes patched above.
    if (character >= 0x20 && character < 0x7F && kTable[character] == character) return static_cast<int>(character);
    for (int c = 0x80; c < 256; ++c)
        if (kTable[c] == character) return c;
    for (int c : {0x24, 0x5E, 0x60, 0x7E})
        if (kTable[c] == character) return c;
    return -1;
}

void AppendUtf8(std::string& out, char32_t c)
{
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

std::string RdsToUtf8(const char* text, std::size_t length, std::string_view placeholder)
{
    std::string out;
    out.reserve(length);
    for (std::size_t i = 0; i < length && text[i] != '\0'; ++i) {
        const char32_t c = kTable[static_cast<uint8_t>(text[i])];
        if (c)
            AppendUtf8(out, c);
        else
            out += placeholder;
    }
    return out;
}

long NextUtf8(std::string_view text, std::size_t& pos)
{
    if (pos >= text.size()) return -1;
    const auto byte = [&](std::size_t i) { return static_cast<uint8_t>(text[i]); };
    const uint8_t first = byte(pos);
    int extra;
    char32_t c;
    if (first < 0x80) {
        ++pos;
        return first;
    } else if ((first & 0xE0) == 0xC0) {
        extra = 1;
        c = first & 0x1F;
    } else if ((first & 0xF0) == 0xE0) {
        extra = 2;
        c = first & 0x0F;
    } else if ((first & 0xF8) == 0xF0) {
        extra = 3;
        c = first & 0x07;
    } else {
        return -1;
    }
    if (pos + extra >= text.size()) return -1;  // truncated
    for (int k = 1; k <= extra; ++k) {
        const uint8_t b = byte(pos + k);
        if ((b & 0xC0) != 0x80) return -1;
        c = (c << 6) | (b & 0x3F);
    }
    static constexpr char32_t kSmallest[4] = {0, 0x80, 0x800, 0x10000};
    if (c < kSmallest[extra] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return -1;
    pos += extra + 1;
    return static_cast<long>(c);
}

RdsEncoding Utf8ToRds(std::string_view utf8)
{
    RdsEncoding r;
    std::size_t pos = 0;
    while (pos < utf8.size()) {
        const std::size_t at = pos;
        const long c = NextUtf8(utf8, pos);
        if (c < 0) {
            r.ok = false;
            r.problem = "text is not valid UTF-8 (byte " + std::to_string(at + 1) + ")";
            return r;
        }
        const int code = UnicodeToRds(static_cast<char32_t>(c));
        if (code < 0x20) {
            r.ok = false;
            char hex[24];
            std::snprintf(hex, sizeof hex, "U+%04lX", static_cast<unsigned long>(c));
            std::string shown;
            if (c >= 0x20 && c != 0x7F) {
                shown = "'";
                shown.append(utf8.substr(at, pos - at));
                shown += "' ";
            }
            r.problem = c < 0x20 || c == 0x7F ? "control character " + std::string(hex) + " in text"
                                              : "character " + shown + "(" + hex + ") is not in the RDS character set";
            return r;
        }
        r.bytes += static_cast<char>(code);
    }
    return r;
}

}  // namespace rdsformats
