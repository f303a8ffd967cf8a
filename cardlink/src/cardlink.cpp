// Connection, binary framing, reassembly, timer and the sending side of the
// card client engine. XML replies are parsed in reply_parser.cpp, the card
// search and selection live in card_search.cpp.
#include "quesmer/cardlink.h"

#include "quesmer/frame.h"
#include "quesmer/requests.h"

#include <QCoreApplication>
#include <QPointer>
#include <QTcpSocket>
#include <QThread>
#include <QTimer>
#include <limits>

namespace quesmer {

QColor lightColour(LinkLight light)
{
    switch (light) {
    case LinkLight::Open: return QColor(255, 192, 128);
    case LinkLight::InSession: return QColor(0, 255, 0);
    case LinkLight::ServerQuit: return QColor(128, 128, 255);
    case LinkLight::None:
    case LinkLight::Closed: break;
    }
    return QColor(255, 0, 0);
}

namespace {

// Socket errors carry the Winsock numbers, the numbering hosts of this
// control have always compared against.
int socketErrorNumber(QAbstractSocket::SocketError error)
{
    switch (error) {
    case QAbstractSocket::ConnectionRefusedError: return 10061;
    case QAbstractSocket::RemoteHostClosedError: return 10053;
    case QAbstractSocket::HostNotFoundError: return 11001;
    case QAbstractSocket::SocketAccessError: return 10013;
    case QAbstractSocket::SocketResourceError: return 10055;
    case QAbstractSocket::SocketTimeoutError: return 10060;
    case QAbstractSocket::DatagramTooLargeError: return 10040;
    case QAbstractSocket::AddressInUseError: return 10048;
    case QAbstractSocket::SocketAddressNotAvailableError: return 10049;
    case QAbstractSocket::UnsupportedSocketOperationError: return 10045;
    default: return 10050;   // network down / other failure
    }
}

// What the socket may hold of received bytes that the control has not yet
// taken; TCP flow control holds back the rest at the server.
constexpr qint64 kSocketBufferSize = 4 * 1024 * 1024;

const QString kConnectionLostText = QStringLiteral("Connection closed before the card list arrived");

}  // namespace

CardLink::CardLink(QObject* parent) : QObject(parent), timer_(new QTimer(this))
{
    connect(timer_, &QTimer::timeout, this, &CardLink::onTick);
    timer_->start(timing_.tickMs);
}

CardLink::~CardLink()
{
    // No disconnect request: the connection simply ends with the control.
    timer_->stop();
    if (socket_) {
        socket_->disconnect(this);
        socket_->abort();
        if (extracting_) {
            // Destroyed by a handler of an event raised from inside the
            // socket's own data notification: Qt still uses the socket when
            // that notification returns, so it goes later.
            socket_->setParent(nullptr);
            socket_->deleteLater();
        }
    }
}

void CardLink::setTiming(const Timing& timing)
{
    timing_ = timing;
    timer_->start(timing_.tickMs);
}

void CardLink::setErrorNotifier(Notifier notifier) { notifier_ = std::move(notifier); }

void CardLink::setLight(LinkLight light)
{
    if (light_ == light)
        return;
    light_ = light;
    emit lightChanged(light);
}

void CardLink::pauseAndProcess(int ms)
{
    if (ms > 0)
        QThread::msleep(ulong(ms));
    QCoreApplication::processEvents();
}

// ---- Connection ------------------------------------------------------------

int CardLink::openConnection(const QString& host, Long port)
{
    connectResult_ = ConnectResult::Pending;
    lastErrorNumber_ = 0;
    lastErrorText_.clear();
    sent_ = received_ = false;
    idleSend_ = idleReceive_ = enumTicks_ = 0;

    session_ = false;
    lastSequence_ = 0;
    serverInfo_.IsOk = FALSE_B;
    selectedCard_ = -1;

    connected_ = false;
    // Every connection gets a fresh socket. A host may open a connection from
    // an event handler, that is from inside the old socket's data
    // notification; Qt does not raise that notification again while it is
    // running, so the old socket would never report the new connection's
    // data. The extraction running further up the stack sees the socket
    // change and stops.
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
        if (e == QAbstractSocket::RemoteHostClosedError && connected_)
            return;
        onSocketError(socketErrorNumber(e));
    });
    connect(socket_, &QTcpSocket::readyRead, this, &CardLink::onReadyRead);
    socket_->setReadBufferSize(kSocketBufferSize);
    extracting_ = false;
    // Bytes of an earlier connection must not be read as part of this one.
    clearReceiveState();

    if (port < 0 || port > 65535) {
        connectResult_ = ConnectResult::Error;
        lastErrorNumber_ = 10049;
        lastErrorText_ = QStringLiteral("Invalid port %1").arg(port);
        return lastErrorNumber_;
    }
    socket_->connectToHost(host, quint16(port));
    QPointer<CardLink> alive(this);
    while (alive && connectResult_ == ConnectResult::Pending)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    if (!alive)
        return ERR_CONTROL_DESTROYED;
    return connectResult_ == ConnectResult::Open ? 0 : (lastErrorNumber_ ? lastErrorNumber_ : ERR_CONNECTION_LOST);
}

