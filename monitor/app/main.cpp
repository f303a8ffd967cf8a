// varnak: the RDS monitor.
//
//   varnak [--exit-when-done] [--screenshot FILE.png] [--rbds | --no-rbds] [FILE]
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
#include <memory>

#include "main_window.h"
#include "notifier.h"
#include "settings_store.h"

namespace {

// True when the command line only asks for the help or the version: those
// are answered without opening a display.
bool OnlyAsksForText(int argc, char* argv[]) {
    for (int i = 1; i < argc; ++i) {
        const QByteArray a(argv[i]);
        if (a == "-h" || a == "--help" || a == "-?" || a == "--help-all" || a == "-v" || a == "--version") return true;
    }
    return false;
}

}  // namespace

int main(int argc, char* argv[]) {
    std::unique_ptr<QCoreApplication> appHolder;
    if (OnlyAsksForText(argc, argv)) appHolder = std::make_unique<QCoreApplication>(argc, argv);
    else appHolder = std::make_unique<QApplication>(argc, argv);
    QCoreApplication& app = *appHolder;
    QCoreApplication::setApplicationName(varnak::MainWindow::AppName);
    QCoreApplication::setApplicationVersion(QStringLiteral("%1.%2.%3")
                                                .arg(VARNAK_VERSION_MAJOR)
                                                .arg(VARNAK_VERSION_MINOR)
                                                .arg(VARNAK_VERSION_PATCH));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("RDS monitor: decodes a recorded RDS bit stream and shows it."));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption exitOption(QStringLiteral("exit-when-done"),
                                        QStringLiteral("Close the window when the analysis of FILE has ended."));
    const QCommandLineOption shotOption(QStringLiteral("screenshot"),
                                        QStringLiteral("Save a picture of the window at the end of the analysis."),
                                        QStringLiteral("FILE.png"));
    const QCommandLineOption rbdsOption(QStringLiteral("rbds"),
                                        QStringLiteral("Show North American (RBDS) programme types; remembered."));
    const QCommandLineOption rdsOption(QStringLiteral("no-rbds"),
                                       QStringLiteral("Show the European (RDS) programme types again; remembered."));
    parser.addOption(exitOption);
    parser.addOption(shotOption);
    parser.addOption(rbdsOption);
    parser.addOption(rdsOption);
    parser.addPositionalArgument(QStringLiteral("FILE"),
                                 QStringLiteral("Recording to analyse: bit text, or a group log (one group a line)."),
                                 QStringLiteral("[FILE]"));
    parser.process(app);
    const QStringList files = parser.positionalArguments();
    if (files.size() > 1) {
        std::fprintf(stderr, "varnak: one FILE at most, got %lld\n", static_cast<long long>(files.size()));
        return 2;
    }
    const bool exitWhenDone = parser.isSet(exitOption);
    const QString shot = parser.value(shotOption);

    // Unattended runs must not wait for anybody to click OK.
    std::unique_ptr<varnak::Notifier> notifier;
    if (exitWhenDone) notifier = std::make_unique<varnak::ConsoleNotifier>();
    else notifier = std::make_unique<varnak::Notifier>();

    varnak::SettingsStore store(varnak::SettingsStore::defaultPath());
    varnak::MainWindow window(store, *notifier);
    if (parser.isSet(rbdsOption) && parser.isSet(rdsOption)) {
        std::fprintf(stderr, "varnak: --rbds and --no-rbds cannot go together\n");
        return 2;
    }
    if (parser.isSet(rbdsOption)) window.setRbds(true);
    if (parser.isSet(rdsOption)) window.setRbds(false);
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
