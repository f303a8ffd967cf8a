// JSON string literals, the one way every JSON text of the suite writes
// them: from Latin-1 bytes, from UTF-8 text, and from broadcast text in the
// RDS character set.
#pragma once

#include <cstddef>
#include <string>

namespace rdsformats {

// Appends `text` as a JSON string literal. Bytes are read as Latin-1; control
// characters (such as the radiotext end code 0x0D) are escaped.
void AppendJsonString(std::string& out, const char* text, std::size_t length);

// Appends text already in UTF-8 as a JSON string literal (control
// characters escaped).
void AppendUtf8JsonString(std::string& out, const std::string& text);

// Appends broadcast text (PS, radiotext) as a JSON string literal: each
// byte as its character in the RDS character set, control codes (such as
// the radiotext end code 0x0D) escaped, the unused codes 0x7F and 0xFF as
// the replacement character U+FFFD.
void AppendRdsJsonString(std::string& out, const char* text, std::size_t length);

// One number as printf's `format` (a single double conversion) writes it:
// the JSON numbers and figures of the history, the station state and the
// service's API.
std::string FormatNumber(double value, const char* format);

// A station's frequency in MHz as short as it is exact to 10 kHz: "98.5"
// for 98.50, "100" for 100.00. JSON's "freq" and the service's station names.
std::string FrequencyText(double mhz);

}  // namespace rdsformats
