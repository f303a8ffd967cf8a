#include "text_input.h"

#include <cctype>

namespace murlindecode {

void TextInput::begin(varnak::InputFile& file, bool hex)
{
    file_ = &file;
    hex_ = hex;
    judged_ = false;
    onlyHexDigits_ = true;
    beyondBits_ = false;
    characters_ = 0;
    hexText_.reset();
    error_.clear();
    if (!buffer_) buffer_ = std::make_unique<char[]>(kChunkSize);
}

bool TextInput::next(const char*& data, std::size_t& size)
{
    for (;;) {
        std::size_t got = 0;
        switch (file_->read(buffer_.get(), kChunkSize, got)) {
            case varnak::InputFile::Result::End:
                return false;
            case varnak::InputFile::Result::Failed:
                error_ = "cannot read: " + file_->error();
                return false;
            case varnak::InputFile::Result::Again:
                continue;
            case varnak::InputFile::Result::Data:
                break;
        }
        if (!judged_) judge(buffer_.get(), got);
        if (hex_ && !cleanHex(got)) return false;
        if (got == 0) continue;  // only white space
        characters_ += got;
        data = buffer_.get();
        size = got;
        return true;
    }
}

// Drops white space from the piece in the buffer and checks every other
// character; line and column count across pieces.
bool TextInput::cleanHex(std::size_t& size)
{
    if (hexText_.clean(buffer_.get(), size)) return true;
    error_ = hexText_.error();
    return false;
}

void TextInput::judge(const char* data, std::size_t size)
{
    judged_ = true;
    for (std::size_t i = 0; i < size; ++i) {
        const unsigned char c = static_cast<unsigned char>(data[i]);
        if (std::isspace(c)) continue;
        if (!std::isxdigit(c))
            onlyHexDigits_ = false;
        else if (c != '0' && c != '1')
            beyondBits_ = true;
    }
}

bool TextInput::looksLikeOtherForm() const
{
    if (!judged_) return false;
    return hex_ ? !beyondBits_ : onlyHexDigits_ && beyondBits_;
}

}  // namespace murlindecode
