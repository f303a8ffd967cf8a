// A small INI reader that keeps the line of every section and key, so that
// a bad configuration can be reported line by line: "[section name]"
// headers, "key = value" lines, "#" or ";" comment lines and blank lines.
// Values run to the end of the line, spaces around them dropped; a value
// may be quoted with double quotes to keep spaces or a "#".
#pragma once

#include <string>
#include <vector>

namespace varnakd {

struct IniEntry {
    std::string key, value;
    int line = 0;
};

struct IniSection {
    std::string kind;  // "station" of "[station 98.5]"
    std::string name;  // "98.5"; empty for "[service]"
    int line = 0;
    std::vector<IniEntry> entries;
};

struct IniProblem {
    int line = 0;
    std::string message;
};

struct IniFile {
    std::vector<IniSection> sections;
    std::vector<IniProblem> problems;  // lines that are no section, key or comment
};

// Parses INI text; lines before the first section are problems.
IniFile ParseIni(const std::string& text);

}  // namespace varnakd
