// One decoded group as a single-line JSON object, for scripting: group type
// and version, PI, programme type and the fields that group carries, read
// from the decoder state record.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "frame_processor.h"

namespace murlindecode {

// What a group's object carries beyond the decoder's record.
struct JsonExtras {
    bool rbds = false;              // North American names, and call letters
    std::optional<int64_t> rxTime;  // reception time, 1/100 s since the epoch (UTC)
    // RadioText Plus items of the current radiotext (class, text), or null.
    const std::vector<std::pair<std::string, std::string>>* rtPlus = nullptr;
};

// Appends the JSON object of `group` (no line end) to `out`. `api` supplies
// the descriptor texts (programme type, TMC duration and event). "pi" is the
// PI of the group's own block A.
void AppendGroupJson(std::string& out, const varnak::DecodedGroup& group, const varnak::MurlinApi& api,
                     const JsonExtras& extras = {});

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

}  // namespace murlindecode
