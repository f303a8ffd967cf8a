#include "output_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace murlindecode {

OutputFile::~OutputFile() { discard(); }

bool OutputFile::create(const std::string& path) {
    discard();
    path_ = path;
    error_.clear();
    const std::size_t slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
    const std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
    std::string pattern = folder + "." + base + ".XXXXXX";
    const int fd = ::mkstemp(pattern.data());
    if (fd < 0) {
        error_ = "cannot create " + path + ": " + std::strerror(errno);
        return false;
    }
    temporary_ = pattern;
    // mkstemp makes the file private; give it the mode a plain create would.
    const mode_t mask = ::umask(0);
    ::umask(mask);
    ::fchmod(fd, 0666 & ~mask);
    stream_ = ::fdopen(fd, "wb");
    if (!stream_) {
        error_ = "cannot create " + path + ": " + std::strerror(errno);
        ::close(fd);
        ::unlink(temporary_.c_str());
        temporary_.clear();
        return false;
    }
    std::setvbuf(stream_, nullptr, _IOFBF, 1 << 16);
    return true;
}

bool OutputFile::commit() {
    if (!stream_) return false;
    errno = 0;
    const bool written = std::fflush(stream_) == 0 && !std::ferror(stream_);
    const int writeErrno = errno;
    const bool closed = std::fclose(stream_) == 0;
    stream_ = nullptr;
    if (!written || !closed) {
        error_ = "cannot write " + path_ + ": " + std::strerror(writeErrno ? writeErrno : (errno ? errno : EIO));
        ::unlink(temporary_.c_str());
        temporary_.clear();
        return false;
    }
    if (::rename(temporary_.c_str(), path_.c_str()) != 0) {
        error_ = "cannot create " + path_ + ": " + std::strerror(errno);
        ::unlink(temporary_.c_str());
        temporary_.clear();
        return false;
    }
    temporary_.clear();
    return true;
}

void OutputFile::discard() {
    if (stream_) {
        std::fclose(stream_);
        stream_ = nullptr;
    }
    if (!temporary_.empty()) {
        ::unlink(temporary_.c_str());
        temporary_.clear();
    }
}

}  // namespace murlindecode
