// What the service tells its faces (log, MQTT, webhooks, the station
// database): station states, alarm events and per-minute quality, all on
// the decoding thread. A sink that has slow work to do (a network, a disk)
// queues it, bounded, and does it elsewhere.
#pragma once

#include <string>
#include <vector>

#include "alarms.h"
#include "station_state.h"

namespace varnakd {

// One minute of a station's reception.
struct QualityMinute {
    std::string site, station;
    std::optional<uint16_t> pi;
    int64_t start = 0;           // 1/100 s UTC, a whole minute
    uint32_t groups = 0;         // complete groups
    uint32_t blocks = 0;         // blocks of all groups gathered, complete or not
    uint32_t blocksMissing = 0;  // ... of which lost
    rdsformats::SignalFigures signal;
};

// A source as the service sees it, once a second.
struct SourceStatus {
    std::string name, kind;
    std::string state;     // running, retrying (a live source waiting to open again), ended
    std::string error;     // the last failure, one line; "" when none
    uint64_t bits = 0;     // RDS bits (hex digits count four) delivered
    uint64_t dropped = 0;  // chunks a live source dropped because decoding fell behind
};

class EventSink {
public:
    virtual ~EventSink() = default;
    // A station is watched from now on (its state still empty): before its first group.
    virtual void stationAdded(const rdsformats::StationState& /*state*/) {}
    // The state changed (or a heartbeat: the quality moved on).
    virtual void stateChanged(const rdsformats::StationState& /*state*/) {}
    // An alarm was raised or cleared; `active` the station's alarms now.
    virtual void alarm(const AlarmEvent& /*event*/, const std::vector<AlarmEvent>& /*active*/) {}
    // A group as JSON (for the groups topic).
    virtual void group(const rdsformats::StationState& /*state*/, const std::string& /*json*/) {}
    virtual void quality(const QualityMinute& /*minute*/) {}
    // The sources, once a second.
    virtual void sources(const std::vector<SourceStatus>& /*sources*/) {}
    // Whether group() is wanted now (groups are serialised only when some sink wants them).
    virtual bool wantsGroups() const { return false; }
    // Nothing more will come: deliver what is held, within reason.
    virtual void flush() {}
};

}  // namespace varnakd
