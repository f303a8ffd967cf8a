#include "frame_processor.h"

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
constexpr std::array<int8_t, 256> MakeHexTable() {
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

void FrameProcessor::process(const std::string& text, bool fromFile) {
    const std::size_t length = text.size();  // positions fixed at entry
    if (length == 0) return;
    const std::size_t step = fromFile ? 1 : 2;
    const uint64_t run = ++run_;
    std::size_t untilProgress = progressInterval_;

    for (std::size_t i = 0; i < length; i += step) {
        int32_t status = kStatusNone;
        bool fed = false;
        if (fromFile) {
            // A position beyond a shortened text reads as "not a 1".
            const bool one = i < text.size() && text[i] == '1';
            status = api_.RDSBitFrame(one ? 1 : 0, inverted_ ? 1 : 0);
            fed = true;
        } else if (i < text.size()) {
            int value = HexDigit(text[i]);
            if (value >= 0 && i + 1 < text.size()) {
                const int low = HexDigit(text[i + 1]);
                value = low >= 0 ? value * 16 + low : -1;
            }
            if (value >= 0) {
                status = api_.RDSBytFrame(value, inverted_ ? 1 : 0);
                fed = true;
            } else {
                ++skippedPairs_;
            }
        }
        if (stop_) return;
        // A skipped position feeds nothing and so reports nothing: acting on
        // the previous status again would repeat its group record.
        // A listener call may let the user press Stop, or start another run:
        // look again after it, so that no further bit is fed once either
        // happened.
        if (fed && static_cast<uint16_t>(status) != kStatusNone) {
            handleStatus(static_cast<uint16_t>(status));
            if (stop_ || run_ != run) return;
        }
        if (--untilProgress == 0) {
            untilProgress = progressInterval_;
            if (listener_ && i + step < length) {
                listener_->onProgress(i + step, length);
                if (stop_ || run_ != run) return;
            }
        }
    }
    if (listener_) listener_->onProgress(length, length);
}

void FrameProcessor::beginStream(bool fromFile, std::uint64_t total) {
    streamRun_ = ++run_;
    streamFromFile_ = fromFile;
    streamPosition_ = 0;
    streamTotal_ = total;
    streamUntilProgress_ = progressInterval_;
    holding_ = false;
}

// Counts the characters of one position; false when the stream must end.
inline bool FrameProcessor::streamProgress(std::size_t characters) {
    streamPosition_ += characters;
    if (--streamUntilProgress_ != 0) return true;
    streamUntilProgress_ = progressInterval_;
    if (!listener_) return true;
    listener_->onProgress(streamPosition_, streamPosition_ < streamTotal_ ? streamTotal_ : 0);
    return streamGoesOn();
}

bool FrameProcessor::feedStreamByte(char high, char low, bool alone) {
    int value = HexDigit(high);
    if (value >= 0 && !alone) {
        const int second = HexDigit(low);
        value = second >= 0 ? value * 16 + second : -1;
    }
    if (value < 0) {
        ++skippedPairs_;
    } else {
        const int32_t status = api_.RDSBytFrame(value, inverted_ ? 1 : 0);
        if (stop_) return false;
        if (static_cast<uint16_t>(status) != kStatusNone) {
            handleStatus(static_cast<uint16_t>(status));
            if (!streamGoesOn()) return false;
        }
    }
    return streamProgress(alone ? 1 : 2);
}

bool FrameProcessor::feed(const char* data, std::size_t size) {
    if (!streamGoesOn()) return false;
    if (streamFromFile_) {
        // The hot loop of a file analysis: one library call per character.
        // The stop flag and the polarity change only in listener calls, so
        // they are looked at again after those only.
        const auto bitFrame = api_.RDSBitFrame;
        const std::uint64_t start = streamPosition_;
        int32_t invert = inverted_ ? 1 : 0;
        std::size_t untilProgress = streamUntilProgress_;
        for (std::size_t k = 0; k < size; ++k) {
            const int32_t status = bitFrame(data[k] == '1' ? 1 : 0, invert);
            if (static_cast<uint16_t>(status) != kStatusNone) {
                streamPosition_ = start + k + 1;
                handleStatus(static_cast<uint16_t>(status));
                if (!streamGoesOn()) return false;
                invert = inverted_ ? 1 : 0;
            }
            if (--untilProgress == 0) {
                untilProgress = progressInterval_;
                streamPosition_ = start + k + 1;
                if (listener_) {
                    listener_->onProgress(streamPosition_, streamPosition_ < streamTotal_ ? streamTotal_ : 0);
                    if (!streamGoesOn()) return false;
                    invert = inverted_ ? 1 : 0;
                }
            }
        }
        streamPosition_ = start + size;
        streamUntilProgress_ = untilProgress;
        return true;
    }
    std::size_t k = 0;
    if (holding_ && size > 0) {
        holding_ = false;
        if (!feedStreamByte(held_, data[0], false)) return false;
        k = 1;
    }
    for (; k + 1 < size; k += 2)
        if (!feedStreamByte(data[k], data[k + 1], false)) return false;
    if (k < size) {
        holding_ = true;
        held_ = data[k];
    }
    return true;
}

void FrameProcessor::endStream() {
    if (!streamGoesOn()) return;
    if (holding_) {
        holding_ = false;
        if (!feedStreamByte(held_, 0, true)) return;
    }
    if (listener_ && streamPosition_ > 0) listener_->onProgress(streamPosition_, streamPosition_);
}

void FrameProcessor::handleStatus(uint16_t status) {
    const rdsformats::StatusWord word(status);
    if (word.autoReset()) {
        // Polarity search: repeated automatic resets mean no block A can be
        // found, most likely because the stream arrives inverted.
        if (resetCount_ < kResetCountMax) ++resetCount_;
        if (resetCount_ > kResetsBeforeFlip && polaritySearch_) inverted_ = !inverted_;
        if (listener_) listener_->onAutoReset(inverted_);
    }
    if (listener_) listener_->onStatus(status);
    if (word.groupDecoded()) showGroup();
}

void FrameProcessor::showGroup() {
    for (int n = 0; n < 4; ++n) {
        // As StrFromPtr, but into the reused strings.
        const char* line = api_.RDSDisplay(n);
        if (line) group_.lines[n].assign(line, ::strnlen(line, 1024));
        else group_.lines[n].clear();
    }
    if (log_) log_->writeGroup(group_.lines);
    api_.RDSStruct(&group_.state);
    for (int n = 0; n < 4; ++n) group_.blockWords[n] = static_cast<uint16_t>(api_.RDSData(n));
    if (listener_) listener_->onGroup(group_);
}

}  // namespace varnak
