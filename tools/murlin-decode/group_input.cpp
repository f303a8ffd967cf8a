#include "group_input.h"

#include <vector>

namespace murlindecode {

bool FeedGroupLog(varnak::InputFile& in, varnak::FrameProcessor& processor, GroupOutput& output,
                  rdsformats::GroupLogParser& parser, std::string& error)
{
    std::vector<char> buffer(std::size_t(1) << 16);
    rdsformats::GroupLogReader reader;
    processor.setPolaritySearch(false);
    processor.setInverted(false);
    // Fed group by group, so that each decoded group has its own time stamp.
    uint64_t position = 0;  // bits of the groups fed, for logs without time stamps
    auto onGroup = [&](const rdsformats::GroupRecord& g, const std::string& bits) {
        output.setTime(g.time);
        output.setPosition(position += bits.size());
        processor.process(bits, true);
    };
    std::size_t got = 0;
    varnak::InputFile::Result r;
    while ((r = in.read(buffer.data(), buffer.size(), got)) == varnak::InputFile::Result::Data) {
        if (!reader.feed(buffer.data(), got, onGroup)) {
            error = reader.error();
            return false;
        }
    }
    if (r == varnak::InputFile::Result::Failed) {
        error = in.error();
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
