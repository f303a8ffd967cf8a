// The command-line conventions every program of the suite follows: a wrong
// command line is told on standard error as
//   PROGRAM: unknown option '--bogus'
//   Try 'PROGRAM --help'.
// and ends the program with exit status 2.
#pragma once

#include <cstdio>
#include <string>

namespace varnak {

constexpr int kExitUsage = 2;

// Tells a wrong command line; returns kExitUsage.
inline int UsageError(const char* program, const std::string& message)
{
    std::fprintf(stderr, "%s: %s\nTry '%s --help'.\n", program, message.c_str(), program);
    return kExitUsage;
}

}  // namespace varnak
