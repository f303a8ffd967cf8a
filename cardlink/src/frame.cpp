#include "quesmer/frame.h"

namespace quesmer {

void appendU32(QByteArray& out, uint32_t value)
{
    for (int i = 0; i < 4; ++i) out.append(char((value >> (8 * i)) & 0xFF));
}

void appendU16(QByteArray& out, uint16_t value)
{
    out.append(char(value & 0xFF));
    out.append(char(value >> 8));
}

uint32_t readU32(const QByteArray& data, qsizetype offset)
{
    uint32_t v = 0;
    for (int i = 3; i >= 0; --i) v = (v << 8) | uint8_t(data.at(offset + i));
    return v;
}

QByteArray encodeFrame(int32_t sequence, const QByteArray& payload, int32_t flag)
{
    QByteArray out;
    out.reserve(FRAME_HEADER_SIZE + payload.size());
    appendU32(out, FRAME_MARKER);
    appendU32(out, uint32_t(sequence));
    appendU32(out, uint32_t(payload.size()));
    appendU32(out, uint32_t(flag));
    out.append(payload);
    return out;
}

QByteArray encodeControlFrame(int32_t sequence) { return encodeFrame(sequence, QByteArray(), 1); }

QByteArray xmlPayload(const QByteArray& xml)
{
    QByteArray out;
    out.reserve(4 + xml.size());
    appendU32(out, MSG_XML);
    out.append(xml);
    return out;
}

std::optional<FrameHeader> readHeader(const QByteArray& data, qsizetype offset)
{
    if (offset < 0 || data.size() - offset < FRAME_HEADER_SIZE) return std::nullopt;
    FrameHeader h;
    h.marker = readU32(data, offset);
    h.sequence = int32_t(readU32(data, offset + 4));
    h.length = readU32(data, offset + 8);
    h.flag = int32_t(readU32(data, offset + 12));
    return h;
}

qsizetype findMarker(const QByteArray& data, qsizetype from)
{
    static const char marker[4] = {'\x34', '\x27', '\x83', '\x27'};
    return data.indexOf(QByteArrayView(marker, 4), from);
}

QByteArray clientHelloPayload()
{
    QByteArray p;
    appendU32(p, MSG_CLIENT_HELLO);
    appendU32(p, 0);  // first text field, empty
    appendU32(p, 0);  // second text field, empty
    p.append('\x01');
    p.append('\x02');
    appendU32(p, 0xFFFFFFFFu);
    p.append('\x00');
    p.append('\x01');
    appendU32(p, 1);
    appendU32(p, 0);
    appendU16(p, 0);
    appendU16(p, 1);
    return p;  // 32 bytes
}

}  // namespace quesmer
