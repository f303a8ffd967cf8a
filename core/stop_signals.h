// How the command-line programs end on SIGINT, SIGTERM, SIGHUP and SIGPIPE.
//
// By default such a signal ends the program at once, as it would anyway,
// but first removes the temporary file of the output being written (see
// OutputFile), so that no half-written file is left behind.
//
// A live input (a pipe, a device, standard input from a receiver) has no
// end of its own: a signal is how its run is normally ended. While the
// program reads one it turns graceful stops on: then the first SIGINT,
// SIGTERM or SIGHUP only asks it to stop. Reads of a stream through
// InputFile return at once as if the stream had ended, so the program
// finishes what it has, commits its output, reports, and then ends by the
// same signal (endBySignal()), so that its parent sees the usual status. A
// second signal ends it at once. SIGPIPE (a reader gone) always ends it.
#pragma once

#include <string>

namespace varnak {

class StopSignals {
public:
    // Installs the handlers (once; later calls do nothing).
    static void install();
    // Whether the first signal only asks to stop (off at first).
    static void setGraceful(bool graceful);
    // The signal that asked to stop, 0 while none did.
    static int requested();
    // A descriptor that turns readable once a stop was asked, for waiting in
    // poll() beside an input; -1 before install().
    static int wakeDescriptor();
    // Ends the program by `signal` with its default action (a signal that
    // does not end it by default gives exit status 128 + signal).
    [[noreturn]] static void endBySignal(int signal);
    // The file to remove when a signal ends the program at once (empty: none).
    static void setTemporary(const std::string& path);
};

}  // namespace varnak
