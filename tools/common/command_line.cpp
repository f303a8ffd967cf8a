#include "command_line.h"

#include <cstdio>

namespace toolcli {

namespace {

// The argument as the user typed it for an option the parser did not know:
// "--bogus" for the name "bogus", "-x" for "x".
QString typedOption(const QStringList& arguments, const QString& name)
{
    for (const QString& a : arguments.mid(1)) {
        const QString bare = a.startsWith("--") ? a.mid(2) : a.startsWith('-') ? a.mid(1) : QString();
        if (bare.section('=', 0, 0) == name)
            return a.section('=', 0, 0);
    }
    return (name.size() == 1 ? "-" : "--") + name;
}

// QCommandLineParser's error text in the suite's wording.
QString wording(const QCommandLineParser& parser, const QStringList& arguments)
{
    const QStringList unknown = parser.unknownOptionNames();
    if (!unknown.isEmpty())
        return "unknown option '" + typedOption(arguments, unknown.first()) + "'";
    QString text = parser.errorText();
    const QString missing = QStringLiteral("Missing value after '");
    if (text.startsWith(missing))
        return "option '" + text.mid(missing.size()).section('\'', 0, 0) + "' needs a value";
    if (text.endsWith('.'))
        text.chop(1);
    if (!text.isEmpty())
        text[0] = text[0].toLower();
    return text;
}

}  // namespace

int usageError(const char* program, const QString& message)
{
    std::fprintf(stderr, "%s: %s\nTry '%s --help'.\n", program, qPrintable(message), program);
    return kExitUsage;
}

std::optional<int> parse(QCommandLineParser& parser, const QStringList& arguments, const char* program)
{
    parser.addHelpOption();
    parser.addOption({"version", "Show the version and exit."});
    if (!parser.parse(arguments))
        return usageError(program, wording(parser, arguments));
    if (parser.isSet("help")) {
        // The usage line names the program, not the path it was started from.
        QString help = parser.helpText();
        const qsizetype end = help.indexOf('\n');
        const QString usage = help.left(end);
        const qsizetype options = usage.indexOf(" [options]");
        help = "Usage: " + QString::fromLatin1(program) + (options >= 0 ? usage.mid(options) : QString()) +
               help.mid(end);
        std::fputs(qPrintable(help), stdout);
        return 0;
    }
    if (parser.isSet("version")) {
        std::printf("%s %s\n", program, VARNAK_VERSION);
        return 0;
    }
    return std::nullopt;
}

}  // namespace toolcli
