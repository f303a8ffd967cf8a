// The live WebSocket clients of /api/live, on the web thread. Every
// quarter of a second the hub takes what the web sink gathered and sends
// each client what its subscription asks for: a station's state at most
// once per round (so at most four times a second however fast the station
// changes), every alarm event, groups when subscribed. Each message is made
// once and shared by all clients.
//
// Each client has a bounded queue: messages are handed to its socket while
// the socket holds less than a few tens of KiB unsent, and wait in the
// client's queue otherwise. A client whose queue would pass its bound does
// not keep up: its queue is emptied, it gets {"type":"dropped"} and is
// closed, so memory never grows with a slow client.
#pragma once

#include <QObject>
#include <QString>
#include <QTimer>
#include <cstdint>
#include <deque>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "web_sink.h"

class QWebSocket;

namespace varnakd {

// What a client asked for: stations of these sites or with these ids (all
// when both are empty) and these kinds of message.
struct Subscription {
    std::set<std::string> sites, stations;
    bool state = true, alarm = true, group = false;
    bool wants(const std::string& site, const std::string& id) const;
};

// Reads a client's {"subscribe":{...}} message; false with `error`.
bool ParseSubscription(const QByteArray& message, Subscription& out, std::string& error);

class LiveHub : public QObject {
    Q_OBJECT
public:
    static constexpr int kRoundMs = 250;
    static constexpr qint64 kSocketHighWater = 64 * 1024;  // unsent bytes the socket itself holds at most
    static constexpr int kClientMessageBytes = 4096;       // what a client may send in one message

    LiveHub(WebSink& sink, int maxClients, qint64 queueBytes, QObject* parent = nullptr);
    ~LiveHub() override;

    // Takes a connected, authorised client; refuses it (close code 1013)
    // when there are as many as allowed already.
    void add(QWebSocket* socket);

    int clients() const { return int(clients_.size()); }
    uint64_t dropped() const { return dropped_; }
    uint64_t refused() const { return refused_; }
    // Messages made (each once, however many clients it went to): states, alarms, groups.
    const uint64_t* made() const { return made_; }

private:
    void refuse(QWebSocket* socket, int code, const QString& reason);
    struct Client {
        QWebSocket* socket = nullptr;
        Subscription subscription;
        std::deque<QString> queue;
        qint64 queued = 0;  // bytes (UTF-16 units) waiting in queue
    };

    void round();
    void send(Client& client, const QString& message);
    void pump(Client& client);
    void drop(Client& client);
    void received(Client& client, const QString& message);
    void remove(QWebSocket* socket);
    Client* find(QWebSocket* socket);
    void updateWantGroups();
    QString hello() const;

    WebSink& sink_;
    int maxClients_;
    qint64 queueBytes_;
    std::vector<std::unique_ptr<Client>> clients_;
    QTimer timer_;
    uint64_t dropped_ = 0, refused_ = 0;
    uint64_t made_[3] = {0, 0, 0};
};

}  // namespace varnakd
