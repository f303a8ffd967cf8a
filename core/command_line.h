// Qt's command-line parser in the suite's wording: its errors become
// "unknown option '--bogus'" or "option '-o' needs a file name", and its
// usage line names the program rather than the path it was started by.
#pragma once

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QList>
#include <QStringList>
#include <optional>
#include <string>

namespace varnak {

// Parses `args` (the program's path first) with `parser`, to which
// `options` were added. Returns the message for a wrong command line, or
// nothing when it parsed.
std::optional<std::string> ParseArguments(QCommandLineParser& parser, const QList<QCommandLineOption>& options,
                                          const QStringList& args);

// The parser's help text, its usage line starting "Usage: PROGRAM".
std::string HelpText(const QCommandLineParser& parser, const char* program);

// For programs that add their options to `parser` themselves: adds -h,
// --help and -v, --version, parses `args` and answers --help ("Usage:
// PROGRAM ..."), --version ("PROGRAM VERSION") and a wrong command line (the
// usage error on standard error). An exit status when the program must end now, nothing
// when it goes on.
std::optional<int> ParseStandardOptions(QCommandLineParser& parser, const QStringList& args, const char* program,
                                        const char* version);

}  // namespace varnak
