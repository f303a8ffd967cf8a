// The MQTT publisher (libmosquitto, on the library's own network thread):
//   PREFIX/SITE/NAME/state   retained station state (StationStateJson)
//   PREFIX/SITE/NAME/alarms  retained array of the active alarms
//   PREFIX/SITE/NAME/alarm   each raised or cleared alarm (QoS 1)
//   PREFIX/SITE/NAME/groups  every group's JSON, when asked for
//   PREFIX/SITE/status       "online", or "offline" through the last will
// While the broker is away the service goes on; the client reconnects with
// back-off, republishes the states and alarms, and delivers the alarm
// events it held (the newest `queue` of them; PREFIX/SITE/dropped counts
// the others).
#pragma once

#include <condition_variable>
#include <cstdio>
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <thread>

#include "config.h"
#include "events.h"

struct mosquitto;

namespace varnakd {

// Gives a new client the user, the password (read from its file) and the
// TLS settings of `config`; false with `error` when a file cannot be used.
bool SetUpClient(mosquitto* client, const MqttConfig& config, std::string& error);

class MqttSink : public EventSink {
public:
    // False with `error` when the client cannot be set up (a TLS file or
    // the password file unreadable); connecting itself is retried forever.
    MqttSink(const MqttConfig& config, const std::string& site, std::FILE* log);
    ~MqttSink() override;
    bool start(std::string& error);

    void stateChanged(const rdsformats::StationState& state) override;
    void alarm(const AlarmEvent& event, const std::vector<AlarmEvent>& active) override;
    void group(const rdsformats::StationState& state, const std::string& json) override;
    // Waits (at most `waitSeconds`) for the broker to take what is held,
    // then says "offline" and disconnects.
    void flush() override;
    void setFlushWait(double seconds) { flushWait_ = seconds; }

    uint64_t dropped() const;
    // Waits at most `seconds` for the first connection; whether it is up.
    bool waitConnected(double seconds);

private:
    static void OnConnect(mosquitto*, void* self, int rc);
    static void OnDisconnect(mosquitto*, void* self, int rc);
    static void OnPublish(mosquitto*, void* self, int mid);
    void connected();
    // Publishes; false when the client has no connection.
    bool send(const std::string& topic, const std::string& payload, int qos, bool retain);
    std::string topic(const std::string& name, const char* leaf) const;

    MqttConfig config_;
    std::string site_;
    std::FILE* log_;
    mosquitto* client_ = nullptr;
    double flushWait_ = 15;
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::thread connector_;
    bool stopping_ = false;
    bool looping_ = false;
    bool connected_ = false;
    bool everConnected_ = false;
    int inFlight_ = 0;                                    // QoS 1 messages not yet acknowledged
    std::map<std::string, std::string> states_, alarms_;  // retained payloads by topic
    std::deque<std::pair<std::string, std::string>> held_;
    uint64_t dropped_ = 0;
};

}  // namespace varnakd
