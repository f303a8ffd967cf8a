// The card client engine: one TCP connection to a decoder-card server.
//
// CardLink turns method calls into XML commands inside binary frames and the
// server's frames into Qt signals. It has no window, so a command-line program
// can use it with a QCoreApplication; the widget Daskel wraps one for hosts
// that want the connection indicator.
//
// Everything runs on the thread that owns the object. Signals are emitted
// synchronously from inside socket and timer handling. CardSearch,
// CardConnectByNumber and CardConnectBySerial block their caller while
// running nested event loops, so signals, timer ticks and re-entrant calls
// can happen before they return.
//
// Result codes of the connecting methods: 0 success (for CardSearch: a card
// list arrived, possibly an empty one), -1 no card selected, 10999 card
// enumeration time-out, 10998 no card list but a server fault, otherwise a
// socket error number (the
// Winsock numbering: 10061 connection refused, 11001 host not found, 10060
// timed out, 10053 connection closed by the peer, ...).
#pragma once

#include "quesmer/types.h"

#include <QByteArray>
#include <QColor>
#include <QObject>
#include <QString>
#include <array>
#include <functional>
#include <memory>

class QTcpSocket;
class QTimer;

namespace quesmer {

class FrameReader;

// Colour of the connection indicator.
enum class LinkLight {
    None,        // no connection attempted yet
    Closed,      // red: after a disconnection
    Open,        // light orange: TCP open, or looking at received data
    InSession,   // green: server information received
    ServerQuit,  // light blue: the server announced that it quits
};
QColor lightColour(LinkLight light);

// Intervals of the timer and pauses; tests shorten them.
struct Timing {
    int tickMs = 1000;      // period of the keep-alive / watchdog timer
    int flashMs = 40;       // indicator flash of every extractor step
    int quitPauseMs = 100;  // pause after the server announces that it quits
    int waitPauseMs = 100;  // pause between polls of the card-list wait and after a search
};

// Limit on one received message. A peer that exceeds it loses that message
// and OnCardError(ERR_MSG, "Message too long") is raised. Large payloads are
// never buffered whole: fragments stream into the message as they arrive, so
// the control holds at most this much of a message plus a few MiB of
// received bytes, whatever the server sends.
constexpr qsizetype MAX_MESSAGE_SIZE = 16 * 1024 * 1024;

// Error number and text left by the card enumeration time-out.
constexpr int ERR_ENUM_TIMEOUT = 10999;
// Error number left when the connection ends before the card list arrived.
constexpr int ERR_CONNECTION_LOST = 10053;
// Result of CardSearch when the server answered the wait for the card list
// with a protocol error, an unknown or a too long message and sent no list.
constexpr int ERR_NO_CARD_LIST = 10998;
// Result of a connecting method whose control was destroyed while it waited.
constexpr int ERR_CONTROL_DESTROYED = 10050;

class CardLink : public QObject {
    Q_OBJECT
public:
    using CardStatusRecord = quesmer::CardStatus;
    using Notifier = std::function<void(const QString&)>;

    explicit CardLink(QObject* parent = nullptr);
    ~CardLink() override;

    // ---- Methods, in interface order -------------------------------------
    void CardRawReq(ByRef<QString> Dat);
    void CardSetReq(ByRef<QString> Dat);
    void CardGetReq(ByRef<QString> Dat);
    void CardGetStatus();
    void CardGetCodeList();
    void CardGetCodeInf(ByRef<QString> Code);
    void CardActivateGUI(ByRef<QString> Host = QString("127.0.0.1"), ByRef<Long> Port = Long(33135));
    void CardSetConfiguration(ByRef<Integer> HeaderLong = Integer(-1), ByRef<TXTTyp> TextFmt = TXTTyp(-1),
                              ByRef<EncTyp> BinFmt = EncTyp(-1), ByRef<Integer> IndicatorPerMin = Integer(-1),
                              ByRef<Integer> FFTPerSec = Integer(-1));
    void CardSetInput(ByRef<Integer> Source = Integer(-1), ByRef<Integer> Gain = Integer(-1),
                      ByRef<Long> Translation = Long(-1), ByRef<AGCTyp> AGC = AGCTyp(-1));
    void CardSetALS(ByRef<ALSTyp> ALS);
    void CardSetMode(ByRef<QString> Modulation = QString(), ByRef<QString> Code = QString(), ByRef<double> Speed = -1.0,
                     ByRef<double> Shift = -1.0, ByRef<Integer> Polarity = Integer(-1),
                     ByRef<QString> Alphabet = QString(), ByRef<Boolean> Auto = FALSE_B);
    void CardSetFrequency(ByRef<Integer> Center = Integer(-1), ByRef<AFCTyp> AFC = AFCTyp(-1));
    void CardSetFilter(ByRef<Integer> Center = Integer(-1), ByRef<Integer> Bandwidth = Integer(-1));
    [[nodiscard]] Integer CardSearch(ByRef<QString> Host = QString("127.0.0.1"), ByRef<Long> Port = Long(33234));
    [[nodiscard]] Boolean CardStatus(ByRef<Integer> Number, CardStatusRecord& Status);
    [[nodiscard]] Integer CardConnectByNumber(ByRef<QString> Host = QString("127.0.0.1"),
                                              ByRef<Long> Port = Long(33234), ByRef<Integer> Number = Integer(1));
    [[nodiscard]] Integer CardConnectBySerial(ByRef<QString> Host = QString("127.0.0.1"),
                                              ByRef<Long> Port = Long(33234), ByRef<QString> Serial = QString());
    QString CardConnectError(ByRef<Integer> Error);
    void CardDisconnect();

