// The decode log: one record per decoded group, a separator line of 36
// hyphens and the four display lines, every line ended by CR LF.
#pragma once

#include <cstdio>
#include <string>

#include "output_file.h"

namespace varnak {

class DecodeLog {
public:
    DecodeLog() = default;
    ~DecodeLog();  // closes the log; a write error found then is lost
    DecodeLog(const DecodeLog&) = delete;
    DecodeLog& operator=(const DecodeLog&) = delete;

    // Creates the file at `path`, or empties it if it exists; a device or a
    // pipe is written in place, and a pipe that nothing reads is refused at
    // once rather than waited for. On failure returns false and error()
    // reads "cannot create PATH: reason".
    [[nodiscard]] bool open(const std::string& path);
    // Writes to a stream the caller owns (standard output, a temporary file);
    // close() flushes it but leaves it open. `name` is used in messages.
    void attach(std::FILE* stream, const std::string& name);

    bool isOpen() const { return stream_ != nullptr; }
    const std::string& path() const { return path_; }
    // The first failure met, empty while none.
    const std::string& error() const { return error_; }

    // Writes the separator and the four display lines of one group.
    // Returns false once any write has failed.
    bool writeGroup(const std::string (&lines)[4]);
    // Pushes buffered records to the file; false on a write error.
    bool flush();
    // Pushes every record to the file as soon as it is written, in one
    // write: a log followed while it grows, or a run ended by a signal,
    // holds whole records only. Off by default (open() and attach() turn it
    // off), as a long recording is written faster in large blocks.
    void setFlushEachGroup(bool on) { flushEachGroup_ = on; }
    // Flushes and closes; false if any write since open() failed. Closing a
    // log that is not open does nothing and returns true.
    bool close();

    // The separator line that starts every record.
    static constexpr const char* kSeparator = "------------------------------------";

private:
    bool fail(const char* what);

    std::FILE* stream_ = nullptr;
    OutputFile file_;  // the file opened by open()
    bool owned_ = false;
    bool flushEachGroup_ = false;
    std::string path_;
    std::string error_;
    std::string record_;  // reused record buffer: one write per group
};

// The decode log path of a recording: the input path without its last four
// characters, followed by ".out" (so "run1.text" gives "run1..out").
std::string DecodeLogPath(const std::string& inputPath);

}  // namespace varnak
