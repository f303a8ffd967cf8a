// varnak: the RDS monitor.
//
//   varnak [--exit-when-done] [--screenshot FILE.png] [--rbds | --no-rbds] [--history]
//          [--realtime] [--mpx-rate HZ] [FILE]
//   varnak [...] --iq FORMAT --rate HZ --center HZ FILE|-
//   varnak [...] --sdr ARGS --center HZ [--rate HZ] [--gain DB]
//
// With FILE the analysis of FILE starts right after start-up, as if chosen
// with the File command; with --mpx-rate FILE holds raw multiplex samples,
// and standard input ("-") or a pipe starts a live radio run. --realtime
// plays a recording at broadcast speed. IQ captures (raw with --iq, SigMF
// recordings by name) and an SDR (--sdr) start a band run: every station is
// decoded and the band window shows them. --exit-when-done closes the window
// once that run has ended and its decode log is closed; --screenshot saves a
// picture of the window at that moment (with --history, the history window
// beside it). Qt's own options (-platform
// offscreen, ...) are accepted too. SIGINT, SIGTERM and SIGHUP close the
// window as the user would, then end the program with the signal's status.
#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QFile>
#include <QPainter>
#include <QPixmap>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>

#include "band_window.h"
#include "command_line.h"
#include "history_window.h"
#include "iq_source.h"
#include "main_window.h"
#include "notifier.h"
#include "quit_on_signals.h"
#include "rds_demodulator.h"
#include "sample_source.h"
#include "settings_store.h"
#include "usage.h"

