// A loopback decoder-card server for the card client tests: a real
// QTcpServer on 127.0.0.1 that the test drives frame by frame, plus access to
// the engine's connection primitives. Header-only, shared by every test file.
#pragma once

#include "quesmer/cardlink.h"
#include "quesmer/frame.h"
#include "quesmer/frame_reader.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>
#include <functional>
#include <vector>

namespace quesmer {

struct CardLinkTestAccess {
    static int open(CardLink& link, const QString& host, Long port) { return link.openConnection(host, port); }
    static void close(CardLink& link) { link.closeConnection(); }
    static void sendXml(CardLink& link, const QString& xml) { link.sendXmlCommand(xml); }
    static void tick(CardLink& link) { link.onTick(); }
    static qsizetype bufferedBytes(const CardLink& link) { return link.reader_->bufferedBytes(); }
    static qsizetype reassemblyBytes(const CardLink& link) { return link.reader_->reassemblyBytes(); }
    static qint64 socketBytes(const CardLink& link) { return link.socket_ ? link.socket_->bytesAvailable() : 0; }
};

namespace test {

// Runs the event loop until `done` holds or `ms` milliseconds have passed.
inline bool waitUntil(const std::function<bool()>& done, int ms = 3000)
{
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > ms) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::usleep(200);
    }
    return true;
}

inline void spin(int ms)
{
    waitUntil([] { return false; }, ms);
}

struct Frame {
    FrameHeader header;
    QByteArray payload;
    uint32_t code() const { return payload.size() >= 4 ? readU32(payload, 0) : 0; }
    QByteArray xml() const { return payload.mid(4); }
};

// Payload of MSG_SERVER_INFO with the given texts.
inline QByteArray serverInfoPayload(uint32_t connectionInfo = 0x11223344, const QByteArray& date = "Dec  8 2026",
                                    const QByteArray& time = "19:55:00", const QByteArray& release = "2.4.1",
                                    const QByteArray& cardType = "DC1")
{
    QByteArray p;
    appendU32(p, MSG_SERVER_INFO);
    appendU32(p, connectionInfo);
    p.append('\x02').append('\x07').append('\x01').append('\x03');  // server 2.7, protocol 1.3
    appendU32(p, 4711);
    for (const QByteArray* s : {&date, &time, &release, &cardType}) {
        appendU32(p, uint32_t(s->size()));
        p.append(*s);
    }
    return p;
}

inline QByteArray codePayload(uint32_t code, const QByteArray& rest = QByteArray())
{
    QByteArray p;
    appendU32(p, code);
    return p + rest;
}

class TestServer {
public:
    TestServer()
    {
        server_.listen(QHostAddress::LocalHost, 0);
        QObject::connect(&server_, &QTcpServer::newConnection, [this] {
            while (QTcpSocket* s = server_.nextPendingConnection()) {
                client_ = s;
                s->setSocketOption(QAbstractSocket::LowDelayOption, 1);  // tiny pieces go out at once
                received_.clear();
                QObject::connect(s, &QTcpSocket::readyRead, [this, s] {
                    if (s == client_) received_.append(s->readAll());
                });
                if (onConnect) onConnect();
            }
        });
    }

    quint16 port() const { return server_.serverPort(); }
    QTcpSocket* client() const { return client_; }
    bool clientConnected() const { return client_ && client_->state() == QAbstractSocket::ConnectedState; }

    void send(const QByteArray& bytes)
    {
        if (!client_) return;
        client_->write(bytes);
        client_->flush();
    }
    void sendFrame(int32_t sequence, const QByteArray& payload, int32_t flag = 1)
    {
        send(encodeFrame(sequence, payload, flag));
    }
    void sendXml(int32_t sequence, const QByteArray& xml) { sendFrame(sequence, xmlPayload(xml)); }
    void closeClient()
    {
        if (client_) client_->disconnectFromHost();
    }

    // Bytes the client sent since it connected (or since the last take).
    const QByteArray& received() const { return received_; }
    QByteArray take() { return std::exchange(received_, QByteArray()); }

    // Complete frames in what was received; a trailing partial frame is left out.
    std::vector<Frame> frames() const
    {
        std::vector<Frame> out;
        qsizetype pos = 0;
        while (auto h = readHeader(received_, pos)) {
            if (received_.size() - pos - FRAME_HEADER_SIZE < qsizetype(h->length)) break;
            out.push_back({*h, received_.mid(pos + FRAME_HEADER_SIZE, h->length)});
            pos += FRAME_HEADER_SIZE + h->length;
        }
        return out;
    }
    size_t frameCount() const { return frames().size(); }

    // HELLO and SERVER_INFO, waiting for the client's two answers; true when
    // the client is then in session.
    bool handshake(CardLink& link, int32_t helloSeq = 1, int32_t infoSeq = 2)
    {
        const size_t before = frameCount();
        sendFrame(helloSeq, codePayload(MSG_HELLO));
        sendFrame(infoSeq, serverInfoPayload());
        return waitUntil([&] { return frameCount() >= before + 2 && link.sessionOpen(); });
    }

    std::function<void()> onConnect;

private:
    QTcpServer server_;
    QPointer<QTcpSocket> client_;
    QByteArray received_;
};

// A CardLink with no pauses and a timer that never fires by itself: tests
// drive the ticks by hand.
inline Timing fastTiming()
{
    Timing t;
    t.tickMs = 3600 * 1000;
    t.flashMs = 0;
    t.quitPauseMs = 0;
    t.waitPauseMs = 1;
    return t;
}

}  // namespace test
}  // namespace quesmer
