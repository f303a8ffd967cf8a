// A recording read piece by piece, so that memory stays the same whatever
// its length. A regular file is read to its end; anything else (a pipe, a
// device, a terminal) is a stream whose data may arrive over time, and the
// caller chooses how long a read may wait for it, so that a window can keep
// serving its events and a Stop button.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace varnak {

class InputFile {
public:
    InputFile() = default;
    ~InputFile();
    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;

    // Opens `path` ("-" is standard input). Never waits: a pipe without a
    // writer opens at once. On failure returns false and error() holds the
    // reason ("No such file or directory", "Is a directory").
    [[nodiscard]] bool open(const std::string& path);
    void close();

    // Not a regular file: its length is unknown and reads may have to wait.
    bool isStream() const { return stream_; }
    // The length of a regular file when it was opened; 0 for a stream.
    std::uint64_t size() const { return size_; }
    // Bytes read so far.
    std::uint64_t consumed() const { return consumed_; }
    const std::string& error() const { return error_; }

    enum class Result { Data, End, Again, Failed };
    // Reads at most `capacity` bytes into `buffer`; `got` receives the count.
    // A stream is waited for at most `waitMs` milliseconds (-1: as long as it
    // takes) and Again says that nothing came in that time. A pipe ends when
    // its last writer closes it after having opened it; a stream also ends
    // once a signal asked the program to stop (StopSignals).
    Result read(char* buffer, std::size_t capacity, std::size_t& got, int waitMs = -1);
    // Hands `size` bytes just read back, to be read again first: a head
    // looked at to tell the kind of recording, also of a stream.
    void putBack(const char* data, std::size_t size);

private:
    int fd_ = -1;
    bool owned_ = false;
    bool stream_ = false;
    std::uint64_t size_ = 0;
    std::uint64_t consumed_ = 0;
    std::string back_;  // bytes put back, read before the file's
    std::string error_;
};

}  // namespace varnak