    // The text of a connecting method's result for a message to the user:
    // CardConnectError's text, and for -1 also why no card was selected
    // ("Connect Error: no card with serial number \"X\" in the card list").
    // `error` is replaced as CardConnectError replaces it.
    [[nodiscard]] QString connectErrorText(Integer& error);

    // ---- Configuration ---------------------------------------------------
    const Timing& timing() const { return timing_; }
    void setTiming(const Timing& timing);  // restarts the timer with the new period
    // Receives the "Error Loading: ..." text of an XML reply that does not
    // parse. The default writes it to stderr; Daskel shows a modal message box.
    void setErrorNotifier(Notifier notifier);

    // ---- State, read-only ------------------------------------------------
    LinkLight light() const { return light_; }
    bool connected() const { return connected_; }
    bool sessionOpen() const { return session_; }
    Long lastSequence() const { return lastSequence_; }
    int lastErrorNumber() const { return lastErrorNumber_; }
    QString lastErrorText() const { return lastErrorText_; }
    const ServerInformation& serverInformation() const { return serverInfo_; }
    bool enumerationDone() const { return enumDone_; }
    bool cardListReceived() const { return cardListSeen_; }
    Integer selectedCard() const { return selectedCard_; }
    int cardCount() const { return cardCount_; }
    const CardStatusRecord& cardEntry(int slot) const { return cards_.at(size_t(slot)); }  // slot 0..8
    const IndicatorInfo& lastIndicator() const { return lastIndicator_; }

signals:
    // ---- Events, in interface order --------------------------------------
    void OnServerInformation(const quesmer::ServerInformation& Information);
    void OnCardStatus(quesmer::Integer Number, const quesmer::CardStatus& Status);
    void OnCardConnected();
    void OnCardDisconnected(quesmer::Boolean Remote, const QString& Cause);
    void OnCardError(quesmer::ErrTyp Error, const QString& Desc);
    void OnCardIndicator(const quesmer::IndicatorInfo& Data);
    void OnCardGetMode(const QString& Modulation, const QString& Code, double Speed, double Shift,
                       quesmer::Boolean Polarity, const QString& Alphabet);
    void OnCardGetInput(quesmer::Integer Source, quesmer::Integer Gain, quesmer::Long Translation, quesmer::AGCTyp AGC,
                        quesmer::ALSTyp ALS);
    void OnCardGetFrequency(quesmer::Integer Center, quesmer::AFCTyp AFC);
    void OnCardGetFilter(quesmer::Integer Center, quesmer::Integer Bandwidth);
    void OnCardDataText(const QString& Channel, quesmer::Boolean Error, const QString& Raw, const QString& Code,
                        const QString& Text);
    void OnCardDataBinary(quesmer::EncTyp Encoding, quesmer::Integer BitCount, const QString& Bin);
    void OnCardCodeList(const QString& XMLData);
    void OnCardCodeInfo(const QString& XMLData);

    // Not an interface event: the indicator colour changed (Daskel repaints).
    void lightChanged(quesmer::LinkLight light);

private:
    // Tests reach the connection primitives and the timer tick through this.
    friend struct CardLinkTestAccess;

