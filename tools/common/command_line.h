// Command-line conventions of the Qt-based tools, the same as those of the
// other programs of the suite:
//   --help     the help text, its usage line naming the program (never the
//              path it was started from), exit 0;
//   --version  "PROGRAM VERSION", exit 0;
//   a usage error: "PROGRAM: what was wrong" and "Try 'PROGRAM --help'." on
//              standard error, exit 2.
#pragma once

#include <QCommandLineParser>
#include <QString>
#include <optional>

namespace toolcli {

constexpr int kExitUsage = 2;

// Prints the usage error; returns kExitUsage.
int usageError(const char* program, const QString& message);

// Adds --help and --version to `parser`, parses `arguments` and answers
// --help, --version and parse errors. An exit status when the program must
// end now, nothing when it goes on.
std::optional<int> parse(QCommandLineParser& parser, const QStringList& arguments, const char* program);

}  // namespace toolcli
