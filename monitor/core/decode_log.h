// The decode log: one record per decoded group, a separator line of 36
// hyphens and the four display lines, every line ended by CR LF.
#pragma once

#include <string>

namespace varnak {

class DecodeLog {
public:
    // (Implemented by the core module: open/create with a clear error, write a
    // group record, close; and the log path rules of file analysis.)
};

// The decode log path of a recording: the input path without its last four
// characters, followed by ".out".
std::string DecodeLogPath(const std::string& inputPath);

}  // namespace varnak
