// varnakd --collect: subscribes to the sites' topics on the broker and
// writes every site's stations, texts, quality and alarms into one station
// database. Messages arrive on the MQTT client's thread and are stored on
// this (the database's) thread.
#pragma once

#include <QObject>
#include <cstdio>
#include <optional>
#include <string>

#include "alarms.h"
#include "config.h"
#include "station_state.h"
#include "store.h"

struct mosquitto;
struct mosquitto_message;

namespace varnakd {

// The state and alarm payloads read back (the fields the database keeps).
std::optional<rdsformats::StationState> StationStateFromJson(const std::string& json);
std::optional<AlarmEvent> AlarmEventFromJson(const std::string& json);

class Collector : public QObject {
    Q_OBJECT
public:
    Collector(const ServiceConfig& config, StationStore& store, std::FILE* log);
    ~Collector() override;
    bool start(std::string& error);
    uint64_t stored() const { return stored_; }

private:
    static void OnConnect(mosquitto*, void* self, int rc);
    static void OnMessage(mosquitto*, void* self, const mosquitto_message* message);
    void take(const std::string& topic, const std::string& payload);

    const ServiceConfig& config_;
    StationStore& store_;
    std::FILE* log_;
    mosquitto* client_ = nullptr;
    uint64_t stored_ = 0;
};

}  // namespace varnakd