void CardLink::clearReceiveState()
{
    receiveBuffer_ = QByteArray();
    reassembly_ = QByteArray();
    fragmentLeft_ = 0;
    fragmentKept_ = false;
    discardingMessage_ = false;
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
    lastSequence_ = 0;
    clearReceiveState();
    setLight(LinkLight::Closed);
    if (wasOpen && !enumDone_) {
        // A card-list wait in progress must end now: nothing more can arrive.
        enumDone_ = true;
        if (lastErrorNumber_ == 0) {
            lastErrorNumber_ = ERR_CONNECTION_LOST;
            lastErrorText_ = kConnectionLostText;
        }
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
    if (!connected_)
        return;   // our own close, already handled
    connectResult_ = ConnectResult::Closed;
    connected_ = false;
    if (!enumDone_) {
        // The timer counts only while connected, so without this a card-list
        // wait would never end.
        enumDone_ = true;
        if (lastErrorNumber_ == 0) {
            lastErrorNumber_ = ERR_CONNECTION_LOST;
            lastErrorText_ = kConnectionLostText;
        }
    }
}

void CardLink::onSocketError(int code)
{
    if (connectResult_ == ConnectResult::Pending || connected_) {
        connectResult_ = ConnectResult::Error;
        lastErrorNumber_ = code;
        lastErrorText_ = socket_->errorString();
    }
}

// ---- Sending -----------------------------------------------------------------

void CardLink::sendBytes(const QByteArray& bytes)
{
    if (!connected_)
        return;
    socket_->write(bytes);
    socket_->flush();
    sent_ = true;
}

void CardLink::sendXmlCommand(const QString& xml)
{
    if (!session_ || xml.isEmpty())
        return;
    const int32_t sequence = lastSequence_ == std::numeric_limits<int32_t>::max() ? 0 : lastSequence_ + 1;
    sendBytes(encodeFrame(sequence, xmlPayload(xml.toLatin1())));
}

// ---- Receiving -----------------------------------------------------------------

void CardLink::onReadyRead()
{
    // Any byte that arrives is traffic for the receive watchdog, also when
    // the extraction already running takes it.
    received_ = true;
    // The extractor lets the event loop run; data arriving meanwhile waits in
    // the socket and is taken by the extraction already running.
    if (!extracting_)
        runExtractorStep();
}

void CardLink::runExtractorStep()
{
    extracting_ = true;
    QPointer<CardLink> alive(this);
    const QPointer<QTcpSocket> mine(socket_);
    extractStep();
    if (!alive || socket_ != mine)
        return;   // destroyed, or a new connection was opened meanwhile; it extracts on its own
    extracting_ = false;
    // Qt reports no new arrival for bytes that came in during the step: the
    // next step takes them, from the event loop, so that a steady stream
    // never keeps the host's own waits from returning.
    if (connected_ && socket_->bytesAvailable() > 0) {
        QMetaObject::invokeMethod(
            this,
            [this, mine] {
                if (socket_ == mine && connected_ && !extracting_ && socket_->bytesAvailable() > 0)
                    runExtractorStep();
            },
            Qt::QueuedConnection);
    }
}

bool CardLink::pull()
{
    // The socket holds at most kSocketBufferSize bytes and a step leaves
    // less than one small frame behind, so the receive buffer stays bounded
    // however fast the server sends.
    const qint64 available = std::min<qint64>(socket_->bytesAvailable(), kSocketBufferSize);
    if (available <= 0)
        return false;
    const qsizetype old = receiveBuffer_.size();
    receiveBuffer_.resize(old + available);
    const qint64 got = socket_->read(receiveBuffer_.data() + old, available);
    receiveBuffer_.resize(old + std::max<qint64>(got, 0));
    if (got <= 0)
        return false;
    received_ = true;
    return true;
}

bool CardLink::extractStep()
{
    // The flash: light orange, the event loop runs, the pause, green, the
    // event loop runs again.
    setLight(LinkLight::Open);
    QPointer<CardLink> alive(this);
    QCoreApplication::processEvents();
    if (!alive)
        return false;
    if (timing_.flashMs > 0)
        QThread::msleep(ulong(timing_.flashMs));
    setLight(LinkLight::InSession);
    QCoreApplication::processEvents();
    if (!alive || !connected_)
        return false;
    pull();
    return takeFrames();
}

bool CardLink::takeFrames()
{
    // Every event raised below may destroy the control, close the
    // connection or open another one: the step then ends at once.
    QPointer<CardLink> alive(this);
    const QPointer<QTcpSocket> mine(socket_);
    auto goneAway = [&] { return !alive || socket_ != mine || !connected_; };
    bool consumed = false;
    while (!goneAway()) {
        if (fragmentLeft_ > 0) {
            // The payload of a fragment streams into the reassembly buffer (or
            // away) as it arrives, so no large frame is ever buffered whole.
            const qsizetype n = std::min(fragmentLeft_, receiveBuffer_.size());
            if (n == 0)
                break;
            if (fragmentKept_)
                reassembly_.append(receiveBuffer_.constData(), n);
            receiveBuffer_.remove(0, n);
            fragmentLeft_ -= n;
            consumed = true;
            continue;
        }
        const qsizetype at = findMarker(receiveBuffer_);
        if (at < 0) {
            // Only the last three bytes can begin a marker; keep no more garbage.
            if (receiveBuffer_.size() > 3) {
                receiveBuffer_.remove(0, receiveBuffer_.size() - 3);
                consumed = true;
            }
            break;
        }
        if (at > 0) {
            receiveBuffer_.remove(0, at);
            consumed = true;
        }
        const std::optional<FrameHeader> header = readHeader(receiveBuffer_);
        if (!header)
            break;

        if (header->sequence == SEQ_NOP || header->sequence == SEQ_KEEPALIVE) {
            receiveBuffer_.remove(0, FRAME_HEADER_SIZE);
            consumed = true;
            continue;
        }
        if (header->sequence == SEQ_QUIT) {
            receiveBuffer_.remove(0, FRAME_HEADER_SIZE);
            setLight(LinkLight::ServerQuit);
            if (timing_.quitPauseMs > 0)
                QThread::msleep(ulong(timing_.quitPauseMs));
            closeConnection();
            emit OnCardDisconnected(TRUE_B, QStringLiteral("Server quit"));
            return true;
        }

        lastSequence_ = header->sequence;
        if (qsizetype(header->length) >= FRAGMENT_SIZE) {
            receiveBuffer_.remove(0, FRAME_HEADER_SIZE);
            consumed = true;
            beginFragment(qsizetype(header->length), header->flag);
            continue;
        }
        const qsizetype total = FRAME_HEADER_SIZE + qsizetype(header->length);
        if (receiveBuffer_.size() < total)
            break;
        const QByteArray payload = receiveBuffer_.mid(FRAME_HEADER_SIZE, header->length);
        receiveBuffer_.remove(0, total);
        consumed = true;
        endMessage(payload, header->sequence);
    }
    return consumed;
}

void CardLink::beginFragment(qsizetype length, int32_t flag)
{
    fragmentLeft_ = length;
    fragmentKept_ = false;
    if (flag == 1 || discardingMessage_)
        return;   // a lone fragment, or more of a message that is lost already
    if (reassembly_.size() + length > MAX_MESSAGE_SIZE) {
        reassembly_.clear();
        reassembly_.squeeze();
        discardingMessage_ = true;
        raiseTooLong();
        return;
    }
    fragmentKept_ = true;
}

void CardLink::endMessage(const QByteArray& payload, int32_t sequence)
{
    if (discardingMessage_) {   // last piece of a message that was too long
        discardingMessage_ = false;
        return;
    }
    QByteArray message = std::exchange(reassembly_, QByteArray());
    message.append(payload);
    dispatch(message, sequence);
}

void CardLink::raiseServerFault(ErrTyp error, const QString& desc)
{
    // Ends a card-list wait: the server answered with something else.
    if (!enumDone_)
        enumEndedBy_ = desc.trimmed();
    enumDone_ = true;
    emit OnCardError(error, desc);
}

void CardLink::raiseTooLong() { raiseServerFault(ERR_MSG, QStringLiteral("Message too long")); }

void CardLink::dispatch(const QByteArray& message, int32_t sequence)
{
    // A message too short to hold its code is as unknown as a wrong code.
    const uint32_t code = message.size() >= 4 ? readU32(message, 0) : 0;
    if (message.size() >= 4 && code == MSG_PROTOCOL_ERROR) {
        raiseServerFault(ERR_NET, QStringLiteral("Protocol error "));
    } else if (message.size() >= 4 && code == MSG_HELLO) {
        session_ = false;
        sendBytes(encodeFrame(sequence, clientHelloPayload()));
    } else if (message.size() >= 4 && code == MSG_SERVER_INFO) {
        session_ = true;
        QByteArray ack;
        appendU32(ack, MSG_SERVER_INFO_ACK);
        const QByteArray reply = encodeFrame(sequence, ack);
        decodeServerInformation(message);
        setLight(LinkLight::InSession);
        const ServerInformation info = serverInfo_;
        // The handler may destroy the control or open another connection;
        // the acknowledgement belongs to this connection only.
        QPointer<CardLink> alive(this);
        const QPointer<QTcpSocket> mine(socket_);
        emit OnServerInformation(info);
        if (alive && socket_ == mine)
            sendBytes(reply);
    } else if (message.size() >= 4 && (code == MSG_CLIENT_HELLO || code == MSG_SERVER_INFO_ACK)) {
        // our own codes echoed back: nothing to do
    } else if (message.size() >= 4 && isXmlCode(code)) {
        handleXml(message.mid(4));
    } else {
        raiseServerFault(ERR_MSG, QStringLiteral("Unknown message"));
    }
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
        const QString s = QString::fromLatin1(message.constData() + pos, n);
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
