#include "group_input.h"

#include <cerrno>
#include <cstring>
#include <vector>

namespace murlindecode {

bool FeedGroupLog(std::FILE* in, varnak::FrameProcessor& processor, GroupOutput& output,
                  rdsformats::GroupLogParser& parser, std::size_t& bytes, std::string& error) {
    std::vector<char> buffer(1 << 16);
    rdsformats::GroupLogReader reader;
    processor.setPolaritySearch(false);
    processor.setInverted(false);
    // Fed group by group, so each decoded group has its own time stamp.
    auto onGroup = [&](const rdsformats::GroupRecord& g, const std::string& bits) {
        output.setTime(g.time);
        processor.process(bits, true);
    };
    bytes = 0;
    std::size_t n;
    while ((n = std::fread(buffer.data(), 1, buffer.size(), in)) > 0) {
        bytes += n;
        if (!reader.feed(buffer.data(), n, onGroup)) {
            error = reader.error();
            return false;
        }
        if (processor.stopRequested()) break;
    }
    if (std::ferror(in)) {
        error = std::strerror(errno ? errno : EIO);
        return false;
    }
    if (!reader.finish(onGroup)) {
        error = reader.error().empty() ? "empty file, nothing to decode" : reader.error();
        return false;
    }
    output.setTime(std::nullopt);
    output.finish();
    parser = reader.parser();
    return true;
}

}  // namespace murlindecode
