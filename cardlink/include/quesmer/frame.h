// The binary frame layer of the decoder-card server protocol.
//
// Every message travels as a 16-byte header (marker, sequence, length, flag;
// little-endian 32-bit fields) followed by a payload whose first 32-bit word
// is the payload code. These helpers only build and read frames; they hold no
// connection state, so the client control and the server simulator share them.
#pragma once

#include <QByteArray>
#include <cstdint>
#include <optional>

namespace quesmer {

constexpr uint32_t FRAME_MARKER = 0x27832734;  // bytes 34 27 83 27 on the wire
constexpr int FRAME_HEADER_SIZE = 16;
constexpr int32_t SEQ_NOP = -1;
constexpr int32_t SEQ_QUIT = -2;
constexpr int32_t SEQ_KEEPALIVE = -3;

constexpr uint32_t MSG_HELLO = 0x00100000;
constexpr uint32_t MSG_SERVER_INFO = 0x00100001;
constexpr uint32_t MSG_PROTOCOL_ERROR = 0x00100003;
constexpr uint32_t MSG_CLIENT_HELLO = 0x00200000;
constexpr uint32_t MSG_SERVER_INFO_ACK = 0x00200002;
constexpr uint32_t MSG_XML = 0x03000000;

// A payload of this many bytes or more is a fragment of a larger message.
constexpr int FRAGMENT_SIZE = 32768;

struct FrameHeader {
    uint32_t marker = FRAME_MARKER;
    int32_t sequence = 0;
    uint32_t length = 0;  // payload bytes after the header
    int32_t flag = 1;
};

// True for every code that counts as XML on receipt (bits 0x02000000 and 0x01000000 both set).
inline bool isXmlCode(uint32_t code) { return (code & 0x03000000u) == 0x03000000u; }

// Little-endian helpers.
void appendU32(QByteArray& out, uint32_t value);
void appendU16(QByteArray& out, uint16_t value);
uint32_t readU32(const QByteArray& data, qsizetype offset);

// Header followed by payload; flag 1 unless told otherwise.
QByteArray encodeFrame(int32_t sequence, const QByteArray& payload, int32_t flag = 1);
// A header with no payload (NOP, quit, keep-alive).
QByteArray encodeControlFrame(int32_t sequence);
// The payload of an XML message: the code 0x03000000 followed by the text.
QByteArray xmlPayload(const QByteArray& xml);
// Reads the 16-byte header at `offset`; nothing when fewer than 16 bytes remain.
[[nodiscard]] std::optional<FrameHeader> readHeader(const QByteArray& data, qsizetype offset = 0);
// Position of the first marker at or after `from`, or -1.
[[nodiscard]] qsizetype findMarker(const QByteArray& data, qsizetype from = 0);

// The 32-byte client greeting (payload of MSG_CLIENT_HELLO).
QByteArray clientHelloPayload();

}  // namespace quesmer
