#include "quit_on_signals.h"

#include <QSocketNotifier>

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <utility>

namespace varnak {
namespace {

constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP};

// The pipe's write end, for the handler.
int gWakeFd = -1;

extern "C" void NoteSignal(int signal)
{
    const int saved = errno;
    const auto byte = static_cast<unsigned char>(signal);
    // Async-signal-safe; a full pipe already holds a wake-up.
    [[maybe_unused]] const ssize_t n = ::write(gWakeFd, &byte, 1);
    errno = saved;
}

void SetHandler(int signal, void (*handler)(int), int flags)
{
    struct sigaction action {};
    action.sa_handler = handler;
    action.sa_flags = flags;
    sigemptyset(&action.sa_mask);
    ::sigaction(signal, &action, nullptr);
}

}  // namespace

QuitOnSignals::QuitOnSignals()
{
    if (::pipe2(pipe_, O_CLOEXEC | O_NONBLOCK) != 0) return;
    gWakeFd = pipe_[1];
    // SA_RESETHAND: a second signal finds the default action and ends the
    // program even if the shutdown hangs.
    for (int s : kSignals) SetHandler(s, NoteSignal, SA_RESTART | SA_RESETHAND);
}

QuitOnSignals::~QuitOnSignals()
{
    for (int s : kSignals) SetHandler(s, SIG_DFL, 0);
    if (caught_ != 0) {
        // The signal's own status for whoever waits for the program.
        std::raise(caught_);
    }
    gWakeFd = -1;
    for (int fd : pipe_)
        if (fd >= 0) ::close(fd);
}

void QuitOnSignals::watch(QObject* context, std::function<void()> shutdown)
{
    if (pipe_[0] < 0) return;
    auto* notifier = new QSocketNotifier(pipe_[0], QSocketNotifier::Read, context);
    QObject::connect(notifier, &QSocketNotifier::activated, context, [this, notifier, shutdown = std::move(shutdown)] {
        unsigned char byte = 0;
        if (::read(pipe_[0], &byte, 1) != 1 || caught_ != 0) return;
        caught_ = byte;
        notifier->setEnabled(false);
        shutdown();
    });
}

}  // namespace varnak
