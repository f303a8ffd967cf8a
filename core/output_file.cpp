#include "output_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "stop_signals.h"

namespace varnak {
namespace {

constexpr const char kTemporaryTag[] = ".varnak-tmp.";

// False once process `pid` has ended, also while it waits as a zombie for a
// parent that does not reap it.
bool ProcessRuns(pid_t pid)
{
    if (::kill(pid, 0) != 0) return errno != ESRCH;
    char path[64];
    std::snprintf(path, sizeof path, "/proc/%ld/stat", static_cast<long>(pid));
    std::FILE* f = std::fopen(path, "r");
    if (!f) return true;
    char line[512] = "";
    const bool read = std::fgets(line, sizeof line, f) != nullptr;
    std::fclose(f);
    // "PID (NAME) STATE ...": the state follows the last ')'.
    const char* close = read ? std::strrchr(line, ')') : nullptr;
    return !(close && close[1] == ' ' && (close[2] == 'Z' || close[2] == 'X'));
}

// Removes the temporary files ".BASE.varnak-tmp.PID" in `folder` whose
// process no longer runs: what a run killed outright left behind.
void RemoveStaleTemporaries(const std::string& folder, const std::string& base)
{
    DIR* dir = ::opendir(folder.empty() ? "." : folder.c_str());
    if (!dir) return;
    const std::string prefix = "." + base + kTemporaryTag;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (name.size() <= prefix.size() || name.compare(0, prefix.size(), prefix) != 0) continue;
        const std::string digits = name.substr(prefix.size());
        if (digits.size() > 9 || digits.find_first_not_of("0123456789") != std::string::npos) continue;
        const long pid = std::strtol(digits.c_str(), nullptr, 10);
        if (pid <= 0 || pid == ::getpid()) continue;
        if (!ProcessRuns(static_cast<pid_t>(pid))) ::unlink((folder + name).c_str());
    }
    ::closedir(dir);
}

std::FILE* StandardOutput()
{
    // Standard output lives until the program ends, and so must its buffer;
    // it can be set only before the first write.
    static std::unique_ptr<char[]> buffer;
    if (!buffer) {
        buffer = std::make_unique<char[]>(OutputFile::kBufferSize);
        std::setvbuf(stdout, buffer.get(), _IOFBF, OutputFile::kBufferSize);
    }
    return stdout;
}

}  // namespace

OutputFile::~OutputFile() { discard(); }

void OutputFile::removeTemporaryOnSignals() { StopSignals::install(); }

bool OutputFile::fail(const std::string& what, int code)
{
    error_ = what + " " + name_ + ": " + std::strerror(code ? code : EIO);
    return false;
}

bool OutputFile::openStream(int fd, std::size_t bufferSize)
{
    stream_ = ::fdopen(fd, "wb");
    if (!stream_) {
        const int code = errno;
        ::close(fd);
        return fail("cannot create", code);
    }
    buffer_ = std::make_unique<char[]>(bufferSize);
    std::setvbuf(stream_, buffer_.get(), _IOFBF, bufferSize);
    return true;
}

bool OutputFile::create(const std::string& path)
{
    discard();
    name_ = path;
    error_.clear();
    if (path == "-") {
        name_ = "standard output";
        standardOutput_ = true;
        stream_ = StandardOutput();
        return true;
    }

    // Only a regular file is replaced by renaming; a symbolic link keeps
    // pointing where it did, and its target is replaced.
    std::string target = path;
    struct stat info {};
    if (::lstat(path.c_str(), &info) == 0 && S_ISLNK(info.st_mode)) {
        if (char* resolved = ::realpath(path.c_str(), nullptr)) {
            target = resolved;
            std::free(resolved);
        }
    }
    if (::stat(target.c_str(), &info) == 0 && !S_ISREG(info.st_mode)) {
        if (S_ISDIR(info.st_mode)) return fail("cannot create", EISDIR);
        // A device, a pipe or a socket: written in place, like a shell's '>'.
        const int fd = ::open(target.c_str(), O_WRONLY | O_CLOEXEC);
        if (fd < 0) return fail("cannot create", errno);
        return openStream(fd, kBufferSize);
    }
    target_ = target;

    const std::size_t slash = target.rfind('/');
    const std::string folder = slash == std::string::npos ? std::string() : target.substr(0, slash + 1);
    const std::string base = slash == std::string::npos ? target : target.substr(slash + 1);
    RemoveStaleTemporaries(folder, base);
    temporary_ = folder + "." + base + kTemporaryTag + std::to_string(::getpid());
    // Created as a plain create would, so the umask gives the mode. A file of
    // this very name can only be left over from a dead process that had this
    // process's number: it is replaced.
    int fd = ::open(temporary_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0 && errno == EEXIST && ::unlink(temporary_.c_str()) == 0)
        fd = ::open(temporary_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) {
        temporary_.clear();
        return fail("cannot create", errno);
    }
    StopSignals::setTemporary(temporary_);
    if (!openStream(fd, kBufferSize)) {
        ::unlink(temporary_.c_str());
        temporary_.clear();
        StopSignals::setTemporary({});
        return false;
    }
    return true;
}

bool OutputFile::open(const std::string& path)
{
    discard();
    name_ = path;
    error_.clear();
    // Non-blocking, so that opening a pipe never waits for a reader: without
    // one the open fails at once (ENXIO). Writes block again afterwards.
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NONBLOCK | O_CLOEXEC, 0666);
    if (fd < 0) {
        if (errno == ENXIO) {
            error_ = "cannot create " + name_ + ": it is a pipe that nothing reads";
            return false;
        }
        return fail("cannot create", errno);
    }
    struct stat info {};
    if (::fstat(fd, &info) == 0 && S_ISDIR(info.st_mode)) {
        ::close(fd);
        return fail("cannot create", EISDIR);
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    // A smaller buffer: a live log is read while it grows.
    return openStream(fd, std::size_t(1) << 16);
}

bool OutputFile::commit()
{
    if (!stream_) return false;
    errno = 0;
    const bool written = std::fflush(stream_) == 0 && !std::ferror(stream_);
    int code = errno;
    bool closed = true;
    if (standardOutput_) {
        std::clearerr(stream_);
    } else {
        errno = 0;
        closed = std::fclose(stream_) == 0;
        if (written && !closed) code = errno;
    }
    stream_ = nullptr;
    standardOutput_ = false;
    buffer_.reset();
    if (!written || !closed) {
        fail("cannot write", code);
        discard();
        return false;
    }
    if (temporary_.empty()) return true;  // written in place
    // Swapping the two names replaces the target as atomically as a rename
    // over it, but without the flush to disk that ext4 forces on a rename
    // over an existing file (several milliseconds for a long log); the old
    // text, now under the temporary name, is then removed. Where swapping is
    // not possible (no target yet, another file system), a rename does it.
    if (::renameat2(AT_FDCWD, temporary_.c_str(), AT_FDCWD, target_.c_str(), RENAME_EXCHANGE) == 0) {
        ::unlink(temporary_.c_str());
    } else if (::rename(temporary_.c_str(), target_.c_str()) != 0) {
        fail("cannot create", errno);
        discard();
        return false;
    }
    temporary_.clear();
    StopSignals::setTemporary({});
    return true;
}

void OutputFile::discard()
{
    if (stream_ && !standardOutput_) std::fclose(stream_);
    stream_ = nullptr;
    standardOutput_ = false;
    buffer_.reset();
    if (!temporary_.empty()) {
        ::unlink(temporary_.c_str());
        temporary_.clear();
        StopSignals::setTemporary({});
    }
}

}  // namespace varnak
