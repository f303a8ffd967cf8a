// The RDS basic character set (the EBU Latin code table that broadcasters
// use for PS, radiotext and every other text of the RDS groups) and its
// conversion to and from UTF-8.
//
// Codes 0x20..0xFE stand for one character each; codes 0x00..0x1F are
// control codes (0x0D ends a radiotext, 0x0A breaks a line) and 0x7F and
// 0xFF are not used: those bytes have no character.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace rdsformats {

// The Unicode character of an RDS code, or 0 when the code has none.
char32_t RdsToUnicode(uint8_t code);

// The RDS code of a Unicode character, or -1 when the set lacks it.
int UnicodeToRds(char32_t character);

// What a byte without a character shows as on screen and in summaries: a
// middle dot, which every font has (a missing glyph would draw a box).
inline constexpr std::string_view kPlaceholder = "\u00B7";

// Appends the UTF-8 encoding of `character` to `out`.
void AppendUtf8(std::string& out, char32_t character);

// The RDS text as UTF-8: each byte as its character, a byte without one as
// `placeholder`. Reads `length` bytes or up to the first zero byte.
std::string RdsToUtf8(const char* text, std::size_t length, std::string_view placeholder = kPlaceholder);

// Reads one UTF-8 character of `text` at `pos` and moves `pos` past it; an
// invalid or overlong sequence, a surrogate or a truncated one gives -1 and
// leaves `pos` where it was.
long NextUtf8(std::string_view text, std::size_t& pos);

// The result of encoding UTF-8 text in the RDS set.
struct RdsEncoding {
    std::string bytes;  // one RDS code per character
    bool ok = true;
    std::string problem;  // when not ok: what was wrong, for a message
};

// Encodes UTF-8 text in the RDS set, one byte per character. Fails on
// invalid UTF-8, on a character the set lacks and on control characters.
RdsEncoding Utf8ToRds(std::string_view utf8);

}  // namespace rdsformats