namespace {

constexpr const char* kProgram = "varnak";

// Qt's own options, which QApplication takes off the command line: the
// first list takes a value.
bool IsQtOption(const QString& word, bool* takesValue)
{
    static const char* const withValue[] = {"platform",
                                            "platformpluginpath",
                                            "platformtheme",
                                            "plugin",
                                            "qwindowgeometry",
                                            "qwindowicon",
                                            "qwindowtitle",
                                            "session",
                                            "display",
                                            "geometry",
                                            "style",
                                            "stylesheet",
                                            "title",
                                            "name",
                                            "visual",
                                            "ncols",
                                            "cmap"};
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

// A rate as varnak::radio::ParseSampleRate reads it ("171k" too); nothing
// when out of the demodulator's range.
std::optional<double> ParseRate(const QString& text)
{
    const std::optional<double> rate = varnak::radio::ParseSampleRate(text.toStdString());
    if (!rate ||
        !(*rate >= varnak::radio::RdsDemodulator::kMinRate && *rate <= varnak::radio::RdsDemodulator::kMaxRate))
        return std::nullopt;
    return rate;
}

}  // namespace

int main(int argc, char* argv[])
{
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
    parser.setApplicationDescription(
        QStringLiteral("RDS monitor: decodes RDS from a recording, a decoder card or an FM receiver and shows it.\n"
                       "\n"
                       "Live from an FM receiver, or from a test signal with no hardware at all:\n"
                       "  rtl_fm -M fm -l 0 -A std -p 0 -s 171k -F 9 -f 95.8M | varnak --mpx-rate 171000 -\n"
                       "  rdsgen STATION.rds --mpx --raw --realtime -o - | varnak --mpx-rate 171000 -\n"
                       "A live radio run logs every group into Radio.out in the current folder; the\n"
                       "status bar shows the signal (RDS level, estimated CNR, block error rate, pilot)\n"
                       "and the title says when the input has ended or no samples came for 2 s. Stop,\n"
                       "or closing the window, ends it."));
    const QCommandLineOption helpOption({QStringLiteral("h"), QStringLiteral("help")},
                                        QStringLiteral("Show this help."));
    const QCommandLineOption versionOption({QStringLiteral("v"), QStringLiteral("version")},
                                           QStringLiteral("Show the version."));
    const QCommandLineOption exitOption(
        QStringLiteral("exit-when-done"),
        QStringLiteral("Close the window when the analysis of FILE, or the radio input, has ended."));
    const QCommandLineOption shotOption(QStringLiteral("screenshot"),
                                        QStringLiteral("Save a picture of the window at the end of the analysis."),
                                        QStringLiteral("file.png"));
    const QCommandLineOption rbdsOption(QStringLiteral("rbds"),
                                        QStringLiteral("Show North American (RBDS) programme types; remembered."));
    const QCommandLineOption rdsOption(QStringLiteral("no-rbds"),
                                       QStringLiteral("Show the European (RDS) programme types again; remembered."));
    const QCommandLineOption historyOption(QStringLiteral("history"),
                                           QStringLiteral("Open the history and statistics window at start (F2, or "
                                                          "the window's context menu, opens it later)."));
    const QCommandLineOption realtimeOption(
        QStringLiteral("realtime"),
        QStringLiteral("Play FILE at broadcast speed (1187.5 bit/s, or an audio recording's own sample rate), so "
                       "the panels change as they did on air."));
    const QCommandLineOption mpxRateOption(
        QStringLiteral("mpx-rate"),
        QStringLiteral("FILE holds raw signed 16-bit little-endian mono samples of the FM multiplex at HZ samples "
                       "per second (128000 to 384000; \"171k\" is 171000), as rtl_fm writes them. Standard input "
                       "(\"-\"), a pipe or a device starts a live radio run logged into Radio.out in the current "
                       "folder; a regular file is analysed into its decode log."),
        QStringLiteral("HZ"));
    const QCommandLineOption iqOption(
        QStringLiteral("iq"),
        QStringLiteral("FILE holds raw interleaved IQ samples of a slice of the band: cu8 (rtl_sdr), cs8 "
                       "(hackrf_transfer), cs16 or cf32; with --rate and --center. Every station is decoded, each "
                       "into its own decode log, and the band window shows them (F3). SigMF recordings "
                       "(FILE.sigmf-meta or .sigmf-data) need no --iq."),
        QStringLiteral("FORMAT"));
    const QCommandLineOption rateOption(QStringLiteral("rate"),
                                        QStringLiteral("The IQ capture's sample rate (\"2.4M\", \"2400000\")."),
                                        QStringLiteral("HZ"));
    const QCommandLineOption centerOption(QStringLiteral("center"),
                                          QStringLiteral("The IQ capture's centre frequency (\"98M\", \"98000000\")."),
                                          QStringLiteral("HZ"));
    const QCommandLineOption sdrOption(
        QStringLiteral("sdr"),
        QStringLiteral("Read the band live from an SDR through SoapySDR, ARGS a device string such as "
                       "\"driver=rtlsdr\"; with --center, --rate (default 2.4M) and --gain. The stations' logs go "
                       "into Band-MHz.out (Band-98.50.out) in the current folder."),
        QStringLiteral("ARGS"));
    const QCommandLineOption gainOption(QStringLiteral("gain"),
                                        QStringLiteral("The SDR's gain in dB (default: its automatic gain)."),
                                        QStringLiteral("DB"));
    const QList<QCommandLineOption> options{helpOption, versionOption, exitOption,     shotOption,    rbdsOption,
                                            rdsOption,  historyOption, realtimeOption, mpxRateOption, iqOption,
                                            rateOption, centerOption,  sdrOption,      gainOption};
    parser.addOptions(options);
    parser.addPositionalArgument(
        QStringLiteral("FILE"),
        QStringLiteral("Recording to analyse, recognised by its content: bit text, hexadecimal "
                       "text as the card sends it, a group log (one group a line), or an audio "
                       "recording of the FM multiplex (WAV, FLAC, ... at 128 kHz or more). A "
                       "pipe or a device is read as a stream until it ends or Stop is pressed."),
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
    if (files.size() > 1) return varnak::UsageError(kProgram, "one FILE at most, got " + std::to_string(files.size()));
    if (parser.isSet(rbdsOption) && parser.isSet(rdsOption))
        return varnak::UsageError(kProgram, "--rbds and --no-rbds cannot go together");
    std::optional<double> mpxRate;
    if (parser.isSet(mpxRateOption)) {
        mpxRate = ParseRate(parser.value(mpxRateOption));
        if (!mpxRate)
            return varnak::UsageError(kProgram, "--mpx-rate: '" + parser.value(mpxRateOption).toStdString() +
                                                    "' is not a sample rate from 128000 to 384000 Hz");
        if (files.isEmpty()) return varnak::UsageError(kProgram, "--mpx-rate needs FILE (\"-\" for standard input)");
    }
    // IQ input: checked as murlin-decode checks it.
    std::optional<varnak::radio::IqSettings> iq;
    std::optional<varnak::radio::SdrSettings> sdr;
    const auto frequency = [&](const QCommandLineOption& option, std::optional<double>& into) -> std::optional<int> {
        if (!parser.isSet(option)) return std::nullopt;
        const QString text = parser.value(option);
        into = varnak::radio::ParseFrequency(text.toStdString());
        if (!into || *into <= 0)
            return varnak::UsageError(kProgram, "--" + option.names().front().toStdString() + ": '" +
                                                    text.toStdString() +
                                                    "' is not a frequency in Hz (\"98M\", "
                                                    "\"98000000\")");
        return std::nullopt;
    };
    std::optional<double> iqRate, iqCenter;
    if (const auto bad = frequency(rateOption, iqRate)) return *bad;
    if (const auto bad = frequency(centerOption, iqCenter)) return *bad;
    if (iqRate && (*iqRate < varnak::radio::kMinIqRate || *iqRate > varnak::radio::kMaxIqRate))
        return varnak::UsageError(kProgram,
                                  "--rate: " + parser.value(rateOption).toStdString() +
                                      " is out of range; an IQ capture needs 192k to 100M samples per second");
    if (parser.isSet(sdrOption)) {
        if (!files.isEmpty()) return varnak::UsageError(kProgram, "--sdr reads the device, not a file: leave out FILE");
        if (!iqCenter) return varnak::UsageError(kProgram, "--sdr needs the frequency to tune to: give --center");
        if (parser.isSet(iqOption))
            return varnak::UsageError(kProgram, "--iq is for recordings; --sdr gives its own samples");
        sdr.emplace();
        sdr->args = parser.value(sdrOption).toStdString();
        sdr->rate = iqRate.value_or(2.4e6);
        sdr->center = *iqCenter;
        if (parser.isSet(gainOption) && parser.value(gainOption) != QLatin1String("auto")) {
            bool ok = false;
            const double db = parser.value(gainOption).toDouble(&ok);
            if (!ok || !std::isfinite(db) || db < -20 || db > 100)
                return varnak::UsageError(kProgram, "--gain: '" + parser.value(gainOption).toStdString() +
                                                        "' is not a gain in dB (or \"auto\")");
            sdr->gain = db;
        }
    } else if (parser.isSet(gainOption)) {
        return varnak::UsageError(kProgram, "--gain is for --sdr");
    } else if (parser.isSet(iqOption) || iqRate || iqCenter) {
        if (mpxRate) return varnak::UsageError(kProgram, "--mpx-rate and IQ input cannot both be given");
        if (files.isEmpty()) return varnak::UsageError(kProgram, "IQ input needs FILE (\"-\" for standard input)");
        iq.emplace();
        if (parser.isSet(iqOption)) {
            iq->format = varnak::radio::ParseIqFormat(parser.value(iqOption).toStdString());
            if (!iq->format)
                return varnak::UsageError(kProgram, "--iq: unknown sample format '" +
                                                        parser.value(iqOption).toStdString() +
                                                        "' (cu8, cs8, cs16 or cf32)");
            if (!iqRate) return varnak::UsageError(kProgram, "raw IQ samples need their rate: give --rate");
        }
        iq->rate = iqRate;
        iq->center = iqCenter;
    }
    const bool exitWhenDone = parser.isSet(exitOption);
    const QString shot = parser.value(shotOption);

    // Made before the application, so that a caught signal ends the process
    // only once everything else is torn down.
    varnak::QuitOnSignals quitOnSignals;
    // Qt wants a private runtime folder, which a headless machine (a build
    // server, a container, an ssh session) may not name: it would warn on
    // every start. One of our own, readable by this user only, goes with
    // the program.
    std::unique_ptr<QTemporaryDir> runtimeDir;
    if (qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR")) {
        runtimeDir = std::make_unique<QTemporaryDir>(QDir::tempPath() + QStringLiteral("/varnak-runtime-XXXXXX"));
        if (runtimeDir->isValid()) qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtimeDir->path()));
    }
    QApplication app(argc, argv);
    QCoreApplication::setApplicationName(varnak::MainWindow::AppName);
    QCoreApplication::setApplicationVersion(
        QStringLiteral("%1.%2.%3").arg(VARNAK_VERSION_MAJOR).arg(VARNAK_VERSION_MINOR).arg(VARNAK_VERSION_PATCH));

