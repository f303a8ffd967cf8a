// Whole-text number parsing shared by the description reader and the
// command line: the whole text must be the number, or there is none.
#pragma once

#include <charconv>
#include <cmath>
#include <cstdint>
#include <optional>
#include <string_view>

namespace rdsgen {

// Decimal, or hexadecimal with 0x, or binary with 0b when `prefixes` is set.
inline std::optional<int64_t> ParseInteger(std::string_view text, bool prefixes = false)
{
    int base = 10;
    if (prefixes && text.size() > 2 && text[0] == '0') {
        if (text[1] == 'x' || text[1] == 'X') base = 16;
        if (text[1] == 'b' || text[1] == 'B') base = 2;
        if (base != 10) text.remove_prefix(2);
    }
    int64_t v = 0;
    auto [p, ec] = std::from_chars(text.data(), text.data() + text.size(), v, base);
    if (text.empty() || ec != std::errc() || p != text.data() + text.size()) return std::nullopt;
    return v;
}

// A finite decimal number.
inline std::optional<double> ParseDecimal(std::string_view text)
{
    double v = 0;
    auto [p, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
    if (text.empty() || ec != std::errc() || p != text.data() + text.size() || !std::isfinite(v)) return std::nullopt;
    return v;
}

}  // namespace rdsgen
