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

    // Only a regular file is replaced by renaming. A device, a pipe or a
    // socket (such as /dev/null or /dev/stdout) is written to in place, and a
    // symbolic link keeps pointing where it did: its target is replaced.
    std::string target = path;
    struct stat info {};
    if (::lstat(path.c_str(), &info) == 0 && S_ISLNK(info.st_mode)) {
        if (char* resolved = ::realpath(path.c_str(), nullptr)) {
            target = resolved;
            std::free(resolved);
        }
    }
    if (::stat(target.c_str(), &info) == 0 && !S_ISREG(info.st_mode)) {
        if (S_ISDIR(info.st_mode)) {
            error_ = "cannot create " + path + ": Is a directory";
            return false;
        }
        stream_ = std::fopen(target.c_str(), "wb");
        if (!stream_) {
            error_ = "cannot create " + path + ": " + std::strerror(errno);
            return false;
        }
        return true;
    }
    target_ = target;

    const std::size_t slash = target.rfind('/');
    const std::string folder = slash == std::string::npos ? std::string() : target.substr(0, slash + 1);
    const std::string base = slash == std::string::npos ? target : target.substr(slash + 1);
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
        if (!temporary_.empty()) ::unlink(temporary_.c_str());
        temporary_.clear();
        return false;
    }
    if (temporary_.empty()) return true;  // written in place
    if (::rename(temporary_.c_str(), target_.c_str()) != 0) {
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
