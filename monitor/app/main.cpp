// varnak: the RDS monitor.
//
//   varnak [--exit-when-done] [--screenshot FILE.png] [FILE]
//
// With FILE the analysis of FILE starts right after start-up, as if chosen
// with the File command. --exit-when-done closes the window once that
// analysis has ended and its decode log is closed; --screenshot saves a
// picture of the window at that moment. Qt's own options (-platform
// offscreen, ...) are accepted too.
#include <QApplication>
#include <QCommandLineParser>
#include <QPixmap>
#include <QTimer>

#include <cstdio>
#include <cstring>
#include <memory>

#include "command_line.h"
#include "main_window.h"
#include "notifier.h"
#include "settings_store.h"
#include "usage.h"

namespace {

constexpr const char* kProgram = "varnak";

// Qt's own options, which QApplication takes off the command line: the
// first list takes a value.
bool IsQtOption(const QString& word, bool* takesValue) {
    static const char* const withValue[] = {"platform", "platformpluginpath", "platformtheme", "plugin", "qwindowgeometry",
                                            "qwindowicon", "qwindowtitle", "session", "display", "geometry", "style",
                                            "stylesheet", "title", "name", "visual", "ncols", "cmap"};
    static const char* const flags[] = {"reverse", "widgetcount", "nograb", "dograb", "sync", "testability"};
    QString bare = word;
    if (bare.startsWith(QLatin1String("--"))) bare.remove(0, 1);
    if (!bare.startsWith(QLatin1Char('-'))) return false;
    bare.remove(0, 1);
    const bool inlineValue = bare.contains(QLatin1Char('='));
    bare = bare.section(QLatin1Char('='), 0, 0);
    *takesValue = false;
    for (const char* o : withValue) {
        if (bare != QLatin1String(o)) continue;
        *takesValue = !inlineValue;
        return true;
    }
    for (const char* o : flags)
        if (bare == QLatin1String(o)) return true;
    return bare.startsWith(QLatin1String("qmljsdebugger"));
}

}  // namespace

int main(int argc, char* argv[]) {
    // The command line is checked before any window system is touched, so
    // that --help, --version and a wrong option need no display.
    QStringList args{QString::fromLatin1(kProgram)};
    for (int i = 1; i < argc; ++i) {
        const QString word = QString::fromLocal8Bit(argv[i]);
        bool takesValue = false;
        if (word == QLatin1String("--")) {
            for (; i < argc; ++i) args << QString::fromLocal8Bit(argv[i]);
            break;
        }
        if (IsQtOption(word, &takesValue)) {
            if (takesValue) ++i;
            continue;
        }
        args << word;
    }
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("RDS monitor: decodes a recorded RDS bit stream and shows it."));
    const QCommandLineOption helpOption({QStringLiteral("h"), QStringLiteral("help")}, QStringLiteral("Show this help."));
    const QCommandLineOption versionOption({QStringLiteral("v"), QStringLiteral("version")},
                                           QStringLiteral("Show the version."));
    const QCommandLineOption exitOption(QStringLiteral("exit-when-done"),
                                        QStringLiteral("Close the window when the analysis of FILE has ended."));
    const QCommandLineOption shotOption(QStringLiteral("screenshot"),
                                        QStringLiteral("Save a picture of the window at the end of the analysis."),
                                        QStringLiteral("file.png"));
    const QList<QCommandLineOption> options{helpOption, versionOption, exitOption, shotOption};
    parser.addOptions(options);
    parser.addPositionalArgument(QStringLiteral("FILE"),
                                 QStringLiteral("Recorded bit stream to analyse (a pipe or a device is read as a stream "
                                                "until it ends or Stop is pressed)."),
                                 QStringLiteral("[FILE]"));
    if (const auto error = varnak::ParseArguments(parser, options, args)) return varnak::UsageError(kProgram, *error);
    if (parser.isSet(helpOption)) {
        std::fputs(varnak::HelpText(parser, kProgram).c_str(), stdout);
        return 0;
    }
    if (parser.isSet(versionOption)) {
        std::printf("%s %d.%d.%d\n", kProgram, VARNAK_VERSION_MAJOR, VARNAK_VERSION_MINOR, VARNAK_VERSION_PATCH);
        return 0;
    }
    const QStringList files = parser.positionalArguments();
    if (files.size() > 1)
        return varnak::UsageError(kProgram, "one FILE at most, got " + std::to_string(files.size()));
    const bool exitWhenDone = parser.isSet(exitOption);
    const QString shot = parser.value(shotOption);

    QApplication app(argc, argv);
    QCoreApplication::setApplicationName(varnak::MainWindow::AppName);
    QCoreApplication::setApplicationVersion(QStringLiteral("%1.%2.%3")
                                                .arg(VARNAK_VERSION_MAJOR)
                                                .arg(VARNAK_VERSION_MINOR)
                                                .arg(VARNAK_VERSION_PATCH));

    // Unattended runs must not wait for anybody to click OK.
    std::unique_ptr<varnak::Notifier> notifier;
    if (exitWhenDone) notifier = std::make_unique<varnak::ConsoleNotifier>();
    else notifier = std::make_unique<varnak::Notifier>();

    varnak::SettingsStore store(varnak::SettingsStore::defaultPath());
    varnak::MainWindow window(store, *notifier);
    window.show();

    int status = 0;
    auto finish = [&](bool ok) {
        if (!ok) status = 1;
        if (!shot.isEmpty()) {
            QApplication::processEvents();
            if (!window.grab().save(shot)) {
                std::fprintf(stderr, "varnak: cannot save the picture %s\n", qPrintable(shot));
                status = 1;
            }
        }
        if (exitWhenDone) window.close();
    };
    QTimer::singleShot(0, &window, [&] {
        if (files.isEmpty()) {
            finish(true);
            return;
        }
        finish(window.AnalyseFile(files.front()));
    });
    const int rc = app.exec();
    return rc != 0 ? rc : status;
}
