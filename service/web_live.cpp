#include "web_live.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QWebSocket>
#include <algorithm>

#include "json_text.h"
#include "station_pipeline.h"
#include "web_json.h"

namespace varnakd {
namespace {

constexpr int kCloseDelayMs = 10000;  // a closed client still connected then is cut off

// Closes `socket` with `code`; cuts it off if it has not gone after a while.
void CloseSoon(QWebSocket* socket, int code, const QString& reason)
{
    QObject::connect(socket, &QWebSocket::disconnected, socket, &QObject::deleteLater);
    socket->close(static_cast<QWebSocketProtocol::CloseCode>(code), reason);
    QTimer::singleShot(kCloseDelayMs, socket, [socket] { socket->abort(); });
}

QString Message(const std::string& json) { return QString::fromStdString(json); }

bool ReadNames(const QJsonObject& o, const char* key, std::set<std::string>& out, std::string& error)
{
    if (!o.contains(key)) return true;
    if (!o.value(key).isArray()) {
        error = std::string("'") + key + "' is not a list of names";
        return false;
    }
    for (const QJsonValue v : o.value(key).toArray()) {
        if (!v.isString()) {
            error = std::string("'") + key + "' holds something other than names";
            return false;
        }
        out.insert(v.toString().toStdString());
    }
    return true;
}

}  // namespace

bool Subscription::wants(const std::string& site, const std::string& id) const
{
    if (sites.empty() && stations.empty()) return true;
    return sites.count(site) || stations.count(id);
}

bool ParseSubscription(const QByteArray& message, Subscription& out, std::string& error)
{
    QJsonParseError parse{};
    const QJsonDocument doc = QJsonDocument::fromJson(message, &parse);
    if (doc.isNull()) {
        error = "not JSON: " + parse.errorString().toStdString();
        return false;
    }
    const QJsonValue body = doc.object().value("subscribe");
    if (!body.isObject()) {
        error = "expected {\"subscribe\":{...}}";
        return false;
    }
    const QJsonObject o = body.toObject();
    for (const QString& key : o.keys())
        if (key != "sites" && key != "stations" && key != "kinds") {
            error = "unknown key '" + key.toStdString() + "' in subscribe";
            return false;
        }
    Subscription s;
    std::set<std::string> kinds;
    if (!ReadNames(o, "sites", s.sites, error) || !ReadNames(o, "stations", s.stations, error) ||
        !ReadNames(o, "kinds", kinds, error))
        return false;
    if (o.contains("kinds")) {
        for (const std::string& k : kinds)
            if (k != "state" && k != "alarm" && k != "group") {
                error = "unknown kind '" + k + "' (state, alarm or group)";
                return false;
            }
        s.state = kinds.count("state");
        s.alarm = kinds.count("alarm");
        s.group = kinds.count("group");
    }
    out = std::move(s);
    return true;
}

LiveHub::LiveHub(WebSink& sink, int maxClients, qint64 queueBytes, QObject* parent)
    : QObject(parent), sink_(sink), maxClients_(maxClients), queueBytes_(queueBytes)
{
    timer_.setInterval(kRoundMs);
    connect(&timer_, &QTimer::timeout, this, &LiveHub::round);
    timer_.start();
}

LiveHub::~LiveHub()
{
    for (auto& client : clients_) {
        client->socket->disconnect(this);
        client->socket->abort();
        delete client->socket;
    }
}

void LiveHub::refuse(QWebSocket* socket, int code, const QString& reason)
{
    ++refused_;
    CloseSoon(socket, code, reason);
}

void LiveHub::add(QWebSocket* socket)
{
    if (int(clients_.size()) >= maxClients_) {
        refuse(socket, 1013, "too many clients");
        return;
    }
    socket->setMaxAllowedIncomingFrameSize(kClientMessageBytes);
    socket->setMaxAllowedIncomingMessageSize(kClientMessageBytes);
    auto client = std::make_unique<Client>();
    client->socket = socket;
    connect(socket, &QWebSocket::textMessageReceived, this, [this, socket](const QString& message) {
        if (Client* c = find(socket)) received(*c, message);
    });
    connect(socket, &QWebSocket::binaryMessageReceived, this, [this, socket](const QByteArray&) {
        if (Client* c = find(socket))
            send(*c, QStringLiteral("{\"type\":\"error\",\"error\":\"binary messages are not understood\"}"));
    });
    connect(socket, &QWebSocket::bytesWritten, this, [this, socket] {
        if (Client* c = find(socket)) pump(*c);
    });
    connect(socket, &QWebSocket::disconnected, this, [this, socket] { remove(socket); });
    clients_.push_back(std::move(client));
    send(*clients_.back(), hello());
}

LiveHub::Client* LiveHub::find(QWebSocket* socket)
{
    for (auto& c : clients_)
        if (c->socket == socket) return c.get();
    return nullptr;
}

void LiveHub::remove(QWebSocket* socket)
{
    const auto it =
        std::find_if(clients_.begin(), clients_.end(), [socket](const auto& c) { return c->socket == socket; });
    if (it == clients_.end()) return;
    clients_.erase(it);
    socket->disconnect(this);
    socket->deleteLater();
    updateWantGroups();
}

QString LiveHub::hello() const
{
    std::string out = "{\"type\":\"hello\",\"time\":" + TimeJson(StationPipeline::WallClock()) + ",\"stations\":[";
    std::string alarms;
    for (const WebStation& s : sink_.stations()) {
        if (out.back() != '[') out += ',';
        out += WebStationJson(s);
        for (const AlarmEvent& a : s.alarms) {
            if (!alarms.empty()) alarms += ',';
            alarms += AlarmEventJson(a);
        }
    }
    return Message(out + "],\"alarms\":[" + alarms + "]}");
}

void LiveHub::send(Client& client, const QString& message)
{
    // What the socket holds goes on to the system's buffer as far as the client takes it.
    if (client.socket->bytesToWrite() >= kSocketHighWater) client.socket->flush();
    if (client.queue.empty() && client.socket->bytesToWrite() < kSocketHighWater) {
        client.socket->sendTextMessage(message);
        return;
    }
    if (client.queued + message.size() > queueBytes_) {
        drop(client);
        return;
    }
    client.queue.push_back(message);
    client.queued += message.size();
}

void LiveHub::pump(Client& client)
{
    while (!client.queue.empty() && client.socket->bytesToWrite() < kSocketHighWater) {
        client.queued -= client.queue.front().size();
        client.socket->sendTextMessage(client.queue.front());
        client.queue.pop_front();
    }
}

void LiveHub::drop(Client& client)
{
    ++dropped_;
    QWebSocket* socket = client.socket;
    client.queue.clear();
    // The message goes after what the socket holds already (a few tens of KiB at most).
    socket->sendTextMessage(
        QStringLiteral("{\"type\":\"dropped\",\"reason\":\"the client did not keep up: more than %1 KiB waited\"}")
            .arg(queueBytes_ / 1024));
    socket->disconnect(this);
    const auto it =
        std::find_if(clients_.begin(), clients_.end(), [socket](const auto& c) { return c->socket == socket; });
    clients_.erase(it);  // `client` is gone from here on
    CloseSoon(socket, 1008, "too slow");
    updateWantGroups();
}

void LiveHub::received(Client& client, const QString& message)
{
    Subscription s;
    std::string error;
    if (!ParseSubscription(message.toUtf8(), s, error)) {
        std::string json = "{\"type\":\"error\",\"error\":";
        rdsformats::AppendUtf8JsonString(json, "bad subscription: " + error + "; the last one stays");
        send(client, Message(json + "}"));
        return;
    }
    client.subscription = std::move(s);
    updateWantGroups();
}

void LiveHub::updateWantGroups()
{
    sink_.setWantGroups(
        std::any_of(clients_.begin(), clients_.end(), [](const auto& c) { return c->subscription.group; }));
}

void LiveHub::round()
{
    WebSink::Pending p = sink_.take();
    if (clients_.empty()) return;
    // Sending may drop a client (erasing it): iterate over a copy of the list.
    const auto each = [this](auto&& wanted, const QString& message) {
        std::vector<QWebSocket*> sockets;
        for (const auto& c : clients_)
            if (wanted(c->subscription)) sockets.push_back(c->socket);
        for (QWebSocket* socket : sockets)
            if (Client* c = find(socket)) send(*c, message);
    };
    for (const WebSink::Group& g : p.groups) {
        std::string json = "{\"type\":\"group\",\"id\":";
        rdsformats::AppendUtf8JsonString(json, g.id);
        const QString message = Message(json + ",\"group\":" + g.json + "}");
        ++made_[2];
        each([&](const Subscription& s) { return s.group && s.wants(g.site, g.id); }, message);
    }
    for (const WebStation& st : p.states) {
        const std::string id = StationId(st.state.site, st.state.name);
        const QString message = Message("{\"type\":\"state\",\"station\":" + WebStationJson(st) + "}");
        ++made_[0];
        each([&](const Subscription& s) { return s.state && s.wants(st.state.site, id); }, message);
    }
    for (const AlarmEvent& a : p.alarms) {
        const std::string id = StationId(a.site, a.station);
        const QString message = Message("{\"type\":\"alarm\",\"alarm\":" + AlarmEventJson(a) + "}");
        ++made_[1];
        each([&](const Subscription& s) { return s.alarm && s.wants(a.site, id); }, message);
    }
}

}  // namespace varnakd
