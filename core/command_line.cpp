#include "command_line.h"

#include <cctype>
#include <cstdio>

#include "usage.h"

namespace varnak {
namespace {

// The option named `name` as the user spelt it: the first argument that
// names it, without a value given with '='.
QString Spelling(const QStringList& args, const QString& name)
{
    for (qsizetype i = 1; i < args.size() && args[i] != QLatin1String("--"); ++i) {
        QString word = args[i].section(QLatin1Char('='), 0, 0);
        if (!word.startsWith(QLatin1Char('-'))) continue;
        QString bare = word;
        while (bare.startsWith(QLatin1Char('-'))) bare.remove(0, 1);
        if (bare == name) return word;
    }
    return (name.size() == 1 ? QStringLiteral("-") : QStringLiteral("--")) + name;
}

// The text between the first pair of single quotes of a parser message.
QString Quoted(const QString& message)
{
    const qsizetype from = message.indexOf(QLatin1Char('\''));
    const qsizetype to = message.indexOf(QLatin1Char('\''), from + 1);
    return from >= 0 && to > from ? message.mid(from + 1, to - from - 1) : QString();
}

}  // namespace

std::optional<std::string> ParseArguments(QCommandLineParser& parser, const QList<QCommandLineOption>& options,
                                          const QStringList& args)
{
    if (parser.parse(args)) return std::nullopt;
    const QStringList unknown = parser.unknownOptionNames();
    if (!unknown.isEmpty()) return "unknown option '" + Spelling(args, unknown.front()).toStdString() + "'";
    const QString text = parser.errorText();
    const QString option = Quoted(text);
    if (text.startsWith(QLatin1String("Missing value"))) {
        QString bare = option;
        while (bare.startsWith(QLatin1Char('-'))) bare.remove(0, 1);
        QString what = QStringLiteral("a value");
        for (const QCommandLineOption& o : options)
            if (o.names().contains(bare) && o.valueName().contains(QLatin1String("file")))
                what = QStringLiteral("a file name");
        return "option '" + option.toStdString() + "' needs " + what.toStdString();
    }
    if (text.startsWith(QLatin1String("Unexpected value")))
        return "option '" + option.toStdString() + "' takes no value";
    std::string message = text.toStdString();
    if (!message.empty() && message.back() == '.') message.pop_back();
    if (!message.empty()) message[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(message[0])));
    return message;
}

std::string HelpText(const QCommandLineParser& parser, const char* program)
{
    std::string text = parser.helpText().toStdString();
    // The first line is "Usage: " and the path the program was started by.
    const std::string usage = "Usage: ";
    if (text.compare(0, usage.size(), usage) == 0) {
        const std::size_t end = text.find_first_of(" \n", usage.size());
        text.replace(usage.size(), end - usage.size(), program);
    }
    return text;
}

std::optional<int> ParseStandardOptions(QCommandLineParser& parser, const QStringList& args, const char* program,
                                        const char* version)
{
    // The suite's own -h and -v rather than Qt's (whose help offers --help-all
    // and Qt's options, which these programs do not take).
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")}, QStringLiteral("Show this help."));
    const QCommandLineOption versionOption({QStringLiteral("v"), QStringLiteral("version")},
                                           QStringLiteral("Show the version."));
    parser.addOption(help);
    parser.addOption(versionOption);
    if (const auto error = ParseArguments(parser, {}, args)) return UsageError(program, *error);
    if (parser.isSet(help)) {
        std::fputs(HelpText(parser, program).c_str(), stdout);
        return 0;
    }
    if (parser.isSet(versionOption)) {
        std::printf("%s %s\n", program, version);
        return 0;
    }
    return std::nullopt;
}

}  // namespace varnak
