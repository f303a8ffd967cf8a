// Receiving side of the frame layer: bytes go in as they arrive, frames and
// whole messages come out. It holds no connection, so the client control and
// the server simulator read with the same code, and it can be tested without
// a socket.
//
// Bytes before a frame marker are skipped. A payload of FRAGMENT_SIZE bytes
// or more is a fragment: with flag 0 its bytes stream into the message being
// reassembled as they arrive, with flag 1 they are dropped. A shorter payload
// ends the message. A message that would grow beyond the message limit is
// reported once and dropped with the rest of its pieces, so the reader holds
// at most that much of a message besides the bytes pushed and not yet taken.
#pragma once

#include "quesmer/frame.h"

#include <QByteArray>
#include <QByteArrayView>
#include <optional>

namespace quesmer {

// One thing the reader found.
struct ReadEvent {
    enum class Kind {
        Control,         // a header-only frame with a control sequence: NOP, quit or keep-alive
        Message,         // a whole message; header is that of its last frame
        Skipped,         // `skipped` bytes before a marker were dropped
        MessageTooLong,  // a message grew beyond the message limit; it is dropped
        FrameTooLong,    // a header announced more than the frame limit; the header is dropped
    };
    Kind kind = Kind::Message;
    FrameHeader header;
    QByteArray payload;     // Message: the reassembled payload, code first
    qsizetype skipped = 0;  // Skipped: how many bytes
};

class FrameReader {
public:
    // `maxMessage`: limit on one reassembled message. `maxFrame`: limit on the
    // length one header may announce, 0 for none.
    explicit FrameReader(qsizetype maxMessage, qsizetype maxFrame = 0);

    void push(QByteArrayView bytes);
    // The next event, nothing until more bytes are pushed.
    [[nodiscard]] std::optional<ReadEvent> pop();
    // Forgets every byte and any message in reassembly; the last sequence becomes 0.
    void clear();

    // Sequence of the last data frame (not a control frame) whose header was read.
    int32_t lastSequence() const { return lastSequence_; }
    // Bytes pushed and not yet taken.
    qsizetype bufferedBytes() const { return buffer_.size() - pos_; }
    // Bytes of the message in reassembly.
    qsizetype reassemblyBytes() const { return reassembly_.size(); }

private:
    void consume(qsizetype n);
    // A fragment header: its payload is kept or dropped; true when this
    // makes the message too long.
    bool beginFragment(qsizetype length, int32_t flag);

    qsizetype maxMessage_;
    qsizetype maxFrame_;
    QByteArray buffer_;
    qsizetype pos_ = 0;  // bytes of buffer_ before this are taken
    QByteArray reassembly_;
    qsizetype fragmentLeft_ = 0;      // payload bytes of the current fragment still to come
    bool fragmentKept_ = false;       // they go to the reassembly buffer, else they are dropped
    bool discardingMessage_ = false;  // the message in reassembly exceeded the limit
    int32_t lastSequence_ = 0;
};

}  // namespace quesmer