    // ---- Connection (cardlink.cpp) ---------------------------------------
    // Starts opening the connection with a fresh socket; 0 when under way,
    // else the error number (the port is out of range).
    [[nodiscard]] int startConnection(const QString& host, Long port);
    // Opens the connection, waiting until the socket reports connected,
    // closed or an error; 0 when open, else the last error number.
    [[nodiscard]] int openConnection(const QString& host, Long port);
    // Lets events run until the socket reports connected, closed or an
    // error; false when the control was destroyed meanwhile.
    [[nodiscard]] bool waitForConnection();
    // Closes the connection: indicator red, session cleared. Also ends a
    // pending card-list wait (sets the enumeration-done flag).
    void closeConnection();
    // Frames `xml` as MSG_XML with the next sequence number and sends it;
    // sends nothing while the session flag is clear or the text is empty.
    void sendXmlCommand(const QString& xml);

    // The flash of a step and the pause after a quit run on timers; waits
    // of the blocking methods end only after them (local_wait.h).
    void startPause(QTimer* timer, int ms);
    void stopPause(QTimer* timer);
    void sendBytes(const QByteArray& bytes);
    void setLight(LinkLight light);
    void onConnected();
    void onPeerClosed();
    void onSocketError(int code);
    void endCardListWait();

    // ---- Receiving (cardlink.cpp) ----------------------------------------
    // An extractor step: the indicator turns light orange, and flashMs later
    // green, and then every complete frame already received is taken. The
    // next step is scheduled while received bytes wait.
    void onReadyRead();
    void beginStep();
    void finishStep();
    // Ends a hold of the card-list wait: a step begins for bytes waiting.
    void resumeSteps();
    // Takes every complete frame; false when an event handler destroyed the control.
    [[nodiscard]] bool takeFrames();
    // Acts on one whole message; returns what to answer with once its
    // events were raised (the handshake replies), else nothing.
    QByteArray dispatch(const QByteArray& message, int32_t sequence);
    void serverQuit();
    void decodeServerInformation(const QByteArray& message);
    void onTick();
    // OnCardError for a protocol error, an unknown or a too long message;
    // also ends a card-list wait, remembering why.
    void raiseServerFault(ErrTyp error, const QString& desc);

    // ---- XML replies (reply_events.cpp) ----------------------------------
    // Parses one MSG_XML message (the text after the code) and raises the
    // events it carries, in document order.
    void handleXml(const QByteArray& xml);
    // Shows or logs the "Error Loading: " text through the notifier.
    void notifyError(const QString& text);

    // ---- Card search (card_search.cpp) -----------------------------------
    // Lets events run until the card list arrived or the wait ended
    // otherwise; false when the control was destroyed meanwhile.
    [[nodiscard]] bool waitForCardList();
    // Steps shared by the two card-selecting methods: defaults for host and
    // port, open, wait for the list. 0 when a card may be asked for, else
    // the method's result (the connection is then closed or never opened).
    [[nodiscard]] int prepareCardSelection(QString& host, Long& port);

    // ---- State -----------------------------------------------------------
    QTcpSocket* socket_ = nullptr;
    quint64 connection_ = 0;  // counts the connections opened, so a step knows its own
    QTimer* timer_ = nullptr;
    QTimer* stepTimer_ = nullptr;  // the flash of an extractor step
    QTimer* quitTimer_ = nullptr;  // the pause after the server announced that it quits
    Timing timing_;
    Notifier notifier_;
    LinkLight light_ = LinkLight::None;

    enum class ConnectResult { Pending, Open, Closed, Error };
    ConnectResult connectResult_ = ConnectResult::Closed;
    bool connected_ = false;
    bool session_ = false;
    bool quitting_ = false;  // the server quit: the connection closes when the pause ends
    int lastErrorNumber_ = 0;
    QString lastErrorText_;
    bool sent_ = false;
    bool received_ = false;
    int idleSend_ = 0;
    int idleReceive_ = 0;
    int enumTicks_ = 0;
    bool enumDone_ = false;
    bool cardListSeen_ = false;
    QString enumEndedBy_;       // the server fault that ended the last card-list wait
    QString selectionFailure_;  // why the last connecting method returned -1

    std::unique_ptr<FrameReader> reader_;
    Long lastSequence_ = 0;    // the reader's, as of its last use
    bool extracting_ = false;  // a step is scheduled or taking frames
    bool holdSteps_ = false;   // the card-list wait is between two polls

    ServerInformation serverInfo_;
    std::array<CardStatusRecord, 9> cards_{};  // card numbers 1..9 in slots 0..8
    int cardCount_ = 0;
    Integer selectedCard_ = -1;
    IndicatorInfo lastIndicator_;
};

}  // namespace quesmer
