#include "group_input.h"

#include <cerrno>
#include <cstring>
#include <vector>

namespace murlindecode {

bool FeedGroupLog(std::FILE* in, varnak::FrameProcessor& processor, GroupOutput& output,
                  rdsformats::GroupLogParser& parser, std::size_t& bytes, std::string& error) {
    std::vector<char> buffer(1 << 16);
    rdsformats::LineSplitter splitter;
    std::string bits;
    bits.reserve(104);
    processor.setPolaritySearch(false);
    processor.setInverted(false);
    auto onLine = [&](std::string_view line, std::size_t number, bool tooLong) {
        rdsformats::GroupRecord g;
        if (!parser.parse(line, number, tooLong, g)) return;
        bits.clear();
        rdsformats::AppendGroupBits(bits, g);
        output.setTime(g.time);
        processor.process(bits, true);
    };
    bytes = 0;
    bool first = true;
    std::size_t n;
    while ((n = std::fread(buffer.data(), 1, buffer.size(), in)) > 0) {
        const char* data = buffer.data();
        if (first) {
            first = false;
            if (n >= 3 && std::memcmp(data, "\xEF\xBB\xBF", 3) == 0) {  // a UTF-8 byte-order mark
                data += 3;
                n -= 3;
                bytes += 3;
            }
            const rdsformats::RecordingKind kind = rdsformats::DetectRecording(std::string_view(data, n));
            if (kind != rdsformats::RecordingKind::GroupLog) {
                switch (kind) {
                    case rdsformats::RecordingKind::Bits: error = "not a group log: it holds bit text (leave out --groups)"; break;
                    case rdsformats::RecordingKind::Hex: error = "not a group log: it holds hexadecimal text (use --hex)"; break;
                    default: error = "not a recording: neither a group log nor bit or hexadecimal text"; break;
                }
                return false;
            }
        }
        bytes += n;
        splitter.feed(data, n, onLine);
        if (processor.stopRequested()) break;
    }
    if (std::ferror(in)) {
        error = std::strerror(errno ? errno : EIO);
        return false;
    }
    splitter.finish(onLine);
    output.setTime(std::nullopt);
    output.finish();
    if (first) {
        error = "empty file, nothing to decode";
        return false;
    }
    return true;
}

}  // namespace murlindecode
