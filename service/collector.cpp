#include "collector.h"

#include <mosquitto.h>
#include <unistd.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMetaObject>
#include <QStringList>
#include <cerrno>
#include <cmath>
#include <cstring>

#include "mqtt.h"

namespace varnakd {
namespace {

std::optional<int64_t> Time(const QJsonValue& value)
{
    return value.isString() ? ParseUtcTime(value.toString().toStdString()) : std::nullopt;
}

}  // namespace

std::optional<rdsformats::StationState> StationStateFromJson(const std::string& json)
{
    const QJsonDocument doc = QJsonDocument::fromJson(QByteArray::fromStdString(json));
    if (!doc.isObject()) return std::nullopt;
    const QJsonObject o = doc.object();
    rdsformats::StationState s;
    s.site = o["site"].toString().toStdString();
    s.name = o["name"].toString().toStdString();
    bool ok = false;
    const unsigned pi = o["pi"].toString().toUInt(&ok, 16);
    if (ok && pi <= 0xFFFF) s.pi = static_cast<uint16_t>(pi);
    s.callLetters = o["callsign"].toString().toStdString();
    s.ps = o["ps"].toString().toStdString();
    s.radiotext = o["radiotext"].toString().toStdString();
    if (o["pty"].isDouble()) s.pty = o["pty"].toInt();
    const auto updated = Time(o["updated"]);
    if (!updated) return std::nullopt;
    s.updated = *updated;
    s.lastGroup = Time(o["lastGroup"]);
    const QJsonObject q = o["quality"].toObject();
    s.groupsPerSecond = q["groupsPerSecond"].toDouble();
    if (q["blockErrorRate"].isDouble()) s.blockErrorRate = q["blockErrorRate"].toDouble();
    if (q["rdsLevel"].isDouble()) s.signal.rdsLevel = q["rdsLevel"].toDouble();
    if (q["pilotLevel"].isDouble()) s.signal.pilotLevel = q["pilotLevel"].toDouble();
    if (q["cnr"].isDouble()) s.signal.cnrDb = q["cnr"].toDouble();
    if (q["level"].isDouble()) s.signal.levelDbfs = q["level"].toDouble();
    if (q["deviation"].isDouble()) s.signal.deviationKHz = q["deviation"].toDouble();
    if (q["mpxPower"].isDouble()) s.signal.mpxPowerDbr = q["mpxPower"].toDouble();
    return s;
}

std::optional<AlarmEvent> AlarmEventFromJson(const std::string& json)
{
    const QJsonDocument doc = QJsonDocument::fromJson(QByteArray::fromStdString(json));
    if (!doc.isObject()) return std::nullopt;
    const QJsonObject o = doc.object();
    AlarmEvent e;
    e.site = o["site"].toString().toStdString();
    e.station = o["name"].toString().toStdString();
    e.kind = o["alarm"].toString().toStdString();
    e.raised = o["state"].toString() == "raised";
    const auto time = Time(o["time"]);
    const auto since = Time(o[e.raised ? "since" : "raised"]);
    if (e.kind.empty() || !time) return std::nullopt;
    e.time = *time;
    e.since = since.value_or(*time);
    e.detail = o["detail"].toString().toStdString();
    return e;
}

Collector::Collector(const ServiceConfig& config, StationStore& store, std::FILE* log)
    : config_(config), store_(store), log_(log)
{
}

Collector::~Collector()
{
    if (!client_) return;
    mosquitto_disconnect(client_);
    mosquitto_loop_stop(client_, false);
    mosquitto_destroy(client_);
}

bool Collector::start(std::string& error)
{
    mosquitto_lib_init();
    const MqttConfig& m = config_.mqtt;
    const std::string id = m.clientId.empty() ? "varnakd-collect-" + std::to_string(::getpid()) : m.clientId;
    client_ = mosquitto_new(id.c_str(), true, this);
    if (!client_) {
        error = "cannot create the MQTT client";
        return false;
    }
    if (!SetUpClient(client_, m, error)) return false;
    mosquitto_connect_callback_set(client_, OnConnect);
    mosquitto_message_callback_set(client_, OnMessage);
    mosquitto_reconnect_delay_set(client_, 1, 60, true);
    // A first connection must succeed: the collector has nothing else to do.
    const int rc = mosquitto_connect(client_, m.host.c_str(), m.port, m.keepalive);
    if (rc != MOSQ_ERR_SUCCESS) {
        error = "MQTT broker " + m.host + ":" + std::to_string(m.port) + ": " +
                (rc == MOSQ_ERR_ERRNO ? std::strerror(errno) : mosquitto_strerror(rc));
        return false;
    }
    mosquitto_loop_start(client_);
    return true;
}

void Collector::OnConnect(mosquitto* client, void* self, int rc)
{
    auto* c = static_cast<Collector*>(self);
    if (rc != 0) return;
    // Subscribed again on every connection (a clean session forgets them).
    mosquitto_subscribe(client, nullptr, c->config_.collect.topic.c_str(), 1);
    std::fprintf(c->log_, "varnakd: collecting %s\n", c->config_.collect.topic.c_str());
}

void Collector::OnMessage(mosquitto*, void* self, const mosquitto_message* message)
{
    auto* c = static_cast<Collector*>(self);
    std::string topic = message->topic;
    std::string payload(static_cast<const char*>(message->payload), std::size_t(message->payloadlen));
    QMetaObject::invokeMethod(
        c, [c, topic = std::move(topic), payload = std::move(payload)] { c->take(topic, payload); },
        Qt::QueuedConnection);
}

void Collector::take(const std::string& topic, const std::string& payload)
{
    // PREFIX/SITE/NAME/LEAF; the topic names the site and station.
    const QStringList parts = QString::fromStdString(topic).split('/');
    if (parts.size() < 4) return;
    const std::string leaf = parts.back().toStdString();
    const std::string site = parts[parts.size() - 3].toStdString(), name = parts[parts.size() - 2].toStdString();
    if (leaf == "state") {
        auto state = StationStateFromJson(payload);
        if (!state || !state->pi) return;
        state->site = site;
        state->name = name;
        store_.stateChanged(*state);
        QualityMinute minute{site, name, state->pi, state->updated - state->updated % 6000, 0, 0, 0, state->signal};
        minute.groups = static_cast<uint32_t>(std::lround(state->groupsPerSecond * 60));
        minute.blocks = minute.groups * 4;
        if (state->blockErrorRate)
            minute.blocksMissing = static_cast<uint32_t>(std::lround(*state->blockErrorRate * minute.blocks));
        store_.quality(minute);
        ++stored_;
    } else if (leaf == "alarm") {
        auto event = AlarmEventFromJson(payload);
        if (!event) return;
        event->site = site;
        event->station = name;
        store_.alarm(*event, {});
        ++stored_;
    }
}

}  // namespace varnakd
