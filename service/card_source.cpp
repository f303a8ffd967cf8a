// The card source: a DC1 card through its card server, with the suite's card
// client (quesmer::CardLink). The client is a Qt object that needs an event
// loop: it lives on the source's own thread, and run() is that thread's
// event loop. Its section's keys:
//   host = 127.0.0.1, port = 33234   the card server
//   card = 1 | serial = 00012345      which card
//   input = 3                         the card's IF input (1 to 6)
// The card is connected, given the RDS start sequence (about five seconds of
// automatic level setting), and its hexadecimal bit stream becomes chunks.
// A server that refuses, goes away or falls silent ends run() with the
// reason, and the runner tries again after `retry` seconds.
#include <QElapsedTimer>
#include <QEventLoop>
#include <QObject>
#include <QTimer>
#include <cstdio>
#include <functional>
#include <memory>

#include "quesmer/cardlink.h"
#include "quesmer/start_sequence.h"
#include "source.h"

namespace varnakd {

namespace {

using namespace quesmer;

// How long the card may take to answer the connect request (its first
// indicator, or an error) before the set-up goes ahead anyway.
constexpr int kCardAnswerMs = 5000;
// With no data this long after the set-up, the connection is given up and made again.
constexpr int kSilenceMs = 30000;
constexpr int kPollMs = 100;

class CardSource : public Source {
public:
    explicit CardSource(const SourceConfig& c) : config_(c) {}

    bool run(ChunkSink& sink, std::string& error) override
    {
        CardLink link;
        link.setErrorNotifier([&](const QString& text) { note(text); });
        const QString host = QString::fromStdString(config_.host);
        const QString where = host + ':' + QString::number(config_.port);
        const QString target = config_.serial.empty() ? "card " + QString::number(config_.card)
                                                      : "serial " + QString::fromStdString(config_.serial);

        bool answered = false, sessionEnded = false;
        QString cardError, endCause;
        bool first = true;
        uint64_t bits = 0;
        QObject::connect(&link, &CardLink::OnCardConnected, [&] { answered = true; });
        QObject::connect(&link, &CardLink::OnCardError, [&](ErrTyp, const QString& desc) {
            if (!answered && cardError.isEmpty()) cardError = desc;
        });
        QObject::connect(&link, &CardLink::OnCardDisconnected, [&](Boolean, const QString& cause) {
            sessionEnded = true;
            endCause = cause;
        });
        // The card's data, as hexadecimal text; the frame processor pairs its digits.
        QObject::connect(&link, &CardLink::OnCardDataBinary, [&](EncTyp encoding, Integer, const QString& bin) {
            if (encoding != ENC_HEX || bin.isEmpty()) return;
            SourceChunk chunk;
            chunk.text = bin.toStdString();
            chunk.hex = true;
            chunk.restart = first;
            first = false;
            chunk.bits = bits += chunk.text.size() * 4;
            sink.push(std::move(chunk));
            silence_.start();
        });

        // The client's one wait helper: it returns once the card list came.
        Integer card = Integer(config_.card);
        QString serial = QString::fromStdString(config_.serial);
        Long port = Long(config_.port);
        QString hostArg = host;
        const Integer result = config_.serial.empty() ? link.CardConnectByNumber(hostArg, port, card)
                                                      : link.CardConnectBySerial(hostArg, port, serial);
        if (result != 0) {
            Integer code = result;
            error = QString("cannot connect %1 on %2: Err:%3 - %4")
                        .arg(target, where)
                        .arg(result)
                        .arg(link.connectErrorText(code))
                        .toStdString();
            return false;
        }
        const auto stopped = [&] { return sink.stopping() || !link.connected(); };
        runUntil(kCardAnswerMs, [&] { return stopped() || answered || !cardError.isEmpty(); });
        if (!answered && !cardError.isEmpty()) {
            link.CardDisconnect();
            error = QString("cannot connect %1 on %2: %3").arg(target, where, cardError).toStdString();
            return false;
        }
        if (!sink.stopping() && link.connected())
            sendRdsStartSequence(link, Integer(config_.input), [&](int ms) { runUntil(ms, stopped); });

        // The thread's event loop, until the service stops, the server goes or
        // the card falls silent.
        silence_.start();
        runUntil(-1, [&] { return stopped() || silence_.elapsed() > kSilenceMs; });
        if (sink.stopping()) {
            link.CardDisconnect();
            return true;
        }
        if (link.connected()) {
            link.CardDisconnect();
            error = QString("no data from %1 on %2 for %3 s").arg(target, where).arg(kSilenceMs / 1000).toStdString();
            return false;
        }
        error = QString("the connection to %1 ended%2")
                    .arg(where, sessionEnded && !endCause.isEmpty() ? ": " + endCause : QString())
                    .toStdString();
        return false;
    }

private:
    // Runs this thread's event loop for `ms` milliseconds (-1: without end)
    // or until `done` holds, looked at every tenth of a second.
    static void runUntil(int ms, const std::function<bool()>& done)
    {
        if (done()) return;
        QEventLoop loop;
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
            if (done()) loop.quit();
        });
        QTimer deadline;
        deadline.setSingleShot(true);
        QObject::connect(&deadline, &QTimer::timeout, &loop, &QEventLoop::quit);
        poll.start(kPollMs);
        if (ms >= 0) deadline.start(ms);
        loop.exec();
    }

    void note(const QString& text)
    {
        std::fprintf(stderr, "varnakd: source %s: %s\n", config_.name.c_str(), qPrintable(text));
    }

    SourceConfig config_;
    QElapsedTimer silence_;
};

}  // namespace

std::unique_ptr<Source> MakeCardSource(const SourceConfig& config) { return std::make_unique<CardSource>(config); }

}  // namespace varnakd
