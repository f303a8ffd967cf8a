#include "group_output.h"

#include <cerrno>
#include <chrono>
#include <cstdio>

namespace murlindecode {

std::optional<int64_t> GroupOutput::now() const
{
    if (!live_) return time_;
    const auto since = std::chrono::system_clock::now().time_since_epoch();
    return std::chrono::duration_cast<std::chrono::milliseconds>(since).count() / 10;
}

void GroupOutput::write(const std::string& text)
{
    if (!stream_ || failed_) return;
    if (std::fwrite(text.data(), 1, text.size(), stream_) != text.size()) {
        failed_ = true;
        errno_ = errno ? errno : EIO;
    }
}

void GroupOutput::groupGathered(const rdsformats::GroupRecord& gathered)
{
    stats_.add(gathered);
    if (format_ != OutputFormat::Hex) return;
    rdsformats::GroupRecord g = gathered;
    g.time = now();
    line_.clear();
    rdsformats::AppendGroupLine(line_, g);
    line_ += '\n';
    write(line_);
}

void GroupOutput::onStatus(uint16_t status, bool sure)
{
    if (format_ == OutputFormat::Json) quality_.onStatus(status, sure);
    // The assembler takes at most one block word per status word: fetch only that one.
    uint16_t words[4] = {0, 0, 0, 0};
    if (const int n = rdsformats::GroupAssembler::WordTaken(status); n >= 0)
        words[n] = static_cast<uint16_t>(api_.RDSData(n));
    if (assembler_.feed(status, words)) groupGathered(assembler_.group());
    if (!historyOn_) return;
    if (positionSource_) historyFeed_.setPosition(positionSource_->position() * bitsPerCharacter_);
    historyFeed_.setStamp(time_);
    historyFeed_.onStatus(status, words);
}

void GroupOutput::onGroup(const varnak::DecodedGroup& group)
{
    rtPlus_.feed(group.blockWords, group.state.radioText, group.state.radioTextB);
    if (format_ != OutputFormat::Json) return;
    texts_.feed(quality_.take(group.blockWords));
    const auto items = rtPlus_.touched() ? rtPlus_.items() : std::vector<std::pair<std::string, std::string>>{};
    rdsformats::JsonExtras extras;
    extras.rbds = rbds_;
    extras.rxTime = now();
    extras.rtPlus = &items;
    extras.texts = &texts_;
    extras.rtPlusCarrier = rtPlus_.carrier();
    extras.tmcLocations = tmcLocations_;
    extras.frequencyMhz = frequency_;
    line_.clear();
    rdsformats::AppendGroupJson(line_, group, api_, extras);
    line_ += '\n';
    write(line_);
}

void GroupOutput::finish()
{
    if (assembler_.finish()) groupGathered(assembler_.group());
    if (historyOn_) historyFeed_.finish();
}

}  // namespace murlindecode
