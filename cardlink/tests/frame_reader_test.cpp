// FrameReader without a socket: bytes in, frames and messages out.
#include "quesmer/frame_reader.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

using namespace quesmer;

namespace {

using Kind = ReadEvent::Kind;

QByteArray code(uint32_t value, const QByteArray& rest = QByteArray())
{
    QByteArray p;
    appendU32(p, value);
    return p + rest;
}

// An event as the tests compare it: kind, sequence, and the payload (or the
// number of skipped bytes, or the announced length of a refused frame).
std::string describe(const ReadEvent& e)
{
    switch (e.kind) {
        case Kind::Control:
            return "control " + std::to_string(e.header.sequence);
        case Kind::Message:
            return "message " + std::to_string(e.header.sequence) + " " + e.payload.left(40).toHex().toStdString() +
                   (e.payload.size() > 40 ? "... " + std::to_string(e.payload.size()) : std::string());
        case Kind::Skipped:
            return "skipped " + std::to_string(e.skipped);
        case Kind::MessageTooLong:
            return "too long " + std::to_string(e.header.sequence);
        case Kind::FrameTooLong:
            return "frame too long " + std::to_string(e.header.length);
    }
    return "?";
}

std::vector<std::string> drain(FrameReader& reader)
{
    std::vector<std::string> out;
    while (const std::optional<ReadEvent> e = reader.pop()) out.push_back(describe(*e));
    return out;
}

std::string message(int32_t sequence, const QByteArray& payload)
{
    return describe({Kind::Message, {FRAME_MARKER, sequence, 0, 1}, payload, 0});
}

struct Case {
    const char* what;
    std::vector<QByteArray> chunks;  // pushed one after the other, events taken after each
    std::vector<std::string> events;
    int32_t lastSequence;
    qsizetype maxMessage = MAX_MESSAGE;
    qsizetype maxFrame = 0;
    static constexpr qsizetype MAX_MESSAGE = 16 * 1024 * 1024;
};

const QByteArray kFragment(FRAGMENT_SIZE, 'f');

}  // namespace

TEST(FrameReader, TurnsBytesIntoFramesAndMessages)
{
    const QByteArray junk("hello\x34\x27\x83 world \x34\x27", 18);  // with pieces of markers
    const QByteArray large = code(0x00100002, QByteArray(2 * FRAGMENT_SIZE + 96, 'x'));
    const std::vector<Case> cases = {
        {"one message", {encodeFrame(7, code(MSG_HELLO))}, {message(7, code(MSG_HELLO))}, 7},
        {"control frames leave the last sequence alone",
         {encodeControlFrame(SEQ_NOP) + encodeControlFrame(SEQ_KEEPALIVE) + encodeControlFrame(SEQ_QUIT)},
         {"control -1", "control -3", "control -2"},
         0},
        {"a negative sequence that is no control counts", {encodeFrame(-7, code(1))}, {message(-7, code(1))}, -7},
        {"garbage before a marker is skipped, and garbage without one",
         {junk + encodeFrame(7, code(MSG_HELLO)) + QByteArray(5000, '\xAA')},
         {"skipped 18", message(7, code(MSG_HELLO))},
         7},
        {"a header and its payload in pieces",
         {encodeFrame(9, code(5, "abc")).left(10), encodeFrame(9, code(5, "abc")).mid(10, 8),
          encodeFrame(9, code(5, "abc")).mid(18)},
         {message(9, code(5, "abc"))},
         9},
        {"fragments are joined; the message has the last piece's header",
         {encodeFrame(10, large.left(FRAGMENT_SIZE), 0), encodeFrame(11, large.mid(FRAGMENT_SIZE, FRAGMENT_SIZE), 0),
          encodeFrame(12, large.mid(2 * FRAGMENT_SIZE), 1)},
         {message(12, large)},
         12},
        {"a fragment with flag 1 is dropped",
         {encodeFrame(3, code(2, kFragment), 1) + encodeFrame(4, code(2))},
         {message(4, code(2))},
         4},
        {"a message beyond the limit is reported once and dropped with its end piece",
         {encodeFrame(1, kFragment, 0) + encodeFrame(2, kFragment, 0) + encodeFrame(3, kFragment, 0) +
          encodeFrame(4, kFragment, 1) + encodeFrame(5, code(1)) + encodeFrame(6, code(2))},
         {"too long 2", message(6, code(2))},
         6,
         FRAGMENT_SIZE + 100},
        {"a header beyond the frame limit is refused, and the reader finds the next frame",
         {encodeFrame(1, QByteArray(200, 'z')) + encodeFrame(2, code(3))},
         {"frame too long 200", "skipped 200", message(2, code(3))},
         2,
         Case::MAX_MESSAGE,
         100},
    };
    for (const Case& c : cases) {
        FrameReader reader(c.maxMessage, c.maxFrame);
        std::vector<std::string> events;
        for (const QByteArray& chunk : c.chunks) {
            reader.push(chunk);
            for (const std::string& e : drain(reader)) events.push_back(e);
        }
        EXPECT_EQ(events, c.events) << c.what;
        EXPECT_EQ(reader.lastSequence(), c.lastSequence) << c.what;
        EXPECT_LE(reader.bufferedBytes(), 3) << c.what;  // garbage without a marker is not hoarded
        EXPECT_EQ(reader.reassemblyBytes(), 0) << c.what;
    }
}

TEST(FrameReader, AFrameCutAnywhereComesOutOnceWhenComplete)
{
    const QByteArray frame = encodeFrame(9, code(MSG_SERVER_INFO, "some information"));
    for (qsizetype cut = 1; cut < frame.size(); ++cut) {
        FrameReader reader(Case::MAX_MESSAGE);
        reader.push(frame.left(cut));
        EXPECT_TRUE(drain(reader).empty()) << "cut " << cut;
        EXPECT_EQ(reader.bufferedBytes(), cut) << "cut " << cut;
        reader.push(frame.mid(cut));
        EXPECT_EQ(drain(reader), std::vector<std::string>{message(9, code(MSG_SERVER_INFO, "some information"))})
            << "cut " << cut;
    }
}

TEST(FrameReader, FragmentsStreamIntoTheMessageAndClearForgetsEverything)
{
    FrameReader reader(Case::MAX_MESSAGE);
    const QByteArray first = encodeFrame(1, kFragment, 0);
    reader.push(first.left(FRAME_HEADER_SIZE + 1000));  // no large frame is buffered whole
    EXPECT_FALSE(reader.pop());
    EXPECT_EQ(reader.reassemblyBytes(), 1000);
    EXPECT_EQ(reader.bufferedBytes(), 0);
    reader.push(first.mid(FRAME_HEADER_SIZE + 1000));
    EXPECT_FALSE(reader.pop());
    EXPECT_EQ(reader.reassemblyBytes(), FRAGMENT_SIZE);
    EXPECT_EQ(reader.lastSequence(), 1);

    reader.push(encodeFrame(2, code(9)).left(5));
    reader.clear();
    EXPECT_EQ(reader.reassemblyBytes(), 0);
    EXPECT_EQ(reader.bufferedBytes(), 0);
    EXPECT_EQ(reader.lastSequence(), 0);
    reader.push(encodeFrame(3, code(4)));
    EXPECT_EQ(drain(reader), std::vector<std::string>{message(3, code(4))});
}
