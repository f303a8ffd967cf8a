#include "ini_file.h"

#include <sstream>

namespace varnakd {
namespace {

std::string Trim(const std::string& s)
{
    const auto b = s.find_first_not_of(" \t\r");
    if (b == std::string::npos) return {};
    return s.substr(b, s.find_last_not_of(" \t\r") - b + 1);
}

}  // namespace

IniFile ParseIni(const std::string& text)
{
    IniFile ini;
    std::istringstream in(text);
    std::string raw;
    int number = 0;
    while (std::getline(in, raw)) {
        ++number;
        const std::string line = Trim(raw);
        if (line.empty() || line[0] == '#' || line[0] == ';') continue;
        if (line[0] == '[') {
            if (line.back() != ']') {
                ini.problems.push_back({number, "section header without ']'"});
                continue;
            }
            const std::string inner = Trim(line.substr(1, line.size() - 2));
            const auto space = inner.find_first_of(" \t");
            IniSection section;
            section.kind = inner.substr(0, space);
            section.name = space == std::string::npos ? std::string() : Trim(inner.substr(space));
            section.line = number;
            if (section.kind.empty())
                ini.problems.push_back({number, "empty section name"});
            else
                ini.sections.push_back(std::move(section));
            continue;
        }
        const auto eq = line.find('=');
        if (eq == std::string::npos || eq == 0) {
            ini.problems.push_back({number, "expected 'key = value'"});
            continue;
        }
        if (ini.sections.empty()) {
            ini.problems.push_back({number, "setting before the first section"});
            continue;
        }
        IniEntry entry{Trim(line.substr(0, eq)), Trim(line.substr(eq + 1)), number};
        if (!entry.value.empty() && entry.value.front() == '"') {
            const auto close = entry.value.find('"', 1);
            const std::string rest = close == std::string::npos ? "x" : Trim(entry.value.substr(close + 1));
            if (!rest.empty() && rest[0] != '#') {
                ini.problems.push_back({number, "'" + entry.key + "': unbalanced quotes"});
                continue;
            }
            entry.value = entry.value.substr(1, close - 1);
        } else if (const auto hash = entry.value.find(" #"); hash != std::string::npos) {
            entry.value = Trim(entry.value.substr(0, hash));
        }
        ini.sections.back().entries.push_back(std::move(entry));
    }
    return ini;
}

}  // namespace varnakd
