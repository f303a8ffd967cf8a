// One client connection of the decoder-card server simulator: greets the
// client, answers its commands, reports the card's indicator and streams the
// recorded bits once the card is in bit-stream mode.
#pragma once

#include "sim_config.h"

#include "quesmer/frame_reader.h"

#include <QElapsedTimer>
#include <QJsonObject>
#include <QObject>
#include <QTimer>
#include <functional>

class QDomElement;
class QTcpSocket;

namespace cardsim {

// Settings that a client sets with Set commands and reads back as a parameter list.
struct CardSettings {
    QString binaryFormat = "base16";
    QString textFormat = "raw";
    QString messageHeader = "extended";
    int indicatorsPerMinute = 60;
    int fftPerSecond = 0;
    int input = 1;
    int gain = 50;
    qint64 translation = 0;
    QString agc = "off";
    QString als = "off";
    QString modulation;
    QString code;
    QString speed = "0";
    QString shift = "0";
    QString polarity = "normal";
    QString alphabet;
    int center = 1800;
    QString afc = "off";
    int passbandCenter = 1800;
    int passbandBandwidth = 3600;
};

struct SessionOptions {
    QList<SimCard> cards;
    QByteArray bits;     // 0/1 per bit; empty: nothing to stream
    double speed = 1.0;  // factor on 1187.5 bit/s
    bool loop = false;   // start the recording again at its end
    // One data batch per interval. The client takes every frame that has
    // arrived in one 40 ms look, so short intervals cost it nothing extra.
    int batchMs = 250;
    QSet<Fault> faults;
    int splitSize = 3;  // bytes per write with Fault::Split
};

class SimSession : public QObject {
    Q_OBJECT
public:
    using Logger = std::function<void(QJsonObject)>;

    // Takes ownership of `socket` (already connected) and greets the client.
    SimSession(QTcpSocket* socket, int id, const SessionOptions& options, Logger log, QObject* parent = nullptr);
    ~SimSession() override;

    int id() const { return id_; }
    bool inSession() const { return state_ == State::Session; }
    bool streaming() const { return streamTimer_.isActive(); }
    const CardSettings& settings() const { return settings_; }
    int selectedCard() const { return selected_; }

    // Sends an XML message (MSG_XML) to the client.
    void sendXml(const QByteArray& xml);
    // Sends a whole payload as one message, fragmented when it is large.
    void sendMessage(const QByteArray& payload);
    // Announces quitting and closes the connection a moment later.
    void quit();

signals:
    void closed(int id);

private:
    enum class State { Greeting, Info, Session, Closed };

    void onReadyRead();
    void logMessage(const quesmer::FrameHeader& header, const QByteArray& message);
    void handlePayload(int32_t sequence, const QByteArray& payload);
    void sendProtocolError(uint32_t number, const QByteArray& text);
    void handleXml(const QByteArray& xml);
    void handleCommand(const QDomElement& command);
    void handleSet(const QDomElement& set);
    void handleGet(const QDomElement& get);
    void handleConnect(const QDomElement& connect);
    void startSession();
    void sendCardList();
    void sendIndicator();
    void sendParameters();
    void sendError(const QString& text);
    void updateStreaming();
    void streamTick();
    void indicatorTick();
    void sendFrame(int32_t sequence, const QByteArray& payload, int32_t flag = 1);
    void write(const QByteArray& bytes);
    void flushSplit();
    void log(QJsonObject entry);
    int32_t nextSequence();

    QTcpSocket* socket_;
    int id_;
    SessionOptions options_;
    Logger logger_;
    State state_ = State::Greeting;
    CardSettings settings_;
    QList<SimCard> cards_;
    int selected_ = -1;
    int32_t sequence_ = 0;
    quesmer::FrameReader reader_;
    QByteArray splitPending_;
    QTimer splitTimer_;
    QTimer keepAliveTimer_;
    QTimer indicatorTimer_;
    QTimer streamTimer_;
    QElapsedTimer streamClock_;
    qint64 streamBitsSent_ = 0;  // bits sent since streaming started
    qsizetype streamPos_ = 0;    // next bit of the recording
    int indicatorCount_ = 0;
    bool wroteSinceTick_ = false;
};

}  // namespace cardsim
