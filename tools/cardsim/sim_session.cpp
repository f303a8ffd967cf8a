#include "sim_session.h"

#include "quesmer/frame.h"

#include <QDomDocument>
#include <QTcpSocket>
#include <algorithm>
#include <cmath>

namespace cardsim {

using namespace quesmer;

namespace {

constexpr double kBitRate = 1187.5;  // RDS bit rate, bit/s
constexpr uint32_t kUnknownCode = 0x00100002;
// Limit on what a client may send in one frame and in one message.
constexpr qsizetype kMaxReceived = 16 * 1024 * 1024;

// Values are inserted into attributes, so the XML special characters are escaped.
QByteArray attr(const char* name, const QString& value)
{
    return QByteArray(" ") + name + "=\"" + value.toHtmlEscaped().toLatin1() + "\"";
}

QByteArray attr(const char* name, qint64 value) { return attr(name, QString::number(value)); }

QByteArray wrapMessage(const QByteArray& body)
{
    return "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\r\n<Message version=\"1.0\">\r\n" + body + "</Message>\r\n";
}

QByteArray parameter(const char* name, const QString& value)
{
    return "<Parameter" + attr("name", QString::fromLatin1(name)) + attr("value", value) + "/>\r\n";
}

QString lower(const QDomElement& e)
{
    return e.localName().isEmpty() ? e.tagName().toLower() : e.localName().toLower();
}

// The plain parameters of a parameter list: a text or a number field each.
struct Param {
    const char* name;
    QString CardSettings::*text;
    int CardSettings::*number;
};
const Param kParams[] = {
    {"inputgain", nullptr, &CardSettings::gain},
    {"agc", &CardSettings::agc, nullptr},
    {"als", &CardSettings::als, nullptr},
    {"modulation", &CardSettings::modulation, nullptr},
    {"code", &CardSettings::code, nullptr},
    {"speed", &CardSettings::speed, nullptr},
    {"shift", &CardSettings::shift, nullptr},
    {"polarity", &CardSettings::polarity, nullptr},
    {"alphabet", &CardSettings::alphabet, nullptr},
    {"center", nullptr, &CardSettings::center},
    {"afc", &CardSettings::afc, nullptr},
    {"passband-center", nullptr, &CardSettings::passbandCenter},
    {"passband-bandwidth", nullptr, &CardSettings::passbandBandwidth},
};

// Applies one parameter; false for a name the card does not know.
bool setParameter(CardSettings& s, const QString& name, const QString& value)
{
    if (name == "input") {
        if (value.startsWith("inp")) s.input = value.mid(3).toInt();
        return true;
    }
    if (name == "translation") {
        s.translation = value.toLongLong();
        return true;
    }
    if (name == "auto-mode") return true;
    for (const Param& p : kParams) {
        if (name != QLatin1String(p.name)) continue;
        if (p.text)
            s.*p.text = value;
        else
            s.*p.number = value.toInt();
        return true;
    }
    return false;
}

}  // namespace

SimSession::SimSession(QTcpSocket* socket, int id, const SessionOptions& options, Logger logger, QObject* parent)
    : QObject(parent),
      socket_(socket),
      id_(id),
      options_(options),
      logger_(std::move(logger)),
      cards_(options.cards),
      reader_(kMaxReceived, kMaxReceived)
{
    socket_->setParent(this);
    connect(socket_, &QTcpSocket::readyRead, this, &SimSession::onReadyRead);
    connect(socket_, &QTcpSocket::disconnected, this, [this] {
        if (state_ == State::Closed) return;
        state_ = State::Closed;
        keepAliveTimer_.stop();
        indicatorTimer_.stop();
        streamTimer_.stop();
        splitTimer_.stop();
        this->log({{"event", "closed"}});
        emit closed(id_);
    });

    splitTimer_.setInterval(1);
    connect(&splitTimer_, &QTimer::timeout, this, &SimSession::flushSplit);
    keepAliveTimer_.setInterval(1000);
    connect(&keepAliveTimer_, &QTimer::timeout, this, [this] {
        // Something every second keeps the client's receive watchdog quiet.
        if (!wroteSinceTick_) sendFrame(SEQ_KEEPALIVE, QByteArray());
        wroteSinceTick_ = false;
    });
    connect(&indicatorTimer_, &QTimer::timeout, this, &SimSession::indicatorTick);
    streamTimer_.setInterval(options_.batchMs);
    connect(&streamTimer_, &QTimer::timeout, this, &SimSession::streamTick);

    log({{"event", "connected"}, {"peer", socket_->peerAddress().toString()}});
    QByteArray hello;
    appendU32(hello, MSG_HELLO);
    sendMessage(hello);
}

SimSession::~SimSession() = default;

int32_t SimSession::nextSequence()
{
    sequence_ = sequence_ == 2147483647 ? 0 : sequence_ + 1;
    return sequence_;
}

void SimSession::log(QJsonObject entry)
{
    entry.insert("session", id_);
    if (logger_) logger_(entry);
}

// ---- writing -------------------------------------------------------------

void SimSession::write(const QByteArray& bytes)
{
    if (state_ == State::Closed) return;
    wroteSinceTick_ = true;
    if (options_.faults.contains(Fault::Split)) {
        splitPending_ += bytes;
        if (!splitTimer_.isActive()) splitTimer_.start();
        return;
    }
    socket_->write(bytes);
}

void SimSession::flushSplit()
{
    if (splitPending_.isEmpty() || state_ == State::Closed) {
        splitTimer_.stop();
        return;
    }
    // One small piece per timer tick, so the pieces reach the client as
    // separate TCP segments; a large backlog is drained faster.
    const qsizetype n = std::max<qsizetype>(options_.splitSize, splitPending_.size() / 64);
    socket_->write(splitPending_.left(n));
    socket_->flush();
    splitPending_.remove(0, n);
}

void SimSession::sendFrame(int32_t sequence, const QByteArray& payload, int32_t flag)
{
    if (options_.faults.contains(Fault::Garbage)) write(QByteArray("JUNK\x34\x27", 6));  // includes half a marker
    write(encodeFrame(sequence, payload, flag));
}

void SimSession::sendMessage(const QByteArray& payload)
{
    if (options_.faults.contains(Fault::Nop)) {
        sendFrame(SEQ_NOP, QByteArray());
        sendFrame(SEQ_KEEPALIVE, QByteArray());
    }
    const int32_t seq = nextSequence();
    // Pieces of exactly FRAGMENT_SIZE bytes with flag 0, then the rest
    // (possibly empty) with flag 1 ends the message.
    qsizetype pos = 0;
    while (payload.size() - pos >= FRAGMENT_SIZE) {
        sendFrame(seq, payload.mid(pos, FRAGMENT_SIZE), 0);
        pos += FRAGMENT_SIZE;
    }
    sendFrame(seq, payload.mid(pos), 1);
}

void SimSession::sendXml(const QByteArray& xml)
{
    if (state_ == State::Closed) return;
    sendMessage(xmlPayload(xml));
}

void SimSession::quit()
{
    sendFrame(SEQ_QUIT, QByteArray());
    QTimer::singleShot(200, this, [this] {
        if (state_ != State::Closed && splitPending_.isEmpty())
            socket_->disconnectFromHost();
        else if (state_ != State::Closed)
            QTimer::singleShot(200, this, [this] { socket_->disconnectFromHost(); });
    });
}

void SimSession::sendError(const QString& text)
{
    sendXml(wrapMessage("<Error>" + text.toHtmlEscaped().toLatin1() + "</Error>\r\n"));
}

// ---- reading -------------------------------------------------------------

void SimSession::onReadyRead()
{
    reader_.push(socket_->readAll());
    for (;;) {
        const std::optional<ReadEvent> event = reader_.pop();
        if (!event) return;
        switch (event->kind) {
            case ReadEvent::Kind::Skipped:
                log({{"event", "skipped"}, {"bytes", int(event->skipped)}});
                break;
            case ReadEvent::Kind::Control: {
                const int32_t sequence = event->header.sequence;
                const char* kind = sequence == SEQ_NOP ? "nop" : sequence == SEQ_KEEPALIVE ? "keep-alive" : "quit";
                log({{"dir", "in"}, {"kind", kind}, {"seq", sequence}});
                if (sequence == SEQ_KEEPALIVE)
                    sendFrame(SEQ_KEEPALIVE, QByteArray());
                else if (sequence == SEQ_QUIT)
                    socket_->disconnectFromHost();
                break;
            }
            case ReadEvent::Kind::FrameTooLong:
                // A client never sends anything near this size; a larger length
                // is a broken header, not a reason to buffer without limit.
                log({{"event", "bad-length"}, {"length", qint64(event->header.length)}});
                sendProtocolError(2, "frame too long");
                socket_->disconnectFromHost();
                return;
            case ReadEvent::Kind::MessageTooLong:
                log({{"event", "too-long"}, {"seq", event->header.sequence}});
                sendProtocolError(2, "message too long");
                break;
            case ReadEvent::Kind::Message:
                logMessage(event->header, event->payload);
                handlePayload(event->header.sequence, event->payload);
                if (state_ == State::Closed) return;
                break;
        }
    }
}

void SimSession::logMessage(const FrameHeader& header, const QByteArray& message)
{
    QJsonObject entry{
        {"dir", "in"}, {"seq", header.sequence}, {"length", qint64(header.length)}, {"flag", header.flag}};
    if (message.size() >= 4) {
        const uint32_t code = readU32(message, 0);
        entry.insert("code", QString("0x%1").arg(code, 8, 16, QChar('0')));
        if (isXmlCode(code))
            entry.insert("xml", QString::fromLatin1(message.mid(4)));
        else
            entry.insert("payload", QString::fromLatin1(message.toHex()));
    } else {
        entry.insert("payload", QString::fromLatin1(message.toHex()));
    }
    log(entry);
}

void SimSession::sendProtocolError(uint32_t number, const QByteArray& text)
{
    QByteArray err;
    appendU32(err, MSG_PROTOCOL_ERROR);
    appendU32(err, number);
    sendMessage(err + text);
}

void SimSession::handlePayload(int32_t sequence, const QByteArray& payload)
{
    (void)sequence;
    if (payload.size() < 4) {
        sendProtocolError(1, "payload without code");
        return;
    }
    const uint32_t code = readU32(payload, 0);
    if (code == MSG_CLIENT_HELLO) {
        if (state_ != State::Greeting) return;
        state_ = State::Info;
        QByteArray info;
        appendU32(info, MSG_SERVER_INFO);
        appendU32(info, uint32_t(id_));  // connection info: the session number
        info.append(char(2));            // server version 2.1
        info.append(char(1));
        info.append(char(1));  // protocol version 1.0
        info.append(char(0));
        appendU32(info, 1187);  // build id
        for (const QByteArray& s :
             {QByteArray("Dec  8 2026"), QByteArray("20:00:00"), QByteArray("cardsim 1.0"), QByteArray("DC1")}) {
            appendU32(info, uint32_t(s.size()));
            info += s;
        }
        sendMessage(info);
        return;
    }
    if (code == MSG_SERVER_INFO_ACK) {
        if (state_ == State::Info) {
            state_ = State::Session;
            startSession();
        }
        return;
    }
    if (isXmlCode(code)) {
        if (state_ != State::Session) {
            sendError("Command before the handshake was completed");
            return;
        }
        handleXml(payload.mid(4));
        return;
    }
    sendProtocolError(1, "unknown payload code");
}

void SimSession::startSession()
{
    const auto& f = options_.faults;
    if (f.contains(Fault::Close)) {
        socket_->abort();
        return;
    }
    if (f.contains(Fault::Silent)) return;
    keepAliveTimer_.start();
    if (f.contains(Fault::Unknown)) {
        QByteArray p;
        appendU32(p, kUnknownCode);
        sendMessage(p);
    }
    if (f.contains(Fault::ProtocolError)) sendProtocolError(7, "simulated protocol error");
    if (f.contains(Fault::BadXml)) sendXml("<Message><Information><Cards><Card number=\"1\"></Information>");
    sendCardList();
    if (f.contains(Fault::Quit)) quit();
}

// ---- replies ---------------------------------------------------------------

void SimSession::sendCardList()
{
    QByteArray body = "<Information>\r\n";
    if (options_.faults.contains(Fault::Large)) body += "<!-- " + QByteArray(70000, '.') + " -->\r\n";
    body += "<Cards>\r\n";
    for (const SimCard& c : cards_) {
        body += "<Card" + attr("number", c.number) + attr("name", c.name) + attr("device", c.device) +
                attr("serial-nr", c.serial) + attr("remote-access", c.access ? "yes" : "no") +
                attr("status", c.status) + attr("connections", c.connections) + "/>\r\n";
    }
    body += "</Cards>\r\n</Information>\r\n";
    sendXml(wrapMessage(body));
}

void SimSession::sendIndicator()
{
    // A slowly wandering level, so that indicator events keep coming.
    static const int wobble[] = {0, 2, 3, 2, 0, -2, -3, -2};
    const int level = (streaming() ? 62 : 20) + wobble[indicatorCount_++ % 8];
    const QString status = streaming() ? "locked" : "ready";
    sendXml(wrapMessage("<Information>\r\n<Indicators" + attr("status", status) + attr("level", level) +
                        attr("bargraph", QString(level / 5, '|')) + "/>\r\n</Information>\r\n"));
}

void SimSession::indicatorTick()
{
    if (selected_ > 0) sendIndicator();
}

void SimSession::sendParameters()
{
    const CardSettings& s = settings_;
    QByteArray list = "<ParameterList>\r\n";
    list += parameter("input", "inp" + QString::number(s.input));
    list += parameter("translation", QString::number(s.translation));
    for (const Param& p : kParams) list += parameter(p.name, p.text ? s.*p.text : QString::number(s.*p.number));
    list += "</ParameterList>\r\n";
    sendXml(wrapMessage("<Information>\r\n" + list + "</Information>\r\n"));
}

// ---- commands ----------------------------------------------------------------

void SimSession::handleXml(const QByteArray& xml)
{
    QDomDocument doc;
    QString reason;
    int line = 0;
    int column = 0;
    if (!doc.setContent(xml, false, &reason, &line, &column)) {
        sendError(QString("Malformed command: %1 line %2").arg(reason).arg(line));
        return;
    }
    const QDomElement root = doc.documentElement();
    if (lower(root) != "message") {
        sendError("Expected a Message element, found " + root.tagName());
        return;
    }
    bool any = false;
    for (QDomElement cmd = root.firstChildElement(); !cmd.isNull(); cmd = cmd.nextSiblingElement()) {
        if (lower(cmd) != "command") continue;
        any = true;
        for (QDomElement e = cmd.firstChildElement(); !e.isNull(); e = e.nextSiblingElement()) handleCommand(e);
    }
    if (!any) sendError("Message without a Command element");
}

void SimSession::handleCommand(const QDomElement& command)
{
    const QString name = lower(command);
    if (name == "set")
        handleSet(command);
    else if (name == "get")
        handleGet(command);
    else if (name == "connect")
        handleConnect(command);
    else if (name == "disconnect") {
        selected_ = -1;
        indicatorTimer_.stop();
        updateStreaming();
    } else if (name == "activate")
        sendError("No GUI application on this server");
    else
        sendError("Unknown command " + command.tagName());
}

void SimSession::handleSet(const QDomElement& set)
{
    for (QDomElement e = set.firstChildElement(); !e.isNull(); e = e.nextSiblingElement()) {
        const QString name = lower(e);
        if (name == "configuration") {
            auto& s = settings_;
            if (e.hasAttribute("binary-data-format")) s.binaryFormat = e.attribute("binary-data-format");
            if (e.hasAttribute("text-data-format")) s.textFormat = e.attribute("text-data-format");
            if (e.hasAttribute("message-header")) s.messageHeader = e.attribute("message-header");
            if (e.hasAttribute("information-indicators-interval-per-minute")) {
                const int n = e.attribute("information-indicators-interval-per-minute").toInt();
                s.indicatorsPerMinute = std::clamp(n, 1, 6001);
                if (indicatorTimer_.isActive()) indicatorTimer_.setInterval(60000 / s.indicatorsPerMinute);
            }
            if (e.hasAttribute("fft-interval-per-second"))
                s.fftPerSecond = e.attribute("fft-interval-per-second").toInt();
        } else if (name == "parameterlist") {
            for (QDomElement p = e.firstChildElement(); !p.isNull(); p = p.nextSiblingElement()) {
                if (lower(p) != "parameter") continue;
                const QString n = p.attribute("name");
                const QString v = p.attribute("value");
                if (!setParameter(settings_, n, v)) sendError("Unknown parameter " + n);
            }
            sendParameters();
        } else {
            sendError("Unknown setting " + e.tagName());
        }
    }
    updateStreaming();
}

void SimSession::handleGet(const QDomElement& get)
{
    const QString item = get.attribute("item");
    if (item == "card status") {
        sendCardList();
    } else if (item == "metadata") {
        const QString info = get.attribute("information");
        if (info == "code-list") {
            sendXml(
                wrapMessage("<Metadata>\r\n<CodeList info=\"code-list\">\r\n"
                            "<Code name=\"hf-analysis-bit-stream\" modulation=\"dbpsk\"/>\r\n"
                            "</CodeList>\r\n</Metadata>\r\n"));
        } else if (info == "code") {
            const QString code = get.attribute("additional-information");
            if (code == "hf-analysis-bit-stream")
                sendXml(wrapMessage("<Metadata>\r\n<Code info=\"code\"" + attr("name", code) +
                                    attr("description", "raw demodulated bit stream") + "/>\r\n</Metadata>\r\n"));
            else
                sendError("Unknown code " + code);
        } else {
            sendError("Unknown metadata information " + info);
        }
    } else if (item == "parameters" || item == "parameter-list") {
        sendParameters();
    } else if (item == "indicators") {
        sendIndicator();
    } else {
        sendError("Unknown item " + item);
    }
}

void SimSession::handleConnect(const QDomElement& connect)
{
    const QDomElement card = connect.firstChildElement();
    if (card.isNull() || lower(card) != "card") {
        sendError("Connect without a Card element");
        return;
    }
    const bool byNumber = card.hasAttribute("number");
    bool ok = true;
    const int number = card.attribute("number").toInt(&ok);
    const QString serial = card.attribute("serial-nr");
    for (SimCard& c : cards_) {
        if (c.status == "no-card") continue;
        if ((byNumber && ok && c.number == number) || (!byNumber && c.serial == serial)) {
            selected_ = c.number;
            ++c.connections;
            log({{"event", "card-connected"}, {"card", c.number}});
            sendIndicator();
            indicatorTimer_.start(60000 / std::max(1, settings_.indicatorsPerMinute));
            updateStreaming();
            return;
        }
    }
    sendError(byNumber ? "Unknown card number " + card.attribute("number") : "Unknown card serial number " + serial);
}

// ---- streaming ---------------------------------------------------------------

void SimSession::updateStreaming()
{
    const bool want = selected_ > 0 && settings_.modulation == "dbpsk" && settings_.code == "hf-analysis-bit-stream" &&
                      !options_.bits.isEmpty() && (options_.loop || streamPos_ < options_.bits.size());
    if (want && !streamTimer_.isActive()) {
        streamClock_.start();
        streamBitsSent_ = 0;
        streamTimer_.start();
        log({{"event", "streaming"}});
    } else if (!want && streamTimer_.isActive()) {
        streamTimer_.stop();
        log({{"event", "stopped"}});
    }
}

void SimSession::streamTick()
{
    const double due = double(streamClock_.elapsed()) / 1000.0 * kBitRate * options_.speed;
    // Whole bytes only, so every batch is an exact hexadecimal text.
    qint64 count = (qint64(due) - streamBitsSent_) / 8 * 8;
    if (count <= 0) return;
    QByteArray bits;
    while (count > 0) {
        const qsizetype left = options_.bits.size() - streamPos_;
        if (left <= 0) {
            if (!options_.loop) break;
            streamPos_ = 0;
            continue;
        }
        const qsizetype take = std::min<qsizetype>(left, count);
        bits += options_.bits.mid(streamPos_, take);
        streamPos_ += take;
        count -= take;
    }
    if (bits.isEmpty()) {
        updateStreaming();
        return;
    }
    streamBitsSent_ += bits.size();
    const QString enc = settings_.binaryFormat.toLower();
    sendXml(wrapMessage("<Data>\r\n<Binary" + attr("encoding", settings_.binaryFormat) +
                        attr("bit-count", bits.size()) + ">" + encodeBits(bits, enc) + "</Binary>\r\n</Data>\r\n"));
    if (!options_.loop && streamPos_ >= options_.bits.size()) updateStreaming();
}

}  // namespace cardsim
