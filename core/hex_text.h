// Hexadecimal text as the decoder card sends it and cardctl records it (one
// batch a line): white space is dropped, every other character must be a
// hexadecimal digit. Text arrives in pieces; lines and columns count across
// them, so an error names the place in the whole recording.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace varnak {

class HexText {
public:
    // Drops the white space of `text` in place and sets `size` to the digits
    // kept. False at the first character that is not a hexadecimal digit:
    // error() then reads "line 2, column 4: 'x' is not a hexadecimal digit".
    [[nodiscard]] bool clean(char* text, std::size_t& size);
    const std::string& error() const { return error_; }
    void reset() { *this = HexText(); }

private:
    std::uint64_t line_ = 1, column_ = 0;
    std::string error_;
};

}  // namespace varnak
