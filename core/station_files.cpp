#include "station_files.h"

#include <cstdio>
#include <cstring>

namespace varnak {
namespace {

bool EndsWith(const std::string& text, const std::string& end)
{
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

constexpr const char* kSigmfEnds[] = {".sigmf-meta", ".sigmf-data", ".sigmf"};

}  // namespace

std::string StationLabel(double hz)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.2f", hz / 1e6);
    return text;
}

std::string StationPath(const std::string& base, const std::string& label)
{
    const std::size_t slash = base.rfind('/');
    const std::size_t dot = base.rfind('.');
    const bool extension = dot != std::string::npos && (slash == std::string::npos || dot > slash + 1);
    const std::string stem = extension ? base.substr(0, dot) : base;
    return stem + "-" + label + (extension ? base.substr(dot) : "");
}

bool IsSigmfPath(const std::string& path)
{
    for (const char* end : kSigmfEnds)
        if (EndsWith(path, end)) return true;
    return false;
}

std::string BandOutputBase(const std::string& input, bool live)
{
    if (live || input == "-") return "Band.out";
    for (const char* end : kSigmfEnds)
        if (EndsWith(input, end)) return input.substr(0, input.size() - std::strlen(end)) + ".out";
    const std::size_t slash = input.rfind('/');
    const std::size_t dot = input.rfind('.');
    if (dot != std::string::npos && (slash == std::string::npos || dot > slash + 1))
        return input.substr(0, dot) + ".out";
    return input + ".out";
}

}  // namespace varnak
