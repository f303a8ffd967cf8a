#include "json_text.h"

#include <cstdio>

#include "rds_charset.h"

namespace rdsformats {

void AppendUtf8JsonString(std::string& out, const std::string& text)
{
    out += '"';
    for (const char ch : text) {
        const unsigned char c = static_cast<unsigned char>(ch);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += ch;
        } else if (c < 0x20 || c == 0x7F) {
            char buffer[8];
            std::snprintf(buffer, sizeof buffer, "\\u%04x", c);
            out += buffer;
        } else {
            out += ch;
        }
    }
    out += '"';
}

void AppendJsonString(std::string& out, const char* text, std::size_t length)
{
    out += '"';
    for (std::size_t i = 0; i < length; ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c >= 0x20 && c < 0x7F) {
            out += static_cast<char>(c);
        } else if (c < 0x80) {
            char buffer[8];
            std::snprintf(buffer, sizeof buffer, "\\u%04x", c);
            out += buffer;
        } else {
            // Latin-1 byte as a two-byte UTF-8 sequence.
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    out += '"';
}

void AppendRdsJsonString(std::string& out, const char* text, std::size_t length)
{
    out += '"';
    for (std::size_t i = 0; i < length; ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        const char32_t u = RdsToUnicode(c);
        if (u == U'"' || u == U'\\') {
            out += '\\';
            out += static_cast<char>(u);
        } else if (u) {
            AppendUtf8(out, u);
        } else if (c < 0x80) {
            char buffer[8];
            std::snprintf(buffer, sizeof buffer, "\\u%04x", c);
            out += buffer;
        } else {
            out += "\\ufffd";
        }
    }
    out += '"';
}

std::string FormatNumber(double value, const char* format)
{
    char text[48];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

std::string FrequencyText(double mhz)
{
    std::string s = FormatNumber(mhz, "%.2f");
    while (s.back() == '0') s.pop_back();
    if (s.back() == '.') s.pop_back();
    return s;
}

}  // namespace rdsformats
