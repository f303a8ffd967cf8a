// One decoded group as a single-line JSON object, for scripting: group type
// and version, PI, programme type and the fields that group carries, read
// from the decoder state record.
#pragma once

#include <string>

#include "frame_processor.h"

namespace murlindecode {

// Appends the JSON object of `group` (no line end) to `out`. `api` supplies
// the descriptor texts (programme type, TMC duration and event).
void AppendGroupJson(std::string& out, const varnak::DecodedGroup& group, const varnak::MurlinApi& api);

// Appends `text` as a JSON string literal. Bytes are read as Latin-1; control
// characters (such as the radiotext end code 0x0D) are escaped.
void AppendJsonString(std::string& out, const char* text, std::size_t length);

}  // namespace murlindecode
