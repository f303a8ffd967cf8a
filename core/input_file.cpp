#include "input_file.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "stop_signals.h"

namespace varnak {

InputFile::~InputFile() { close(); }

void InputFile::close()
{
    if (fd_ >= 0 && owned_) ::close(fd_);
    fd_ = -1;
    owned_ = false;
    stream_ = false;
    size_ = consumed_ = 0;
    back_.clear();
}

void InputFile::putBack(const char* data, std::size_t size)
{
    back_.insert(0, data, size);
    consumed_ -= size < consumed_ ? size : consumed_;
}

bool InputFile::open(const std::string& path)
{
    close();
    error_.clear();
    if (path == "-") {
        fd_ = STDIN_FILENO;  // shared with others: left blocking
    } else {
        // Non-blocking, so that a pipe without a writer does not hold the
        // open; reads wait through poll() instead.
        fd_ = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        if (fd_ < 0) {
            error_ = std::strerror(errno);
            return false;
        }
        owned_ = true;
    }
    struct stat info {};
    if (::fstat(fd_, &info) != 0) {
        error_ = std::strerror(errno);
        close();
        return false;
    }
    if (S_ISDIR(info.st_mode)) {
        error_ = std::strerror(EISDIR);
        close();
        return false;
    }
    stream_ = !S_ISREG(info.st_mode);
    size_ = stream_ ? 0 : static_cast<std::uint64_t>(info.st_size);
    // A regular file never waits, so it reads blocking; a device that
    // ignores O_NONBLOCK is polled all the same.
    if (owned_ && !stream_) ::fcntl(fd_, F_SETFL, ::fcntl(fd_, F_GETFL) & ~O_NONBLOCK);
    return true;
}

InputFile::Result InputFile::read(char* buffer, std::size_t capacity, std::size_t& got, int waitMs)
{
    got = 0;
    if (fd_ < 0) {
        error_ = std::strerror(EBADF);
        return Result::Failed;
    }
    if (!back_.empty() && capacity > 0) {
        got = back_.size() < capacity ? back_.size() : capacity;
        back_.copy(buffer, got);
        back_.erase(0, got);
        consumed_ += got;
        return Result::Data;
    }
    for (;;) {
        if (stream_) {
            // A stop asked by a signal ends a stream here (StopSignals).
            if (StopSignals::requested()) return Result::End;
            pollfd p[2] = {{fd_, POLLIN, 0}, {StopSignals::wakeDescriptor(), POLLIN, 0}};
            const int ready = ::poll(p, p[1].fd >= 0 ? 2 : 1, waitMs);
            if (ready < 0 && errno == EINTR) continue;
            if (ready < 0) {
                error_ = std::strerror(errno);
                return Result::Failed;
            }
            if (ready == 0) return Result::Again;
            if (p[0].revents == 0) continue;  // woken for a stop
        }
        const ssize_t n = ::read(fd_, buffer, capacity);
        if (n > 0) {
            got = static_cast<std::size_t>(n);
            consumed_ += got;
            return Result::Data;
        }
        if (n == 0) return Result::End;
        if (errno == EINTR) continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK) {
            if (waitMs >= 0) return Result::Again;
            continue;  // a blocking wait goes back to poll()
        }
        error_ = std::strerror(errno);
        return Result::Failed;
    }
}

}  // namespace varnak
