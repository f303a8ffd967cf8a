#include "decode_log.h"

#include <cerrno>
#include <cstring>

namespace varnak {

DecodeLog::~DecodeLog() { close(); }

bool DecodeLog::open(const std::string& path)
{
    close();
    error_.clear();
    path_ = path;
    flushEachGroup_ = false;
    if (!file_.open(path)) {
        error_ = file_.error();
        return false;
    }
    stream_ = file_.stream();
    owned_ = true;
    return true;
}

void DecodeLog::attach(std::FILE* stream, const std::string& name)
{
    close();
    error_.clear();
    path_ = name;
    flushEachGroup_ = false;
    stream_ = stream;
    owned_ = false;
}

bool DecodeLog::fail(const char* what)
{
    if (error_.empty())
        error_ = std::string("cannot ") + what + " " + path_ + ": " + std::strerror(errno ? errno : EIO);
    return false;
}

bool DecodeLog::writeGroup(const std::string (&lines)[4])
{
    if (!stream_) return false;
    if (!error_.empty()) return false;
    record_.assign(kSeparator);
    record_ += "\r\n";
    for (const std::string& line : lines) {
        record_ += line;
        record_ += "\r\n";
    }
    errno = 0;
    if (std::fwrite(record_.data(), 1, record_.size(), stream_) != record_.size()) return fail("write");
    return !flushEachGroup_ || flush();
}

bool DecodeLog::flush()
{
    if (!stream_) return error_.empty();
    errno = 0;
    if (std::fflush(stream_) != 0 || std::ferror(stream_)) return fail("write");
    return error_.empty();
}

bool DecodeLog::close()
{
    if (!stream_) return true;
    bool ok = flush();
    if (owned_ && !file_.commit() && ok) {
        error_ = file_.error();
        ok = false;
    }
    if (owned_ && !ok) file_.discard();
    stream_ = nullptr;
    owned_ = false;
    return ok && error_.empty();
}

std::string DecodeLogPath(const std::string& inputPath)
{
    const std::size_t keep = inputPath.size() > 4 ? inputPath.size() - 4 : 0;
    return inputPath.substr(0, keep) + ".out";
}

}  // namespace varnak
