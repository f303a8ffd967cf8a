// Connection, receiving steps, timer and the sending side of the card client
// engine. Frames are read by FrameReader, XML replies are parsed by
// ReplyParser and acted on in reply_events.cpp, the card search and
// selection live in card_search.cpp.
#include "quesmer/cardlink.h"

#include "local_wait.h"
#include "quesmer/frame.h"
#include "quesmer/frame_reader.h"
#include "quesmer/requests.h"

#include <QPointer>
#include <QTcpSocket>
#include <QTimer>
#include <algorithm>
#include <limits>

namespace quesmer {

QColor lightColour(LinkLight light)
{
    switch (light) {
        case LinkLight::Open:
            return QColor(255, 192, 128);
        case LinkLight::InSession:
            return QColor(0, 255, 0);
        case LinkLight::ServerQuit:
            return QColor(128, 128, 255);
        case LinkLight::None:
        case LinkLight::Closed:
            break;
    }
    return QColor(255, 0, 0);
}

namespace {

// Socket errors carry the Winsock numbers, the numbering hosts of this
// control have always compared against.
int socketErrorNumber(QAbstractSocket::SocketError error)
{
    switch (error) {
        case QAbstractSocket::ConnectionRefusedError:
            return 10061;
        case QAbstractSocket::RemoteHostClosedError:
            return 10053;
        case QAbstractSocket::HostNotFoundError:
            return 11001;
        case QAbstractSocket::SocketAccessError:
            return 10013;
        case QAbstractSocket::SocketResourceError:
            return 10055;
        case QAbstractSocket::SocketTimeoutError:
            return 10060;
        case QAbstractSocket::DatagramTooLargeError:
            return 10040;
        case QAbstractSocket::AddressInUseError:
            return 10048;
        case QAbstractSocket::SocketAddressNotAvailableError:
            return 10049;
        case QAbstractSocket::UnsupportedSocketOperationError:
            return 10045;
        default:
            return 10050;  // network down / other failure
    }
}

// What the socket may hold of received bytes that the control has not yet
// taken; TCP flow control holds back the rest at the server.
constexpr qint64 kSocketBufferSize = 4 * 1024 * 1024;

const QString kConnectionLostText = QStringLiteral("Connection closed before the card list arrived");

}  // namespace

CardLink::CardLink(QObject* parent)
    : QObject(parent),
      timer_(new QTimer(this)),
      stepTimer_(new QTimer(this)),
      quitTimer_(new QTimer(this)),
      reader_(std::make_unique<FrameReader>(MAX_MESSAGE_SIZE))
{
    connect(timer_, &QTimer::timeout, this, &CardLink::onTick);
    timer_->start(timing_.tickMs);
    // A step never comes sooner than the flash allows.
    stepTimer_->setSingleShot(true);
    stepTimer_->setTimerType(Qt::PreciseTimer);
    connect(stepTimer_, &QTimer::timeout, this, &CardLink::finishStep);
    quitTimer_->setSingleShot(true);
    quitTimer_->setTimerType(Qt::PreciseTimer);
    connect(quitTimer_, &QTimer::timeout, this, [this] {
        detail::controlPauseEnds();
        quitting_ = false;
        closeConnection();
        emit OnCardDisconnected(TRUE_B, QStringLiteral("Server quit"));
    });
}

CardLink::~CardLink()
{
    // No disconnect request: the connection simply ends with the control.
    timer_->stop();
    stopPause(stepTimer_);
    stopPause(quitTimer_);
    if (socket_) {
        socket_->disconnect(this);
        socket_->abort();
    }
}

void CardLink::setTiming(const Timing& timing)
{
    timing_ = timing;
    timer_->start(timing_.tickMs);
}

void CardLink::setErrorNotifier(Notifier notifier) { notifier_ = std::move(notifier); }

void CardLink::startPause(QTimer* timer, int ms)
{
    if (!timer->isActive()) detail::controlPauseBegins();
    timer->start(ms);
}

void CardLink::stopPause(QTimer* timer)
{
    if (timer->isActive()) detail::controlPauseEnds();
    timer->stop();
}

void CardLink::setLight(LinkLight light)
{
    if (light_ == light) return;
    light_ = light;
    emit lightChanged(light);
}

// ---- Connection ------------------------------------------------------------

int CardLink::startConnection(const QString& host, Long port)
{
    connectResult_ = ConnectResult::Pending;
    lastErrorNumber_ = 0;
    lastErrorText_.clear();
    sent_ = received_ = false;
    idleSend_ = idleReceive_ = enumTicks_ = 0;

    session_ = false;
    serverInfo_.IsOk = FALSE_B;
    selectedCard_ = -1;

    connected_ = false;
    quitting_ = false;
    stopPause(quitTimer_);
    // Every connection gets a fresh socket: the old one's notifications
    // must not reach the new connection. A step of the old connection that
    // is still taking frames (a host may open a connection from an event
    // handler) sees the connection count change and stops.
    ++connection_;
    if (socket_) {
        socket_->disconnect(this);
        socket_->abort();
        socket_->deleteLater();
    }
    socket_ = new QTcpSocket(this);
    connect(socket_, &QTcpSocket::connected, this, &CardLink::onConnected);
    connect(socket_, &QTcpSocket::disconnected, this, &CardLink::onPeerClosed);
    connect(socket_, &QTcpSocket::errorOccurred, this, [this](QAbstractSocket::SocketError e) {
        // A close by the peer is a close notification, not an error: it
        // must not turn a finished card search into a failure.
        if (e == QAbstractSocket::RemoteHostClosedError && connected_) return;
        onSocketError(socketErrorNumber(e));
    });
    connect(socket_, &QTcpSocket::readyRead, this, &CardLink::onReadyRead);
    socket_->setReadBufferSize(kSocketBufferSize);
    stopPause(stepTimer_);
    extracting_ = false;
    // Bytes of an earlier connection must not be read as part of this one.
    reader_->clear();
    lastSequence_ = 0;

    if (port < 0 || port > 65535) {
        connectResult_ = ConnectResult::Error;
        lastErrorNumber_ = 10049;
        lastErrorText_ = QStringLiteral("Invalid port %1").arg(port);
        return lastErrorNumber_;
    }
    socket_->connectToHost(host, quint16(port));
    return 0;
}

int CardLink::openConnection(const QString& host, Long port)
{
    if (const int refused = startConnection(host, port)) return refused;
    if (!waitForConnection()) return ERR_CONTROL_DESTROYED;
    return connectResult_ == ConnectResult::Open ? 0 : (lastErrorNumber_ ? lastErrorNumber_ : ERR_CONNECTION_LOST);
}

bool CardLink::waitForConnection()
{
    return detail::waitUntil(this, [this] { return connectResult_ != ConnectResult::Pending; }) !=
           detail::WaitEnd::OwnerDestroyed;
}

void CardLink::closeConnection()
{
    const bool wasOpen = connected_;
    if (connected_) {
        connected_ = false;
        socket_->flush();
        socket_->abort();
        serverInfo_.IsOk = FALSE_B;
    }
    session_ = false;
    // A step waiting for its flash to end has nothing left to take.
    stopPause(stepTimer_);
    extracting_ = false;
    reader_->clear();
    lastSequence_ = 0;
    setLight(LinkLight::Closed);
    if (wasOpen) endCardListWait();
}

void CardLink::endCardListWait()
{
    // A card-list wait in progress must end now: nothing more can arrive.
    if (enumDone_) return;
    enumDone_ = true;
    if (lastErrorNumber_ == 0) {
        lastErrorNumber_ = ERR_CONNECTION_LOST;
        lastErrorText_ = kConnectionLostText;
    }
}

void CardLink::onConnected()
{
    connectResult_ = ConnectResult::Open;
    connected_ = true;
    setLight(LinkLight::Open);
}

void CardLink::onPeerClosed()
{
    if (!connected_ || quitting_) return;  // our own close, already handled, or one that the server's quit announced
    connectResult_ = ConnectResult::Closed;
    connected_ = false;
    // The timer counts only while connected, so without this a card-list
    // wait would never end.
    endCardListWait();
}

void CardLink::onSocketError(int code)
{
    if (quitting_) return;
    if (connectResult_ == ConnectResult::Pending || connected_) {
        connectResult_ = ConnectResult::Error;
        lastErrorNumber_ = code;
        lastErrorText_ = socket_->errorString();
    }
}

// ---- Sending -----------------------------------------------------------------

void CardLink::sendBytes(const QByteArray& bytes)
{
    if (!connected_ || quitting_) return;
    socket_->write(bytes);
    socket_->flush();
    sent_ = true;
}

void CardLink::sendXmlCommand(const QString& xml)
{
    if (!session_ || xml.isEmpty()) return;
    const int32_t sequence = lastSequence_ == std::numeric_limits<int32_t>::max() ? 0 : lastSequence_ + 1;
    sendBytes(encodeFrame(sequence, xmlPayload(xml.toLatin1())));
}

// ---- Receiving -----------------------------------------------------------------

void CardLink::onReadyRead()
{
    // Any byte that arrives is traffic for the receive watchdog, also when
    // a step is already under way: that step takes it.
    received_ = true;
    if (!extracting_ && !quitting_ && !holdSteps_) beginStep();
}

void CardLink::beginStep()
{
    extracting_ = true;
    setLight(LinkLight::Open);
    startPause(stepTimer_, timing_.flashMs);
}

void CardLink::resumeSteps()
{
    holdSteps_ = false;
    if (connected_ && !extracting_ && !quitting_ && socket_->bytesAvailable() > 0) beginStep();
}

void CardLink::finishStep()
{
    detail::controlPauseEnds();
    setLight(LinkLight::InSession);
    if (!connected_ || quitting_) {
        extracting_ = false;
        return;
    }
    // The socket holds at most kSocketBufferSize bytes and a step leaves
    // less than one small frame behind, so the reader stays bounded
    // however fast the server sends.
    const qint64 available = std::min<qint64>(socket_->bytesAvailable(), kSocketBufferSize);
    if (available > 0) {
        reader_->push(socket_->read(available));
        received_ = true;
    }
    const quint64 connection = connection_;
    if (!takeFrames() || connection_ != connection)
        return;  // destroyed, or a new connection was opened meanwhile; it has its own steps
    extracting_ = false;
    // Qt reports no new arrival for bytes that came in during the step, and
    // a steady stream is read one step per flash.
    if (connected_ && !quitting_ && !holdSteps_ && socket_->bytesAvailable() > 0) beginStep();
}

bool CardLink::takeFrames()
{
    // Every event raised below may destroy the control, close the
    // connection or open another one: the step then ends at once.
    const QPointer<CardLink> self(this);
    const quint64 connection = connection_;
    while (connected_ && connection_ == connection && !quitting_) {
        const std::optional<ReadEvent> event = reader_->pop();
        lastSequence_ = reader_->lastSequence();
        if (!event) break;
        QByteArray answer;  // sent after the events the frame raised
        switch (event->kind) {
            case ReadEvent::Kind::Control:
                if (event->header.sequence == SEQ_QUIT) serverQuit();
                break;  // no-operation and keep-alive frames only count as traffic
            case ReadEvent::Kind::Message:
                answer = dispatch(event->payload, event->header.sequence);
                break;
            case ReadEvent::Kind::MessageTooLong:
                raiseServerFault(ERR_MSG, QStringLiteral("Message too long"));
                break;
            case ReadEvent::Kind::Skipped:
            case ReadEvent::Kind::FrameTooLong:
                break;
        }
        if (!self) return false;
        if (!answer.isEmpty() && connection_ == connection) sendBytes(answer);
    }
    return true;
}

void CardLink::serverQuit()
{
    // Light blue for the pause, then the connection closes. Nothing is
    // read, sent or counted meanwhile.
    setLight(LinkLight::ServerQuit);
    quitting_ = true;
    startPause(quitTimer_, std::max(0, timing_.quitPauseMs));
}

void CardLink::raiseServerFault(ErrTyp error, const QString& desc)
{
    // Ends a card-list wait: the server answered with something else.
    if (!enumDone_) enumEndedBy_ = desc.trimmed();
    enumDone_ = true;
    emit OnCardError(error, desc);
}

QByteArray CardLink::dispatch(const QByteArray& message, int32_t sequence)
{
    // A message too short to hold its code is as unknown as a wrong code.
    const uint32_t code = message.size() >= 4 ? readU32(message, 0) : 0;
    if (message.size() >= 4 && code == MSG_PROTOCOL_ERROR) {
        raiseServerFault(ERR_NET, QStringLiteral("Protocol error "));
    } else if (message.size() >= 4 && code == MSG_HELLO) {
        session_ = false;
        return encodeFrame(sequence, clientHelloPayload());
    } else if (message.size() >= 4 && code == MSG_SERVER_INFO) {
        session_ = true;
        decodeServerInformation(message);
        setLight(LinkLight::InSession);
        const ServerInformation info = serverInfo_;
        // The acknowledgement follows the event, and only on this connection.
        QByteArray ack;
        appendU32(ack, MSG_SERVER_INFO_ACK);
        emit OnServerInformation(info);
        return encodeFrame(sequence, ack);
    } else if (message.size() >= 4 && (code == MSG_CLIENT_HELLO || code == MSG_SERVER_INFO_ACK)) {
        // our own codes echoed back: nothing to do
    } else if (message.size() >= 4 && isXmlCode(code)) {
        handleXml(message.mid(4));
    } else {
        raiseServerFault(ERR_MSG, QStringLiteral("Unknown message"));
    }
    return QByteArray();
}

void CardLink::decodeServerInformation(const QByteArray& message)
{
    // Fields beyond the end of a short message stay zero or empty.
    qsizetype pos = 4;
    auto u32 = [&]() -> uint32_t {
        if (message.size() - pos < 4) {
            pos = message.size();
            return 0;
        }
        const uint32_t v = readU32(message, pos);
        pos += 4;
        return v;
    };
    auto u8 = [&]() -> Byte { return pos < message.size() ? Byte(message.at(pos++)) : Byte(0); };
    auto text = [&]() {
        const uint32_t length = u32();
        const qsizetype n = std::min<qsizetype>(qsizetype(length), message.size() - pos);
        QString s = QString::fromLatin1(message.constData() + pos, n);
        pos += n;
        return s;
    };
    ServerInformation info;
    info.ConnectionInfo = Long(u32());
    info.ServerMajorVersion = u8();
    info.ServerMinorVersion = u8();
    info.ProtocolMajorVersion = u8();
    info.ProtocolMinorVersion = u8();
    info.ServerBuildId = Long(u32());
    info.BuildDate = text();
    info.BuildTime = text();
    info.SoftwareRelease = text();
    info.CardType = text();
    info.IsOk = TRUE_B;
    serverInfo_ = info;
}

// ---- Timer -----------------------------------------------------------------

void CardLink::onTick()
{
    if (quitting_) return;  // the connection closes when the pause ends
    if (connected_ && !enumDone_) {
        if (++enumTicks_ >= 30) {
            enumDone_ = true;
            lastErrorText_ = QStringLiteral("Card enumeration time-out");
            lastErrorNumber_ = ERR_ENUM_TIMEOUT;
        }
        return;
    }
    if (connected_ && !sent_) {
        if (++idleSend_ >= 5) {
            sendBytes(encodeControlFrame(SEQ_KEEPALIVE));
            idleSend_ = 0;
        }
    }
    sent_ = false;
    if (connected_ && !received_) {
        if (++idleReceive_ >= 90) {
            // The tick's own work is done first: the handler may destroy
            // the control, or open a new connection with fresh counters.
            idleReceive_ = 0;
            received_ = false;
            closeConnection();
            emit OnCardDisconnected(FALSE_B, QStringLiteral("Network connexion lost"));
            return;
        }
    }
    received_ = false;
}

// ---- Requests --------------------------------------------------------------

void CardLink::CardRawReq(ByRef<QString> Dat) { sendXmlCommand(requests::raw(Dat)); }
void CardLink::CardSetReq(ByRef<QString> Dat) { sendXmlCommand(requests::set(Dat)); }
void CardLink::CardGetReq(ByRef<QString> Dat) { sendXmlCommand(requests::get(Dat)); }
void CardLink::CardGetStatus() { sendXmlCommand(requests::getStatus()); }
void CardLink::CardGetCodeList() { sendXmlCommand(requests::getCodeList()); }
void CardLink::CardGetCodeInf(ByRef<QString> Code) { sendXmlCommand(requests::getCodeInfo(Code)); }

void CardLink::CardActivateGUI(ByRef<QString> Host, ByRef<Long> Port)
{
    sendXmlCommand(requests::activateGui(Host, Port));
}

void CardLink::CardSetConfiguration(ByRef<Integer> HeaderLong, ByRef<TXTTyp> TextFmt, ByRef<EncTyp> BinFmt,
                                    ByRef<Integer> IndicatorPerMin, ByRef<Integer> FFTPerSec)
{
    sendXmlCommand(requests::setConfiguration(HeaderLong, TextFmt, BinFmt, IndicatorPerMin, FFTPerSec));
}

void CardLink::CardSetInput(ByRef<Integer> Source, ByRef<Integer> Gain, ByRef<Long> Translation, ByRef<AGCTyp> AGC)
{
    sendXmlCommand(requests::setInput(Source, Gain, Translation, AGC));
}

void CardLink::CardSetALS(ByRef<ALSTyp> ALS) { sendXmlCommand(requests::setAls(ALS)); }

void CardLink::CardSetMode(ByRef<QString> Modulation, ByRef<QString> Code, ByRef<double> Speed, ByRef<double> Shift,
                           ByRef<Integer> Polarity, ByRef<QString> Alphabet, ByRef<Boolean> Auto)
{
    sendXmlCommand(requests::setMode(Modulation, Code, Speed, Shift, Polarity, Alphabet, Auto));
}

void CardLink::CardSetFrequency(ByRef<Integer> Center, ByRef<AFCTyp> AFC)
{
    sendXmlCommand(requests::setFrequency(Center, AFC));
}

void CardLink::CardSetFilter(ByRef<Integer> Center, ByRef<Integer> Bandwidth)
{
    sendXmlCommand(requests::setFilter(Center, Bandwidth));
}

}  // namespace quesmer
