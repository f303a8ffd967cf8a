// An output file that appears under its name only once it is complete: the
// text goes to a temporary file in the target folder, which is renamed over
// the target by commit() and removed by discard() (or by the destructor).
// A target that exists and is not a regular file (a device such as
// /dev/null, a pipe) is written in place instead; a symbolic link is
// followed, so the link stays and its target is replaced.
#pragma once

#include <cstdio>
#include <string>

namespace murlindecode {

class OutputFile {
public:
    OutputFile() = default;
    ~OutputFile();  // discards an output that was not committed
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // Creates the temporary file beside `path`. On failure returns false and
    // error() reads "cannot create PATH: reason".
    bool create(const std::string& path);
    std::FILE* stream() const { return stream_; }
    const std::string& path() const { return path_; }
    // Where the text goes until commit(); empty when none is open.
    const std::string& temporaryPath() const { return temporary_; }
    const std::string& error() const { return error_; }

    // Flushes, closes and renames the temporary file to the target path.
    bool commit();
    // Closes and removes the temporary file; the target is left untouched.
    void discard();

private:
    std::FILE* stream_ = nullptr;
    std::string path_;
    std::string temporary_;
    std::string target_;  // the path renamed over: path_ with links resolved
    std::string error_;
};

}  // namespace murlindecode
