// How quickly the band window answers while it decodes: the monitor runs a
// band run on an IQ capture offscreen, and another thread stands in for a
// user who picks a station every 50 ms. Each pick is posted to the window's
// thread as a click would be; the time from posting until the pick has
// been handled (the main window's panels redrawn for that station) is
// recorded. Prints the picks, their median, 99th percentile and longest.
//
//   bench_band_window FILE RATE CENTER     (raw cu8, as varnak --iq cu8)
#include <QApplication>
#include <QDir>
#include <QTemporaryDir>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>
#include <vector>

#include "band_runner.h"
#include "band_window.h"
#include "iq_source.h"
#include "main_window.h"
#include "notifier.h"
#include "settings_store.h"

int main(int argc, char** argv)
{
    if (argc != 4) {
        std::fprintf(stderr, "usage: bench_band_window FILE RATE CENTER\n");
        return 2;
    }
    const auto rate = varnak::radio::ParseFrequency(argv[2]);
    const auto center = varnak::radio::ParseFrequency(argv[3]);
    if (!rate || !center) {
        std::fprintf(stderr, "bench_band_window: RATE and CENTER are frequencies (\"2.4M\", \"98M\")\n");
        return 2;
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QTemporaryDir settings;
    varnak::SettingsStore store(settings.filePath(QStringLiteral("settings.reg")));
    varnak::ConsoleNotifier notifier;
    varnak::MainWindow window(store, notifier);
    window.show();
    varnak::BandWindow* band = varnak::AttachBandWindow(window);
    window.setIqSettings(varnak::radio::IqSettings{varnak::radio::IqFormat::Cu8, *rate, *center});

    using Clock = std::chrono::steady_clock;
    std::vector<double> answers;  // ms, on the window's thread only
    std::atomic<bool> done{false};
    std::atomic<int> pick{0};
    bool ok = true;
    QObject::connect(&window, &varnak::MainWindow::analysisFinished, &app, [&](bool finished) {
        ok = finished;
        done = true;
        QCoreApplication::quit();
    });
    if (!window.AnalyseFile(QString::fromLocal8Bit(argv[1]))) return 1;
    std::thread user([&] {
        while (!done) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            const Clock::time_point posted = Clock::now();
            QMetaObject::invokeMethod(
                band,
                [&, posted] {
                    const auto& rows = window.band().model().rows();
                    if (rows.empty()) return;
                    band->pick(rows[std::size_t(pick++) % rows.size()].id);
                    answers.push_back(std::chrono::duration<double, std::milli>(Clock::now() - posted).count());
                },
                Qt::QueuedConnection);
        }
    });
    app.exec();
    done = true;
    user.join();
    if (!ok || answers.empty()) {
        std::fprintf(stderr, "bench_band_window: the run failed or no station was picked\n");
        return 1;
    }
    std::sort(answers.begin(), answers.end());
    const auto at = [&](double q) {
        return answers[std::min(answers.size() - 1, std::size_t(q * double(answers.size())))];
    };
    std::printf("picks %zu, answered in: median %.1f ms, 99th percentile %.1f ms, longest %.1f ms\n", answers.size(),
                at(0.5), at(0.99), answers.back());
    return 0;
}
