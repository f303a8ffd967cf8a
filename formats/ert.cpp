#include "ert.h"

#include <algorithm>
#include <string_view>

#include "rds_charset.h"

namespace rdsformats {
namespace {

char Lowest(const ConfidentText& t, std::size_t from, std::size_t to)
{
    char worst = 'c';
    for (std::size_t i = from; i < to; ++i) {
        const CharState s = t.state(i);
        if (s == CharState::Missing) return '-';
        if (s == CharState::Provisional) worst = 'p';
    }
    return worst;
}

}  // namespace

WideText DecodeWideText(const ConfidentText& t, bool ucs2)
{
    WideText out;
    const std::size_t n = t.length();
    std::string bytes(n, ' ');
    for (std::size_t i = 0; i < n; ++i) bytes[i] = static_cast<char>(t.byte(i));
    std::size_t pos = 0;
    while (pos < n) {
        std::size_t next = pos;
        long c = -1;
        if (ucs2) {
            next = std::min(n, pos + 2);
            if (next - pos == 2) c = (long(uint8_t(bytes[pos])) << 8) | uint8_t(bytes[pos + 1]);
            if (c >= 0xD800 && c < 0xE000) c = -1;  // a surrogate is no character on its own
        } else {
            c = NextUtf8(std::string_view(bytes.data(), n), next);
            if (c < 0) next = pos + 1;
        }
        const char state = Lowest(t, pos, next);
        if (state == '-')
            out.text += ' ';
        else if (c < 0x20)
            out.text += "\xEF\xBF\xBD";
        else
            AppendUtf8(out.text, static_cast<char32_t>(c));
        out.mask += state;
        pos = next;
    }
    while (!out.text.empty() && out.text.back() == ' ') {
        out.text.pop_back();
        out.mask.pop_back();
    }
    return out;
}

}  // namespace rdsformats
