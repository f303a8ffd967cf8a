// Waiting for the main window's runs in tests: a run goes on in the event
// loop after the call that started it, and analysisFinished() tells when it
// has ended.
#pragma once

#include <QSignalSpy>
#include <QTimer>

#include "main_window.h"

namespace varnak::test {

// Calls `start` (AnalyseFile, RunRadio, a click on File) and waits for the
// run it started to end: false when it could not start, or ended badly.
template <typename Start>
bool UntilFinished(MainWindow& window, Start start)
{
    QSignalSpy finished(&window, &MainWindow::analysisFinished);
    if (!start()) return false;
    if (finished.isEmpty() && !finished.wait(120000)) return false;
    return finished.takeFirst().at(0).toBool();
}

inline bool Analyse(MainWindow& window, const QString& path)
{
    return UntilFinished(window, [&] { return window.AnalyseFile(path); });
}

// Calls `action` once from the event loop, as soon as `ready` holds (looked
// at between two slices of a run). `timer` drives it.
template <typename Ready, typename Action>
void WhenReady(QTimer& timer, Ready ready, Action action)
{
    timer.setInterval(0);
    QObject::connect(&timer, &QTimer::timeout, &timer, [&timer, ready, action] {
        if (!ready()) return;
        timer.stop();
        action();
    });
    timer.start();
}

}  // namespace varnak::test
