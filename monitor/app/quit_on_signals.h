// Ends the monitor cleanly on SIGINT, SIGTERM and SIGHUP (Ctrl-C, kill, a
// closed terminal): the signal only writes a byte into a pipe, and the event
// loop, woken by it, runs the given shutdown (closing the window stops the
// run, so its decode log is flushed and closed with whole records only).
// When the program has been torn down, the process ends with the signal's
// own status, as if it had not been caught. A second signal ends it at once.
#pragma once

#include <QObject>
#include <functional>

namespace varnak {

class QuitOnSignals {
public:
    // Catches the signals from now on; made before the application object,
    // so that it is the last thing torn down.
    QuitOnSignals();
    // After a caught signal: ends the process with that signal (does not
    // return); otherwise puts the default handlers back.
    ~QuitOnSignals();
    QuitOnSignals(const QuitOnSignals&) = delete;
    QuitOnSignals& operator=(const QuitOnSignals&) = delete;

    // Runs `shutdown` from the event loop when a signal came; the watch lives
    // as long as `context` (the application object).
    void watch(QObject* context, std::function<void()> shutdown);
    // The signal caught, 0 while none.
    int caught() const { return caught_; }

private:
    int pipe_[2] = {-1, -1};
    int caught_ = 0;
};

}  // namespace varnak
