#include "mqtt.h"

#include <mosquitto.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fstream>
#include <sstream>
#include <utility>

namespace varnakd {

bool SetUpClient(mosquitto* client, const MqttConfig& config, std::string& error)
{
    if (!config.user.empty()) {
        std::string password;
        if (!config.passwordFile.empty()) {
            std::ifstream in(config.passwordFile);
            if (!in) {
                error = "cannot read the MQTT password file " + config.passwordFile;
                return false;
            }
            std::getline(in, password);
        }
        mosquitto_username_pw_set(client, config.user.c_str(), password.empty() ? nullptr : password.c_str());
    }
    const auto file = [](const std::string& path) { return path.empty() ? nullptr : path.c_str(); };
    if (!config.tlsCaFile.empty() &&
        mosquitto_tls_set(client, config.tlsCaFile.c_str(), nullptr, file(config.tlsCertFile), file(config.tlsKeyFile),
                          nullptr) != MOSQ_ERR_SUCCESS) {
        error = "MQTT TLS settings refused (tls-ca, tls-cert, tls-key)";
        return false;
    }
    return true;
}

MqttSink::MqttSink(const MqttConfig& config, const std::string& site, std::FILE* log)
    : config_(config), site_(site), log_(log)
{
    static std::once_flag once;
    std::call_once(once, [] { mosquitto_lib_init(); });
}

MqttSink::~MqttSink()
{
    if (!client_) return;
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    changed_.notify_all();
    if (connector_.joinable()) connector_.join();
    mosquitto_disconnect(client_);
    if (looping_) mosquitto_loop_stop(client_, false);
    mosquitto_destroy(client_);
}

std::string MqttSink::topic(const std::string& name, const char* leaf) const
{
    return config_.prefix + '/' + site_ + (name.empty() ? "" : "/" + name) + '/' + leaf;
}

bool MqttSink::start(std::string& error)
{
    const std::string id =
        config_.clientId.empty() ? "varnakd-" + site_ + "-" + std::to_string(::getpid()) : config_.clientId;
    client_ = mosquitto_new(id.c_str(), true, this);
    if (!client_) {
        error = "cannot create the MQTT client";
        return false;
    }
    if (!SetUpClient(client_, config_, error)) return false;
    const std::string status = topic({}, "status");
    mosquitto_will_set(client_, status.c_str(), 7, "offline", 1, true);
    mosquitto_connect_callback_set(client_, OnConnect);
    mosquitto_disconnect_callback_set(client_, OnDisconnect);
    mosquitto_publish_callback_set(client_, OnPublish);
    mosquitto_reconnect_delay_set(client_, 1, 60, true);
    // The library's network thread reconnects once a first connection was
    // made; until then this one tries, with the same back-off.
    connector_ = std::thread([this] {
        double wait = 1;
        bool told = false;
        for (;;) {
            const int rc = mosquitto_connect_async(client_, config_.host.c_str(), config_.port, config_.keepalive);
            if (rc == MOSQ_ERR_SUCCESS) {
                mosquitto_loop_start(client_);
                std::lock_guard lock(mutex_);
                looping_ = true;
                return;
            }
            if (!told)
                std::fprintf(log_, "varnakd: MQTT broker %s:%d: %s; trying again\n", config_.host.c_str(), config_.port,
                             rc == MOSQ_ERR_ERRNO ? std::strerror(errno) : mosquitto_strerror(rc));
            told = true;
            std::unique_lock lock(mutex_);
            if (changed_.wait_for(lock, std::chrono::duration<double>(wait), [this] { return stopping_; })) return;
            wait = std::min(wait * 2, 60.0);
        }
    });
    return true;
}

void MqttSink::OnConnect(mosquitto*, void* self, int rc)
{
    auto* sink = static_cast<MqttSink*>(self);
    if (rc != 0) {
        std::fprintf(sink->log_, "varnakd: MQTT broker refused the connection: %s\n", mosquitto_connack_string(rc));
        return;
    }
    sink->connected();
}

void MqttSink::connected()
{
    std::unique_lock lock(mutex_);
    connected_ = true;
    std::fprintf(log_, "varnakd: MQTT connected to %s:%d%s\n", config_.host.c_str(), config_.port,
                 everConnected_ ? " again" : "");
    everConnected_ = true;
    const auto states = states_;
    const auto alarms = alarms_;
    auto held = std::exchange(held_, {});
    const uint64_t dropped = dropped_;
    lock.unlock();
    send(topic({}, "status"), "online", 1, true);
    for (const auto& [t, payload] : states) send(t, payload, 1, true);
    for (const auto& [t, payload] : alarms) send(t, payload, 1, true);
    if (!held.empty()) std::fprintf(log_, "varnakd: MQTT: delivering %zu held alarm events\n", held.size());
    for (const auto& [t, payload] : held) send(t, payload, 1, false);
    if (dropped) send(topic({}, "dropped"), std::to_string(dropped), 1, true);
    changed_.notify_all();
}

void MqttSink::OnDisconnect(mosquitto*, void* self, int rc)
{
    auto* sink = static_cast<MqttSink*>(self);
    std::lock_guard lock(sink->mutex_);
    if (sink->connected_ && rc != 0)
        std::fprintf(sink->log_, "varnakd: MQTT connection lost; reconnecting with back-off\n");
    sink->connected_ = false;
    sink->inFlight_ = 0;
    sink->changed_.notify_all();
}

void MqttSink::OnPublish(mosquitto*, void* self, int /*mid*/)
{
    auto* sink = static_cast<MqttSink*>(self);
    std::lock_guard lock(sink->mutex_);
    if (sink->inFlight_ > 0) --sink->inFlight_;
    sink->changed_.notify_all();
}

bool MqttSink::send(const std::string& t, const std::string& payload, int qos, bool retain)
{
    {
        std::lock_guard lock(mutex_);
        if (!connected_) return false;
        if (qos) ++inFlight_;
    }
    const int rc = mosquitto_publish(client_, nullptr, t.c_str(), int(payload.size()), payload.data(), qos, retain);
    if (rc == MOSQ_ERR_SUCCESS) return true;
    std::lock_guard lock(mutex_);
    if (qos && inFlight_ > 0) --inFlight_;
    return false;
}

void MqttSink::stateChanged(const rdsformats::StationState& state)
{
    const std::string t = topic(state.name, "state");
    const std::string payload = rdsformats::StationStateJson(state);
    {
        std::lock_guard lock(mutex_);
        states_[t] = payload;
    }
    send(t, payload, 1, true);
}

void MqttSink::alarm(const AlarmEvent& event, const std::vector<AlarmEvent>& active)
{
    const std::string list = topic(event.station, "alarms"), one = topic(event.station, "alarm");
    const std::string payload = AlarmEventJson(event), activeJson = ActiveAlarmsJson(active);
    {
        std::lock_guard lock(mutex_);
        alarms_[list] = activeJson;
    }
    send(list, activeJson, 1, true);
    if (send(one, payload, 1, false)) return;
    std::lock_guard lock(mutex_);
    if (held_.size() >= std::size_t(config_.queue)) {
        held_.pop_front();
        ++dropped_;
    }
    held_.emplace_back(one, payload);
}

void MqttSink::group(const rdsformats::StationState& state, const std::string& json)
{
    send(topic(state.name, "groups"), json, 0, false);
}

void MqttSink::flush()
{
    if (!client_) return;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(flushWait_);
    std::unique_lock lock(mutex_);
    if (!changed_.wait_until(lock, deadline, [this] { return connected_ && held_.empty() && inFlight_ == 0; }))
        std::fprintf(log_, "varnakd: MQTT: %zu alarm events not delivered at the end\n", held_.size());
    const bool up = connected_;
    lock.unlock();
    if (up) {
        send(topic({}, "status"), "offline", 1, true);
        lock.lock();
        changed_.wait_until(lock, deadline + std::chrono::seconds(2), [this] { return inFlight_ == 0; });
        lock.unlock();
    }
    mosquitto_disconnect(client_);
}

bool MqttSink::waitConnected(double seconds)
{
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, std::chrono::duration<double>(seconds), [this] { return connected_; });
}

uint64_t MqttSink::dropped() const
{
    std::lock_guard lock(mutex_);
    return dropped_;
}

}  // namespace varnakd
