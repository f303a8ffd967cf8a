// The text of one recording, read piece by piece for the frame processor:
// bit text as it is, or hexadecimal text with its white space dropped and
// every other character checked. Memory stays the same whatever the length.
// It also tells whether the text looks like the other form, so that a run
// that decodes nothing can point at the option the user forgot.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "hex_text.h"
#include "input_file.h"

namespace murlindecode {

class TextInput {
public:
    // Reads from `file`, which is open and outlives the reading.
    void begin(varnak::InputFile& file, bool hex);

    // The next piece of text to feed. False at the end, and on a read error
    // or a character that is not a hexadecimal digit: error() then says what
    // and where ("line 2, column 4: 'x' is not a hexadecimal digit").
    bool next(const char*& data, std::size_t& size);
    const std::string& error() const { return error_; }

    // Bytes read so far, and the file's length (0 when unknown).
    std::uint64_t bytesRead() const { return file_ ? file_->consumed() : 0; }
    std::uint64_t size() const { return file_ ? file_->size() : 0; }
    // Characters handed out: bits, or hexadecimal digits.
    std::uint64_t characters() const { return characters_; }

    // Judged on the start of the text: bit text that is all hexadecimal
    // digits, some of them not 0 or 1; or hexadecimal text of 0 and 1 only.
    bool looksLikeOtherForm() const;

    // Bytes read at a time.
    static constexpr std::size_t kChunkSize = std::size_t(1) << 16;

private:
    bool cleanHex(std::size_t& size);
    void judge(const char* data, std::size_t size);

    varnak::InputFile* file_ = nullptr;
    std::unique_ptr<char[]> buffer_;
    bool hex_ = false;
    bool judged_ = false;
    bool onlyHexDigits_ = true, beyondBits_ = false;
    std::uint64_t characters_ = 0;
    varnak::HexText hexText_;
    std::string error_;
};

}  // namespace murlindecode