    // Unattended runs must not wait for anybody to click OK.
    std::unique_ptr<varnak::Notifier> notifier;
    if (exitWhenDone)
        notifier = std::make_unique<varnak::ConsoleNotifier>();
    else
        notifier = std::make_unique<varnak::Notifier>();

    varnak::SettingsStore store(varnak::SettingsStore::defaultPath());
    varnak::MainWindow window(store, *notifier);
    if (parser.isSet(rbdsOption)) window.setRbds(true);
    if (parser.isSet(rdsOption)) window.setRbds(false);
    window.setMpxRate(mpxRate);
    window.setIqSettings(iq);
    varnak::BandWindow* band = varnak::AttachBandWindow(window);
    window.setRealtime(parser.isSet(realtimeOption));
    window.show();
    varnak::HistoryWindow* history = varnak::AttachHistoryWindow(window, *notifier, store);
    if (parser.isSet(historyOption)) history->show();
    // SIGINT, SIGTERM, SIGHUP: the window closes as if the user closed it, so
    // the run stops and its decode log is closed with whole records.
    quitOnSignals.watch(&app, [] {
        QApplication::closeAllWindows();
        QCoreApplication::quit();
    });

    int status = 0;
    // Queued, so that what the run's end left to draw and lay out is done
    // before the picture is taken.
    auto finish = [&](bool ok) {
        QTimer::singleShot(0, &window, [&, ok] {
            if (!ok) status = 1;
            // After a band run the picture is of the band window.
            QWidget& pictured = band->isVisible() ? static_cast<QWidget&>(*band) : window;
            QPixmap picture = shot.isEmpty() ? QPixmap() : pictured.grab();
            if (!shot.isEmpty() && history->isVisible()) {
                // With the history window open (--history) it goes beside the window.
                const QPixmap side = history->grab();
                QPixmap both(picture.width() + side.width(), std::max(picture.height(), side.height()));
                both.fill(window.palette().window().color());
                QPainter painter(&both);
                painter.drawPixmap(0, 0, picture);
                painter.drawPixmap(picture.width(), 0, side);
                painter.end();
                picture = both;
            }
            if (!shot.isEmpty() && !picture.save(shot)) {
                std::fprintf(stderr, "varnak: cannot save the picture %s\n", qPrintable(shot));
                status = 1;
            }
            if (exitWhenDone) window.close();
        });
    };
    QObject::connect(&window, &varnak::MainWindow::analysisFinished, &window, finish);
    QTimer::singleShot(0, &window, [&] {
        if (sdr) {
            varnak::BandInput input;
            input.sdr = sdr;
            if (!window.RunBand(input, QStringLiteral("Band.out"))) finish(false);
        } else if (files.isEmpty())
            finish(true);
        else if (!window.AnalyseFile(files.front()))
            finish(false);  // else the run's end finishes
    });
    const int rc = app.exec();
    return rc != 0 ? rc : status;
}
