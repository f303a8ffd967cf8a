#include "stop_signals.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>

namespace varnak {
namespace {

// Shared with the handler, so plain storage of async-signal-safe types.
char gTemporary[4096];
volatile std::sig_atomic_t gGraceful = 0;
volatile std::sig_atomic_t gRequested = 0;
int gWake[2] = {-1, -1};

constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGPIPE};

extern "C" void OnStopSignal(int signal)
{
    if (signal != SIGPIPE && gGraceful && gRequested == 0) {
        gRequested = signal;
        const int saved = errno;
        const char byte = 1;
        [[maybe_unused]] const ssize_t n = ::write(gWake[1], &byte, 1);
        errno = saved;
        return;
    }
    if (gTemporary[0]) ::unlink(gTemporary);
    ::signal(signal, SIG_DFL);
    ::raise(signal);
}

}  // namespace

void StopSignals::install()
{
    if (gWake[0] >= 0) return;
    if (::pipe2(gWake, O_CLOEXEC | O_NONBLOCK) != 0) gWake[0] = gWake[1] = -1;
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    for (int s : kSignals) sigaddset(&action.sa_mask, s);
    // Interrupted writes go on where they were (a stdio write cut by EINTR
    // would lose its buffer); reads of a stream wait in poll(), which a
    // signal always interrupts, beside the wake descriptor.
    action.sa_flags = SA_RESTART;
    for (int s : kSignals) ::sigaction(s, &action, nullptr);
}

void StopSignals::setGraceful(bool graceful) { gGraceful = graceful ? 1 : 0; }

int StopSignals::requested() { return gRequested; }

int StopSignals::wakeDescriptor() { return gWake[0]; }

void StopSignals::endBySignal(int signal)
{
    std::signal(signal, SIG_DFL);
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, signal);
    ::sigprocmask(SIG_UNBLOCK, &set, nullptr);
    std::raise(signal);
    std::_Exit(128 + signal);
}

void StopSignals::setTemporary(const std::string& path)
{
    // Too long a path is not remembered rather than cut to another name. The
    // first character goes in last: a signal in between sees no path at all
    // rather than a mix of two.
    const std::size_t n = path.size() < sizeof gTemporary ? path.size() : 0;
    gTemporary[0] = '\0';
    std::memcpy(gTemporary + 1, path.data() + (n ? 1 : 0), n ? n - 1 : 0);
    gTemporary[n] = '\0';
    if (n) gTemporary[0] = path[0];
}

}  // namespace varnak
