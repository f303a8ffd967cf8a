// An output file of the programs, written the way users expect of a file
// tool: a regular file appears under its name only once it is complete, and
// anything that is not a regular file (a device such as /dev/null, a pipe, a
// socket, standard output) is written in place and never replaced.
//
// create(): the text goes to a temporary file beside the target, put in its
// place by commit() in one step and removed by discard() (or by the
// destructor). The
// temporary name is ".NAME.varnak-tmp.PID"; a run that was killed outright
// leaves it behind, and the next create() of the same target removes every
// such file whose process is gone. A symbolic link is followed, so the link
// stays and its target is replaced.
//
// open(): the monitor's decode log, created or emptied at once and written as
// it goes. It never waits: a pipe without a reader is refused.
#pragma once

#include <cstdio>
#include <memory>
#include <string>

namespace varnak {

class OutputFile {
public:
    OutputFile() = default;
    ~OutputFile();  // discards an output that was not committed
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // Prepares the output at `path` ("-" is standard output). On failure
    // returns false and error() reads "cannot create PATH: reason".
    [[nodiscard]] bool create(const std::string& path);
    // Creates or empties `path` now; see above.
    [[nodiscard]] bool open(const std::string& path);

    // The stream to write to; buffered in one large block.
    std::FILE* stream() const { return stream_; }
    // The path given, or "standard output".
    const std::string& name() const { return name_; }
    // Where the text goes until commit(); empty when none is open.
    const std::string& temporaryPath() const { return temporary_; }
    const std::string& error() const { return error_; }

    // Flushes and closes (standard output is only flushed) and puts a
    // temporary file in the target's place. On a write error returns false,
    // error() reads "cannot write NAME: reason" and the target is untouched.
    [[nodiscard]] bool commit();
    // Closes and removes a temporary file; the target is left untouched.
    void discard();

    // Size of the write buffer of create().
    static constexpr std::size_t kBufferSize = std::size_t(1) << 20;

    // Makes SIGINT, SIGTERM, SIGHUP and SIGPIPE remove the temporary file of
    // the output being written before the program ends (StopSignals).
    static void removeTemporaryOnSignals();

private:
    bool fail(const std::string& what, int code);
    bool openStream(int fd, std::size_t bufferSize);

    std::FILE* stream_ = nullptr;
    bool standardOutput_ = false;
    std::unique_ptr<char[]> buffer_;
    std::string name_;
    std::string temporary_;
    std::string target_;  // the path renamed over: name_ with links resolved
    std::string error_;
};

}  // namespace varnak
