#include "quesmer/frame_reader.h"

#include <algorithm>
#include <utility>

namespace quesmer {

FrameReader::FrameReader(qsizetype maxMessage, qsizetype maxFrame) : maxMessage_(maxMessage), maxFrame_(maxFrame) {}

void FrameReader::push(QByteArrayView bytes)
{
    if (pos_ > 0) {  // what was taken goes before anything is added
        buffer_.remove(0, pos_);
        pos_ = 0;
    }
    buffer_.append(bytes);
}

void FrameReader::clear()
{
    buffer_ = QByteArray();
    pos_ = 0;
    reassembly_ = QByteArray();
    fragmentLeft_ = 0;
    fragmentKept_ = false;
    discardingMessage_ = false;
    lastSequence_ = 0;
}

void FrameReader::consume(qsizetype n)
{
    pos_ += n;
    if (pos_ == buffer_.size()) {
        buffer_.clear();
        pos_ = 0;
    }
}

bool FrameReader::beginFragment(qsizetype length, int32_t flag)
{
    fragmentLeft_ = length;
    fragmentKept_ = false;
    if (flag == 1 || discardingMessage_) return false;  // a lone fragment, or more of a message that is lost already
    if (reassembly_.size() + length > maxMessage_) {
        reassembly_ = QByteArray();
        discardingMessage_ = true;
        return true;
    }
    fragmentKept_ = true;
    return false;
}

std::optional<ReadEvent> FrameReader::pop()
{
    for (;;) {
        if (fragmentLeft_ > 0) {
            // The payload of a fragment streams into the reassembly buffer (or
            // away) as it arrives, so no large frame is ever buffered whole.
            const qsizetype n = std::min(fragmentLeft_, bufferedBytes());
            if (n == 0) return std::nullopt;
            if (fragmentKept_) reassembly_.append(buffer_.constData() + pos_, n);
            consume(n);
            fragmentLeft_ -= n;
            continue;
        }
        const qsizetype at = findMarker(buffer_, pos_);
        if (at < 0) {
            // Only the last three bytes can begin a marker; keep no more garbage.
            if (bufferedBytes() > 3) consume(bufferedBytes() - 3);
            return std::nullopt;
        }
        if (at > pos_) {
            ReadEvent skipped{ReadEvent::Kind::Skipped, {}, {}, at - pos_};
            consume(at - pos_);
            return skipped;
        }
        const std::optional<FrameHeader> header = readHeader(buffer_, pos_);
        if (!header) return std::nullopt;
        if (header->sequence == SEQ_NOP || header->sequence == SEQ_KEEPALIVE || header->sequence == SEQ_QUIT) {
            consume(FRAME_HEADER_SIZE);
            return ReadEvent{ReadEvent::Kind::Control, *header, {}, 0};
        }
        if (maxFrame_ > 0 && qsizetype(header->length) > maxFrame_) {
            consume(FRAME_HEADER_SIZE);
            return ReadEvent{ReadEvent::Kind::FrameTooLong, *header, {}, 0};
        }
        lastSequence_ = header->sequence;
        if (qsizetype(header->length) >= FRAGMENT_SIZE) {
            consume(FRAME_HEADER_SIZE);
            if (beginFragment(qsizetype(header->length), header->flag))
                return ReadEvent{ReadEvent::Kind::MessageTooLong, *header, {}, 0};
            continue;
        }
        const qsizetype total = FRAME_HEADER_SIZE + qsizetype(header->length);
        if (bufferedBytes() < total) return std::nullopt;
        const QByteArray payload(buffer_.constData() + pos_ + FRAME_HEADER_SIZE, qsizetype(header->length));
        consume(total);
        if (discardingMessage_) {  // last piece of a message that was too long
            discardingMessage_ = false;
            continue;
        }
        QByteArray message = std::exchange(reassembly_, QByteArray());
        message.append(payload);
        return ReadEvent{ReadEvent::Kind::Message, *header, message, 0};
    }
}

}  // namespace quesmer
