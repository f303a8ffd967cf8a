#include "frame_processor.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "status_word.h"

namespace varnak {
namespace {

constexpr uint16_t kStatusNone = MURLIN_STATUS_NONE;
constexpr int16_t kResetCountMax = 32767;
// Automatic resets that leave the polarity alone; every later one flips it.
constexpr int16_t kResetsBeforeFlip = 10;

// Value of a hexadecimal digit, or -1 for any other character.
constexpr std::array<int8_t, 256> MakeHexTable()
{
    std::array<int8_t, 256> t{};
    for (auto& v : t) v = -1;
    for (int c = '0'; c <= '9'; ++c) t[c] = static_cast<int8_t>(c - '0');
    for (int c = 'A'; c <= 'F'; ++c) t[c] = static_cast<int8_t>(c - 'A' + 10);
    for (int c = 'a'; c <= 'f'; ++c) t[c] = static_cast<int8_t>(c - 'a' + 10);
    return t;
}
constexpr std::array<int8_t, 256> kHex = MakeHexTable();

inline int HexDigit(char c) { return kHex[static_cast<unsigned char>(c)]; }

}  // namespace

FrameProcessor::FrameProcessor(const MurlinApi& api) : api_(api) {}

FrameProcessor::Selection::Selection(const MurlinApi& api, void* decoder) : api_(api), active_(decoder != nullptr)
{
    if (active_) before_ = api_.RDSDecoderSelect(decoder);
}

FrameProcessor::Selection::~Selection()
{
    if (active_) api_.RDSDecoderSelect(before_);
}

void FrameProcessor::useOwnDecoder()
{
    if (!decoder_.empty()) return;
    const std::size_t size = api_.RDSDecoderSize();
    decoder_.assign((size + sizeof(uint64_t) - 1) / sizeof(uint64_t), 0);
    if (api_.RDSDecoderInit(decoder_.data(), decoder_.size() * sizeof(uint64_t)) != 0) decoder_.clear();
}

void FrameProcessor::process(const std::string& text, bool fromFile)
{
    beginStream(fromFile);
    feed(text.data(), text.size());
    endStream();
}

void FrameProcessor::beginStream(bool fromFile)
{
    streamFromFile_ = fromFile;
    streamPosition_ = 0;
    holding_ = false;
}

void FrameProcessor::feedStreamByte(char high, char low, bool alone)
{
    int value = HexDigit(high);
    if (value >= 0 && !alone) {
        const int second = HexDigit(low);
        value = second >= 0 ? value * 16 + second : -1;
    }
    if (value < 0) {
        ++skippedPairs_;
    } else {
        // A skipped pair feeds nothing and so reports nothing: acting on the
        // previous status again would repeat its group record.
        const int32_t status = api_.RDSBytFrame(value, inverted_ ? 1 : 0);
        if (static_cast<uint16_t>(status) != kStatusNone) handleStatus(static_cast<uint16_t>(status));
    }
    streamPosition_ += alone ? 1 : 2;
}

void FrameProcessor::feed(const char* data, std::size_t size)
{
    const Selection selection = select();
    if (streamFromFile_ && sureMarks_) {
        feedMarked(data, size);
        return;
    }
    if (streamFromFile_) {
        // The hot loop of a file analysis: one library call per character.
        // The polarity changes only in handleStatus(), so it is looked at
        // again after that only.
        const auto bitFrame = api_.RDSBitFrame;
        const std::uint64_t start = streamPosition_;
        int32_t invert = inverted_ ? 1 : 0;
        for (std::size_t k = 0; k < size; ++k) {
            const int32_t status = bitFrame(data[k] == '1' ? 1 : 0, invert);
            if (static_cast<uint16_t>(status) != kStatusNone) {
                streamPosition_ = start + k + 1;
                handleStatus(static_cast<uint16_t>(status));
                invert = inverted_ ? 1 : 0;
            }
        }
        streamPosition_ = start + size;
        return;
    }
    std::size_t k = 0;
    if (holding_ && size > 0) {
        holding_ = false;
        feedStreamByte(held_, data[0], false);
        k = 1;
    }
    for (; k + 1 < size; k += 2) feedStreamByte(data[k], data[k + 1], false);
    if (k < size) {
        holding_ = true;
        held_ = data[k];
    }
}

void FrameProcessor::feedMarked(const char* data, std::size_t size)
{
    constexpr int kBlockBits = 26;
    const std::uint64_t start = streamPosition_;
    for (std::size_t k = 0; k < size; ++k) {
        const char c = data[k];
        const bool marked = c == 'I' || c == 'O';
        sureRun_ = marked ? std::min(sureRun_ + 1, kBlockBits) : 0;
        const int32_t status = api_.RDSBitFrame(c == '1' || c == 'I' ? 1 : 0, inverted_ ? 1 : 0);
        if (static_cast<uint16_t>(status) != kStatusNone) {
            streamPosition_ = start + k + 1;
            handleStatus(static_cast<uint16_t>(status), sureRun_ == kBlockBits);
        }
    }
    streamPosition_ = start + size;
}

void FrameProcessor::endStream()
{
    if (!holding_) return;
    const Selection selection = select();
    holding_ = false;
    feedStreamByte(held_, 0, true);
}

void FrameProcessor::handleStatus(uint16_t status, bool sure)
{
    const rdsformats::StatusWord word(status);
    if (word.autoReset()) {
        // Polarity search: repeated automatic resets mean no block A can be
        // found, most likely because the stream arrives inverted.
        if (resetCount_ < kResetCountMax) ++resetCount_;
        if (resetCount_ > kResetsBeforeFlip && polaritySearch_) inverted_ = !inverted_;
        if (listener_) listener_->onAutoReset(inverted_);
    }
    if (listener_) {
        if (sure && word.check() == rdsformats::StatusWord::kCorrect)
            listener_->onSureStatus(status);
        else
            listener_->onStatus(status);
    }
    if (word.groupDecoded()) showGroup();
}

void FrameProcessor::showGroup()
{
    for (int n = 0; n < 4; ++n) {
        // As StrFromPtr, but into the reused strings.
        const char* line = api_.RDSDisplay(n);
        if (line)
            group_.lines[n].assign(line, ::strnlen(line, 1024));
        else
            group_.lines[n].clear();
    }
    if (log_) log_->writeGroup(group_.lines);
    api_.RDSStruct(&group_.state);
    for (int n = 0; n < 4; ++n) group_.blockWords[n] = static_cast<uint16_t>(api_.RDSData(n));
    if (listener_) listener_->onGroup(group_);
}

}  // namespace varnak
